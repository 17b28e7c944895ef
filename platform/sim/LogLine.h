#pragma once

// The lines of the board's logs, trace.log and event.log, and the board's own
// reasons among them.

#include <initializer_list>
#include <string_view>

#include "Status.h"

namespace board {

// Appends one line to fileName in the state directory: the UTC timestamp,
// head as given, then the fields escaped and separated by tabs. The line is
// written whole or not at all. Never throws.
Status appendLogLine(const char* fileName, std::string_view head,
                     std::initializer_list<std::string_view> fields) noexcept;

// One trace.log line, as HalmTrace::putLog writes it; lost when it cannot be
// written.
void trace(std::string_view text) noexcept;

// Says why the board failed or refused: a trace line "board: reason", and
// the reason on the console too when it asks for that.
void report(const Status& status) noexcept;

}  // namespace board
