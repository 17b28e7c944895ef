#include "UtmpUtil.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utmpx.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "Files.h"
#include "Process.h"

namespace {

// Far more than any chain of processes; a bound all the same.
constexpr std::size_t maxAncestors = 4096;
// The device majors of the pseudo-terminals' subordinate ends, pts/N: 256
// minors each (the kernel's UNIX98_PTY_SLAVE_MAJOR and the seven after it).
constexpr unsigned ptyFirstMajor = 136, ptyLastMajor = 143;

// The fields of /proc/PID/stat after the command name, which in parentheses
// may itself hold blanks and ')', while none of the fields after it can: so
// they start after the last ')'. 255 bytes reach well past the fields read
// here, whatever the name. Empty when it cannot be read.
std::string statFields(const std::string& pid) {
    char stat[256] = {};
    board::Fd file;
    if (!board::openAt(AT_FDCWD, ("/proc/" + pid + "/stat").c_str(), O_RDONLY, file).ok() ||
        read(file.get(), stat, sizeof stat - 1) <= 0) {
        return {};
    }
    const char* const name = std::strrchr(stat, ')');
    return name ? name + 1 : "";
}

// The process itself and every process it descends from, up to the first
// (pid 1, whose parent is 0): a utmp entry's process counts only when it is
// one of them, since a pid that is merely alive may have come back for
// another user's process since the session it names crashed.
std::vector<pid_t> ancestors() {
    std::vector<pid_t> chain{getpid()};
    // Its own parent from the system, which an emulator (qemu-user) answers
    // for the process it runs; further up, /proc, which it leaves alone.
    for (pid_t pid = getppid(); pid > 0 && chain.size() < maxAncestors;) {
        chain.push_back(pid);
        int parent = 0;
        if (std::sscanf(statFields(std::to_string(pid)).c_str(), " %*c %d", &parent) != 1) break;
        pid = parent;
    }
    return chain;
}

// The device number of the process's controlling terminal into device:
// ENXIO when the process has none, another errno when the system cannot tell.
board::Status controllingTerminal(dev_t& device) {
    // The terminal is the seventh field, read from the thread's own file:
    // qemu-user answers /proc/self/stat with a made-up one that names no
    // terminal, and this program is one thread.
    const std::string fields = statFields("thread-self");
    unsigned number = 0;  // the kernel's encoding, which major() and minor() read
    const bool parsed = std::sscanf(fields.c_str(), " %*c %*d %*d %*d %u", &number) == 1;
    if (number != 0) {
        device = number;
        return {};
    }
    // Where the stat file names none, or cannot be read, yet /dev/tty opens
    // (an emulator that answers for the thread's file too), the terminal
    // itself may say which it is.
    board::Fd tty;
    if (board::Status opened = board::openAt(AT_FDCWD, "/dev/tty", O_RDWR | O_NOCTTY | O_NONBLOCK, tty); !opened.ok()) {
        return parsed || opened.error() == ENXIO ? board::Status(ENXIO) : opened;
    }
    if (ioctl(tty.get(), TIOCGDEV, &number) != 0) return board::Status(errno);
    device = number;
    return {};
}

// The terminal device's name under /dev, "pts/3" style; empty when none is
// found.
std::string terminalName(dev_t device) {
    const unsigned high = major(device), low = minor(device);
    if (high >= ptyFirstMajor && high <= ptyLastMajor)
        return "pts/" + std::to_string((high - ptyFirstMajor) * 256 + low);
    // Any other terminal (a serial line, a virtual console) by the name the
    // kernel gives the device, if /dev holds that device under that name.
    char path[64], target[PATH_MAX];
    std::snprintf(path, sizeof path, "/sys/dev/char/%u:%u", high, low);
    // The link's text by its length: readlink writes no NUL.
    const ssize_t length = readlink(path, target, sizeof target);
    if (length <= 0 || static_cast<std::size_t>(length) == sizeof target) return {};
    const std::string_view link(target, static_cast<std::size_t>(length));
    const std::string name(link.substr(link.rfind('/') + 1));
    struct stat info {};
    if (stat(("/dev/" + name).c_str(), &info) != 0 || !S_ISCHR(info.st_mode) || info.st_rdev != device) return {};
    return name;
}

// The terminal the command runs on; empty without one. Only the controlling
// terminal counts: descriptors 0-2 are the caller's to redirect, and a
// terminal held open on one is not where the session logged in. Where the
// system cannot tell the controlling terminal, the first of them that is a
// terminal stands in for it.
std::string terminalLine() {
    dev_t device = 0;
    const board::Status found = controllingTerminal(device);
    if (found.ok()) return terminalName(device);
    if (found.error() == ENXIO) return {};
    char name[256];
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (ttyname_r(fd, name, sizeof name) != 0) continue;
        const std::string_view path = name;
        return std::string(path.substr(0, 5) == "/dev/" ? path.substr(5) : path);
    }
    return {};
}

template <std::size_t N>
std::string fieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

}  // namespace

int UtmpUtil::getUserInfo(std::string& origin, std::string& login) {
    board::Process& board = board::process();
    if (board::load(board).faults.login) {
        board.logs.report(board::Status(EINVAL, "login lookup failed (injected fault)"));
        return 1;
    }
    const std::string line = terminalLine();
    std::string host;
    login.clear();
    if (!line.empty()) {
        // The system's own utmp file: no setting may name another, whose
        // entries anyone could write.
        const std::vector<pid_t> chain = ancestors();
        setutxent();
        while (const utmpx* entry = getutxent()) {
            if (entry->ut_type != USER_PROCESS || fieldText(entry->ut_line) != line ||
                std::find(chain.begin(), chain.end(), entry->ut_pid) == chain.end()) {
                continue;
            }
            login = fieldText(entry->ut_user);
            host = fieldText(entry->ut_host);
            break;
        }
        endutxent();
    }
    // No utmp entry (a container, a CI job): the effective user's account.
    if (login.empty()) {
        if (const passwd* account = getpwuid(geteuid()); account && account->pw_name) login = account->pw_name;
    }
    if (login.empty()) {
        board.logs.report(
            board::failure(ENOENT, "login lookup failed: no login name for uid %ld", static_cast<long>(geteuid())));
        return 1;
    }
    origin = !host.empty() ? host : !line.empty() ? line : "console";
    return 0;
}
