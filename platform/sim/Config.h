#pragma once

// The board's settings (board.conf in the state directory) and the faults it
// is told to inject (USERCTL_BOARD_FAULT).

#include <cstdint>
#include <string_view>

#include "Status.h"

namespace board {

struct Settings {
    std::uint32_t partitions = 4;
    std::uint32_t maxUsers = 100;
    std::uint32_t lockWait = 15;  // seconds an add waits for the store's lock
};

struct Faults {
    enum class Add { none, refuse, raise };
    enum class List { none, fail, raise, corrupt };
    bool login = false;
    Add add = Add::none;
    std::int32_t addCode = 0;
    List list = List::none;
};

struct Config {
    Settings settings;
    Faults faults;
};

// The configuration as learned, or why it could not be.
struct Learned {
    Config config;
    Status status;
};

// The settings and the faults, learned once per process, or a platform
// failure (PException) when the state directory is unusable, either is
// malformed, or the store or its lock is a file the board does not trust;
// the reason was reported when it was learned.
Config load();

// Digits only, no sign, at most max. False otherwise (and on overflow).
bool parseDecimal(std::string_view digits, std::uint32_t max, std::uint32_t& value);

}  // namespace board
