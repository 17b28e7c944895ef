#include "LogLine.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "Files.h"

static_assert(sizeof(off_t) == 8 && sizeof(time_t) == 8,
              "the logs grow past 2 GiB and their stamps pass 2038: build with _FILE_OFFSET_BITS=64 and _TIME_BITS=64");

namespace board {

namespace {

constexpr std::size_t maxTraceText = 255;

// Control characters (and DEL) are written escaped, so that no text can end
// a log line early or forge one; the backslash is escaped too, so that an
// escape in the log always means the byte it names. Bytes from 0x80 up are
// kept as they are, which keeps UTF-8 text readable.
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

// 2026-12-06T12:00:00.123Z
void appendTimestamp(std::string& line) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm utc{};
    gmtime_r(&now.tv_sec, &utc);
    char stamp[64];  // room for any int the compiler can imagine
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<long>(now.tv_nsec / 1000000));
    line += stamp;
}

}  // namespace

int appendLogLine(const char* fileName, std::string_view head,
                  std::initializer_list<std::string_view> fields) noexcept {
    try {
        std::string line;
        appendTimestamp(line);
        line += head;
        bool first = true;
        for (const std::string_view field : fields) {
            if (!first) line += '\t';
            first = false;
            appendEscaped(line, field);
        }
        line += '\n';
        Fd file = openStateFile(fileName, O_WRONLY | O_APPEND | O_CREAT);
        if (file.error()) return file.error();
        // Writers take turns, so that a line cut short by a full disk or a
        // file-size limit is taken back before anyone appends after it.
        if (const int error = lockExclusive(file.get())) return error;
        const off_t end = lseek(file.get(), 0, SEEK_END);
        if (end < 0) return lastError();
        if (const int error = writeAll(file.get(), line)) {
            if (ftruncate(file.get(), end) != 0) {
                // the part written stays: nothing more can be done about it
            }
            return error;
        }
        return file.close();
    } catch (...) {
        return -ENOMEM;  // the line is lost, never the command
    }
}

void trace(std::string_view text) noexcept {
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    text = text.substr(0, maxTraceText);
    char head[40];
    std::snprintf(head, sizeof head, " userctl[%ld]: ", static_cast<long>(getpid()));
    appendLogLine("trace.log", head, {text});
}

void traceReason(const char* format, ...) noexcept {
    char text[maxTraceText + 1] = "board: ";
    const std::size_t prefix = std::strlen(text);
    va_list args;
    va_start(args, format);
    std::vsnprintf(text + prefix, sizeof text - prefix, format, args);
    va_end(args);
    trace(text);
}

bool failAt(const std::string& path, std::size_t line, const char* reason) noexcept {
    traceReason("%s:%zu: %s", path.c_str(), line, reason);
    return false;
}

}  // namespace board
