#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>

#include "CallerSignals.h"
#include "HalmTrace.h"
#include "UserCommandCommon.h"
#include "UserCtrlCmd.h"

namespace {

// Before main, the C library makes a call of its own through a lazily bound
// symbol (its shared object is not bound at start-up, whatever this program
// is linked with), and the resolver saves the vector registers on the stack:
// they may still hold bytes of the command line, the passwords among them,
// which the library's start scanned. So the stack below main is cleared
// before anything else; 16 KiB is several times what the start uses.
__attribute__((noinline)) void clearStackBelow() {
    unsigned char below[16 * 1024];
    explicit_bzero(below, sizeof below);
}

// First of all, as login programs do: the process holds passwords, so it
// leaves no core file, and no other process, not even one of its own user,
// may read its memory or environment. And a console or log that cannot be
// written fails that one write: a dead pipe or a file-size limit must not
// kill the process between creating an account and recording it.
void harden() {
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    for (const int number : callerSignals::ignored) signal(number, SIG_IGN);
}

// The words the last resort names, and how: by the first word alone, never
// by those that follow (they may be secrets), escaped and composed without
// allocating, since memory running out may be why it is said.
int words;
char** vector;

void composeFailure(char (&message)[UserCommandCommon::textBufferSize]) {
    static const char head[] = "Failed to execute ", tail[] = " command.\n";
    if (words <= 1 || vector[1] == nullptr) {
        std::snprintf(message, sizeof message, "Failed to execute command.\n");
        return;
    }
    std::memcpy(message, head, sizeof head - 1);
    char* const word = message + sizeof head - 1;
    UserCtrlCmd::escape(vector[1], word, sizeof message - (sizeof head - 1) - (sizeof tail - 1));
    std::memcpy(word + std::strlen(word), tail, sizeof tail);
}

// What ends the process where nothing can be thrown (an exception that cannot
// be made for want of memory, or one from a destructor): the same message,
// and the same status, without the trace line.
[[noreturn]] void terminated() {
    char message[UserCommandCommon::textBufferSize];
    composeFailure(message);
    (void)!write(STDERR_FILENO, message, std::strlen(message));
    _exit(exitStatus::failed);
}

}  // namespace

int main(int argc, char** argv) {
    clearStackBelow();
    harden();
    words = argc;
    vector = argv;
    std::set_terminate(terminated);
    HalmLib::trace::HalmTrace trace(HalmLib::trace::cliFacility, HalmLib::trace::cliLevel, HalmLib::trace::cliLineSize);
    try {
        UserCtrlCmd selector;
        return selector.execute(argc, argv);
    } catch (...) {
        // Last resort: whatever escaped the command.
        char message[UserCommandCommon::textBufferSize];
        composeFailure(message);
        std::fputs(message, stderr);
        trace.putLog(0, message);
        return exitStatus::failed;
    }
}
