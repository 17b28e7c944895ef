#include "Board.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
    const passwd* entry = getpwuid(getuid());
    return entry && entry->pw_dir ? entry->pw_dir : "";
}

// Like mkdir -p; components that exist already are left as they are.
void makeDirs(const std::string& path) {
    for (std::size_t end = 1; end <= path.size(); ++end) {
        if (end < path.size() && path[end] != '/') continue;
        if (mkdir(path.substr(0, end).c_str(), 0700) != 0 && errno != EEXIST) return;
    }
}

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool readSettings(Settings& settings) {
    const std::string path = statePath("board.conf");
    std::string text;
    if (const int err = readWholeFile(path, text, maxConfSize)) {
        if (err == ENOENT) return true;
        traceReason("%s: cannot read: %s", path.c_str(), std::strerror(err));
        return false;
    }
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
    if (home.empty()) return "";  // nowhere to keep state: every file access fails
    return home + "/.local/state/userctl/board";
}

}  // namespace

std::string stateDir() {
    Cache& known = cache();
    if (!known.dirKnown) {
        known.dir = findStateDir();
        if (!known.dir.empty()) makeDirs(known.dir);
        known.dirKnown = true;
    }
    return known.dir;
}

std::string statePath(const char* name) { return stateDir() + "/" + name; }

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
    if (!known.loaded) {
        known.settingsOk = readSettings(known.config.settings);
        known.faultsOk = readFaults(known.config.faults, true);
        known.loaded = true;
    }
    if (!known.settingsOk) raisePlatformFailure("Board settings are malformed");
    if (!known.faultsOk) raisePlatformFailure("Board fault list is malformed");
    return known.config;
}

void forgetState() { cache() = Cache(); }

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

int readWholeFile(const std::string& path, std::string& out, std::size_t limit) {
    out.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat info {};
    int err = fstat(fd, &info) != 0 ? errno : 0;
    if (!err && info.st_size > 0 && static_cast<std::uint64_t>(info.st_size) > limit) err = EFBIG;
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
    close(fd);
    if (err) out.clear();
    return err;
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t put = write(fd, data.data(), data.size());
        if (put < 0 && errno == EINTR) continue;
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
