#pragma once

// The lines of the board's logs, trace.log and event.log, and the board's own
// reasons among them.

#include <fcntl.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "Files.h"
#include "StateDir.h"
#include "Status.h"

namespace board {

// The most bytes of one trace text or event field that reach a log.
constexpr std::size_t maxFieldLength = 255;

enum Log { traceLog, eventLog };

// The logs of the board in dir, as this process writes them; what it tells
// the administrator goes to console.
class Logs {
public:
    Logs(const StateDir& dir, Console& console) : dir(dir), console(console) {}
    Logs(const Logs&) = delete;
    Logs& operator=(const Logs&) = delete;

    // Appends one line to log: the UTC timestamp, head as given, then the
    // fields escaped and separated by tabs. A held log takes it at once; for
    // any other, its lock is waited for (lockWait seconds at most) and it is
    // opened by name, and the line is written whole or not at all, and synced,
    // with the log's name, when durable. Never throws.
    Status append(Log log, std::string_view head, std::initializer_list<std::string_view> fields,
                  bool durable = false) noexcept;

    // One trace.log line, as HalmTrace::putLog writes it; lost when it cannot
    // be written, and a trace log the board does not trust is told.
    void trace(std::string_view text) noexcept;
    // One trace.log line, synced, with the log's name, before the log is let go.
    Status traceDurably(std::string_view text) noexcept;
    // Says why the board failed or refused: a trace line "board: reason", and
    // the reason on the console too when it asks for that.
    void report(const Status& status) noexcept;

    // The lock directory, opened as the logs' locks need it (made when
    // missing); refused as trace.log's lock would be, the first an add takes.
    Status openLockDir(Fd& locked) const;

    // Holds both logs for an add's record, waiting for their locks until
    // deadline: each locked, opened and judged. Nothing is held after a
    // failure.
    Status hold(const timespec& deadline);
    // The held logs' lines made durable.
    Status sync();
    // Each held log cut back to where the add's first line begins, and the
    // cut synced; only a log that ends with exactly the bytes the add wrote
    // to it (a line cut short too) is cut, since any other line among or
    // after them is another process's. The first failure of a log not cut
    // comes back before one of a cut not synced; cutAll says whether every
    // log was cut.
    Status cutBack(bool& cutAll);
    // The first line of the held logs that could not be written; ok when none.
    const Status& lineFailed() const { return failed; }
    void release();

    // Seconds a line waits for a log another process holds, from the settings.
    void waitAtMost(std::uint32_t seconds) { lockWait = seconds; }
    // From then until the call's Bounded ends, no line waits past deadline:
    // a call that has waited for its locks in vain waits no longer for the
    // line of its refusal, and returns within the platform's bound.
    void waitNoLongerThan(const timespec& deadline) { until = deadline; }
    class Bounded {
    public:
        explicit Bounded(Logs& logs) : logs(logs) {}
        ~Bounded() { logs.until.reset(); }
        Bounded(const Bounded&) = delete;
        Bounded& operator=(const Bounded&) = delete;

    private:
        Logs& logs;
    };

private:
    Status lockDirectory(Fd& locked) const;
    Status lock(Log log, const timespec& deadline, bool cancellable, Fd& lock) const;
    Status open(Log log, Fd& file, int access = O_WRONLY) const;
    Status byName(Log log, std::string_view line, bool durable);
    Status holdOne(Log log, const timespec& deadline);
    Status cutOne(Log log, bool& cut);  // cut set once the log is cut
    Status traceLine(std::string_view text, bool durable) noexcept;

    const StateDir& dir;
    Console& console;
    std::uint32_t lockWait = 15;
    Status failed;

    // An add's record: each log locked, opened and judged, from before the
    // new store is written until the record is, and the bytes the add wrote
    // to each: with O_APPEND, where they landed is known only from the log.
    Fd held[2], locks[2];
    std::string wrote[2];
    bool busy[2] = {};              // a log whose lock was waited for in vain: tried once, not waited for, again
    std::optional<timespec> until;  // no line waits past it, when set
};

// line followed by time as 2026-12-06T12:00:00.123Z.
void appendTimestamp(std::string& line, const timespec& time);

}  // namespace board
