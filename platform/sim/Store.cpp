#include "Store.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unordered_set>

#if USERCTL_HAVE_XCRYPT
#include <crypt.h>
#endif

#include "CGI_USER_INFO.h"

namespace board {

namespace {

constexpr std::size_t fieldCount = 4;

// Splits line at ':' into at most fieldCount + 1 fields; returns how many.
std::size_t split(std::string_view line, std::string_view (&fields)[fieldCount + 1]) {
    std::size_t count = 0;
    while (count < fieldCount) {
        const auto colon = line.find(':');
        fields[count++] = line.substr(0, colon);
        if (colon == std::string_view::npos) return count;
        line.remove_prefix(colon + 1);
    }
    fields[count++] = line;  // a fifth field: there was one colon too many
    return count;
}

// A field of decimal digits alone that fits 32 bits.
bool decimal(std::string_view field, std::uint32_t& value) {
    const char* const end = field.data() + field.size();
    const auto [stop, error] = std::from_chars(field.data(), end, value);
    return error == std::errc() && stop == end;
}

// Why one line of the store is not an account, or ok.
Status parseAccount(std::string_view line, Account& account) {
    if (line.find('\0') != std::string_view::npos) return Status(EINVAL, "NUL byte");
    std::string_view field[fieldCount + 1];
    const std::size_t count = split(line, field);
    if (count < fieldCount) return Status(EINVAL, "missing field");
    if (count > fieldCount) return Status(EINVAL, "too many fields");
    account.name = field[0];
    if (account.name.empty()) return Status(EINVAL, "empty name");
    if (account.name.size() > maxNameLength) return Status(EINVAL, "name too long");
    if (!printable(account.name)) return Status(EINVAL, "name with a byte outside printable ASCII");
    if (!decimal(field[1], account.privilege)) return Status(EINVAL, "privilege is not a decimal number");
    if (account.privilege < privilegeCode::admin || account.privilege > privilegeCode::partitionOperator)
        return Status(EINVAL, "unknown privilege");
    if (!decimal(field[2], account.mask)) return Status(EINVAL, "partition mask is not a 32-bit decimal number");
    if (field[3].empty() || !printable(field[3])) return Status(EINVAL, "bad verifier");
    return {};
}

Status parseStore(const std::string& path, std::string_view bytes, std::vector<Account>& accounts) {
    // No more are reserved than a list can carry, whatever a corrupt store holds.
    const auto lines = std::min<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n'), 65536);
    accounts.reserve(lines);
    std::unordered_set<std::string_view> names;
    names.reserve(lines);
    for (std::size_t lineNo = 1; !bytes.empty(); ++lineNo) {
        const auto newline = bytes.find('\n');
        Account account{};
        Status parsed = newline == std::string_view::npos ? Status(EINVAL, "truncated line")
                                                          : parseAccount(bytes.substr(0, newline), account);
        if (parsed.ok() && !names.insert(account.name).second) parsed = Status(EINVAL, "repeated name");
        if (!parsed.ok()) return parsed.within(path + ":" + std::to_string(lineNo));
        accounts.push_back(account);
        bytes.remove_prefix(newline + 1);
    }
    return {};
}

}  // namespace

bool oneAccount(std::string_view line, Account& account) {
    return !line.empty() && line.back() == '\n' && line.find('\n') == line.size() - 1 &&
           parseAccount(line.substr(0, line.size() - 1), account).ok();
}

bool printable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x21 && c <= 0x7E; });
}

Status readStore(const StateDir& dir, Store& store) {
    store.accounts.clear();
    const std::string path = dir.file("users");
    if (Status read = readFile(dir.dir.get(), "users", store.bytes, maxStoreSize, othersReadWrite); !read.ok()) {
        return read.within(path + ": cannot read");
    }
    return parseStore(path, store.bytes, store.accounts);
}

Status judgeStore(const StateDir& dir) {
    Fd file;
    const Status status = openFile(dir.dir.get(), "users", O_RDONLY, file, othersReadWrite);
    return status.error() == ENOENT ? Status() : status.within(dir.file("users") + ": cannot read");
}

Status makeVerifier(const char* password, std::string& verifier) {
#if USERCTL_HAVE_XCRYPT
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!crypt_gensalt_rn("$y$", 0, nullptr, 0, salt, sizeof salt) &&
        !crypt_gensalt_rn(nullptr, 0, nullptr, 0, salt, sizeof salt)) {
        return Status(errno ? errno : EINVAL);
    }
    const auto data = std::make_unique<crypt_data>();  // tens of KiB: kept off the stack
    const char* hash = crypt_rn(password, salt, data.get(), sizeof *data);
    // A verifier that the store could not hold is refused, never written.
    const bool made = hash && hash[0] == '$' && printable(hash) && !std::strchr(hash, ':');
    if (made) verifier = hash;
    explicit_bzero(data.get(), sizeof *data);
    return made ? Status() : Status(EINVAL);
#else
    (void)password;
    verifier = "!";  // no libxcrypt on this build: the account has no usable password
    return {};
#endif
}

Status lockStore(const StateDir& dir, const Logs& logs, StoreLock& lock, const timespec& deadline) {
    Status status = openAt(dir.dir.get(), ".", O_RDONLY | O_DIRECTORY, lock.dir);
    if (status.ok()) status = lockBefore(lock.dir.get(), deadline, true);
    if (status.ok()) {
        // A lock directory the logs could not use either refuses the add as it would.
        if (Status opened = logs.openLockDir(lock.older); !opened.ok()) return opened;
        status = lockBefore(lock.older.get(), deadline, true);
    }
    switch (status.error()) {
    case 0: return status;
    case EINTR: return Status(EINTR, "add " + status.reason() + " while waiting for the store");
    case EWOULDBLOCK: return Status(EWOULDBLOCK, "the store is busy: another process holds its lock; try again", true);
    default: return status.within(dir.path + ": cannot lock").aloud();
    }
}

std::string storeLine(const Account& account, std::string_view verifier) {
    char numbers[32];
    std::snprintf(numbers, sizeof numbers, ":%lu:%lu:", static_cast<unsigned long>(account.privilege),
                  static_cast<unsigned long>(account.mask));
    std::string line(account.name);
    line += numbers;
    line += verifier;
    line += '\n';
    return line;
}

Status writeNewStore(const StateDir& dir, std::string_view old, std::string_view added) {
    Fd file;
    // O_EXCL: a fresh 0600 file of the board's own, removed again on failure.
    Status status = openFile(dir.dir.get(), newStore, O_WRONLY | O_CREAT | O_EXCL, file, othersReadWrite);
    const bool made = status.ok();
    if (status.ok()) status = writeAll(file.get(), old);
    if (status.ok()) status = writeAll(file.get(), added);
    if (status.ok() && fsync(file.get()) != 0) status = Status(errno);
    if (const Status closed = file.close(); status.ok()) status = closed;
    status = status.within(dir.file(newStore) + ": cannot write");
    // Its name durable before any line of the record is written: a record
    // whose account a power cut loses must leave users.new for the next add
    // to tell. The names of the logs this add made, and of what a recovery
    // removed, become durable with it.
    if (status.ok() && fsync(dir.dir.get()) != 0) {
        status = Status(errno).within(dir.path + ": cannot sync the directory");
    }
    if (!status.ok() && made) dropNewStore(dir);
    return status;
}

void dropNewStore(const StateDir& dir) { unlinkat(dir.dir.get(), newStore, 0); }

}  // namespace board
