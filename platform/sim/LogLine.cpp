#include "LogLine.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

static_assert(sizeof(off_t) == 8 && sizeof(time_t) == 8,
              "the logs grow past 2 GiB and their stamps pass 2038: build with _FILE_OFFSET_BITS=64 and _TIME_BITS=64");

namespace board {

namespace {

const char* const logName[] = {"trace.log", "event.log"};

// line, stamped with the time now: taken once the log is held, so that the
// stamps of a log never go back.
std::string stamped(std::string_view line) {
    std::string stamp;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    appendTimestamp(stamp, now);
    return stamp.append(line);
}

}  // namespace

Status Logs::open(Log log, Fd& file, int access) const {
    // A log may hold a password typed in another word's place: no one else may read it.
    return openFile(dir.dir.get(), logName[log], access | O_APPEND | O_CREAT, file, othersReadWrite);
}

Status Logs::lockDirectory(Fd& locked) const {
    // A log that cannot be locked cannot be written at all: the administrator is told, but of a
    // state directory not trusted, once already.
    if (!dir.status.ok()) return dir.status;
    const Status opened = openPrivateDir(dir.dir.get(), lockDir, locked);
    return opened.ok() ? opened : opened.within(dir.file(lockDir)).aloud();
}

Status Logs::openLockDir(Fd& locked) const {
    return lockDirectory(locked).within(dir.file(logName[traceLog]) + ": cannot write");
}

// The lock of log, a file of the same name in the board's lock directory,
// taken before deadline (else EWOULDBLOCK, or EINTR when cancelled).
Status Logs::lock(Log log, const timespec& deadline, bool cancellable, Fd& lock) const {
    Fd locked;
    if (Status opened = lockDirectory(locked); !opened.ok()) return opened;
    // Nothing in the lock directory can have been opened by another user, whatever its mode.
    const std::string path = std::string(lockDir) + "/" + logName[log];
    if (Status opened = openFile(locked.get(), logName[log], O_RDWR | O_CREAT, lock, holdsNothing, path.c_str());
        !opened.ok()) {
        return opened.within(dir.file(path.c_str())).aloud();
    }
    return lockBefore(lock.get(), deadline, cancellable);
}

// Writers take turns, so that a line cut short by a full disk or a file-size
// limit is taken back before anyone appends after it. A log whose lock was
// waited for in vain once is tried, not waited for, again: a command must not
// wait lockWait seconds for every line it loses. A held signal does not cut
// the wait short: the signal that cancelled an add is pending still, and the
// add's reason is worth the bounded wait. A durable line is synced, and the
// directory with it, before the log is let go.
Status Logs::byName(Log log, std::string_view line, bool durable) {
    Fd locked, file;
    timespec deadline = deadlineIn(busy[log] ? 0 : lockWait);
    if (until &&
        (until->tv_sec < deadline.tv_sec || (until->tv_sec == deadline.tv_sec && until->tv_nsec < deadline.tv_nsec)))
        deadline = *until;
    Status status = lock(log, deadline, false, locked);
    if (status.error() == EWOULDBLOCK) {
        busy[log] = true;
        return Status(EWOULDBLOCK, "another process holds its lock", true);
    }
    if (status.ok()) status = open(log, file);
    if (!status.ok()) return status;
    const off_t at = lseek(file.get(), 0, SEEK_END);
    if (at < 0) return Status(errno);
    status = writeAll(file.get(), stamped(line));
    if (status.ok() && durable && fdatasync(file.get()) != 0) status = Status(errno);
    if (!status.ok()) (void)ftruncate(file.get(), at);  // the part written stays when this fails: nothing more to do
    if (status.ok()) status = file.close();
    // The log may be new, its name not yet durable.
    if (status.ok() && durable && fsync(dir.dir.get()) != 0) {
        return Status(errno).within(dir.path + ": cannot sync the directory");
    }
    return status;
}

Status Logs::holdOne(Log log, const timespec& deadline) {
    Status status = lock(log, deadline, true, locks[log]);
    if (status.error() == EINTR) {
        return Status(EINTR, "add " + status.reason() + " while waiting for " + dir.file(logName[log]));
    }
    if (status.error() == EWOULDBLOCK) {
        busy[log] = true;  // the refusal's own line does not wait for it again
        status = Status(EWOULDBLOCK, "another process holds its lock");
    }
    // Read too: an add's own lines are read back before they are cut.
    if (status.ok()) status = open(log, held[log], O_RDWR);
    // An add refused for its record is the administrator's to mend.
    return status.within(dir.file(logName[log]) + ": cannot write").aloud();
}

Status Logs::append(Log log, std::string_view head, std::initializer_list<std::string_view> fields,
                    bool durable) noexcept {
    const bool isHeld = held[log].get() >= 0;
    Status status;
    try {
        std::string line(head);
        bool first = true;
        for (const std::string_view field : fields) {
            if (!first) line += '\t';
            first = false;
            appendEscaped(line, field);
        }
        line += '\n';
        // A held log is locked by this process already: its lock taken again
        // would wait for itself.
        if (isHeld) {
            const std::string text = stamped(line);
            std::size_t put = 0;
            status = writeAll(held[log].get(), text, &put);
            wrote[log].append(text, 0, put);
        } else {
            status = byName(log, line, durable);
        }
        status = status.within(dir.file(logName[log]) + ": cannot write");
    } catch (...) {
        // The line is lost, never the command.
        status = Status(ENOMEM);
    }
    // A line of an add's record fails the record.
    if (isHeld && !status.ok() && failed.ok()) failed = status;
    return status;
}

// A trace text as putLog writes it: one trailing line feed dropped, cut to a
// field's length.
Status Logs::traceLine(std::string_view text, bool durable) noexcept {
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    text = text.substr(0, maxFieldLength);
    char head[40];
    std::snprintf(head, sizeof head, " userctl[%ld]: ", static_cast<long>(getpid()));
    return append(traceLog, head, {text}, durable);
}

void Logs::trace(std::string_view text) noexcept {
    if (const Status written = traceLine(text, false); written.forConsole()) console.tell(written);
}

Status Logs::traceDurably(std::string_view text) noexcept { return traceLine(text, true); }

void Logs::report(const Status& status) noexcept {
    if (status.forConsole()) console.tell(status);
    try {
        trace("board: " + status.reason());
    } catch (...) {
        // out of memory: the line is lost, never the command
    }
}

Status Logs::hold(const timespec& deadline) {
    for (const Log log : {traceLog, eventLog}) {
        if (Status taken = holdOne(log, deadline); !taken.ok()) {
            release();
            return taken;
        }
    }
    return {};
}

Status Logs::sync() {
    for (const Log log : {traceLog, eventLog}) {
        if (fdatasync(held[log].get()) != 0) return Status(errno).within(dir.file(logName[log]) + ": cannot write");
    }
    return {};
}

// A line among or after the add's own is another's, written through a lock
// file removed meanwhile: a cut would take it, so the add's lines stay, for
// the next add to follow with what became of them.
Status Logs::cutOne(Log log, bool& cut) {
    const std::string& mine = wrote[log];
    if (mine.empty()) return {};
    const int file = held[log].get();
    struct stat info {};
    if (fstat(file, &info) != 0) return Status(errno);
    const off_t from = info.st_size - static_cast<off_t>(mine.size());
    std::string found(mine.size(), '\0');
    const ssize_t got = from < 0 ? 0 : pread(file, found.data(), found.size(), from);
    if (got < 0) return Status(errno);
    if (static_cast<std::size_t>(got) != found.size() || found != mine) {
        return Status(EBUSY, "another process wrote among or after the add's lines");
    }
    if (ftruncate(file, from) != 0) return Status(errno);
    cut = true;
    return fdatasync(file) == 0 ? Status() : Status(errno);
}

Status Logs::cutBack(bool& cutAll) {
    Status notCut, notSynced;
    for (const Log log : {traceLog, eventLog}) {
        bool cut = false;
        const Status status = cutOne(log, cut);
        Status& first = cut ? notSynced : notCut;
        if (first.ok())
            first = status.within(dir.file(logName[log]) + (cut ? ": cannot sync the cut" : ": cannot cut back"));
    }
    cutAll = notCut.ok();
    return cutAll ? notSynced : notCut;
}

void Logs::release() {
    for (Fd& file : held) file = Fd();
    for (Fd& lock : locks) lock = Fd();
    for (std::string& bytes : wrote) bytes.clear();
    failed = {};
}

void appendTimestamp(std::string& line, const timespec& time) {
    // The date from the count of days alone: the C library's calendar reads
    // the time zone's files the first time it is asked, even for UTC, and
    // nothing may wait on a file once an add has stored its account. Days
    // since 1970-01-01 (the clock is past it) to a date of the Gregorian
    // calendar, counted in eras of 400 years from 0000-03-01, so that a leap
    // day ends its year.
    const std::int64_t days = time.tv_sec / 86400, inDay = time.tv_sec % 86400;
    const std::int64_t shifted = days + 719468;
    const std::int64_t era = shifted / 146097;
    const std::int64_t ofEra = shifted - era * 146097;
    const std::int64_t yearOfEra = (ofEra - ofEra / 1460 + ofEra / 36524 - ofEra / 146096) / 365;
    const std::int64_t ofYear = ofEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t fromMarch = (5 * ofYear + 2) / 153;
    const std::int64_t month = fromMarch < 10 ? fromMarch + 3 : fromMarch - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2);
    const auto number = [](std::int64_t value) { return static_cast<int>(value); };  // a year of the clock fits
    char stamp[64];  // room for any int the compiler can imagine
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", number(year), number(month),
                  number(ofYear - (153 * fromMarch + 2) / 5 + 1), number(inDay / 3600), number(inDay / 60 % 60),
                  number(inDay % 60), number(time.tv_nsec / 1000000));
    line += stamp;
}

}  // namespace board
