#pragma once

// An add and its record, one transaction, the record first: the whole of an
// add's life on this board, in one object. Everything the record needs (both
// logs opened, judged and locked) is taken under the store's lock, and the
// next store written to a file of its own and synced, before the service
// answers; the record is then written through the held logs, and only once
// it is durable is the new store put in place, by one rename. A record that
// cannot be written leaves the store as it was. So a process killed, or a
// board powered off, at any moment leaves the old store, or the new one with
// its whole record; what an interrupted add left, the next add finds and
// traces.
//
// The rules it keeps:
// - the locks are taken in one order: the store's (the state directory's,
//   then the lock directory's), then trace.log's, then event.log's, and the
//   store's are kept until the add ends; settling what an interrupted add left takes trace.log's
//   while it holds the store's;
// - any event entry ends the open add (llog.cpp asks end());
// - the add is its requester's, one a command: only it undoes the add.

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "LogLine.h"
#include "StateDir.h"
#include "Status.h"
#include "Store.h"

namespace board {

class Transaction {
public:
    Transaction(const StateDir& dir, Logs& logs, Console& console) : dir(dir), logs(logs), console(console) {}
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // What take failed at.
    enum class Stage { lock, read, settle };

    // The store for an add, in store(): its lock taken (waited for until
    // deadline, which bounds every line the add writes too), the store read,
    // and what an interrupted add left (users.new, or an older board's
    // users.tmp) told in a trace line made durable before it is removed.
    // Nothing is held after a failure, whose stage is in failedAt.
    Status take(const timespec& deadline, Stage& failedAt);
    const Store& store() const { return current; }
    // The store taken let go, no add opened: the service refused it.
    void release();

    // The add of account, the store's line, opened for requester: both logs
    // held, and the store that follows written to a file of its own and
    // synced; its record is then written through the held logs. Everything
    // is let go after a failure.
    Status open(std::string_view line, std::string_view account, const void* requester);

    // Whether an add is open, and whether requester opened it.
    bool isOpen() const { return add.has_value(); }
    bool openedBy(const void* requester) const { return add && add->requester == requester; }

    // Ends the open add once its record is written: the record made durable,
    // the new store put in place, everything let go. When a line of the
    // record could not be written or made durable, or the store not put in
    // place, the add is undone instead, and the reason returned and reported.
    Status end();

    // Undoes the open add for why (reported): the add's lines cut from the
    // logs and the cut synced, the new store removed, everything let go. A
    // log not cut back, or a cut not synced, is told on the console, naming
    // the account and saying which, and the new store is left for the next
    // add to find.
    Status undo(const Status& why);

private:
    Status settle();
    Status putInPlace();

    // An add whose record is being written; its account is not yet stored.
    struct OpenAdd {
        std::string account;
        const void* requester;  // whose request opened it
    };

    const StateDir& dir;
    Logs& logs;
    Console& console;
    StoreLock lock;
    Store current;
    timespec deadline{};
    std::optional<OpenAdd> add;
};

}  // namespace board
