#include "PException.h"

#include <cstring>

namespace HalmLib {

PException::PException(unsigned char kind, unsigned char module, unsigned short location, unsigned char severity,
                       unsigned short action, int detail, long textAddress, long, long, long, long, long, long, long)
    : kind(kind), module(module), location(location), severity(severity), action(action), detail(detail), text() {
    // The board passes the text's address in the first trailing long.
    if (const char* given = reinterpret_cast<const char*>(textAddress)) {
        std::strncpy(text, given, maxTextLength);
    }
}

int PException::getExceptionDetail() const { return detail; }
int PException::getActionCode() const { return action; }

unsigned int PException::getSerializedSize() const { return headerSize + static_cast<unsigned int>(std::strlen(text)); }

unsigned int PException::getSerialized(unsigned char* buffer, unsigned int size) const {
    const unsigned int needed = getSerializedSize();
    if (needed > size) throwFailure("Insufficient buffer size");
    const auto d = static_cast<unsigned int>(detail);
    const unsigned char header[headerSize] = {kind,
                                              module,
                                              static_cast<unsigned char>(location >> 8),
                                              static_cast<unsigned char>(location),
                                              severity,
                                              static_cast<unsigned char>(action >> 8),
                                              static_cast<unsigned char>(action),
                                              static_cast<unsigned char>(d >> 24),
                                              static_cast<unsigned char>(d >> 16),
                                              static_cast<unsigned char>(d >> 8),
                                              static_cast<unsigned char>(d)};
    std::memcpy(buffer, header, headerSize);
    std::memcpy(buffer + headerSize, text, needed - headerSize);
    return needed;
}

bool PException::setSerialized(const unsigned char* data, unsigned int size) {
    if (size < headerSize || size - headerSize > maxTextLength) return false;
    kind = data[0];
    module = data[1];
    location = static_cast<unsigned short>((data[2] << 8) | data[3]);
    severity = data[4];
    action = static_cast<unsigned short>((data[5] << 8) | data[6]);
    detail = static_cast<int>((static_cast<unsigned int>(data[7]) << 24) | (data[8] << 16) | (data[9] << 8) | data[10]);
    std::memset(text, 0, sizeof text);
    std::memcpy(text, data + headerSize, size - headerSize);
    return true;
}

}  // namespace HalmLib
