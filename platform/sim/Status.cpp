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

// The length of the UTF-8 sequence text starts with, its code point in
// point; 0 when it is none, as an overlong form, a surrogate or a code point
// past U+10FFFF are not.
std::size_t utf8Length(std::string_view text, char32_t& point) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    const std::size_t length = lead < 0x80   ? 1
                               : lead < 0xC2 ? 0
                               : lead < 0xE0 ? 2
                               : lead < 0xF0 ? 3
                               : lead < 0xF5 ? 4
                                             : 0;
    if (length == 0 || length > text.size()) return 0;
    point = length == 1 ? lead : lead & (0x7Fu >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        point = point << 6 | (byte(i) & 0x3Fu);
    }
    constexpr char32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
    return point < shortest[length] || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF ? 0 : length;
}

// What drives a terminal or reorders what a reader sees: the C0 and C1
// controls, DEL, and the bidirectional controls.
bool hidden(char32_t point) {
    return point < 0x20 || (point >= 0x7F && point <= 0x9F) || point == 0x61C || point == 0x200E || point == 0x200F ||
           (point >= 0x202A && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069);
}

// The escape that names a character of its own, or null.
const char* named(char32_t point) {
    switch (point) {
    case '\n': return "\\n";
    case '\t': return "\\t";
    case '\r': return "\\r";
    case '\\': return "\\\\";
    default: return nullptr;
    }
}

}  // namespace

void appendEscaped(std::string& line, std::string_view text) {
    while (!text.empty()) {
        char32_t point = 0;
        const std::size_t length = utf8Length(text, point), taken = std::max<std::size_t>(length, 1);
        if (length == 1 && named(point)) {
            line += named(point);
        } else if (length == 0 || hidden(point)) {
            // A byte that is no UTF-8, or every byte of a hidden character.
            for (std::size_t i = 0; i < taken; ++i) appendHex(line, text[i]);
        } else {
            line.append(text.substr(0, length));
        }
        text.remove_prefix(taken);
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
