#pragma once

// The lines of the board's logs, trace.log and event.log.

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace board {

// Appends one line to fileName in the state directory: the UTC timestamp,
// head as given, then the fields escaped and separated by tabs. The line is
// written whole or not at all: 0, or minus errno. Never throws.
int appendLogLine(const char* fileName, std::string_view head, std::initializer_list<std::string_view> fields) noexcept;

// One trace.log line, as HalmTrace::putLog writes it.
void trace(std::string_view text) noexcept;

// A trace line of the board's own, prefixed "board: ".
void traceReason(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));

// Traces "board: path:line: reason" and returns false.
bool failAt(const std::string& path, std::size_t line, const char* reason) noexcept;

}  // namespace board
