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
        // Every one that a person or the system sends to end or stop the
        // process: all but SIGKILL and SIGSTOP, which cannot be held, SIGPIPE
        // and SIGXFSZ, which are ignored, the fault signals, which a real
        // fault raises and which end the process all the same, and the two
        // the C library keeps for threads, which only kill sends. Whoever can
        // send those can send SIGKILL, which the board survives.
        ending,
        // The two the C library keeps for threads, which its own calls can
        // neither hold nor catch.
        forThreads,
    };

    // What signal number does to a process that has not set its action.
    enum class Action { none, stop, end };
    static Action byDefault(int number);

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
