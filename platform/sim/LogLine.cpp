#include "LogLine.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

#include "Files.h"
#include "StateDir.h"

static_assert(sizeof(off_t) == 8 && sizeof(time_t) == 8,
              "the logs grow past 2 GiB and their stamps pass 2038: build with _FILE_OFFSET_BITS=64 and _TIME_BITS=64");

namespace board {

namespace {

constexpr std::size_t maxTraceText = 255;

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

// Writers take turns, so that a line cut short by a full disk or a file-size
// limit is taken back before anyone appends after it.
Status appendWhole(int file, std::string_view line) {
    if (Status locked = lockExclusive(file); !locked.ok()) return locked;
    const off_t end = lseek(file, 0, SEEK_END);
    if (end < 0) return Status(errno);
    const Status written = writeAll(file, line);
    if (!written.ok() && ftruncate(file, end) != 0) {
        // the part written stays: nothing more can be done about it
    }
    return written;
}

}  // namespace

Status appendLogLine(const char* fileName, std::string_view head,
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
        Fd file;
        Status status = openFile(stateDir().dir.get(), fileName, O_WRONLY | O_APPEND | O_CREAT, file);
        if (status.ok()) status = appendWhole(file.get(), line);
        if (status.ok()) status = file.close();
        return status;
    } catch (...) {
        return Status(ENOMEM);  // the line is lost, never the command
    }
}

void trace(std::string_view text) noexcept {
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    text = text.substr(0, maxTraceText);
    char head[40];
    std::snprintf(head, sizeof head, " userctl[%ld]: ", static_cast<long>(getpid()));
    (void)appendLogLine("trace.log", head, {text});
}

void report(const Status& status) noexcept {
    if (status.forConsole()) tell(status);
    char text[maxTraceText + 1];
    std::snprintf(text, sizeof text, "board: %s", status.reason().c_str());
    trace(text);
}

}  // namespace board
