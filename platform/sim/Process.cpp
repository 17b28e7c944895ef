#include "Process.h"

#include <sys/auxv.h>
#include <unistd.h>

#include <utility>

#include "PException.h"
#include "Store.h"

namespace board {

namespace {

std::optional<Process> state;

// The board takes its state directory and its faults from the caller's
// environment: run with privileges its caller lacks (installed set-user-ID,
// set-group-ID or with file capabilities), it would let any user add
// accounts to the owner's board, or make files wherever the owner may. Such
// a run, which the kernel marks AT_SECURE, is refused before the board
// touches any file.
void refuseSecureRun() {
    if (getauxval(AT_SECURE) == 0) return;
    static const char refusal[] =
        "board: userctl runs with privileges its caller lacks (set-user-ID, set-group-ID or file capabilities), but "
        "the simulated board takes its state directory and faults from the caller's environment; install userctl "
        "without them\n";
    (void)!write(STDERR_FILENO, refusal, sizeof refusal - 1);
    _exit(3);
}

}  // namespace

Process& process() {
    if (!state) refuseSecureRun();
    return state ? *state : state.emplace();
}

Config load() {
    if (!stateDir().status.ok()) HalmLib::throwFailure("Board state directory is unusable");
    std::optional<Learned>& learned = process().config;
    if (!learned) {
        Learned& loaded = learned.emplace();
        loaded.status = readConfig(loaded.config);
        if (loaded.status.ok()) loaded.status = judgeStore();
        if (!loaded.status.ok()) report(loaded.status);  // its line waits for the log as lock_wait says, if it was read
    }
    if (!learned->status.ok()) HalmLib::throwFailure("Board settings or faults are malformed");
    return learned->config;
}

void forgetState() { state.emplace(); }

}  // namespace board
