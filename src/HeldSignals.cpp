#include "HeldSignals.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

bool isHeld(HeldSignals::Which which, int number) {
    if (which == HeldSignals::Which::forThreads) return number == 32 || number == 33;
    switch (number) {
    case SIGKILL:
    case SIGSTOP:
    case SIGPIPE:
    case SIGXFSZ: return false;
    case SIGSEGV:
    case SIGBUS:
    case SIGFPE:
    case SIGILL:
    case SIGTRAP:
    case SIGSYS: {
        struct sigaction action {};
        return sigaction(number, nullptr, &action) == 0 && !(action.sa_flags & SA_SIGINFO) &&
               action.sa_handler == SIG_DFL;
    }
    default: return true;
    }
}

}  // namespace

HeldSignals::HeldSignals(Which which) {
    unsigned long held[count / bits] = {};
    for (int number = 1; number <= count; ++number) {
        if (isHeld(which, number)) held[(number - 1) / bits] |= 1ul << ((number - 1) % bits);
    }
    syscall(SYS_rt_sigprocmask, SIG_BLOCK, held, old, sizeof held);
}

HeldSignals::~HeldSignals() { syscall(SYS_rt_sigprocmask, SIG_SETMASK, old, nullptr, sizeof old); }
