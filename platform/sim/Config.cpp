#include "Config.h"

#include <cstdlib>
#include <string>

#include "Files.h"
#include "LogLine.h"
#include "PException.h"
#include "PartitionOperatorInfo.h"
#include "StateDir.h"

namespace board {

namespace {

constexpr std::uint32_t maxUsersLimit = 65535;
constexpr std::size_t maxConfSize = std::size_t{64} * 1024;

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool readSettings(Settings& settings) {
    const std::string path = statePath("board.conf");
    std::string text;
    if (const int error = readStateFile("board.conf", text, maxConfSize)) {
        traceReason("%s: cannot read: %s", path.c_str(), errorText(error));
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
            if (!parseDecimal(value, HalmLib::HalmUi::PartitionOperatorInfo::maskWidth, number) || number < 1)
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
        if (what == "fail")
            faults.list = Faults::List::fail;
        else if (what == "throw")
            faults.list = Faults::List::raise;
        else if (what == "corrupt")
            faults.list = Faults::List::corrupt;
        else
            return false;
        return true;
    }
    return false;
}

// The environment does not change under a command, and one process runs one
// command: the settings and the faults are read once. The partition count is
// asked for every row of a user list.
struct Loaded {
    bool done = false;
    bool settingsOk = false;
    bool faultsOk = false;
    Config config;
};

Loaded& loaded() {
    static Loaded state;
    return state;
}

}  // namespace

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
    Loaded& known = loaded();
    if (stateDirFd() < 0) HalmLib::throwFailure("Board state directory is unusable");
    if (!known.done) {
        known.settingsOk = readSettings(known.config.settings);
        known.faultsOk = readFaults(known.config.faults, true);
        known.done = true;
    }
    if (!known.settingsOk) HalmLib::throwFailure("Board settings are malformed");
    if (!known.faultsOk) HalmLib::throwFailure("Board fault list is malformed");
    return known.config;
}

void forgetState() {
    forgetStateDir();
    loaded() = Loaded();
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

}  // namespace board
