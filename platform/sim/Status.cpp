#include "Status.h"

#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

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

void appendEscaped(std::string& line, std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\n': line += "\\n"; break;
        case '\t': line += "\\t"; break;
        case '\r': line += "\\r"; break;
        case '\\': line += "\\\\"; break;
        default:
            if (byte < 0x20 || byte == 0x7F) {
                char hex[5];
                std::snprintf(hex, sizeof hex, "\\x%02x", byte);
                line += hex;
            } else {
                line += c;
            }
        }
    }
}

void tell(const Status& status) noexcept { dprintf(STDERR_FILENO, "board: %s\n", status.reason().c_str()); }

}  // namespace board
