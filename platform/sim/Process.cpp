#include "Process.h"

#include <sys/auxv.h>
#include <unistd.h>

#include "PException.h"
#include "Store.h"

namespace board {

namespace {

std::optional<Process> state;

// The board takes its state directory and its faults from the caller's
// environment: run with privileges its caller lacks (installed set-user-ID,
// set-group-ID or with file capabilities), it would let any user add
// accounts to the owner's board, or make files wherever the owner may. Such
// a run, which the kernel marks AT_SECURE, is refused before main, whatever
// its words; this is the one place where the board ends the process.
__attribute__((constructor)) void refuseSecureRun() {
    if (getauxval(AT_SECURE) == 0) return;
    static const char refusal[] =
        "board: userctl runs with privileges its caller lacks (set-user-ID, set-group-ID or file capabilities), but "
        "the simulated board takes its state directory and faults from the caller's environment; install userctl "
        "without them\n";
    (void)!write(STDERR_FILENO, refusal, sizeof refusal - 1);
    _exit(3);
}

}  // namespace

Process::Process() : stateDir(learnStateDir()) {
    if (!stateDir.status.ok()) console.tell(stateDir.status);
}

Process& process() { return state ? *state : state.emplace(); }

Config load(Process& board) {
    if (!board.stateDir.status.ok()) HalmLib::throwFailure("Board state directory is unusable");
    if (!board.config) {
        Learned& learned = board.config.emplace();
        learned.status = readConfig(board.stateDir, learned.config);
        if (learned.status.ok()) board.logs.waitAtMost(learned.config.settings.lockWait);
        for (const std::string& taken : learned.config.taken) board.logs.trace("board: " + taken);
        if (learned.status.ok()) learned.status = judgeStore(board.stateDir);
        if (!learned.status.ok())
            board.logs.report(learned.status);  // its line waits as lock_wait says, if it was read
    }
    if (!board.config->status.ok()) HalmLib::throwFailure("Board settings or faults are malformed");
    return board.config->config;
}

void forgetState() { state.emplace(); }

}  // namespace board
