#pragma once

#include "CallerSignals.h"

// Holds signals while it lives: one that arrives meanwhile is let in once
// the old mask is back, and acts then as it would have. The mask is set with
// the kernel's own call, since the C library's calls leave out the two
// signals it keeps for threads (32 and 33), which this single-threaded
// program never uses but kill can send.
class HeldSignals {
public:
    // Which signals to hold.
    enum class Which {
        // Every one that a person or the system sends to end or stop the
        // process, as the platform's calls expect them held across an add
        // (CallerSignals.h).
        ending,
        // The two the C library keeps for threads, which its own calls can
        // neither hold nor catch.
        forThreads,
    };

    explicit HeldSignals(Which which);
    ~HeldSignals();
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

private:
    callerSignals::KernelSet old;
};
