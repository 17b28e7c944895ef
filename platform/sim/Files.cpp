#include "Files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "StateDir.h"

namespace board {

Fd::~Fd() { close(); }

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        close();
        value = other.value;
        other.value = -EBADF;
    }
    return *this;
}

int Fd::close() {
    if (value < 0) return 0;
    const int closed = ::close(value) == 0 ? 0 : lastError();
    value = -EBADF;
    return closed;
}

const char* errorText(int error) { return error == notRegularFile ? "not a regular file" : std::strerror(-error); }

Fd openStateFile(const char* name, int flags) {
    const int dir = stateDirFd();
    if (dir < 0) return Fd(-EBADF);
    // What is not a regular file is never opened: opening a device may act on
    // it. Should one take a file's place after this look, O_NONBLOCK still
    // keeps a FIFO from hanging the command.
    struct stat info {};
    if (fstatat(dir, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(info.st_mode)) {
        return Fd(S_ISDIR(info.st_mode) ? -EISDIR : S_ISLNK(info.st_mode) ? -ELOOP : notRegularFile);
    }
    const PrivateUmask privately;
    const int fd = openat(dir, name, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    return Fd(fd >= 0 ? fd : lastError());
}

int readStateFile(const char* name, std::string& out, std::size_t limit) {
    out.clear();
    const Fd file = openStateFile(name, O_RDONLY);
    if (file.error() == -ENOENT) return 0;
    if (file.error()) return file.error();
    struct stat info {};
    if (fstat(file.get(), &info) != 0) return lastError();
    if (static_cast<std::uint64_t>(info.st_size) > limit) return -EFBIG;
    out.reserve(static_cast<std::size_t>(info.st_size));
    char chunk[64 * 1024];
    for (;;) {
        const ssize_t got = read(file.get(), chunk, sizeof chunk);
        if (got == 0) return 0;
        if (got < 0 && errno == EINTR) continue;
        const int error = got < 0 ? lastError() : out.size() + static_cast<std::size_t>(got) > limit ? -EFBIG : 0;
        if (error) {
            out.clear();
            return error;
        }
        out.append(chunk, static_cast<std::size_t>(got));
    }
}

int writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t put = write(fd, data.data(), data.size());
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return lastError();
        if (put == 0) return -EIO;  // no error of its own, but no progress either
        data.remove_prefix(static_cast<std::size_t>(put));
    }
    return 0;
}

int lockExclusive(int fd) {
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) return lastError();
    }
    return 0;
}

}  // namespace board
