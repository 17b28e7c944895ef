#pragma once

// An add and its record, one transaction. Everything the record needs (both
// logs opened, judged, locked and with room for their lines) is taken before
// the store is replaced, and held with the store's lock until the record is
// written: after the change nothing is opened by name or waited for. A record
// that cannot be written undoes the change, under the locks still held.

#include <ctime>
#include <string>
#include <string_view>

#include "Status.h"
#include "Store.h"

namespace board {

// An add whose account is stored and whose record is still to be written.
struct OpenAdd {
    StoreLock lock;
    bool replaced = false;  // there was a store, kept until the add ends
    std::string account;
    const void* requester = nullptr;  // whose request opened it
};

// Holds the logs, waiting for their locks until deadline, then replaces the
// store (old) with old followed by line, under lock: the add is then open,
// its record to be written through the held logs. Nothing is held or changed
// after a failure.
Status commitAdd(StoreLock&& lock, const timespec& deadline, std::string_view old, std::string_view line,
                 std::string_view account);

bool addOpen();

// Ends the open add once its record is written: the record made durable, the
// old store dropped, everything let go. When a line of the record could not
// be written or made durable, the add is undone instead, and the reason
// returned and reported.
Status endAdd();

// Undoes the open add for why (reported): the old store back, the logs cut
// back to where they were, everything let go. An undo that fails is told on
// the console, naming the account.
Status undoAdd(const Status& why);

}  // namespace board
