#include "Config.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Files.h"
#include "PartitionOperatorInfo.h"
#include "StateDir.h"

namespace board {

namespace {

constexpr std::size_t maxConfSize = std::size_t{64} * 1024;

// The keys of board.conf, each with its range and the most of it taken.
struct Key {
    const char* name;
    std::uint32_t min, max;
    std::uint32_t Settings::*value;
    std::uint32_t most;
};
// A board set up when a wait could be longer keeps working: up to the old
// bound a value is taken as maxLockWait, and said so.
constexpr std::uint32_t formerMaxLockWait = 3600;
constexpr std::uint32_t maxPartitions = HalmLib::HalmUi::PartitionOperatorInfo::maskWidth;
constexpr Key keys[] = {
    {"partitions", 1, maxPartitions, &Settings::partitions, maxPartitions},
    {"max_users", 1, 65535, &Settings::maxUsers, 65535},
    {"lock_wait", 1, formerMaxLockWait, &Settings::lockWait, maxLockWait},
};

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A plain decimal number, digits alone (no sign, no blank), of at most max.
bool number(std::string_view text, std::uint32_t max, std::uint32_t& value) {
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end && value <= max;
}

// One line of board.conf, its comment and blanks trimmed: "key = value". A
// value taken as less than given is said in taken.
Status readSetting(std::string_view line, Settings& settings, unsigned& seen, std::string& taken) {
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) return Status(EINVAL, "expected \"key = value\"");
    const std::string_view name = trim(line.substr(0, equals));
    for (unsigned i = 0; i < std::size(keys); ++i) {
        const Key& key = keys[i];
        if (name != key.name) continue;
        if (seen & (1u << i)) return failure(EINVAL, "%s given twice", key.name);
        std::uint32_t value = 0;
        if (!number(trim(line.substr(equals + 1)), key.max, value) || value < key.min) {
            return failure(EINVAL, "%s must be a number from %u to %u (default %u)", key.name, key.min, key.max,
                           Settings().*key.value);
        }
        if (value > key.most) {
            const std::string most = std::to_string(key.most);
            taken = key.name + (" = " + std::to_string(value)) + " is more than " + most + ": taken as " + most;
            value = key.most;
        }
        settings.*key.value = value;
        seen |= 1u << i;
        return {};
    }
    return Status(EINVAL, "unknown setting");
}

// A refusal is said on the console too: the command fails on every call,
// and the administrator must see which line to mend without the trace log.
Status readSettings(const StateDir& dir, Settings& settings, std::vector<std::string>& taken) {
    const std::string path = dir.file("board.conf");
    std::string text;
    if (Status read = readFile(dir.dir.get(), "board.conf", text, maxConfSize); !read.ok()) {
        return read.within(path + ": cannot read").aloud();
    }
    unsigned seen = 0;
    std::string_view rest = text;
    for (std::size_t lineNo = 1; !rest.empty(); ++lineNo) {
        const auto newline = rest.find('\n');
        std::string_view line = rest.substr(0, newline);
        rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
        line = trim(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        std::string note;
        if (Status set = readSetting(line, settings, seen, note); !set.ok()) {
            return set.within(path + ":" + std::to_string(lineNo)).aloud();
        }
        if (!note.empty()) taken.push_back(path + ":" + std::to_string(lineNo) + ": " + note);
    }
    return {};
}

// Takes one token of the fault list; false for an unknown or repeated one.
bool parseFaultToken(std::string_view token, Faults& faults) {
    constexpr std::pair<std::string_view, Faults::List> lists[] = {{"list=fail", Faults::List::refused},
                                                                   {"list=throw", Faults::List::thrown},
                                                                   {"list=corrupt", Faults::List::corrupt}};
    constexpr std::uint32_t intMax = 0x7FFFFFFF;
    std::uint32_t value = 0;
    if (token == "login") return !std::exchange(faults.login, true);
    if (token == "event=fail") return !std::exchange(faults.eventFails, true);
    if (token == "add=throw") return std::exchange(faults.add, Faults::Add::thrown) == Faults::Add::none;
    // An error code of 0 would read as the account stored.
    if (token.substr(0, 4) == "add=" && number(token.substr(4), intMax, value) && value != 0) {
        faults.addCode = static_cast<std::int32_t>(value);
        return std::exchange(faults.add, Faults::Add::refused) == Faults::Add::none;
    }
    // A count a real board may report, past what a mask holds.
    if (token.substr(0, 11) == "partitions=" && number(token.substr(11), intMax, value) && value != 0) {
        return std::exchange(faults.partitions, value) == 0;
    }
    for (const auto& [name, list] : lists) {
        if (token == name) return std::exchange(faults.list, list) == Faults::List::none;
    }
    return false;
}

Status readFaults(Faults& faults) {
    const char* list = std::getenv("USERCTL_BOARD_FAULT");
    if (!list || !*list) return {};
    for (std::string_view rest = list;;) {
        const auto comma = rest.find(',');
        const std::string_view token = trim(rest.substr(0, comma));
        if (!parseFaultToken(token, faults)) {
            return Status(EINVAL, "USERCTL_BOARD_FAULT: unknown or repeated token \"" + std::string(token) + "\"");
        }
        if (comma == std::string_view::npos) return {};
        rest.remove_prefix(comma + 1);
    }
}

}  // namespace

Status readConfig(const StateDir& dir, Config& config) {
    Status status = readSettings(dir, config.settings, config.taken);
    if (status.ok()) status = readFaults(config.faults);
    return status;
}

std::uint32_t partitionCount(const Config& config) {
    return config.faults.partitions != 0 ? config.faults.partitions : config.settings.partitions;
}

}  // namespace board
