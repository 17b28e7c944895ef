#pragma once

// What the board knows within one process, in one object that the files of
// the platform's headers reach and hand down what each part below needs:
// what it learns once (the state directory, the settings and the faults;
// neither the environment nor board.conf changes under a command, and one
// process runs one command) and what it remembers between calls (the logs
// it holds or gave up waiting for, an add whose record is still to be
// written, the reasons already told).

#include <optional>

#include "Config.h"
#include "LogLine.h"
#include "StateDir.h"
#include "Status.h"
#include "Transaction.h"

namespace board {

// The configuration as learned, or why the board cannot work.
struct Learned {
    Config config;
    Status status;
};

struct Process {
    // Learns the state directory, and tells why when it cannot be trusted.
    Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    Console console;
    StateDir stateDir;
    Logs logs{stateDir, console};
    std::optional<Learned> config;
    Transaction add{stateDir, logs, console};
};

// The one object, made at the board's first call.
Process& process();

// What every operation of the board needs first, learned at the first: the
// settings and faults read, the store judged, in a trusted state directory.
// When any of that fails, the reason is reported once and every operation
// fails as a platform failure (PException).
Config load(Process& board);

// Forgets everything and lets go of what is held, as a new process would
// start (the fuzz harness and the unit tests run many commands in one process).
void forgetState();

}  // namespace board
