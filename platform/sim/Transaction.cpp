#include "Transaction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace board {

namespace {

// Where an older board kept the old store while its add was recorded.
const char* const olderStore = "users.tmp";

// What a store file an interrupted add left holds, in words. The store and
// one account more is an add that never landed; an older board's kept store,
// with the store one account more than it, is an add stored before its record.
std::string found(const StateDir& dir, const char* name, std::string_view left, const Store& store) {
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
    return dir.file(name) + ": removed, the unfinished store of an interrupted add";
}

}  // namespace

Status Transaction::recover(const Store& store) {
    const int dir = logs.dir.dir.get();
    for (const char* name : {newStore, olderStore}) {
        struct stat info {};
        if (fstatat(dir, name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        std::string left;
        if (Status read = readFile(dir, name, left, maxStoreSize, othersReadWrite); !read.ok()) {
            return read.within(logs.dir.file(name) + ": cannot read");
        }
        // Said for good, the log's name too, before the file goes: no undo
        // cuts this line back, and no power cut keeps the removal alone.
        const Status said = logs.traceDurably("board: " + found(logs.dir, name, left, store));
        if (!said.ok()) return said.aloud();
        if (unlinkat(dir, name, 0) != 0) return Status(errno).within(logs.dir.file(name) + ": cannot remove");
    }
    return {};
}

Status Transaction::begin(StoreLock&& lock, const timespec& deadline, std::string_view old, std::string_view line,
                          std::string_view account, const void* requester) {
    OpenAdd opened{std::move(lock), std::string(account), requester};
    Status status = logs.hold(deadline);
    if (status.ok()) status = writeNewStore(logs.dir, old, line);
    if (!status.ok()) {
        logs.release();
        return status;
    }
    add = std::move(opened);
    return {};
}

Status Transaction::end() {
    Status status = logs.failed;
    if (status.ok()) status = logs.sync();
    if (status.ok()) status = putStoreInPlace(logs);
    if (!status.ok()) return undo(status.aloud());
    logs.release();
    add.reset();
    return {};
}

Status Transaction::undo(const Status& why) {
    OpenAdd undone = std::move(*add);
    add.reset();
    // The logs first, cut for good: killed or powered off meanwhile, the add
    // leaves its new store for the next add to trace, never a record with
    // nothing to say it did not land.
    const Status cut = logs.cutBack();
    if (cut.ok()) dropNewStore(logs.dir);
    // Every lock let go before anything is said, since saying it may wait.
    logs.release();
    undone.lock = StoreLock();
    if (!cut.ok()) {
        logs.console.tell(
            cut.within("account " + undone.account + " not stored, but its record stays: cannot undo the add"));
    }
    logs.report(why);
    return why;
}

}  // namespace board
