#include "StateDir.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Files.h"

namespace board {

namespace {

const char* nonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

std::string homeDir() {
    if (const char* home = nonEmptyEnv("HOME")) return home;
    const passwd* entry = getpwuid(geteuid());
    return entry && entry->pw_dir ? entry->pw_dir : "";
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

// Like mkdir -p; components that exist already are left as they are.
int makeDirs(const std::string& path) {
    const PrivateUmask privately;
    for (std::size_t end = 1; end <= path.size(); ++end) {
        if (end < path.size() && path[end] != '/') continue;
        if (mkdir(path.substr(0, end).c_str(), 0700) != 0 && errno != EEXIST) return lastError();
    }
    return 0;
}

// Why a directory on the way to path would let another user put something
// else in its place, or an empty text: one, or a link to one, that belongs
// to neither root nor the effective user, or that others can write without
// the sticky bit (which keeps them from renaming what is not theirs).
std::string unsafePath(const std::string& path) {
    for (std::size_t end = path.find('/', 1); end != std::string::npos; end = path.find('/', end + 1)) {
        const std::string step = path.substr(0, end);
        struct stat link {}, dir {};
        if (lstat(step.c_str(), &link) != 0 || stat(step.c_str(), &dir) != 0) break;  // made below, ours
        for (const uid_t owner : {link.st_uid, dir.st_uid}) {
            if (owner != 0 && owner != geteuid()) return step + ", on its path, belongs to uid " + std::to_string(owner);
        }
        if ((dir.st_mode & (S_IWGRP | S_IWOTH)) && !(dir.st_mode & S_ISVTX))
            return step + ", on its path, is writable by group or others";
    }
    return {};
}

// Why the state directory itself cannot be trusted, or an empty text. No
// one else may write it (to plant a file or a link) or read it (to hold its
// lock).
std::string unsafeDir(const struct stat& info) {
    if (info.st_uid != geteuid()) {
        return "owned by uid " + std::to_string(info.st_uid) + ", not by uid " + std::to_string(geteuid()) +
               " that runs the command";
    }
    if (info.st_mode & (S_IWGRP | S_IWOTH)) return "writable by group or others";
    if (info.st_mode & (S_IRGRP | S_IROTH)) return "readable by group or others";
    return {};
}

// The directory at path, or an error after its reason went to standard error.
Fd openStateDir(const std::string& path) {
    if (path.empty()) {
        dprintf(STDERR_FILENO, "board: no state directory: USERCTL_BOARD_DIR, XDG_STATE_HOME and HOME are unset, "
                               "and uid %ld has no home directory\n", static_cast<long>(geteuid()));
        return Fd();
    }
    std::string why = unsafePath(path);
    if (why.empty()) {
        const int made = makeDirs(path);
        const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        Fd dir(fd >= 0 ? fd : lastError());
        struct stat info {};
        if (dir.error()) {
            const bool link = lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
            why = link ? "a symbolic link" : errorText(made ? made : dir.error());
        } else if (fstat(dir.get(), &info) != 0) {
            why = errorText(lastError());
        } else if ((why = unsafeDir(info)).empty()) {
            return dir;
        }
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
        // A trailing slash would make the last name followed even if it is a link.
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
