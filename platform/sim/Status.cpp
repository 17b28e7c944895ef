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

namespace {

void appendHex(std::string& line, unsigned char byte) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02x", byte);
    line += hex;
}

// The well-formed UTF-8 sequences, as the Unicode standard tables them: the
// range of the lead byte, the range the second byte must be in (any later
// one is 0x80 to 0xBF), the length, and the lead byte's bits of the code
// point. An overlong form, a surrogate and a code point past U+10FFFF match
// none of them.
struct WellFormed {
    unsigned char leadFrom, leadTo, secondFrom, secondTo, length, leadBits;
};
constexpr WellFormed wellFormed[] = {
    {0x00, 0x7F, 0x00, 0x00, 1, 0x7F}, {0xC2, 0xDF, 0x80, 0xBF, 2, 0x1F}, {0xE0, 0xE0, 0xA0, 0xBF, 3, 0x0F},
    {0xE1, 0xEC, 0x80, 0xBF, 3, 0x0F}, {0xED, 0xED, 0x80, 0x9F, 3, 0x0F}, {0xEE, 0xEF, 0x80, 0xBF, 3, 0x0F},
    {0xF0, 0xF0, 0x90, 0xBF, 4, 0x07}, {0xF1, 0xF3, 0x80, 0xBF, 4, 0x07}, {0xF4, 0xF4, 0x80, 0x8F, 4, 0x07},
};

// The length of the well-formed sequence text starts with, its code point in
// point; 0 when it starts with none.
std::size_t sequence(std::string_view text, char32_t& point) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const auto within = [](unsigned char value, unsigned char from, unsigned char to) {
        return value >= from && value <= to;
    };
    for (const WellFormed& form : wellFormed) {
        if (!within(byte(0), form.leadFrom, form.leadTo)) continue;
        if (text.size() < form.length) return 0;
        point = byte(0) & form.leadBits;
        for (std::size_t i = 1; i < form.length; ++i) {
            if (!within(byte(i), i == 1 ? form.secondFrom : 0x80, i == 1 ? form.secondTo : 0xBF)) return 0;
            point = point << 6 | (byte(i) & 0x3Fu);
        }
        return form.length;
    }
    return 0;
}

// What drives a terminal, reorders what a reader sees or ends a line for a
// reader that knows Unicode: the C0 and C1 controls, DEL, the bidirectional
// controls, and the line and paragraph separators (U+2028, U+2029).
bool hidden(char32_t point) {
    return point < 0x20 || (point >= 0x7F && point <= 0x9F) || point == 0x61C || point == 0x200E || point == 0x200F ||
           (point >= 0x2028 && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069);
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
        const std::size_t length = sequence(text, point), taken = std::max<std::size_t>(length, 1);
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

void Console::tell(const Status& status) noexcept {
    try {
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
