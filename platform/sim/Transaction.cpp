#include "Transaction.h"

#include <utility>

#include "LogLine.h"
#include "Process.h"

namespace board {

Status commitAdd(StoreLock&& lock, const timespec& deadline, std::string_view old, std::string_view line,
                 std::string_view account) {
    OpenAdd add{std::move(lock), false, std::string(account)};
    Status status = holdLogs(deadline);
    if (status.ok()) status = replaceStore(old, line, add.replaced);
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
    if (!status.ok()) return undoAdd(status.aloud());
    dropOldStore();
    releaseLogs();
    process().add.reset();
    return {};
}

Status undoAdd(const Status& why) {
    OpenAdd add = std::move(*process().add);
    process().add.reset();
    // The logs are cut back only once the account is gone: what they hold of
    // its record is all there is of it otherwise, and the add then stands.
    Status undone = restoreStore(add.replaced);
    const char* const left = undone.ok() ? "not stored, but its record stays" : "stored without its record";
    if (undone.ok()) {
        undone = cutBackLogs();
    } else {
        dropOldStore();
    }
    // Every lock let go before anything is said, since saying it may wait.
    releaseLogs();
    add.lock = StoreLock();
    if (!undone.ok()) tell(undone.within("account " + add.account + " " + left + ": cannot undo the add"));
    report(why);
    return why;
}

}  // namespace board
