#pragma once

// Holds signals while it lives: one that arrives meanwhile is let in once
// the old mask is back, and acts then as it would have. The mask is set with
// the kernel's own call, since the C library's calls leave out the two
// signals it keeps for threads (32 and 33), which this single-threaded
// program never uses but kill can send.
class HeldSignals {
public:
    // Which signals to hold.
    enum class Which {
        // Every one that would end or stop the process: all but SIGKILL and
        // SIGSTOP, which cannot be held, and SIGPIPE and SIGXFSZ, which are
        // ignored. A fault signal is held only where its action is the
        // default one, that is where kill alone can send it: a real fault
        // ends the process at once all the same, and a handler (a
        // sanitizer's) would be reset by the kernel before it could report.
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
    // A set as the kernel takes it: signal n is bit n - 1 of an array of longs.
    static constexpr int count = 64;
    static constexpr int bits = 8 * sizeof(unsigned long);
    unsigned long old[count / bits] = {};
};
