#include "Board.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CommonUtil.h"
#include "PException.h"

namespace board {

namespace {

constexpr int maxPartitions = 32;
constexpr std::uint32_t maxUsersLimit = 65535;
constexpr std::size_t maxConfSize = 64 * 1024;

const char* nonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

std::string homeDir() {
    if (const char* home = nonEmptyEnv("HOME")) return home;
    const passwd* entry = getpwuid(geteuid());
    return entry && entry->pw_dir ? entry->pw_dir : "";
}

// What the board creates gets exactly 0600 or 0700, whatever umask the
// command was started with. The board serves a single-threaded program, so
// the umask is its own for the moment of one call.
class PrivateUmask {
public:
    PrivateUmask() : old(umask(077)) {}
    ~PrivateUmask() { umask(old); }
    PrivateUmask(const PrivateUmask&) = delete;
    PrivateUmask& operator=(const PrivateUmask&) = delete;

private:
    mode_t old;
};

// Like mkdir -p; components that exist already are left as they are.
// Returns the errno value of a mkdir that failed, or 0.
int makeDirs(const std::string& path) {
    const PrivateUmask privately;
    for (std::size_t end = 1; end <= path.size(); ++end) {
        if (end < path.size() && path[end] != '/') continue;
        if (mkdir(path.substr(0, end).c_str(), 0700) != 0 && errno != EEXIST) return errno;
    }
    return 0;
}

// Why a directory on the way to path would let another user put something
// else in its place, or an empty text: one, or a link to one, that belongs
// to neither root nor the effective user, or that others can write without
// the sticky bit (which keeps them from renaming what is not theirs).
std::string unsafePath(const std::string& path) {
    for (std::size_t end = path.find('/', 1); end != std::string::npos; end = path.find('/', end + 1)) {
        const std::string step = path.substr(0, end);
        struct stat link {}, dir {};
        if (lstat(step.c_str(), &link) != 0 || stat(step.c_str(), &dir) != 0) break;  // made below, ours
        for (const uid_t owner : {link.st_uid, dir.st_uid}) {
            if (owner != 0 && owner != geteuid()) return step + ", on its path, belongs to uid " + std::to_string(owner);
        }
        if ((dir.st_mode & (S_IWGRP | S_IWOTH)) && !(dir.st_mode & S_ISVTX))
            return step + ", on its path, is writable by group or others";
    }
    return {};
}

// Why the state directory itself cannot be trusted, or an empty text. No
// one else may write it (to plant a file or a link) or read it (to hold its
// lock).
std::string unsafeDir(const struct stat& info) {
    if (info.st_uid != geteuid()) {
        return "owned by uid " + std::to_string(info.st_uid) + ", not by uid " + std::to_string(geteuid()) +
               " that runs the command";
    }
    if (info.st_mode & (S_IWGRP | S_IWOTH)) return "writable by group or others";
    if (info.st_mode & (S_IRGRP | S_IROTH)) return "readable by group or others";
    return {};
}

// The directory at path, or -1 after its reason went to standard error.
int openStateDir(const std::string& path) {
    if (path.empty()) {
        dprintf(STDERR_FILENO, "board: no state directory: USERCTL_BOARD_DIR, XDG_STATE_HOME and HOME are unset, "
                               "and uid %ld has no home directory\n", static_cast<long>(geteuid()));
        return -1;
    }
    std::string why = unsafePath(path);
    int fd = -1;
    if (why.empty()) {
        const int made = makeDirs(path);
        fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int err = made ? made : errno;
        struct stat info {};
        if (fd < 0) {
            why = lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode) ? "a symbolic link" : std::strerror(err);
        } else {
            why = fstat(fd, &info) == 0 ? unsafeDir(info) : std::strerror(errno);
        }
    }
    if (why.empty()) return fd;
    if (fd >= 0) close(fd);
    dprintf(STDERR_FILENO, "board: %s: not used as the state directory: %s\n", path.c_str(), why.c_str());
    return -1;
}

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool readSettings(Settings& settings) {
    const std::string path = statePath("board.conf");
    std::string text;
    if (!readStateFile("board.conf", text, maxConfSize)) return false;
    bool seenPartitions = false, seenMaxUsers = false;
    std::string_view rest = text;
    for (std::size_t lineNo = 1; !rest.empty(); ++lineNo) {
        const auto newline = rest.find('\n');
        std::string_view line = rest.substr(0, newline);
        rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
        line = trim(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) return failAt(path, lineNo, "expected \"key = value\"");
        const std::string_view key = trim(line.substr(0, equals));
        const std::string_view value = trim(line.substr(equals + 1));
        std::uint32_t number = 0;
        if (key == "partitions") {
            if (seenPartitions) return failAt(path, lineNo, "partitions given twice");
            if (!parseDecimal(value, maxPartitions, number) || number < 1)
                return failAt(path, lineNo, "partitions must be a number from 1 to 32");
            settings.partitions = static_cast<int>(number);
            seenPartitions = true;
        } else if (key == "max_users") {
            if (seenMaxUsers) return failAt(path, lineNo, "max_users given twice");
            if (!parseDecimal(value, maxUsersLimit, number) || number < 1)
                return failAt(path, lineNo, "max_users must be a number from 1 to 65535");
            settings.maxUsers = number;
            seenMaxUsers = true;
        } else {
            return failAt(path, lineNo, "unknown setting");
        }
    }
    return true;
}

bool parseFaultToken(std::string_view token, Faults& faults) {
    constexpr std::uint32_t maxCode = 0x7FFFFFFF;
    if (token == "login") {
        if (faults.login) return false;
        faults.login = true;
        return true;
    }
    if (token.substr(0, 4) == "add=") {
        if (faults.add != Faults::Add::none) return false;
        const std::string_view what = token.substr(4);
        std::uint32_t code = 0;
        if (what == "throw") {
            faults.add = Faults::Add::raise;
        } else if (parseDecimal(what, maxCode, code)) {
            faults.add = Faults::Add::refuse;
            faults.addCode = static_cast<std::int32_t>(code);
        } else {
            return false;
        }
        return true;
    }
    if (token.substr(0, 5) == "list=") {
        if (faults.list != Faults::List::none) return false;
        const std::string_view what = token.substr(5);
        if (what == "fail") faults.list = Faults::List::fail;
        else if (what == "throw") faults.list = Faults::List::raise;
        else if (what == "corrupt") faults.list = Faults::List::corrupt;
        else return false;
        return true;
    }
    return false;
}

// The environment does not change under a command, and one process runs one
// command: the state directory, the settings and the faults are read once.
// The partition count is asked for every row of a user list.
struct Cache {
    bool dirKnown = false;
    std::string dir;
    int dirFd = -1;
    bool loaded = false;
    bool settingsOk = false;
    bool faultsOk = false;
    Config config;
};

Cache& cache() {
    static Cache state;
    return state;
}

std::string findStateDir() {
    if (const char* given = nonEmptyEnv("USERCTL_BOARD_DIR")) return given;
    if (const char* xdg = nonEmptyEnv("XDG_STATE_HOME"); xdg && xdg[0] == '/') {
        return std::string(xdg) + "/userctl/board";  // a relative XDG path is ignored, as XDG says
    }
    const std::string home = homeDir();
    if (home.empty()) return "";  // nowhere to keep state: the board refuses to work
    return home + "/.local/state/userctl/board";
}

}  // namespace

int stateDirFd() {
    Cache& known = cache();
    if (!known.dirKnown) {
        known.dir = findStateDir();
        // A trailing slash would make the last name followed even if it is a link.
        while (known.dir.size() > 1 && known.dir.back() == '/') known.dir.pop_back();
        known.dirFd = openStateDir(known.dir);
        known.dirKnown = true;
    }
    return known.dirFd;
}

std::string stateDir() {
    stateDirFd();
    return cache().dir;
}

std::string statePath(const char* name) { return stateDir() + "/" + name; }

namespace {

// 0 for a regular file, else the errno value that tells what it is instead.
int notRegular(mode_t mode) {
    if (S_ISREG(mode)) return 0;
    return S_ISDIR(mode) ? EISDIR : S_ISLNK(mode) ? ELOOP : notRegularFile;
}

}  // namespace

int openStateFile(const char* name, int flags) {
    const int dir = stateDirFd();
    struct stat info {};
    int err = dir < 0 ? EBADF : 0;
    // What is not a regular file is never opened: opening a device may act on
    // it. Should one take a file's place after this look, O_NONBLOCK still
    // keeps a FIFO from hanging the command.
    if (!err && fstatat(dir, name, &info, AT_SYMLINK_NOFOLLOW) == 0) err = notRegular(info.st_mode);
    if (err) {
        errno = err;
        return -1;
    }
    const PrivateUmask privately;
    return openat(dir, name, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
}

const char* errorText(int err) { return err == notRegularFile ? "not a regular file" : std::strerror(err); }

bool lockExclusive(int fd) {
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

bool readFaults(Faults& faults, bool report) {
    faults = Faults{};
    const char* list = std::getenv("USERCTL_BOARD_FAULT");
    if (!list || !*list) return true;
    std::string_view rest = list;
    while (true) {
        const auto comma = rest.find(',');
        const std::string_view token = trim(rest.substr(0, comma));
        if (!parseFaultToken(token, faults)) {
            if (report) {
                const std::string shown(token);
                traceReason("USERCTL_BOARD_FAULT: unknown or repeated token \"%s\"", shown.c_str());
            }
            return false;
        }
        if (comma == std::string_view::npos) return true;
        rest.remove_prefix(comma + 1);
    }
}

Config load() {
    Cache& known = cache();
    if (stateDirFd() < 0) raisePlatformFailure("Board state directory is unusable");
    if (!known.loaded) {
        known.settingsOk = readSettings(known.config.settings);
        known.faultsOk = readFaults(known.config.faults, true);
        known.loaded = true;
    }
    if (!known.settingsOk) raisePlatformFailure("Board settings are malformed");
    if (!known.faultsOk) raisePlatformFailure("Board fault list is malformed");
    return known.config;
}

void forgetState() {
    if (cache().dirFd >= 0) close(cache().dirFd);
    cache() = Cache();
}

void raisePlatformFailure(const char* text) {
    throw HalmLib::PException(1, 80, 23296, 1, 1537, 20019, reinterpret_cast<long>(text),
                              0, 0, 0, 0, 0, 0, 0);
}

bool parseDecimal(std::string_view digits, std::uint32_t max, std::uint32_t& value) {
    if (digits.empty()) return false;
    std::uint64_t total = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return false;
        total = total * 10 + static_cast<unsigned>(c - '0');
        if (total > max) return false;
    }
    value = static_cast<std::uint32_t>(total);
    return true;
}

bool readStateFile(const char* name, std::string& out, std::size_t limit) {
    out.clear();
    const int fd = openStateFile(name, O_RDONLY);
    int err = fd < 0 ? errno : 0;
    struct stat info {};
    if (!err && fstat(fd, &info) != 0) err = errno;
    if (!err && static_cast<std::uint64_t>(info.st_size) > limit) err = EFBIG;
    if (!err) out.reserve(static_cast<std::size_t>(info.st_size));
    char chunk[64 * 1024];
    while (!err) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0) {
            if (errno != EINTR) err = errno;
        } else if (got == 0) {
            break;
        } else if (out.size() + static_cast<std::size_t>(got) > limit) {
            err = EFBIG;
        } else {
            out.append(chunk, static_cast<std::size_t>(got));
        }
    }
    if (fd >= 0) close(fd);
    if (!err || err == ENOENT) return true;
    out.clear();
    traceReason("%s: cannot read: %s", statePath(name).c_str(), errorText(err));
    return false;
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t put = write(fd, data.data(), data.size());
        if (put < 0 && errno == EINTR) continue;
        if (put == 0) errno = EIO;  // no error of its own, but no progress either
        if (put <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

bool failAt(const std::string& path, std::size_t line, const char* reason) noexcept {
    traceReason("%s:%zu: %s", path.c_str(), line, reason);
    return false;
}

}  // namespace board

int CommonUtil::getMaxPartitionNum() { return board::load().settings.partitions; }
