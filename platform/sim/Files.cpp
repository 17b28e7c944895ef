#include "Files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "CallerSignals.h"

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

namespace {

// A directory another user owns (or that others could write) may hold what
// only they or root can remove. Moved aside within the state directory it
// needs nothing of them: a rename that keeps the parent does not touch the
// moved directory's own "..". What stays there is no name of the board's.
// The name it goes to is one no one holds as the remedy is made, and mv -T
// renames to it alone: mv would move the directory into a directory (or
// through a link) found there, and fail for good on a file.
std::string moveAside(int dir, const char* name, const std::string& path, const char* then = "") {
    // Its name in dir, shown as its path from the state directory.
    const std::string aside = path + nameAside(dir, name).substr(std::strlen(name));
    return "; move it aside" + std::string(then) + ": mv -T " + path + " " + aside;
}

// The remedy for a file of the user's own or root's that is judged, named
// by its path from the state directory, where the remedies are run. A lock
// holds no data: removed, the board makes a new one; but while a command
// runs, the next would lock the new one beside it. Another file is replaced
// by a private copy of the user's, even one root makes, which keeps what it
// holds, where a changed mode would leave whoever opened it holding it still.
std::string replaced(mode_t othersMayNot, const std::string& path) {
    if (othersMayNot == holdsNothing) return " remove it, a lock that holds no data, while no command runs: rm " + path;
    const std::string copy = path + ".copy";
    return " replace it with a private copy: install -m 600 -o " + std::to_string(geteuid()) + " " + path + " " + copy +
           " && mv " + copy + " " + path;
}

// Why the board does not trust the file name in dir, path from the state
// directory, and what to do. What may be another user's doing is removed, or
// moved aside; a file of the user's own or root's is replaced.
Status judge(const struct stat& info, mode_t othersMayNot, int dir, const char* name, const std::string& path) {
    std::string why;
    if (S_ISLNK(info.st_mode)) {
        why = "a symbolic link";
    } else if (S_ISDIR(info.st_mode) && info.st_uid != geteuid()) {
        return Status(EPERM, "a directory owned by uid " + std::to_string(info.st_uid) + moveAside(dir, name, path),
                      true);
    } else if (!S_ISREG(info.st_mode)) {
        why = "not a regular file";
    } else if (info.st_uid != 0 && info.st_uid != geteuid()) {
        why = "owned by uid " + std::to_string(info.st_uid);
    } else {
        if (info.st_nlink != 1) {
            why = "has " + std::to_string(info.st_nlink) + " hard links;";
        } else if (info.st_mode & othersMayNot & othersWrite) {
            why = "writable by group or others, who may have changed it: check it, then";
        } else if (info.st_mode & othersMayNot) {
            why = "readable by group or others;";
        } else {
            return {};
        }
        return Status(EPERM, why + replaced(othersMayNot, path), true);
    }
    return Status(EPERM, why + "; remove it, or move the directory aside", true);
}

bool passed(const timespec& deadline) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

}  // namespace

int endingSignalPending() {
    sigset_t pending;
    if (sigpending(&pending) != 0) return 0;
    for (int number = 1; number < NSIG; ++number) {
        struct sigaction action {};
        if (sigismember(&pending, number) == 1 && callerSignals::byDefault(number) == callerSignals::Action::end &&
            sigaction(number, nullptr, &action) == 0 && action.sa_handler == SIG_DFL) {
            return number;
        }
    }
    return 0;
}

std::string nameAside(int dir, const std::string& name) {
    // A directory holds finitely many names: one is free. One that cannot be
    // looked at is given too, for mv -T to refuse, saying why.
    for (int n = 1;; ++n) {
        const std::string aside = name + ".aside" + (n == 1 ? std::string() : "." + std::to_string(n));
        struct stat info {};
        if (fstatat(dir, aside.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return aside;
    }
}

Status openFile(int dir, const char* name, int flags, Fd& file, mode_t othersMayNot, const char* path) {
    const std::string shown = path ? path : name;
    // A look first: what is not a regular file is never opened, since opening
    // a device may act on it. Should one take a file's place after this look,
    // O_NONBLOCK still keeps a FIFO from hanging the command, and what was
    // opened is judged again.
    struct stat info {};
    if (fstatat(dir, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(info.st_mode)) {
        return judge(info, othersMayNot, dir, name, shown);
    }
    const PrivateUmask privately;
    if (Status opened = openAt(dir, name, flags | O_NOFOLLOW | O_NONBLOCK, file); !opened.ok()) return opened;
    Status status = fstat(file.get(), &info) == 0 ? judge(info, othersMayNot, dir, name, shown) : Status(errno);
    if (!status.ok()) file = Fd();
    return status;
}

Status openPrivateDir(int dir, const char* name, Fd& opened) {
    {
        const PrivateUmask privately;
        if (mkdirat(dir, name, 0700) != 0 && errno != EEXIST) return Status(errno);
    }
    opened = Fd(openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    const int error = opened.get() < 0 ? errno : 0;
    struct stat info {};
    if (error == ELOOP || error == ENOTDIR) {  // a link too
        return Status(EPERM, "not a directory; remove it, and the board makes a new one");
    }
    // Another user's directory the user may not read is told as theirs.
    if (error == EACCES && (fstatat(dir, name, &info, AT_SYMLINK_NOFOLLOW) != 0 || info.st_uid == geteuid())) {
        return Status(EACCES);
    }
    if (error != 0 && error != EACCES) return Status(error);
    if (error == 0 && fstat(opened.get(), &info) != 0) return Status(errno);
    std::string why;
    if (info.st_uid != geteuid()) {
        why = "owned by uid " + std::to_string(info.st_uid);
    } else if (info.st_mode & (S_IRWXG | S_IRWXO)) {
        why = "open to group or others";
    } else {
        return {};
    }
    opened = Fd();
    if (info.st_uid != geteuid() || (info.st_mode & othersWrite)) {
        return Status(EPERM, why + moveAside(dir, name, name, ", and the board makes a new one"));
    }
    return Status(EPERM, why + "; remove it, and the board makes a new one");
}

Status readFile(int dir, const char* name, std::string& out, std::size_t limit, mode_t othersMayNot) {
    out.clear();
    Fd file;
    if (const Status opened = openFile(dir, name, O_RDONLY, file, othersMayNot); !opened.ok()) {
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

Status writeAll(int fd, std::string_view data, std::size_t* written) {
    std::size_t ignored = 0;
    std::size_t& done = written ? *written : ignored;
    for (done = 0; done < data.size();) {
        const ssize_t put = write(fd, data.data() + done, data.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return Status(errno);
        if (put == 0) return Status(EIO);  // no error of its own, but no progress either
        done += static_cast<std::size_t>(put);
    }
    return {};
}

timespec deadlineIn(std::uint32_t seconds) {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += seconds;
    return deadline;
}

Status lockBefore(int fd, const timespec& deadline, bool cancellable) {
    // A held signal never interrupts a blocking flock, nor a sleep: the lock
    // is tried, and the pending signals looked at, every 10 ms.
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return {};
        if (errno != EWOULDBLOCK && errno != EINTR) return Status(errno);
        if (passed(deadline)) return Status(EWOULDBLOCK);
        if (const int number = cancellable ? endingSignalPending() : 0; number > 0) {
            return failure(EINTR, "cancelled by signal %d", number);
        }
        const timespec pause{0, 10000000};
        (void)nanosleep(&pause, nullptr);
    }
}

}  // namespace board
