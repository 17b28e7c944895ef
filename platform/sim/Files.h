#pragma once

// Opening, reading and writing the board's files. Inside the board an
// operation that can fail returns 0 or more, or minus the errno value that
// says why; the caller, which knows what it was doing, words the reason.

#include <sys/stat.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>

namespace board {

// A descriptor that closes itself, or minus errno when there is none.
class Fd {
public:
    explicit Fd(int fdOrError = -EBADF) : value(fdOrError) {}
    ~Fd();
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : value(other.value) { other.value = -EBADF; }
    Fd& operator=(Fd&& other) noexcept;

    int get() const { return value; }
    int error() const { return value < 0 ? value : 0; }
    // Closes now: 0 or minus errno (a failed close may be a failed write).
    int close();

private:
    int value;
};

// Minus the errno of the call that just failed.
inline int lastError() { return -errno; }

// What is not a regular file is never opened as one of the board's files.
constexpr int notRegularFile = -ENODEV;
// The words for an error value.
const char* errorText(int error);

// What the board creates gets exactly 0600 or 0700, whatever umask the
// command was started with. The board serves a single-threaded program, so
// the umask is its own for the moment of one call.
class PrivateUmask {
public:
    PrivateUmask() : old(umask(077)) {}
    ~PrivateUmask() { umask(old); }
    PrivateUmask(const PrivateUmask&) = delete;
    PrivateUmask& operator=(const PrivateUmask&) = delete;

private:
    mode_t old;
};

// Opens name in the state directory with flags (O_RDONLY, O_RDWR,
// O_WRONLY | O_APPEND, each with O_CREAT and O_EXCL as wanted): never
// through a symbolic link, never waiting on a FIFO, and only a regular file.
// A file it creates has mode 0600.
Fd openStateFile(const char* name, int flags);

// The whole file name of the state directory into out; a missing file reads
// as empty. -EFBIG when it holds more than limit bytes.
int readStateFile(const char* name, std::string& out, std::size_t limit);

// All of data, through short writes and EINTR.
int writeAll(int fd, std::string_view data);

// flock(LOCK_EX), through EINTR.
int lockExclusive(int fd);

}  // namespace board
