#include "StateDir.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

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

// A name still to walk, and the link whose text gave it. Only a name of the
// path itself is made when missing, never one that a link points to: a link
// to nothing (to a directory since removed, to one not yet made) would
// otherwise have the board make a directory wherever its text says.
struct Name {
    std::string text;
    std::string link;  // empty for a name of the path
};

// Puts the names of path on pending, a stack whose next name is last. ""
// (of "//" or a trailing "/") and "." name no step and are left out.
void pushNames(std::vector<Name>& pending, std::string_view path, const std::string& link) {
    for (std::size_t end = path.size(); end > 0;) {
        const std::size_t slash = path.rfind('/', end - 1);
        const std::size_t begin = slash == std::string_view::npos ? 0 : slash + 1;
        if (const std::string_view name = path.substr(begin, end - begin); !name.empty() && name != ".") {
            pending.push_back({std::string(name), link});
        }
        end = slash == std::string_view::npos ? 0 : slash;
    }
}

std::string joined(const std::string& dir, const std::string& name) {
    if (name == "..") return dir.size() > 1 ? dir.substr(0, std::max<std::size_t>(dir.rfind('/'), 1)) : dir;
    return dir == "/" ? dir + name : dir + "/" + name;
}

// Whether a directory or link at, met on the way, is safe: one that belongs
// to neither root nor the effective user, or that others can write without
// the sticky bit (which keeps them from renaming what is not theirs), would
// let another user put something else in its place.
Status judgeOnPath(const struct stat& info, const std::string& at) {
    if (info.st_uid != 0 && info.st_uid != geteuid()) {
        return Status(EPERM, at + ", on its path, belongs to uid " + std::to_string(info.st_uid) + notThrough);
    }
    if (!S_ISLNK(info.st_mode) && (info.st_mode & (S_IWGRP | S_IWOTH)) && !(info.st_mode & S_ISVTX)) {
        return Status(EPERM, at + ", on its path, is writable by group or others; chmod go-w it, or chmod +t it");
    }
    return {};
}

// Whether dir is its own parent: the process's root directory, and no other.
bool isRoot(int dir) {
    Fd up;
    struct stat here {
    }, above{};
    return openAt(dir, "..", O_PATH | O_DIRECTORY, up).ok() && fstat(dir, &here) == 0 && fstat(up.get(), &above) == 0 &&
           here.st_dev == above.st_dev && here.st_ino == above.st_ino;
}

// text as one word of the shell: as it is when the shell takes it so, else
// in single quotes, a quote in it closed, given in double quotes and opened
// again (a backslash would show escaped on the console).
std::string shellWord(const std::string& text) {
    const char* const plain = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-+,:@%";
    if (!text.empty() && text.find_first_not_of(plain) == std::string::npos) return text;
    std::string word = "'";
    for (const char c : text) word += c == '\'' ? std::string("'\"'\"'") : std::string(1, c);
    return word + "'";
}

// The remedy for the state directory at path once others could open it: a
// private copy of the files the board trusts put in its place, the directory
// moved aside, since its lock stays with it whoever holds it, and no chmod
// revokes a descriptor, even one that waits unseen in a socket's queue. It
// needs no holder found and no root where the user can write the parent. Its
// chmod 700 comes first, so that no one else changes its names meanwhile; cp
// -p keeps each file's owner and mode for the board to judge; what is no
// regular file of one link, root's or the user's, stays aside. The names it
// makes are ones no one holds now: a command that finds the directory
// missing and the copy there says so (stepDown), and an add that locked the
// directory moved aside stores nothing (Transaction::putInPlace).
std::string replacement(const std::string& path) {
    const std::string uid = std::to_string(geteuid()), fresh = path + ".fresh", aside = nameAside(AT_FDCWD, path);
    struct stat info {};
    if (fstatat(AT_FDCWD, fresh.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        return "move away what holds " + shellWord(fresh) + ", then run the command again for its remedy";
    }
    const std::string here = shellWord(path), copy = shellWord(fresh);
    const std::string owners = geteuid() == 0 ? "-user 0" : "'(' -user " + uid + " -o -user 0 ')'";
    return "while no command runs, as " + (geteuid() == 0 ? "root" : "uid " + uid + " or root") +
           ", put a private copy in its place: chmod 700 " + here + " && mkdir -m 700 " + copy + " && chown " + uid +
           " " + copy + " && find " + shellWord(path + "/") + " -maxdepth 1 -type f -links 1 " + owners +
           " '(' -name board.conf -o -name users -o -name users.new -o -name users.tmp -o -name trace.log -o -name"
           " event.log ')' -exec cp -p -t " +
           copy + " {} + && mv -T " + here + " " + shellWord(aside) + " && mv -T " + copy + " " + here;
}

// Whether the state directory itself, at path (as walked: links followed),
// can be trusted: no one else may write it (to plant a file or a link) or
// read it. A directory that every user shares, the root or a sticky one open
// to all as /tmp is, is never to be made private: the remedy is a directory
// of one's own.
Status judgeStateDir(int dir, const struct stat& info, const std::string& path) {
    const char* const own = "; set USERCTL_BOARD_DIR to a directory of your own";
    if (isRoot(dir)) return Status(EPERM, std::string("the root directory") + own);
    if ((info.st_mode & S_ISVTX) && (info.st_mode & S_IWOTH)) {
        return Status(EPERM, std::string("shared by every user (sticky)") + own);
    }
    if (info.st_uid != geteuid()) {
        return Status(EPERM, "owned by uid " + std::to_string(info.st_uid) + ", not by uid " +
                                 std::to_string(geteuid()) + " that runs the command" + own +
                                 ", or move it aside (the board makes a new one)");
    }
    // A descriptor another user opened while they could read the directory
    // outlives any chmod, and with it they can hold the store's lock (its
    // flock). One who could write it could rename or remove its files, and
    // put an older store of the user's in its place.
    const char* const held = "who may hold its lock through a descriptor no chmod revokes";
    if (info.st_mode & (S_IWGRP | S_IWOTH)) {
        return Status(EPERM, "writable by group or others, who may have renamed or removed its files, and " +
                                 std::string(held) + ": check that users holds the accounts event.log records, then, " +
                                 replacement(path));
    }
    if (info.st_mode & (S_IRGRP | S_IROTH)) {
        return Status(EPERM, "readable by group or others, " + std::string(held) + "; " + replacement(path));
    }
    return {};
}

// The root directory. An emulator that runs the board over a system root of
// its own (qemu-user's -L) opens that one for "/", which is then not its own
// parent; /proc/self/root still names the real one.
Status openRoot(Fd& root) {
    if (Status opened = openAt(AT_FDCWD, "/", O_PATH | O_DIRECTORY, root); !opened.ok()) return opened;
    Fd real;
    if (!isRoot(root.get()) && openAt(AT_FDCWD, "/proc/self/root", O_PATH | O_DIRECTORY, real).ok() &&
        isRoot(real.get())) {
        root = std::move(real);
    }
    return {};
}

// Where a walk to the state directory stands: the directory it has reached,
// judged by what was opened, never by the path's text, so that nothing
// another user swaps in on the way is used unseen.
struct Walk {
    std::string path;           // the state directory's, for messages
    std::vector<Name> pending;  // the names still to walk, the next one last
    Fd here;                    // the directory reached
    std::string at = "/";       // its path, for messages
    int links = 0;              // followed so far
};

// An error the system gave on the way: where, and where else to look.
Status failedStep(const Walk& walk, const std::string& step, const Status& error) {
    return Status(error.error(), (step == walk.path ? "" : step + ": ") + error.reason() + elsewhere);
}

// A directory the path names but the system lacks, missing while a copy of
// the user's named for it waits beside it: it is being replaced
// (replacement), or its replacement was interrupted, and a fresh empty board
// made there would hide every account.
Status notReplaced(const Walk& walk, const std::string& name, const std::string& step) {
    struct stat info {};
    if (fstatat(walk.here.get(), (name + ".fresh").c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(info.st_mode) || info.st_uid != geteuid()) {
        return {};
    }
    return Status(ENOENT, (step == walk.path ? "" : step + ": ") + "missing, but " + step +
                              ".fresh, a directory of yours, is there: a private copy put in its place was"
                              " interrupted, or is under way; once no command runs, finish it: mv -T " +
                              shellWord(step + ".fresh") + " " + shellWord(step));
}

// A directory the path names but the system lacks, made private: it is then
// opened and judged as anything found.
Status makeDirectory(int dir, const std::string& name, Fd& made) {
    const PrivateUmask privately;
    // EEXIST: another process made it meanwhile.
    if (mkdirat(dir, name.c_str(), 0700) != 0 && errno != EEXIST) return Status(errno);
    return openAt(dir, name.c_str(), O_PATH | O_NOFOLLOW, made);
}

// A link of root's or the user's: the walk goes on with its text, from the
// root when it is absolute. Another user's link is refused before it is
// read: where it leads is theirs to change.
Status follow(Walk& walk, const Fd& link, const struct stat& info, const std::string& step) {
    if (Status safe = judgeOnPath(info, step); !safe.ok()) return safe;
    char target[PATH_MAX];
    const ssize_t size = readlinkat(link.get(), "", target, sizeof target);
    if (size < 0) return failedStep(walk, step, Status(errno));
    if (++walk.links > maxLinks) return failedStep(walk, step, Status(ELOOP));
    if (size == sizeof target) return failedStep(walk, step, Status(ENAMETOOLONG));
    if (target[0] == '/') {
        if (Status root = openRoot(walk.here); !root.ok()) return failedStep(walk, step, root);
        walk.at = "/";
    }
    pushNames(walk.pending, std::string_view(target, static_cast<std::size_t>(size)), step);
    return {};
}

// One name down from the directory reached: a directory, made when the path
// names it and it is missing, or a link.
Status stepDown(Walk& walk, const Name& name) {
    const std::string step = joined(walk.at, name.text);
    Fd next;
    Status opened = openAt(walk.here.get(), name.text.c_str(), O_PATH | O_NOFOLLOW, next);
    if (opened.error() == ENOENT) {
        if (Status replaced = notReplaced(walk, name.text, step); !replaced.ok()) return replaced;
    }
    if (opened.error() == ENOENT && !name.link.empty()) {
        return Status(ENOENT,
                      name.link + ", on its path, leads nowhere; set USERCTL_BOARD_DIR to the directory itself");
    }
    if (opened.error() == ENOENT) opened = makeDirectory(walk.here.get(), name.text, next);
    struct stat info {};
    if (opened.ok() && fstat(next.get(), &info) != 0) opened = Status(errno);
    if (!opened.ok()) return failedStep(walk, step, opened);
    if (S_ISLNK(info.st_mode)) return follow(walk, next, info, step);
    if (!S_ISDIR(info.st_mode)) return failedStep(walk, step, Status(ENOTDIR));
    walk.here = std::move(next);
    walk.at = step;
    return {};
}

// "..": the directory above, judged in its turn as any other reached.
Status stepUp(Walk& walk) {
    const std::string step = joined(walk.at, "..");
    Fd up;
    if (Status opened = openAt(walk.here.get(), "..", O_PATH | O_DIRECTORY, up); !opened.ok()) {
        return failedStep(walk, step, opened);
    }
    walk.here = std::move(up);
    walk.at = step;
    return {};
}

// The state directory itself, opened for reading from the descriptor that was
// judged, so that nothing can be swapped in between.
Status openLast(const Walk& walk, Fd& dir) {
    Fd opened;
    struct stat info {};
    Status status = openAt(walk.here.get(), ".", O_RDONLY | O_DIRECTORY, opened);
    if (status.ok() && fstat(opened.get(), &info) != 0) status = Status(errno);
    if (!status.ok()) return failedStep(walk, walk.at, status);
    if (status = judgeStateDir(opened.get(), info, walk.at); status.ok()) dir = std::move(opened);
    return status;
}

// The directory at path, an absolute one, reached from "/" a name at a time.
// Every directory the walk leaves is judged first, one left through ".." too.
Status walkTo(const std::string& path, Fd& dir) {
    Walk walk;
    walk.path = path;
    pushNames(walk.pending, path, "");
    if (Status root = openRoot(walk.here); !root.ok()) return failedStep(walk, "/", root);
    while (!walk.pending.empty()) {
        struct stat info {};
        if (fstat(walk.here.get(), &info) != 0) return failedStep(walk, walk.at, Status(errno));
        if (Status safe = judgeOnPath(info, walk.at); !safe.ok()) return safe;
        const Name name = std::move(walk.pending.back());
        walk.pending.pop_back();
        if (Status stepped = name.text == ".." ? stepUp(walk) : stepDown(walk, name); !stepped.ok()) return stepped;
    }
    return openLast(walk, dir);
}

}  // namespace

StateDir learnStateDir() {
    StateDir state;
    state.path = findStateDir();
    // Its files' names are joined to it with a "/" of their own.
    while (state.path.size() > 1 && state.path.back() == '/') state.path.pop_back();
    if (state.path.empty()) {
        state.status =
            Status(ENOENT,
                   "no state directory: USERCTL_BOARD_DIR is unset, XDG_STATE_HOME and HOME are unset or "
                   "relative, and uid " +
                       std::to_string(geteuid()) + " has no home directory; set USERCTL_BOARD_DIR to an absolute path");
    } else if (state.path[0] != '/') {
        // Relative, it would depend on the directories above the working one, which nothing here judges.
        state.status = Status(EINVAL, "a relative path; give USERCTL_BOARD_DIR as an absolute path");
    } else {
        state.status = walkTo(state.path, state.dir);
    }
    const int error = state.status.error();
    if (error == EMFILE || error == ENFILE || error == ENOMEM) {
        // The process's limits, no fault of the directory.
        state.status = Status(error, state.path + ": cannot open: " + std::strerror(error) +
                                         (error == EMFILE ? "; raise the limit on open files (ulimit -n)" : ""));
    } else if (!state.path.empty() && !state.status.ok()) {
        state.status = state.status.within(state.path + ": not used as the state directory");
    }
    return state;
}

}  // namespace board
