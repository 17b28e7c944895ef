#pragma once

// What the board knows within one process, in one object: what it learns
// once (the state directory, the settings and the faults; neither the
// environment nor board.conf changes under a command, and one process runs
// one command) and what it remembers between calls (the logs it holds or gave
// up waiting for, an add whose record is still to be written, the reasons
// already told). Each module keeps its part here and nowhere else.

#include <optional>
#include <string>

#include "Config.h"
#include "LogLine.h"
#include "StateDir.h"
#include "Transaction.h"

namespace board {

// The configuration as learned, or why the board cannot work.
struct Learned {
    Config config;
    Status status;
};

struct Process {
    Process() = default;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    std::optional<StateDir> stateDir;  // StateDir.cpp
    std::optional<Learned> config;     // Config.cpp
    Logs logs;                         // LogLine.cpp
    std::optional<OpenAdd> add;        // Transaction.cpp
    std::string told = "\n";           // Status.cpp: every line told, each after a line feed
};

// The one object, made at the board's first call that needs it; a run the
// kernel marks AT_SECURE ends there, with status 3 (Process.cpp says why).
Process& process();

// What every operation of the board needs first, learned at the first: the
// state directory trusted, the settings and faults read, the store and its
// lock judged. When any of that fails, the reason is reported once and every
// operation fails as a platform failure (PException).
Config load();

// Forgets everything and lets go of what is held, as a new process would
// start (the fuzz harness and the unit tests run many commands in one process).
void forgetState();

}  // namespace board
