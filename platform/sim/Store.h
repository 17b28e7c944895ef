#pragma once

// The account store: the file "users" in the state directory, one line
// "name:privilege:mask:verifier" per account, in the order of adding.

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "Files.h"
#include "LogLine.h"
#include "StateDir.h"
#include "Status.h"

namespace board {

struct Account {
    std::string_view name;  // into Store::bytes
    std::uint32_t privilege;
    std::uint32_t mask;
};

struct Store {
    Store() = default;
    Store(const Store&) = delete;  // the accounts point into bytes
    Store& operator=(const Store&) = delete;

    std::string bytes;
    std::vector<Account> accounts;
};

// Longest name a record's 36-byte field can carry. A stored name may fill
// it without a NUL, as a real service's reply may: readers of the list must
// cope with that.
constexpr std::size_t maxNameLength = 36;
// The most the board reads back: a store that grows past it would lose every
// account.
constexpr std::size_t maxStoreSize = std::size_t{32} * 1024 * 1024;

// Printable ASCII without the blank, as names and verifiers are.
bool printable(std::string_view text);

// Whether line is one whole line of the store, its account then in account.
bool oneAccount(std::string_view line, Account& account);

// Reads and checks the store in dir; a missing file is an empty store.
Status readStore(const StateDir& dir, Store& store);

// Whether the store can be trusted, before any operation: one that another
// user may have made or changed refuses them all.
Status judgeStore(const StateDir& dir);

// The crypt(3) verifier of password with a fresh salt ("!" without libxcrypt).
Status makeVerifier(const char* password, std::string& verifier);

// The store's lock: the flock of the state directory itself, on an open
// description of its own. A lock file, or the lock directory, may be removed
// as stale while it is held, or replaced, and the next add would lock one of
// its own; the state directory cannot be, but by making another board. The
// releases before took the lock directory's flock as the store's lock: it is
// taken too, after the state directory's, so that an add of theirs and one of
// this board exclude each other across an upgrade. An add waits for both
// until deadline, and a signal that would end the process cancels the wait.
// Another user can hold them only through a descriptor opened while the
// directory was open to them.
struct StoreLock {
    Fd dir;    // the state directory's
    Fd older;  // the lock directory's, as the releases before took it
};
Status lockStore(const StateDir& dir, const Logs& logs, StoreLock& lock, const timespec& deadline);

// The store's line for account.
std::string storeLine(const Account& account, std::string_view verifier);

// The file an add writes the next store to, under the store's lock, and
// renames over users once its record is written.
constexpr const char* newStore = "users.new";

// old followed by added written whole to users.new, synced, and its name
// made durable (the directory synced); nothing shows it until it is renamed
// over users. What an interrupted add left there is the caller's to settle
// first.
Status writeNewStore(const StateDir& dir, std::string_view old, std::string_view added);
// users.new removed, the add it held undone.
void dropNewStore(const StateDir& dir);

}  // namespace board
