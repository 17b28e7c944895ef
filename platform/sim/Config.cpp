#include "Config.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <tuple>
#include <utility>

#include "Files.h"
#include "LogLine.h"
#include "PException.h"
#include "PartitionOperatorInfo.h"
#include "Process.h"
#include "StateDir.h"

namespace board {

namespace {

constexpr std::size_t maxConfSize = std::size_t{64} * 1024;

// The keys of board.conf, each with its range.
struct Key {
    const char* name;
    std::uint32_t min, max;
    std::uint32_t Settings::*value;
};
constexpr Key keys[] = {
    {"partitions", 1, HalmLib::HalmUi::PartitionOperatorInfo::maskWidth, &Settings::partitions},
    {"max_users", 1, 65535, &Settings::maxUsers},
    {"lock_wait", 1, 3600, &Settings::lockWait},
};

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// One line of board.conf, its comment and blanks trimmed: "key = value".
Status readSetting(std::string_view line, Settings& settings, unsigned& seen) {
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) return Status(EINVAL, "expected \"key = value\"");
    const std::string_view name = trim(line.substr(0, equals));
    for (unsigned i = 0; i < std::size(keys); ++i) {
        const Key& key = keys[i];
        if (name != key.name) continue;
        if (seen & (1u << i)) return failure(EINVAL, "%s given twice", key.name);
        std::uint32_t number = 0;
        if (!parseDecimal(trim(line.substr(equals + 1)), key.max, number) || number < key.min) {
            return failure(EINVAL, "%s must be a number from %u to %u", key.name, key.min, key.max);
        }
        settings.*key.value = number;
        seen |= 1u << i;
        return {};
    }
    return Status(EINVAL, "unknown setting");
}

Status readSettings(Settings& settings) {
    const std::string path = statePath("board.conf");
    std::string text;
    if (Status read = readFile(stateDir().dir.get(), "board.conf", text, maxConfSize); !read.ok()) {
        return read.within(path + ": cannot read");
    }
    unsigned seen = 0;
    std::string_view rest = text;
    for (std::size_t lineNo = 1; !rest.empty(); ++lineNo) {
        const auto newline = rest.find('\n');
        std::string_view line = rest.substr(0, newline);
        rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
        line = trim(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        if (Status set = readSetting(line, settings, seen); !set.ok()) {
            return set.within(path + ":" + std::to_string(lineNo));
        }
    }
    return {};
}

// Takes one token of the fault list; false for an unknown or repeated one.
bool parseFaultToken(std::string_view token, Faults& faults) {
    constexpr std::pair<std::string_view, Faults::List> lists[] = {{"list=fail", Faults::List::fail},
                                                                   {"list=throw", Faults::List::raise},
                                                                   {"list=corrupt", Faults::List::corrupt}};
    if (token == "login") return !std::exchange(faults.login, true);
    if (token == "add=throw") return std::exchange(faults.add, Faults::Add::raise) == Faults::Add::none;
    std::uint32_t code = 0;
    // An error code of 0 would read as the account stored.
    if (token.substr(0, 4) == "add=" && parseDecimal(token.substr(4), 0x7FFFFFFF, code) && code != 0) {
        faults.addCode = static_cast<std::int32_t>(code);
        return std::exchange(faults.add, Faults::Add::refuse) == Faults::Add::none;
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

// The store and its lock are judged before any operation: one that another
// user may have made or changed refuses them all.
Status judgeStore() {
    for (const auto& [name, othersMayNot, doing] : {std::tuple("users", othersReadWrite, ": cannot read"),
                                                    std::tuple("users.lock", othersReadWrite, ": cannot lock")}) {
        Fd file;
        const Status opened = openFile(stateDir().dir.get(), name, O_RDONLY, file, othersMayNot);
        if (!opened.ok() && opened.error() != ENOENT) return opened.within(statePath(name) + doing);
    }
    return {};
}

Learned learnConfig() {
    Learned loaded;
    loaded.status = readSettings(loaded.config.settings);
    if (loaded.status.ok()) loaded.status = judgeStore();
    if (loaded.status.ok()) loaded.status = readFaults(loaded.config.faults);
    if (!loaded.status.ok()) report(loaded.status);
    return loaded;
}

}  // namespace

Config load() {
    if (!stateDir().status.ok()) HalmLib::throwFailure("Board state directory is unusable");
    std::optional<Learned>& learned = process().config;
    const Learned& loaded = learned ? *learned : learned.emplace(learnConfig());
    if (!loaded.status.ok()) HalmLib::throwFailure("Board settings or faults are malformed");
    return loaded.config;
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
