#include "HeldSignals.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "CallerSignals.h"

HeldSignals::HeldSignals(Which which) {
    callerSignals::KernelSet held;
    if (which == Which::ending) {
        held = callerSignals::heldAcrossAdd();
    } else {
        held.add(32);
        held.add(33);
    }
    syscall(SYS_rt_sigprocmask, SIG_BLOCK, held.words, old.words, sizeof held.words);
}

HeldSignals::~HeldSignals() { syscall(SYS_rt_sigprocmask, SIG_SETMASK, old.words, nullptr, sizeof old.words); }
