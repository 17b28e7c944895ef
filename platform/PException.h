#pragma once

#include "SerializableObject.h"

namespace HalmLib {

// The one exception type of the board platform. Its constructor takes six
// leading values and eight trailing longs; the first trailing long carries a
// pointer to the text (a NUL-terminated string, copied here, cut to
// maxTextLength characters). The values are kept as given:
//   getActionCode()      the fifth leading value,
//   getExceptionDetail() the sixth leading value.
// Copying never throws, so the exception can be caught by value or reference;
// the board throws it through its libraries into userctl, which catches it by
// reference (both share one C++ runtime: platform/README.md).
class PException : public SerializableObject {
public:
    static constexpr unsigned int maxTextLength = 127;

    PException(unsigned char kind, unsigned char module, unsigned short location, unsigned char severity,
               unsigned short action, int detail, long text, long arg2, long arg3, long arg4, long arg5, long arg6,
               long arg7, long arg8);

    int getExceptionDetail() const;
    int getActionCode() const;

    // Serialized form: kind, module, location (2), severity, action (2),
    // detail (4), all big-endian, then the text without its NUL. userctl
    // never gives one to setSerialized: whether a text past maxTextLength
    // bytes, or one holding a NUL, is refused or cut is the board's own.
    unsigned int getSerialized(unsigned char* buffer, unsigned int size) const override;
    unsigned int getSerializedSize() const override;
    bool setSerialized(const unsigned char* data, unsigned int size) override;

private:
    static constexpr unsigned int headerSize = 11;

    unsigned char kind;
    unsigned char module;
    unsigned short location;
    unsigned char severity;
    unsigned short action;
    int detail;
    char text[maxTextLength + 1];
};

// How this platform reports a failure: always with the values 1, 80, 23296,
// 1, 1537 and 20019 and text (which must outlive the call).
[[noreturn]] inline void throwFailure(const char* text) {
    throw PException(1, 80, 23296, 1, 1537, 20019, reinterpret_cast<long>(text), 0, 0, 0, 0, 0, 0, 0);
}

}  // namespace HalmLib
