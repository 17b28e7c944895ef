#include "HeldSignals.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

bool isHeld(HeldSignals::Which which, int number) {
    if (number == 32 || number == 33) return which == HeldSignals::Which::forThreads;
    if (which == HeldSignals::Which::forThreads) return false;
    switch (number) {
    case SIGKILL:
    case SIGSTOP:
    case SIGPIPE:
    case SIGXFSZ:
    case SIGSEGV:
    case SIGBUS:
    case SIGFPE:
    case SIGILL:
    case SIGTRAP:
    case SIGSYS: return false;
    default: return HeldSignals::byDefault(number) != HeldSignals::Action::none;
    }
}

}  // namespace

HeldSignals::Action HeldSignals::byDefault(int number) {
    switch (number) {
    case SIGCHLD:
    case SIGCONT:
    case SIGURG:
    case SIGWINCH: return Action::none;
    case SIGSTOP:
    case SIGTSTP:
    case SIGTTIN:
    case SIGTTOU: return Action::stop;
    default: return Action::end;
    }
}

HeldSignals::HeldSignals(Which which) {
    unsigned long held[count / bits] = {};
    for (int number = 1; number <= count; ++number) {
        if (isHeld(which, number)) held[(number - 1) / bits] |= 1ul << ((number - 1) % bits);
    }
    syscall(SYS_rt_sigprocmask, SIG_BLOCK, held, old, sizeof held);
}

HeldSignals::~HeldSignals() { syscall(SYS_rt_sigprocmask, SIG_SETMASK, old, nullptr, sizeof old); }
