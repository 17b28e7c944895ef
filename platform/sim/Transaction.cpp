#include "Transaction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "LogLine.h"
#include "Process.h"
#include "StateDir.h"

namespace board {

namespace {

// Where an older board kept the old store while its add was recorded.
const char* const olderStore = "users.tmp";

// What a store file an interrupted add left holds, in words. The store and
// one account more is an add that never landed; an older board's kept store,
// with the store one account more than it, is an add stored before its record.
std::string found(const char* name, std::string_view left, const Store& store) {
    Account account{};
    const std::string_view bytes = store.bytes;
    const auto held = [&] {
        return std::any_of(store.accounts.begin(), store.accounts.end(),
                           [&](const Account& other) { return other.name == account.name; });
    };
    if (left.substr(0, bytes.size()) == bytes && oneAccount(left.substr(bytes.size()), account) && !held()) {
        return "an add of " + std::string(account.name) + " was interrupted before it was stored";
    }
    if (std::string_view(name) == olderStore && !left.empty() && bytes.substr(0, left.size()) == left &&
        oneAccount(bytes.substr(left.size()), account)) {
        return "an add of " + std::string(account.name) + " was stored by an older board that may not have recorded it";
    }
    return statePath(name) + ": removed, the unfinished store of an interrupted add";
}

}  // namespace

Status recoverAdd(const Store& store) {
    const int dir = stateDir().dir.get();
    for (const char* name : {newStore, olderStore}) {
        struct stat info {};
        if (fstatat(dir, name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        std::string left;
        if (Status read = readFile(dir, name, left, maxStoreSize, othersReadWrite); !read.ok()) {
            return read.within(statePath(name) + ": cannot read");
        }
        // Said for good before the file goes: no undo cuts this line back.
        if (Status said = traceDurably("board: " + found(name, left, store)); !said.ok()) return said.aloud();
        if (unlinkat(dir, name, 0) != 0) return Status(errno).within(statePath(name) + ": cannot remove");
    }
    return {};
}

Status beginAdd(StoreLock&& lock, const timespec& deadline, std::string_view old, std::string_view line,
                std::string_view account) {
    OpenAdd add{std::move(lock), std::string(account)};
    Status status = holdLogs(deadline);
    if (status.ok()) status = writeNewStore(old, line);
    if (!status.ok()) {
        releaseLogs();
        return status;
    }
    process().add = std::move(add);
    return {};
}

bool addOpen() { return process().add.has_value(); }

Status endAdd() {
    Status status = process().logs.failed;
    if (status.ok()) status = syncLogs();
    if (status.ok()) status = putStoreInPlace();
    if (!status.ok()) return undoAdd(status.aloud());
    releaseLogs();
    process().add.reset();
    return {};
}

Status undoAdd(const Status& why) {
    OpenAdd add = std::move(*process().add);
    process().add.reset();
    // The logs first: killed meanwhile, the add leaves its new store for the
    // next add to trace, never a record with nothing to say it did not land.
    const Status cut = cutBackLogs();
    if (cut.ok()) dropNewStore();
    // Every lock let go before anything is said, since saying it may wait.
    releaseLogs();
    add.lock = StoreLock();
    if (!cut.ok())
        tell(cut.within("account " + add.account + " not stored, but its record stays: cannot undo the add"));
    report(why);
    return why;
}

}  // namespace board
