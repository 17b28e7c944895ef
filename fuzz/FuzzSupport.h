#pragma once

// What the harnesses share: a quiet console, a check that reports and
// aborts, and the input's choice of partition count.

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

inline std::FILE*& report() {
    static std::FILE* file = stderr;
    return file;
}

// The program's questions meet end of input at once, and its console goes
// nowhere. libFuzzer and the sanitizers keep writing to descriptor 2, so
// stderr is pointed elsewhere rather than reopened: a crash stays visible.
inline void quietConsole() {
    report() = stderr;
    if (!std::freopen("/dev/null", "r", stdin) || !std::freopen("/dev/null", "w", stdout)) std::abort();
    std::FILE* none = std::fopen("/dev/null", "w");
    if (!none) std::abort();
    stderr = none;
}

[[noreturn]] inline void fail(const char* what, const char* file, int line) {
    std::fprintf(report(), "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}

// Boards report anything: small counts as they are, and from 0x80 on
// negative counts and a few extremes.
inline int partitionsFrom(std::uint8_t byte) {
    switch (byte) {
        case 0xFF: return 255;
        case 0xFE: return INT_MAX;
        case 0xFD: return INT_MIN;
        default: return byte < 0x80 ? byte : 0x7F - byte;
    }
}

// A byte of the same class for the password rules (printable ASCII but the
// blank, or not), never the byte itself; NUL never occurs in a word.
inline char disguise(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u > 0x20 && u < 0x7F) return static_cast<char>(u == 0x7E ? 0x21 : u + 1);
    if (u == 0x20) return static_cast<char>(0x7F);
    return static_cast<char>(u == 0xFF ? 0x01 : u + 1);
}

}  // namespace fuzz

#define FUZZ_CHECK(condition) ((condition) ? (void)0 : fuzz::fail(#condition, __FILE__, __LINE__))
