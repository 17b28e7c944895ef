#pragma once

namespace HalmLib {
namespace trace {

// What every trace object of the command-line interface is constructed with.
constexpr unsigned char cliFacility = 1;
constexpr unsigned char cliLevel = 10;
constexpr unsigned short cliLineSize = 1024;

// The board's trace log. Each writer owns one object, constructed with
// (cliFacility, cliLevel, cliLineSize). putLog never throws.
class HalmTrace {
public:
    HalmTrace(unsigned char facility, unsigned char level, unsigned short lineSize);
    ~HalmTrace();
    HalmTrace(const HalmTrace&) = delete;
    HalmTrace& operator=(const HalmTrace&) = delete;

    // Appends one line. kind is always 0; text is a NUL-terminated string of
    // at most 255 characters (longer text is cut).
    void putLog(unsigned char kind, const char* text);
};

}  // namespace trace
}  // namespace HalmLib
