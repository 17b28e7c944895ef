#pragma once

// The lines of the board's logs, trace.log and event.log, and the board's own
// reasons among them.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "Status.h"

namespace board {

// The most bytes of one trace text or event field that reach a log.
constexpr std::size_t maxFieldLength = 255;

// Appends one line to fileName in the state directory: the UTC timestamp,
// head as given, then the fields escaped and separated by tabs. The line is
// written whole or not at all. Never throws.
Status appendLogLine(const char* fileName, std::string_view head,
                     std::initializer_list<std::string_view> fields) noexcept;

// One trace.log line, as HalmTrace::putLog writes it; lost when it cannot be
// written, and a trace log the board does not trust is said on the console.
void trace(std::string_view text) noexcept;

// Says why the board failed or refused: a trace line "board: reason", and
// the reason on the console too when it asks for that.
void report(const Status& status) noexcept;

// Makes sure that an add's two lines can be written once its account is
// stored: each log trusted, the file-size limit leaving room for the longest
// line the board writes to it, and that room reserved on the file system.
Status reserveAddLines();

// How long a line waits for its log's lock while another process holds it:
// lock_wait, once the settings are learned (15 seconds before).
void setLogWait(std::uint32_t seconds) noexcept;

// From now on (on) the lines record a stored account: each is synced as
// written, as the store is, and no signal cancels its wait for the log's lock.
void syncLines(bool on = true) noexcept;

}  // namespace board
