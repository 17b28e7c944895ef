#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include <cstdio>

#include "HalmTrace.h"
#include "UserCommandCommon.h"
#include "UserCtrlCmd.h"

namespace {

// First of all, as login programs do: the process holds passwords, so it
// leaves no core file, and no other process, not even one of its own user,
// may read its memory or environment. And a console or log that cannot be
// written fails that one write: a dead pipe or a file-size limit must not
// kill the process between creating an account and recording it.
void harden() {
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
    harden();
    HalmLib::trace::HalmTrace trace(HalmLib::trace::cliFacility, HalmLib::trace::cliLevel, HalmLib::trace::cliLineSize);
    try {
        UserCtrlCmd selector;
        return selector.execute(argc, argv);
    } catch (...) {
        // Last resort: whatever escaped the command is reported by its first
        // word alone, never by the words that follow (they may be secrets).
        char message[UserCommandCommon::textBufferSize];
        if (argc > 1 && argv[1] != nullptr) {
            std::snprintf(message, sizeof message, "Failed to execute %s command.\n", argv[1]);
        } else {
            std::snprintf(message, sizeof message, "Failed to execute command.\n");
        }
        std::fputs(message, stderr);
        trace.putLog(0, message);
        return exitStatus::failed;
    }
}
