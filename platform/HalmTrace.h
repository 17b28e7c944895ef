#pragma once

namespace HalmLib {
namespace trace {

// What every trace object of the command-line interface is constructed with.
constexpr unsigned char cliFacility = 1;
constexpr unsigned char cliLevel = 10;
constexpr unsigned short cliLineSize = 1024;

// The board's trace log. Each writer owns one object, constructed with
// (cliFacility, cliLevel, cliLineSize); a command makes several.
class HalmTrace {
public:
    HalmTrace(unsigned char facility, unsigned char level, unsigned short lineSize);
    ~HalmTrace();
    HalmTrace(const HalmTrace&) = delete;
    HalmTrace& operator=(const HalmTrace&) = delete;

    // Appends one line. kind is always 0. text is NUL-terminated and read no
    // further; userctl gives at most 255 characters, which a line holds
    // whole, whatever lineSize means to the board (its own). A longer text,
    // one ending in a line feed, and a null text are taken without harm; what
    // the log then holds is the board's own. Never throws, not even when the
    // board's storage refuses: a line that cannot be written is lost. What
    // the log holds, and whether a line is on disk, is not observable from
    // outside.
    void putLog(unsigned char kind, const char* text);
};

}  // namespace trace
}  // namespace HalmLib
