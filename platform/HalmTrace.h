#pragma once

namespace HalmLib {
namespace trace {

// The board's trace log. Each writer owns one object, constructed with
// (1, 10, 1024). putLog never throws and never fails visibly: a trace line
// that cannot be written is lost, never the command.
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
