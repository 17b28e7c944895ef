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

Status Transaction::take(const timespec& until, Stage& failedAt) {
    deadline = until;
    logs.waitNoLongerThan(deadline);
    Status status = lockStore(dir, logs, lock, deadline);
    failedAt = Stage::lock;
    if (status.ok()) {
        status = readStore(dir, current);
        failedAt = Stage::read;
    }
    if (status.ok()) {
        status = settle();
        failedAt = Stage::settle;
    }
    if (!status.ok()) release();
    return status;
}

void Transaction::release() {
    lock = StoreLock();
    current.accounts.clear();
    current.bytes.clear();
}

Status Transaction::settle() {
    for (const char* name : {newStore, olderStore}) {
        struct stat info {};
        if (fstatat(dir.dir.get(), name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        std::string left;
        if (Status read = readFile(dir.dir.get(), name, left, maxStoreSize, othersReadWrite); !read.ok()) {
            return read.within(dir.file(name) + ": cannot read");
        }
        // Said for good, the log's name too, before the file goes: no undo
        // cuts this line back, and no power cut keeps the removal alone.
        const Status said = logs.traceDurably("board: " + found(dir, name, left, current));
        if (!said.ok()) return said.aloud();
        if (unlinkat(dir.dir.get(), name, 0) != 0) return Status(errno).within(dir.file(name) + ": cannot remove");
    }
    return {};
}

Status Transaction::open(std::string_view line, std::string_view account, const void* requester) {
    Status status = logs.hold(deadline);
    if (status.ok()) status = writeNewStore(dir, current.bytes, line);
    if (!status.ok()) {
        logs.release();
        release();
        return status;
    }
    add = OpenAdd{std::string(account), requester};
    return {};
}

Status Transaction::end() {
    Status status = logs.lineFailed();
    if (status.ok()) status = logs.sync();
    if (status.ok()) status = putInPlace();
    if (!status.ok()) return undo(status.aloud());
    logs.release();
    release();
    add.reset();
    return {};
}

Status Transaction::putInPlace() {
    // A state directory replaced by a private copy while the add ran (its
    // remedy run meanwhile) would take the account aside with it, unseen:
    // the path must still name the directory locked.
    struct stat named {
    }, locked{};
    if (stat(dir.path.c_str(), &named) != 0 || fstat(dir.dir.get(), &locked) != 0 || named.st_dev != locked.st_dev ||
        named.st_ino != locked.st_ino) {
        return Status(ESTALE, dir.file(newStore) + ": cannot put in place: " + dir.path +
                                  " is another directory now, put in its place while the add ran");
    }
    if (renameat(dir.dir.get(), newStore, dir.dir.get(), "users") != 0) {
        return Status(errno).within(dir.file(newStore) + ": cannot put in place");
    }
    // A failure only leaves the rename less durable.
    if (fsync(dir.dir.get()) != 0) logs.report(Status(errno).within(dir.path + ": cannot sync the directory"));
    return {};
}

Status Transaction::undo(const Status& why) {
    const std::string account = add->account;
    add.reset();
    // The logs first, cut for good: killed or powered off meanwhile, the add
    // leaves its new store for the next add to trace, never a record with
    // nothing to say it did not land. A record that stays, or whose cut may
    // not outlive a power cut, keeps it too.
    bool cutAll = false;
    const Status cut = logs.cutBack(cutAll);
    if (cut.ok()) dropNewStore(dir);
    // Every lock let go before anything is said, since saying it may wait.
    logs.release();
    release();
    if (!cut.ok()) {
        console.tell(
            cut.within("account " + account +
                       (cutAll ? " not stored; its record is cut back, but may come back after a power cut,"
                                 " and users.new stays for the next add to tell"
                               : " not stored, but its record stays, and users.new for the next add to tell")));
    }
    logs.report(why);
    return why;
}

}  // namespace board
