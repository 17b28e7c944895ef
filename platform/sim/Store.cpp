#include "Store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unordered_set>

#if USERCTL_HAVE_XCRYPT
#include <crypt.h>
#endif

#include "CGI_USER_INFO.h"
#include "Config.h"
#include "Files.h"
#include "LogLine.h"
#include "StateDir.h"

namespace board {

namespace {

constexpr std::size_t maxStoreSize = std::size_t{32} * 1024 * 1024;
constexpr std::size_t fieldCount = 4;

bool printable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x21 && c <= 0x7E; });
}

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

bool parseStore(const std::string& path, std::string_view bytes, std::vector<Account>& accounts) {
    const auto lines = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
    accounts.reserve(lines);
    std::unordered_set<std::string_view> names;
    names.reserve(lines);
    for (std::size_t lineNo = 1; !bytes.empty(); ++lineNo) {
        const auto newline = bytes.find('\n');
        if (newline == std::string_view::npos) return failAt(path, lineNo, "truncated line");
        const std::string_view line = bytes.substr(0, newline);
        bytes.remove_prefix(newline + 1);
        if (line.find('\0') != std::string_view::npos) return failAt(path, lineNo, "NUL byte");
        std::string_view field[fieldCount + 1];
        const std::size_t count = split(line, field);
        if (count < fieldCount) return failAt(path, lineNo, "missing field");
        if (count > fieldCount) return failAt(path, lineNo, "too many fields");
        Account account{field[0], 0, 0};
        if (account.name.empty()) return failAt(path, lineNo, "empty name");
        if (account.name.size() > maxNameLength) return failAt(path, lineNo, "name too long");
        if (!printable(account.name)) return failAt(path, lineNo, "name with a byte outside printable ASCII");
        if (!parseDecimal(field[1], UINT32_MAX, account.privilege))
            return failAt(path, lineNo, "privilege is not a decimal number");
        if (account.privilege < privilegeCode::admin || account.privilege > privilegeCode::partitionOperator)
            return failAt(path, lineNo, "unknown privilege");
        if (!parseDecimal(field[2], UINT32_MAX, account.mask))
            return failAt(path, lineNo, "partition mask is not a 32-bit decimal number");
        if (field[3].empty() || !printable(field[3])) return failAt(path, lineNo, "bad verifier");
        if (!names.insert(account.name).second) return failAt(path, lineNo, "repeated name");
        accounts.push_back(account);
    }
    return true;
}

// The store's lock, held for the object's lifetime: flock on users.lock,
// which every writer of the store takes, and then on the state directory
// itself. A lock file can be removed or replaced while it is held, and the
// next writer would lock a fresh one; the directory cannot be, so two
// writers never hold the store at once, whatever happens to the file.
class StoreLock {
public:
    StoreLock() : file(openStateFile("users.lock", O_RDWR | O_CREAT)), err(file.error()) {
        if (!err) err = lockExclusive(file.get());
        if (!err) err = lockExclusive(stateDirFd());
    }
    ~StoreLock() {
        if (!err) flock(stateDirFd(), LOCK_UN);
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    // 0 when held, else why not.
    int error() const { return err; }

private:
    Fd file;
    int err;
};

// Writes old followed by added to users.tmp and renames it over the store,
// so that a reader sees the old store or the new, never a mix: 0, or minus
// errno.
int replaceStore(std::string_view old, std::string_view added) {
    const int dir = stateDirFd();
    const char* const temp = "users.tmp";
    // A leftover of a killed writer is removed first; O_EXCL then guarantees
    // a fresh 0600 file of our own.
    if (unlinkat(dir, temp, 0) != 0 && errno != ENOENT) return lastError();
    Fd file = openStateFile(temp, O_WRONLY | O_CREAT | O_EXCL);
    if (file.error()) return file.error();
    int err = writeAll(file.get(), old);
    if (!err) err = writeAll(file.get(), added);
    if (!err && fsync(file.get()) != 0) err = lastError();
    if (const int closed = file.close(); !err) err = closed;
    if (!err && renameat(dir, temp, dir, "users") != 0) err = lastError();
    if (err) {
        unlinkat(dir, temp, 0);
        return err;
    }
    // The account is in the store from the rename on; a failed directory sync
    // only leaves the rename less durable, so it is recorded, not reported.
    if (fsync(dir) != 0) {
        const int error = lastError();  // kept before the path's text is built
        traceReason("%s: cannot sync the directory: %s", stateDir().c_str(), errorText(error));
    }
    return 0;
}

}  // namespace

bool readStore(Store& store) {
    store.accounts.clear();
    const std::string path = statePath("users");
    if (const int error = readStateFile("users", store.bytes, maxStoreSize)) {
        traceReason("%s: cannot read: %s", path.c_str(), errorText(error));
        return false;
    }
    return parseStore(path, store.bytes, store.accounts);
}

int makeVerifier(const char* password, std::string& verifier) {
#if USERCTL_HAVE_XCRYPT
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!crypt_gensalt_rn("$y$", 0, nullptr, 0, salt, sizeof salt) &&
        !crypt_gensalt_rn(nullptr, 0, nullptr, 0, salt, sizeof salt)) {
        return lastError();
    }
    const auto data = std::make_unique<crypt_data>();  // tens of KiB: kept off the stack
    const char* hash = crypt_rn(password, salt, data.get(), sizeof *data);
    // A verifier that the store could not hold is refused, never written.
    const bool made = hash && hash[0] == '$' && printable(hash) && !std::strchr(hash, ':');
    if (made) verifier = hash;
    explicit_bzero(data.get(), sizeof *data);
    return made ? 0 : -EINVAL;
#else
    (void)password;
    verifier = "!";  // no libxcrypt on this build: the account has no usable password
    return 0;
#endif
}

AddResult addAccount(const Account& account, std::string_view verifier, std::uint32_t maxUsers) {
    const StoreLock lock;
    if (lock.error()) {
        traceReason("%s: cannot lock: %s", statePath("users.lock").c_str(), errorText(lock.error()));
        return AddResult::failed;
    }
    Store store;
    if (!readStore(store)) return AddResult::failed;
    for (const Account& held : store.accounts) {
        if (held.name == account.name) return AddResult::exists;
    }
    if (store.accounts.size() >= maxUsers) return AddResult::full;
    char numbers[32];
    std::snprintf(numbers, sizeof numbers, ":%lu:%lu:", static_cast<unsigned long>(account.privilege),
                  static_cast<unsigned long>(account.mask));
    std::string line(account.name);
    line += numbers;
    line += verifier;
    line += '\n';
    // A store the board could not read back would lose every account.
    if (store.bytes.size() + line.size() > maxStoreSize) {
        traceReason("%s: one more account would pass the %zu bytes a store may hold", statePath("users").c_str(),
                    maxStoreSize);
        return AddResult::full;
    }
    if (const int error = replaceStore(store.bytes, line)) {
        // The file named is the one that could not be written or put in place.
        traceReason("%s: cannot write: %s", statePath("users.tmp").c_str(), errorText(error));
        return AddResult::failed;
    }
    return AddResult::added;
}

}  // namespace board
