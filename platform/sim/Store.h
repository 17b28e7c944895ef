#pragma once

// The account store: the file "users" in the state directory, one line
// "name:privilege:mask:verifier" per account, in the order of adding.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// Reads and checks the store; a missing file is an empty store. False, with
// the file and line traced, when it cannot be read or parsed.
bool readStore(Store& store);

// The crypt(3) verifier of password with a fresh salt ("!" without libxcrypt):
// 0, or minus errno.
int makeVerifier(const char* password, std::string& verifier);

enum class AddResult { added, exists, full, failed };

// Appends the account under the store's lock; the store is replaced whole or
// left as it was. A store that would grow past what the board reads back is
// full. Every reason but exists is traced.
AddResult addAccount(const Account& account, std::string_view verifier, std::uint32_t maxUsers);

}  // namespace board
