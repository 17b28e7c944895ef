#include "LogLine.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>
#include <utility>

#include "Files.h"
#include "StateDir.h"

static_assert(sizeof(off_t) == 8 && sizeof(time_t) == 8,
              "the logs grow past 2 GiB and their stamps pass 2038: build with _FILE_OFFSET_BITS=64 and _TIME_BITS=64");

namespace board {

namespace {

// The longest line the board writes to each log: the stamp, the head, the
// fields with every byte escaped to four and the tabs between them, and the
// line feed. An event has a kind and four fields.
constexpr std::size_t stampLength = 24;
constexpr std::size_t longestField = 4 * maxFieldLength;
constexpr std::size_t longestTraceLine = stampLength + sizeof " userctl[2147483647]: " - 1 + longestField + 1;
constexpr std::size_t longestEventLine = stampLength + sizeof "\t18446744073709551615" - 1 + 4 * (1 + longestField) + 1;

std::uint32_t logWait = 15;
bool syncing = false;

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
    if (Status locked = lockBefore(file, deadlineIn(logWait), !syncing); !locked.ok()) {
        return locked.error() == EWOULDBLOCK ? Status(EWOULDBLOCK, "another process holds its lock", true) : locked;
    }
    const off_t end = lseek(file, 0, SEEK_END);
    if (end < 0) return Status(errno);
    Status written = writeAll(file, line);
    if (written.ok() && syncing && fdatasync(file) != 0) written = Status(errno);
    if (!written.ok() && ftruncate(file, end) != 0) {
        // the part written stays: nothing more can be done about it
    }
    return written;
}

Status openLog(const char* name, Fd& file) {
    return openFile(stateDir().dir.get(), name, O_WRONLY | O_APPEND | O_CREAT, file);
}

// Room for bytes more at the end of file, within the file-size limit (which
// fallocate does not check) and on the file system.
Status reserve(int file, std::size_t bytes) {
    struct stat info {};
    rlimit limit{};
    if (fstat(file, &info) != 0 || getrlimit(RLIMIT_FSIZE, &limit) != 0) return Status(errno);
    const auto end = static_cast<std::uint64_t>(info.st_size);
    if (limit.rlim_cur != RLIM_INFINITY && end + bytes > limit.rlim_cur) {
        return Status(EFBIG, "no room for the add's line within the file-size limit; raise it (ulimit -f)");
    }
    if (fallocate(file, FALLOC_FL_KEEP_SIZE, info.st_size, static_cast<off_t>(bytes)) == 0) return {};
    if (errno != EOPNOTSUPP && errno != ENOSYS) return Status(errno);
    // A file system that cannot reserve: its free space, where it counts any.
    struct statvfs fs {};
    if (fstatvfs(file, &fs) != 0) return Status(errno);
    return fs.f_blocks == 0 || std::uint64_t{fs.f_bavail} * fs.f_frsize >= bytes ? Status() : Status(ENOSPC);
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
        Status status = openLog(fileName, file);
        if (status.ok()) status = appendWhole(file.get(), line);
        if (status.ok()) status = file.close();
        return status.within(statePath(fileName) + ": cannot write");
    } catch (...) {
        return Status(ENOMEM);  // the line is lost, never the command
    }
}

void trace(std::string_view text) noexcept {
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    text = text.substr(0, maxFieldLength);
    char head[40];
    std::snprintf(head, sizeof head, " userctl[%ld]: ", static_cast<long>(getpid()));
    if (const Status written = appendLogLine("trace.log", head, {text}); written.forConsole()) tell(written);
}

void report(const Status& status) noexcept {
    if (status.forConsole()) tell(status);
    char text[maxFieldLength + 1];
    std::snprintf(text, sizeof text, "board: %s", status.reason().c_str());
    trace(text);
}

Status reserveAddLines() {
    for (const auto& [name, longest] : {std::pair("trace.log", longestTraceLine), {"event.log", longestEventLine}}) {
        Fd file;
        Status status = openLog(name, file);
        if (status.ok()) status = reserve(file.get(), longest);
        status = status.within(statePath(name) + ": cannot write");
        // An add refused for its record is the administrator's to mend.
        if (!status.ok()) return Status(status.error(), status.reason(), true);
    }
    return {};
}

void setLogWait(std::uint32_t seconds) noexcept { logWait = seconds; }

void syncLines(bool on) noexcept { syncing = on; }

}  // namespace board
