#pragma once

// How the board reports, inside and to the administrator.

#include <string>
#include <string_view>

namespace board {

// The outcome of every operation inside the board: ok, or failed with the
// errno value that says why, never 0 (EINVAL where no call failed, as for a
// malformed line), and the reason in words, as the board's lines show it. The caller
// that knows what was being done puts that in front (within); the board's
// entry points say the reason once (report, LogLine.h). A reason that asks the
// administrator to act is said on the console too.
class [[nodiscard]] Status {
public:
    Status() = default;  // ok
    // Failed with error, in the system's words.
    explicit Status(int error);
    Status(int error, std::string reason, bool console = false)
        : code(error), text(std::move(reason)), console(console) {}

    bool ok() const { return code == 0; }
    int error() const { return code; }
    const std::string& reason() const { return text; }
    bool forConsole() const { return console; }
    // The same, said on the console too.
    Status aloud() const { return Status(code, text, true); }
    // "what: reason"; ok stays ok.
    Status within(const std::string& what) const { return ok() ? *this : Status(code, what + ": " + text, console); }

private:
    int code = 0;
    std::string text;
    bool console = false;
};

// A failure whose reason is printed from format.
Status failure(int error, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Appends text to line with the backslash and every character that could
// end a line early, forge one, drive a terminal or reorder what a reader
// sees escaped: the C0 and C1 controls and DEL, the line and paragraph
// separators and the bidirectional controls (U+061C, U+200E, U+200F, U+2028
// to U+202E, U+2066 to U+2069) and every byte that is not UTF-8 (an
// overlong form or a surrogate is not), each byte as \xHH (\n, \t and \r by
// name). An escape always means the byte it names; other UTF-8 stays
// readable. The program escapes what its console shows with a copy of its
// own (UserCtrlCmd::escape), since it reaches the board through the platform
// alone; the same rows test both.
void appendEscaped(std::string& line, std::string_view text);

// The board's lines on standard error.
class Console {
public:
    // Writes "board: " and the reason, escaped, as one line; a reason
    // already told is not told again.
    void tell(const Status& status) noexcept;

private:
    std::string told = "\n";  // every line told, each after a line feed
};

}  // namespace board
