#include "Status.h"

#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Process.h"

namespace board {

Status::Status(int error) : code(error), text(std::strerror(error)) {}

Status failure(int error, const char* format, ...) {
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    std::string text(static_cast<std::size_t>(std::max(0, std::vsnprintf(nullptr, 0, format, args))), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    va_end(args);
    return Status(error, std::move(text));
}

namespace {

void appendHex(std::string& line, unsigned char byte) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02x", byte);
    line += hex;
}

}  // namespace

void appendEscaped(std::string& line, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        switch (byte) {
        case '\n': line += "\\n"; break;
        case '\t': line += "\\t"; break;
        case '\r': line += "\\r"; break;
        case '\\': line += "\\\\"; break;
        default:
            if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {  // U+0080 to U+009F: CSI among them
                appendHex(line, byte);
                appendHex(line, next);
                ++i;
            } else if (byte < 0x20 || byte == 0x7F) {
                appendHex(line, byte);
            } else {
                line += static_cast<char>(byte);
            }
        }
    }
}

void tell(const Status& status) noexcept {
    try {
        std::string& told = process().told;
        std::string line = "board: ";
        appendEscaped(line, status.reason());
        line += '\n';
        if (told.find("\n" + line) != std::string::npos) return;
        told += line;
        (void)!write(STDERR_FILENO, line.data(), line.size());
    } catch (...) {
        // out of memory: there is no one left to tell
    }
}

}  // namespace board
