#pragma once

// The board's settings (board.conf in the state directory) and the faults it
// is told to inject (USERCTL_BOARD_FAULT).

#include <cstdint>
#include <string>
#include <vector>

#include "StateDir.h"
#include "Status.h"

namespace board {

// A command waits lock_wait at most, for all its locks and lines: it then
// returns within the platform's bound, the hash of a password and all.
constexpr std::uint32_t maxLockWait = 50;

struct Settings {
    std::uint32_t partitions = 4;
    std::uint32_t maxUsers = 100;
    std::uint32_t lockWait = 15;  // seconds a command waits for its locks, maxLockWait at most
};

struct Faults {
    enum class Add { none, refused, thrown };
    enum class List { none, refused, thrown, corrupt };
    bool login = false;
    Add add = Add::none;
    bool eventFails = false;  // an add's event entry undoes it and returns -1, a promise broken
    std::int32_t addCode = 0;
    List list = List::none;
    std::uint32_t partitions = 0;  // a count reported in place of board.conf's; 0 for none
};

struct Config {
    Settings settings;
    Faults faults;
    // Each setting taken as less than given, with its file and line.
    std::vector<std::string> taken;
};

// board.conf in dir (a missing one is every default) and the fault list, or
// why either is malformed, with its file and line (board.conf's said aloud).
Status readConfig(const StateDir& dir, Config& config);

// The partition count the board reports: board.conf's, unless a fault
// injects another.
std::uint32_t partitionCount(const Config& config);

}  // namespace board
