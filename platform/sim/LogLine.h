#pragma once

// The lines of the board's logs, trace.log and event.log, and the board's own
// reasons among them.

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <ctime>
#include <initializer_list>
#include <string>
#include <string_view>

#include "Files.h"
#include "Status.h"

namespace board {

// The most bytes of one trace text or event field that reach a log.
constexpr std::size_t maxFieldLength = 255;

enum Log { traceLog, eventLog };

// The logs as this process holds them.
struct Logs {
    // An add's record: each log locked, opened and judged, from before the
    // new store is written until the record is, and where each ended when
    // taken.
    Fd held[2], locks[2];
    off_t end[2] = {};
    Status failed;      // the first line of the record that could not be written
    bool busy[2] = {};  // a log whose lock was waited for in vain: tried once, not waited for, again
};

// Appends one line to log: the UTC timestamp, head as given, then the fields
// escaped and separated by tabs. A held log takes it at once; for any other,
// its lock is waited for (lock_wait seconds at most, 15 before the settings
// are learned) and it is opened by name, and the line is written whole or not
// at all, and synced when durable. Never throws.
Status appendLogLine(Log log, std::string_view head, std::initializer_list<std::string_view> fields,
                     bool durable = false) noexcept;

// One trace.log line, as HalmTrace::putLog writes it; lost when it cannot be
// written, and a trace log the board does not trust is said on the console.
void trace(std::string_view text) noexcept;

// One trace.log line by name, synced before it is let go.
Status traceDurably(std::string_view text) noexcept;

// Says why the board failed or refused: a trace line "board: reason", and
// the reason on the console too when it asks for that.
void report(const Status& status) noexcept;

// Holds both logs for an add's record, waiting for their locks until
// deadline: each opened, judged and locked, and where it ends noted. Nothing
// is held after a failure.
Status holdLogs(const timespec& deadline);
// The held logs' lines made durable.
Status syncLogs();
// Each held log cut back to where it ended when taken.
Status cutBackLogs();
void releaseLogs();

// line followed by time as 2026-12-06T12:00:00.123Z.
void appendTimestamp(std::string& line, const timespec& time);

}  // namespace board
