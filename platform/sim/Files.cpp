#include "Files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace board {

Status Fd::close() {
    if (value < 0) return {};
    const int closed = ::close(value);
    value = -1;
    return closed == 0 ? Status() : Status(errno);
}

Status openAt(int dir, const char* name, int flags, Fd& fd) {
    fd = Fd(openat(dir, name, flags | O_CLOEXEC, 0600));
    return fd.get() >= 0 ? Status() : Status(errno);
}

Status openFile(int dir, const char* name, int flags, Fd& file) {
    // What is not a regular file is never opened: opening a device may act on
    // it. Should one take a file's place after this look, O_NONBLOCK still
    // keeps a FIFO from hanging the command.
    struct stat info {};
    if (fstatat(dir, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(info.st_mode)) {
        if (S_ISDIR(info.st_mode)) return Status(EISDIR);
        return S_ISLNK(info.st_mode) ? Status(ELOOP, "a symbolic link") : Status(ENODEV, "not a regular file");
    }
    const PrivateUmask privately;
    return openAt(dir, name, flags | O_NOFOLLOW | O_NONBLOCK, file);
}

Status readFile(int dir, const char* name, std::string& out, std::size_t limit) {
    out.clear();
    Fd file;
    if (const Status opened = openFile(dir, name, O_RDONLY, file); !opened.ok()) {
        return opened.error() == ENOENT ? Status() : opened;
    }
    struct stat info {};
    if (fstat(file.get(), &info) != 0) return Status(errno);
    if (static_cast<std::uint64_t>(info.st_size) > limit) return Status(EFBIG);
    out.reserve(static_cast<std::size_t>(info.st_size));
    char chunk[64 * 1024];
    for (;;) {
        const ssize_t got = read(file.get(), chunk, sizeof chunk);
        if (got == 0) return {};
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return Status(errno);
        if (out.size() + static_cast<std::size_t>(got) > limit) return Status(EFBIG);
        out.append(chunk, static_cast<std::size_t>(got));
    }
}

Status writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t put = write(fd, data.data(), data.size());
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return Status(errno);
        if (put == 0) return Status(EIO);  // no error of its own, but no progress either
        data.remove_prefix(static_cast<std::size_t>(put));
    }
    return {};
}

Status lockExclusive(int fd) {
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) return Status(errno);
    }
    return {};
}

}  // namespace board
