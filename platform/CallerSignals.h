#pragma once

#include <signal.h>

// The signals under which userctl makes its platform calls. The program and
// the conformance kit both take them from here, so that the kit calls as the
// program does. Every call may be made under them: it leaves the mask and
// every handler as they were (platform/README.md), and a wait of its own
// that a held signal would cut short must not rely on that signal arriving.
namespace callerSignals {

// Ignored for the whole run: a dead pipe or a file-size limit fails the one
// write, and never ends the process between an account's creation and its
// record.
constexpr int ignored[] = {SIGPIPE, SIGXFSZ};

// What a signal does to a process that has not set its action.
enum class Action { none, stop, end };
inline Action byDefault(int number) {
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

// A set of signals as the kernel's own call takes it (rt_sigprocmask; the C
// library's calls leave out 32 and 33): signal n is bit n - 1 of 64.
struct KernelSet {
    static constexpr int count = 64;
    static constexpr int bits = 8 * sizeof(unsigned long);
    unsigned long words[count / bits] = {};

    void add(int number) { words[(number - 1) / bits] |= 1ul << ((number - 1) % bits); }
};

// Held from an add's request until its record is written: every signal a
// person or the system sends to end or stop the process. Not SIGKILL and
// SIGSTOP, which cannot be held; not those ignored; not the fault signals,
// which a real fault raises and which end the process all the same; and not
// the two the C library keeps for threads (32 and 33), which only kill
// sends, and whoever can send those can send SIGKILL.
inline bool isHeldAcrossAdd(int number) {
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
    case SIGSYS:
    case 32:
    case 33: return false;
    default: return number >= 1 && number <= KernelSet::count && byDefault(number) != Action::none;
    }
}

inline KernelSet heldAcrossAdd() {
    KernelSet held;
    for (int number = 1; number <= KernelSet::count; ++number) {
        if (isHeldAcrossAdd(number)) held.add(number);
    }
    return held;
}

}  // namespace callerSignals
