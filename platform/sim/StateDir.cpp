#include "StateDir.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Files.h"

namespace board {

namespace {

// What would make a refused state directory usable, after its reason.
const char* const notThrough = "; set USERCTL_BOARD_DIR to a path not through it";
const char* const elsewhere = "; set USERCTL_BOARD_DIR to another directory";
constexpr int maxLinks = 40;  // as many as the kernel follows in one path

const char* nonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

// A relative HOME would be judged from wherever the command happens to run:
// it is left aside, as a relative XDG_STATE_HOME is.
std::string homeDir() {
    if (const char* home = nonEmptyEnv("HOME"); home && home[0] == '/') return home;
    const passwd* entry = getpwuid(geteuid());
    return entry && entry->pw_dir && entry->pw_dir[0] == '/' ? entry->pw_dir : "";
}

std::string findStateDir() {
    if (const char* given = nonEmptyEnv("USERCTL_BOARD_DIR")) return given;
    if (const char* xdg = nonEmptyEnv("XDG_STATE_HOME"); xdg && xdg[0] == '/') {
        return std::string(xdg) + "/userctl/board";  // a relative XDG path is ignored, as XDG says
    }
    const std::string home = homeDir();
    if (home.empty()) return "";  // nowhere to keep state: the board refuses to work
    return home + "/.local/state/userctl/board";
}

// Puts the names of path on pending, a stack whose next name is last. ""
// (of "//" or a trailing "/") and "." name no step and are left out.
void pushNames(std::vector<std::string>& pending, const std::string& path) {
    for (std::size_t end = path.size(); end > 0;) {
        const std::size_t slash = path.rfind('/', end - 1);
        const std::size_t begin = slash == std::string::npos ? 0 : slash + 1;
        if (std::string name = path.substr(begin, end - begin); !name.empty() && name != ".") pending.push_back(name);
        end = slash == std::string::npos ? 0 : slash;
    }
}

std::string joined(const std::string& dir, const std::string& name) {
    if (name == "..") return dir.size() > 1 ? dir.substr(0, std::max<std::size_t>(dir.rfind('/'), 1)) : dir;
    return dir == "/" ? dir + name : dir + "/" + name;
}

std::string uidText(uid_t uid) { return std::to_string(uid); }

// Why a directory or link at, met on the way, would let another user put
// something else in its place, or an empty text: it belongs to neither root
// nor the effective user, or others can write it without the sticky bit
// (which keeps them from renaming what is not theirs).
std::string unsafeStep(const struct stat& info, const std::string& at) {
    if (info.st_uid != 0 && info.st_uid != geteuid()) {
        return at + ", on its path, belongs to uid " + uidText(info.st_uid) + notThrough;
    }
    if (!S_ISLNK(info.st_mode) && (info.st_mode & (S_IWGRP | S_IWOTH)) && !(info.st_mode & S_ISVTX)) {
        return at + ", on its path, is writable by group or others; chmod go-w it, or chmod +t it";
    }
    return {};
}

// Why the state directory itself cannot be trusted, or an empty text. No
// one else may write it (to plant a file or a link) or read it (to hold its
// lock).
std::string unsafeDir(const struct stat& info) {
    if (info.st_uid != geteuid()) {
        return "owned by uid " + uidText(info.st_uid) + ", not by uid " + uidText(geteuid()) +
               " that runs the command; chown it to uid " + uidText(geteuid()) +
               ", or set USERCTL_BOARD_DIR to a directory of your own";
    }
    if (info.st_mode & (S_IWGRP | S_IWOTH)) return "writable by group or others; chmod 700 it";
    if (info.st_mode & (S_IRGRP | S_IROTH)) return "readable by group or others; chmod 700 it";
    return {};
}

// name in dir, opened as what it is (a link stays a link), made a private
// directory first when missing.
Fd openStep(int dir, const std::string& name) {
    const int flags = O_PATH | O_NOFOLLOW | O_CLOEXEC;
    int fd = openat(dir, name.c_str(), flags);
    if (fd < 0 && errno == ENOENT && name != "..") {
        const PrivateUmask privately;
        // EEXIST: another process made it meanwhile; it is judged as anything found.
        if (mkdirat(dir, name.c_str(), 0700) != 0 && errno != EEXIST) return Fd(lastError());
        fd = openat(dir, name.c_str(), flags);
    }
    return Fd(fd >= 0 ? fd : lastError());
}

Fd openPath(int dir, const char* name) {
    const int fd = openat(dir, name, O_PATH | O_DIRECTORY | O_CLOEXEC);
    return Fd(fd >= 0 ? fd : lastError());
}

// Whether dir is its own parent: the process's root directory, and no other.
bool isRoot(int dir) {
    const Fd up = openPath(dir, "..");
    struct stat here {
    }, above{};
    return !up.error() && fstat(dir, &here) == 0 && fstat(up.get(), &above) == 0 && here.st_dev == above.st_dev &&
           here.st_ino == above.st_ino;
}

// The root directory. An emulator that runs the board over a system root of
// its own (qemu-user's -L) opens that one for "/", which is then not its own
// parent; /proc/self/root still names the real one.
Fd openRoot() {
    Fd root = openPath(AT_FDCWD, "/");
    if (!root.error() && !isRoot(root.get())) {
        Fd real = openPath(AT_FDCWD, "/proc/self/root");
        if (!real.error() && isRoot(real.get())) return real;
    }
    return root;
}

// The state directory at path, reached one name at a time from "/": each step
// is opened relative to the directory already judged and judged by what was
// opened, never by the path's text, so that nothing another user swaps in on
// the way is used unseen. Every directory reached is judged, one left again
// through ".." too; a link is followed only when it is root's or the
// effective user's, and the walk goes on from where it leads. On failure why
// says why.
Fd walk(const std::string& path, std::string& why) {
    std::vector<std::string> pending;
    pushNames(pending, path);
    std::string at = "/", step = at;  // the directory the walk is in, and what it opened last, for messages
    Fd here = openRoot();
    struct stat info {};
    int error = here.error();
    for (int links = 0; !error;) {
        if (fstat(here.get(), &info) != 0) {
            error = lastError();
        } else if (pending.empty()) {  // the state directory itself, opened for its lock
            Fd dir(openat(here.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if ((error = dir.error()) || (fstat(dir.get(), &info) != 0 && (error = lastError()))) break;
            if ((why = unsafeDir(info)).empty()) return dir;
            return Fd();
        } else if (!(why = unsafeStep(info, at)).empty()) {
            return Fd();
        } else {
            step = joined(at, pending.back());
            Fd next = openStep(here.get(), pending.back());
            pending.pop_back();
            if ((error = next.error()) || (fstat(next.get(), &info) != 0 && (error = lastError()))) break;
            if (S_ISDIR(info.st_mode)) {
                here = std::move(next);
                at = step;
                continue;
            }
            if (!S_ISLNK(info.st_mode)) error = -ENOTDIR;
            // Another user's link is refused before it is read: where it leads is theirs to change.
            if (error || !(why = unsafeStep(info, step)).empty()) break;
            char target[PATH_MAX];
            const ssize_t size = readlinkat(next.get(), "", target, sizeof target);
            error = size < 0 ? lastError() : ++links > maxLinks ? -ELOOP : size == sizeof target ? -ENAMETOOLONG : 0;
            if (!error && target[0] == '/') {
                here = openRoot();
                at = "/";
                error = here.error();
            }
            if (!error) pushNames(pending, std::string(target, static_cast<std::size_t>(size)));
        }
    }
    if (error) why = (step == path ? "" : step + ": ") + errorText(error) + elsewhere;
    return Fd();
}

// The directory at path, or an error after its reason went to standard error.
Fd openStateDir(const std::string& path) {
    if (path.empty()) {
        dprintf(STDERR_FILENO,
                "board: no state directory: USERCTL_BOARD_DIR is unset, XDG_STATE_HOME and HOME are "
                "unset or relative, and uid %ld has no home directory; set USERCTL_BOARD_DIR to an "
                "absolute path\n",
                static_cast<long>(geteuid()));
        return Fd();
    }
    // Relative, it would depend on the directories above the working one, which nothing here judges.
    std::string why = "a relative path; give USERCTL_BOARD_DIR as an absolute path";
    if (path[0] == '/') {
        Fd dir = walk(path, why);
        if (!dir.error()) return dir;
    }
    dprintf(STDERR_FILENO, "board: %s: not used as the state directory: %s\n", path.c_str(), why.c_str());
    return Fd();
}

// The environment does not change under a command, and one process runs one
// command: the state directory is looked for once.
struct Known {
    bool looked = false;
    std::string path;
    Fd dir;
};

Known& known() {
    static Known state;
    return state;
}

}  // namespace

int stateDirFd() {
    Known& state = known();
    if (!state.looked) {
        state.path = findStateDir();
        // Its files' names are joined to it with a "/" of their own.
        while (state.path.size() > 1 && state.path.back() == '/') state.path.pop_back();
        state.dir = openStateDir(state.path);
        state.looked = true;
    }
    return state.dir.error() ? -1 : state.dir.get();
}

std::string stateDir() {
    stateDirFd();
    return known().path;
}

std::string statePath(const char* name) { return stateDir() + "/" + name; }

void forgetStateDir() { known() = Known(); }

}  // namespace board
