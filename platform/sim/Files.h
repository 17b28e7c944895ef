#pragma once

// Opening, reading and writing files in a directory the caller holds open.
// A failure comes back as a Status with the system's words; the caller, which
// knows what it was doing, puts that in front.

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>

#include "Status.h"

namespace board {

// A descriptor that closes itself; -1 when it holds none.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : value(fd) {}
    ~Fd() { (void)close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : value(other.value) { other.value = -1; }
    // The descriptor held before goes to other, which closes it.
    Fd& operator=(Fd&& other) noexcept {
        std::swap(value, other.value);
        return *this;
    }

    int get() const { return value; }
    // Closes now: a failed close may be a failed write.
    Status close();

private:
    int value = -1;
};

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

// openat(dir, name, flags), never inherited by another program.
Status openAt(int dir, const char* name, int flags, Fd& fd);

// What others may not do to a file the board trusts: write it, or, for one
// that holds secrets, read or write it.
constexpr mode_t othersWrite = S_IWGRP | S_IWOTH;
constexpr mode_t othersReadWrite = othersWrite | S_IRGRP | S_IROTH;
// A lock file: it holds no data, so others may do anything to its mode (no
// other user can reach it), and it is mended by removing it.
constexpr mode_t holdsNothing = 0;

// name in dir, opened with flags (O_RDONLY, O_RDWR, O_WRONLY | O_APPEND, each
// with O_CREAT and O_EXCL as wanted): never through a symbolic link, never
// waiting on a FIFO, and a file it creates has mode 0600. It is used only
// when what was opened is a regular file of the effective user's or root's,
// with one link (another name may be another user's), that others may not
// do othersMayNot to; else EPERM, with what to do after the reason: another
// user's doing removed (a directory of theirs moved aside), a file of the
// user's own or root's replaced by a private copy of the user's, a lock
// removed. The remedy names the file by path, its path from the state
// directory where it is to be run (name when null).
Status openFile(int dir, const char* name, int flags, Fd& file, mode_t othersMayNot = othersWrite,
                const char* path = nullptr);

// The first of name.aside, name.aside.2, name.aside.3, ... that nothing in
// dir holds (AT_FDCWD: name is a path), for a remedy that moves name aside.
std::string nameAside(int dir, const std::string& name);

// name in dir (the state directory), a directory only its user may enter,
// made 0700 when missing, opened for reading: whoever can open a file can
// hold its lock, and no one else can ever have opened what is in such a
// directory. Else EPERM, with what to do after the reason: removed, or moved
// aside when it may hold what the user cannot remove; its one caller says
// every refusal aloud.
Status openPrivateDir(int dir, const char* name, Fd& opened);

// The whole file name in dir, opened as openFile does, into out; a missing
// file reads as empty. Refused with EFBIG when it holds more than limit bytes.
Status readFile(int dir, const char* name, std::string& out, std::size_t limit, mode_t othersMayNot = othersWrite);

// All of data, through short writes and EINTR; how many bytes were written,
// a failure's too, in written when given.
Status writeAll(int fd, std::string_view data, std::size_t* written = nullptr);

// The CLOCK_MONOTONIC time seconds from now.
timespec deadlineIn(std::uint32_t seconds);

// A signal pending that would end the process once let in: held, and left
// to its default action, which for it is to end it (not so for a signal set
// to be ignored, as a background job's SIGINT or nohup's SIGHUP). Looked at,
// never taken: it acts as it would have once the caller lets it in. 0 for none.
int endingSignalPending();

// flock(LOCK_EX), tried until deadline: EWOULDBLOCK once it has passed. A
// cancellable wait ends with EINTR ("cancelled by signal N") within 10 ms of
// a held signal that would end the process being pending, which it leaves
// pending, to end the process once its mask comes back.
Status lockBefore(int fd, const timespec& deadline, bool cancellable);

}  // namespace board
