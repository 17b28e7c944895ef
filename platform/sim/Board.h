#pragma once

// Shared parts of the simulated board: where its files live, its settings,
// the injected faults, and the log-line writer behind trace.log and event.log.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace board {

// The state directory, opened once per process: created (0700, parents
// too) when missing, then trusted only when it is no symbolic link, belongs
// to the effective user, no one else can read or write it, and no other
// user can replace a directory on its path; so no other user can plant a
// file or a link in it, or hold its lock. -1 when there is none to trust;
// the reason then went to standard error, since no trace log can hold it.
int stateDirFd();
// Its path, for messages; empty when none is set.
std::string stateDir();
std::string statePath(const char* name);

// Opens name in the state directory with flags (O_RDONLY, O_RDWR,
// O_WRONLY | O_APPEND, each with O_CREAT and O_EXCL as wanted): never
// through a symbolic link, never waiting on a FIFO, and only a regular file.
// A file it creates has mode 0600 whatever the umask. -1 with errno set
// otherwise (notRegularFile for a FIFO, a device or a socket).
int openStateFile(const char* name, int flags);
constexpr int notRegularFile = 4096;  // beyond every errno value
// strerror, and the board's own notRegularFile.
const char* errorText(int err);

// flock(LOCK_EX) through EINTR.
bool lockExclusive(int fd);

struct Settings {
    int partitions = 4;
    std::uint32_t maxUsers = 100;
};

struct Faults {
    enum class Add { none, refuse, raise };
    enum class List { none, fail, raise, corrupt };
    bool login = false;
    Add add = Add::none;
    std::int32_t addCode = 0;
    List list = List::none;
};

// Reads USERCTL_BOARD_FAULT. False for an unknown or malformed token; the
// reason goes to the trace log when report is set.
bool readFaults(Faults& faults, bool report);

struct Config {
    Settings settings;
    Faults faults;
};

// The settings and the faults, or a platform failure (PException) when
// either is malformed. Read once per process, like the state directory.
Config load();

// Forgets the state directory, settings and faults read so far, so that the
// next call reads them anew (for tests that change them within one process).
void forgetState();

// Throws the board's platform exception with text, which must outlive the call.
[[noreturn]] void raisePlatformFailure(const char* text);

// Digits only, no sign, at most max. False otherwise (and on overflow).
bool parseDecimal(std::string_view digits, std::uint32_t max, std::uint32_t& value);

// Reads the whole file name of the state directory into out; a missing
// file reads as empty. False, with the reason traced, when it cannot be read
// or holds more than limit bytes.
bool readStateFile(const char* name, std::string& out, std::size_t limit);

// Writes all of data, through short writes and EINTR. False with errno set
// when it cannot.
bool writeAll(int fd, std::string_view data);

// Appends one line to fileName in the state directory: the UTC timestamp,
// head as given, then the fields escaped and separated by tabs. The line is
// written whole or not at all. Returns false when it could not be written.
// Never throws.
bool appendLogLine(const char* fileName, std::string_view head,
                   std::initializer_list<std::string_view> fields) noexcept;

// One trace.log line, as HalmTrace::putLog writes it.
void trace(std::string_view text) noexcept;

// A trace line of the board's own, prefixed "board: ".
void traceReason(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));

// Traces "board: path:line: reason" and returns false.
bool failAt(const std::string& path, std::size_t line, const char* reason) noexcept;

}  // namespace board
