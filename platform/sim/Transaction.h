#pragma once

// An add and its record, one transaction, the record first. Everything the
// record needs (both logs opened, judged and locked) is taken under the
// store's lock, and the next store written to a file of its own and synced,
// before the service answers; the record is then written through the held
// logs, and only once it is durable is the new store put in place, by one
// rename. A record that cannot be written leaves the store as it was. So a
// process killed, or a board powered off, at any moment leaves the old store,
// or the new one with its whole record; what an interrupted add left, the
// next add finds and traces.

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "LogLine.h"
#include "Status.h"
#include "Store.h"

namespace board {

// An add whose record is being written; its account is not yet stored.
struct OpenAdd {
    StoreLock lock;
    std::string account;
    const void* requester = nullptr;  // whose request opened it
};

// This process's add, through logs.
class Transaction {
public:
    explicit Transaction(Logs& logs) : logs(logs) {}
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // What an interrupted add left (users.new, or an older board's
    // users.tmp), told in a trace line made durable before the file is
    // removed; store as read under its lock.
    Status recover(const Store& store);

    // Holds the logs, waiting for their locks until deadline, and writes the
    // store that follows the add (old, then line) to a file of its own: the
    // add is then open, requester's, its record to be written through the
    // held logs. Nothing is held or left after a failure.
    Status begin(StoreLock&& lock, const timespec& deadline, std::string_view old, std::string_view line,
                 std::string_view account, const void* requester);

    // Whether an add is open, and whether requester opened it.
    bool open() const { return add.has_value(); }
    bool openedBy(const void* requester) const { return add && add->requester == requester; }

    // Ends the open add once its record is written: the record made durable,
    // the new store put in place, everything let go. When a line of the
    // record could not be written or made durable, or the store not put in
    // place, the add is undone instead, and the reason returned and reported.
    Status end();

    // Undoes the open add for why (reported): the logs cut back to where they
    // were, the new store removed, everything let go. Logs that cannot be
    // cut back are told on the console, naming the account, and the new
    // store is left for the next add to find.
    Status undo(const Status& why);

private:
    Logs& logs;
    std::optional<OpenAdd> add;
};

}  // namespace board
