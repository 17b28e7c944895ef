#include "Harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <stdexcept>

#include "CGIRequester.h"
#include "CallerSignals.h"
#include "PException.h"

namespace kit {

namespace {

// What a child's standard input holds: a call that reads it takes some.
const char stdinBytes[] = "kit\n";
constexpr std::size_t stdinSize = sizeof stdinBytes - 1;
// How long the parent waits for a child it has killed to be gone.
constexpr long reapMs = 10000;
// The signals that end the kit, which end its children first.
constexpr int endingKit[] = {SIGTERM, SIGINT, SIGHUP};

const std::vector<Helper>* knownHelpers = nullptr;
// In a child: its ends of the pipes to the parent.
int reportFd = -1;
int replyFd = -1;
// In the parent: its ends of the pipes of the children running, which a
// child forked meanwhile closes; the children running, which a signal that
// ends the kit ends first; and a pipe that a child's end writes to.
std::vector<int> held;
volatile pid_t running[4] = {};
int ended[2] = {-1, -1};
// The report could not be written: the run ends.
bool reportBroken = false;

struct Pipes {
    int report[2];  // child to parent: lines of a kind letter and a text
    int reply[2];   // parent to child: the answers to its questions
    int out[2];     // the child's standard output
    int in[2];      // the child's standard input
    int err[2];     // the child's standard error
};

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A part of the report; once one is lost, no more is written.
bool say(const std::string& text) {
    if (!reportBroken && !writeAll(STDOUT_FILENO, text)) {
        reportBroken = true;
        std::fprintf(stderr, "userctl-conformance: cannot write the report: %s\n", std::strerror(errno));
    }
    return !reportBroken;
}

// One line to the parent: its kind, then the text on one line.
void sendLine(int fd, char kind, std::string text) {
    std::replace(text.begin(), text.end(), '\n', '\t');
    writeAll(fd, kind + text + '\n');
}

std::string readLine(int fd) {
    std::string line;
    char c = 0;
    while (true) {
        const ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || c == '\n') return line;
        line += c;
    }
}

std::string encode(const Verdict& verdict) { return static_cast<char>(verdict.kind) + verdict.reason; }
Verdict decode(const std::string& line) {
    if (line.empty()) return fail("no answer");
    return {static_cast<Verdict::Kind>(line[0]), line.substr(1)};
}

// What a call must leave as it was: the signal mask, every handler and its
// POSIX flags (the C library adds flags of its own, as SA_RESTORER, to any
// handler set), the threads (counted against the start, as an emulator may
// run its own).
constexpr int posixFlags =
    SA_NOCLDSTOP | SA_NOCLDWAIT | SA_SIGINFO | SA_ONSTACK | SA_RESTART | SA_NODEFER | SA_RESETHAND;
struct ProcessState {
    sigset_t mask;
    std::vector<std::uintptr_t> handlers;
    std::size_t threads = 0;
};

std::size_t countThreads() {
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks) return 0;
    std::size_t count = 0;
    while (const dirent* entry = readdir(tasks)) count += entry->d_name[0] != '.';
    closedir(tasks);
    return count;
}

ProcessState snapshot() {
    ProcessState state;
    sigprocmask(SIG_BLOCK, nullptr, &state.mask);
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction action {};
        const bool known = sigaction(signal, nullptr, &action) == 0;
        state.handlers.push_back(known ? reinterpret_cast<std::uintptr_t>(action.sa_handler) : 0);
        state.handlers.push_back(known ? static_cast<std::uintptr_t>(action.sa_flags & posixFlags) : 0);
    }
    state.threads = countThreads();
    return state;
}

std::string changes(const ProcessState& before, const ProcessState& after, unsigned common) {
    std::string found;
    for (int signal = 1; signal < NSIG && (common & signals) != 0; ++signal) {
        if (sigismember(&before.mask, signal) != sigismember(&after.mask, signal))
            found += "\nthe signal mask changed for signal " + std::to_string(signal);
        const auto at = static_cast<std::size_t>(signal - 1) * 2;
        if (before.handlers[at] != after.handlers[at] || before.handlers[at + 1] != after.handlers[at + 1])
            found += "\nthe handler of signal " + std::to_string(signal) + " changed";
    }
    if ((common & threads) != 0 && after.threads > before.threads)
        found += "\n" + std::to_string(after.threads - before.threads) + " thread(s) left running";
    return found.empty() ? found : found.substr(1);
}

Verdict caught(const Body& body) {
    try {
        return body();
    } catch (const HalmLib::PException& exception) {
        return fail("threw PException (action " + std::to_string(exception.getActionCode()) + ", detail " +
                    std::to_string(exception.getExceptionDetail()) + ")");
    } catch (const std::exception& exception) {
        return fail(std::string("threw ") + exception.what());
    } catch (...) {
        return fail("threw an exception of an unknown type");
    }
}

// A child's run of body, the state its calls must keep checked after them.
Verdict guardedRun(const Body& body, unsigned common) {
    const ProcessState before = snapshot();
    Verdict verdict = caught(body);
    const std::string changed = changes(before, snapshot(), common);
    if (changed.empty()) return verdict;
    return fail(verdict.kind == Verdict::Kind::failed ? verdict.reason + "\n" + changed : changed);
}

// The process as userctl makes its calls: what it ignores ignored, what it
// holds across an add held (with the kernel's own call, as userctl does), the
// parent's own handlers gone.
void callAsUserctl() {
    for (const int number : endingKit) signal(number, SIG_DFL);
    signal(SIGCHLD, SIG_DFL);
    for (const int number : callerSignals::ignored) signal(number, SIG_IGN);
    const callerSignals::KernelSet holding = callerSignals::heldAcrossAdd();
    syscall(SYS_rt_sigprocmask, SIG_BLOCK, holding.words, nullptr, sizeof holding.words);
}

[[noreturn]] void childMain(const Body& body, unsigned common, const Pipes& pipes) {
    for (const int fd : held) close(fd);
    held.clear();
    for (int& fd : ended) close(std::exchange(fd, -1));
    callAsUserctl();
    dup2(pipes.in[0], STDIN_FILENO);
    dup2(pipes.out[1], STDOUT_FILENO);
    dup2(pipes.err[1], STDERR_FILENO);
    for (const int fd :
         {pipes.in[0], pipes.out[0], pipes.out[1], pipes.err[0], pipes.err[1], pipes.report[0], pipes.reply[1]})
        close(fd);
    reportFd = pipes.report[1];
    replyFd = pipes.reply[0];
    const Verdict verdict = guardedRun(body, common);
    sendLine(reportFd, 'R', encode(verdict));
    // Ends as a command does, so that what a library does at a normal end runs.
    std::exit(0);
}

long now() {
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC, &time);
    return time.tv_sec * 1000L + time.tv_nsec / 1000000L;
}

Verdict runChild(const Body& body, unsigned common);

// What the parent reads of a child's stream: the bytes, and their count.
struct Stream {
    int fd;
    std::string bytes;
    std::size_t size = 0;
};

// The parent's view of a running child.
struct Watch {
    Watch(pid_t pid, const Pipes& pipes) : pid(pid), pipes(pipes) {}

    static constexpr long budget = static_cast<long>(HalmLib::callSeconds) * 1000L;
    pid_t pid;
    const Pipes& pipes;
    long deadline = now() + budget;  // the last beat's, or the child's start's
    Stream report{pipes.report[0], {}}, out{pipes.out[0], {}}, err{pipes.err[0], {}};
    bool late = false;
    bool reported = false;
    bool exited = false;
    int status = 0;
    Verdict result;
};

void answer(Watch& watch, const std::string& question) {
    const std::size_t blank = question.find(' ');
    const std::string word = question.substr(0, blank);
    const std::string argument = blank == std::string::npos ? std::string() : question.substr(blank + 1);
    const auto known = std::find_if(knownHelpers->begin(), knownHelpers->end(),
                                    [&](const Helper& helper) { return word == helper.word; });
    Verdict reply = fail("the kit knows no question " + word);
    if (known != knownHelpers->end()) reply = runChild([&] { return known->answer(argument); }, everyCommon);
    sendLine(watch.pipes.reply[1], 'A', encode(reply));
}

void handle(Watch& watch, const std::string& line) {
    const std::string text = line.empty() ? line : line.substr(1);
    const long start = now();
    switch (line.empty() ? ' ' : line[0]) {
    case 'B': watch.deadline = start + Watch::budget; return;
    case 'N':
        sendLine(watch.pipes.reply[1], say("# adding account " + text + " (remove it when done)\n") ? 'y' : 'n', "");
        break;
    case 'Q': answer(watch, text); break;
    case 'R':
        watch.result = decode(text);
        watch.reported = true;
        return;
    default: return;
    }
    watch.deadline += now() - start;  // the asker waited for the parent meanwhile
}

// Takes what is ready on stream: read's result.
ssize_t take(Stream& stream) {
    char chunk[4096];
    ssize_t n = 0;
    while ((n = read(stream.fd, chunk, sizeof chunk)) < 0 && errno == EINTR) {
    }
    if (n <= 0) return n;
    stream.size += static_cast<std::size_t>(n);
    if (stream.bytes.size() < 65536) stream.bytes.append(chunk, static_cast<std::size_t>(n));
    return n;
}

// The whole lines read: the report's handled, standard error's passed on.
void lines(Watch& watch) {
    for (std::size_t end; (end = watch.report.bytes.find('\n')) != std::string::npos;) {
        const std::string line = watch.report.bytes.substr(0, end);
        watch.report.bytes.erase(0, end + 1);
        handle(watch, line);
    }
    const std::size_t whole = watch.err.bytes.rfind('\n');
    if (whole == std::string::npos) return;
    writeAll(STDERR_FILENO, watch.err.bytes.substr(0, whole + 1));
    watch.err.bytes.erase(0, whole + 1);
}

void drainEnded() {
    char bytes[64];
    while (read(ended[0], bytes, sizeof bytes) > 0) {
    }
}

bool reaped(Watch& watch) {
    if (!watch.exited && waitpid(watch.pid, &watch.status, WNOHANG) == watch.pid) watch.exited = true;
    return watch.exited;
}

// Waits for the child's end until the time left runs out.
void awaitEnd(Watch& watch, long until) {
    for (long left; !reaped(watch) && (left = until - now()) > 0;) {
        pollfd end{ended[0], POLLIN, 0};
        if (poll(&end, 1, static_cast<int>(std::min(left, long{INT_MAX}))) > 0) drainEnded();
    }
}

// Follows the child until it ends or a call passes its bound.
void follow(Watch& watch) {
    Stream* streams[] = {&watch.report, &watch.out, &watch.err};
    while (!reaped(watch)) {
        const long left = watch.deadline - now();
        if (left <= 0) {
            kill(watch.pid, SIGKILL);
            watch.late = true;
            awaitEnd(watch, now() + reapMs);
            return;
        }
        pollfd fds[4] = {{ended[0], POLLIN, 0}};
        for (int i = 0; i < 3; ++i) fds[i + 1] = {streams[i]->fd, POLLIN, 0};
        if (poll(fds, 4, static_cast<int>(std::min(left, long{INT_MAX}))) < 0 && errno != EINTR) return;
        if (fds[0].revents != 0) drainEnded();
        for (int i = 0; i < 3; ++i) {
            if (fds[i + 1].revents == 0) continue;
            const ssize_t n = take(*streams[i]);
            if (n == 0 || (n < 0 && errno != EAGAIN)) streams[i]->fd = -1;
        }
        lines(watch);
    }
    // What it wrote before it ended, and what is left of it when it ends.
    for (Stream* stream : streams) {
        while (stream->fd >= 0 && take(*stream) > 0) {
        }
    }
    lines(watch);
}

// The reasons a child's end and its standard streams give against it.
std::string misconduct(const Watch& watch, std::size_t unread, unsigned common) {
    std::string found;
    if (watch.late) {
        found += "\na call made no return within " + std::to_string(HalmLib::callSeconds) + " s: killed";
    } else if (!watch.exited) {
        found += "\nits end could not be followed";
    } else if (WIFSIGNALED(watch.status)) {
        found += "\n" + killedBy(WTERMSIG(watch.status));
    } else if (!watch.reported) {
        found += "\nended with status " + std::to_string(WEXITSTATUS(watch.status)) + " without a result";
    }
    if ((common & output) != 0 && watch.out.size > 0) {
        std::string shown = watch.out.bytes.substr(0, 40);
        std::replace_if(
            shown.begin(), shown.end(), [](char c) { return c < ' ' || c > '~'; }, '.');
        found += "\nwrote " + std::to_string(watch.out.size) + " bytes to standard output: \"" + shown + "\"";
    }
    if ((common & input) != 0 && unread != stdinSize)
        found += "\nread " + std::to_string(stdinSize - unread) + " bytes of standard input";
    if ((common & errorLines) != 0 && !watch.err.bytes.empty())
        found += "\nwrote a line to standard error without its line feed: \"" + watch.err.bytes.substr(0, 40) + "\"";
    return found.empty() ? found : found.substr(1);
}

// The bytes a child left of its standard input, read without waiting.
std::size_t unreadInput(int fd) {
    fcntl(fd, F_SETFL, O_NONBLOCK);
    char bytes[stdinSize + 1];
    const ssize_t n = read(fd, bytes, sizeof bytes);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

Verdict conclude(Watch& watch, unsigned common) {
    const std::string found = misconduct(watch, unreadInput(watch.pipes.in[0]), common);
    if (!watch.err.bytes.empty()) writeAll(STDERR_FILENO, watch.err.bytes + "\n");
    if (found.empty()) return watch.result;
    const bool failed = watch.reported && watch.result.kind == Verdict::Kind::failed;
    return fail(failed ? watch.result.reason + "\n" + found : found);
}

bool makePipes(Pipes& pipes) {
    int* ends[] = {pipes.report, pipes.reply, pipes.out, pipes.in, pipes.err};
    for (int* pair : ends) {
        if (pipe(pair) != 0) return false;
    }
    for (const int fd : {pipes.report[0], pipes.out[0], pipes.err[0]}) fcntl(fd, F_SETFL, O_NONBLOCK);
    writeAll(pipes.in[1], stdinBytes);
    close(pipes.in[1]);
    return true;
}

Verdict runChild(const Body& body, unsigned common) {
    Pipes pipes{};
    if (!makePipes(pipes)) return fail(std::string("no pipe for a child: ") + std::strerror(errno));
    std::fflush(stderr);
    // No end of the kit between the fork and the child's own handlers.
    sigset_t ending, old;
    sigemptyset(&ending);
    for (const int number : endingKit) sigaddset(&ending, number);
    sigprocmask(SIG_BLOCK, &ending, &old);
    const pid_t pid = fork();
    if (pid == 0) childMain(body, common, pipes);
    sigprocmask(SIG_SETMASK, &old, nullptr);
    for (const int fd : {pipes.report[1], pipes.reply[0], pipes.out[1], pipes.err[1]}) close(fd);
    const int parentEnds[] = {pipes.report[0], pipes.reply[1], pipes.out[0], pipes.in[0], pipes.err[0]};
    Verdict verdict = fail(std::string("no child: ") + std::strerror(errno));
    if (pid > 0) {
        held.insert(held.end(), std::begin(parentEnds), std::end(parentEnds));
        const auto slot = std::find(std::begin(running), std::end(running), 0);
        if (slot != std::end(running)) *slot = pid;
        Watch watch(pid, pipes);
        follow(watch);
        verdict = conclude(watch, common);
        if (slot != std::end(running)) *slot = 0;
        held.resize(held.size() - std::size(parentEnds));
    }
    for (const int fd : parentEnds) close(fd);
    return verdict;
}

bool print(std::size_t number, const Point& point, const Verdict& verdict) {
    const std::string head = std::to_string(number) + " - " + point.name;
    switch (verdict.kind) {
    case Verdict::Kind::ok: return say("ok " + head + "\n");
    case Verdict::Kind::skipped: return say("ok " + head + " # SKIP " + verdict.reason + "\n");
    case Verdict::Kind::failed: break;
    }
    // Its reasons as comments at the line's start, which TAP readers show.
    std::string reasons = verdict.reason;
    std::replace(reasons.begin(), reasons.end(), '\t', '\n');
    std::string text = "not ok " + head + "\n";
    for (std::size_t at = 0, end = 0; at < reasons.size(); at = end + 1) {
        end = std::min(reasons.find('\n', at), reasons.size());
        text += "# " + reasons.substr(at, end - at) + "\n";
    }
    return say(text);
}

// A signal that ends the kit ends its children first: none is left to add
// an account after the kit that would have named it is gone.
void endKit(int number) {
    for (const pid_t pid : running) {
        if (pid > 0) kill(pid, SIGKILL);
    }
    signal(number, SIG_DFL);
    raise(number);
}

void childEnded(int /*number*/) {
    const int saved = errno;
    (void)!write(ended[1], "x", 1);
    errno = saved;
}

// The parent's own signals: a child's end told through a pipe that a poll
// watches, a pipe to a child that has ended failing its write alone, and an
// end of the kit ending its children.
bool watchChildren() {
    if (pipe(ended) != 0) return false;
    for (const int fd : ended) fcntl(fd, F_SETFL, O_NONBLOCK);
    struct sigaction action {};
    action.sa_handler = childEnded;
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigaction(SIGCHLD, &action, nullptr);
    action.sa_handler = endKit;
    action.sa_flags = 0;
    for (const int number : endingKit) sigaction(number, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return true;
}

// A standard stream closed would be taken by the first pipe made.
void keepStreamsOpen() {
    for (const int fd : {STDIN_FILENO, STDERR_FILENO}) {
        if (fcntl(fd, F_GETFD) < 0) (void)open("/dev/null", O_RDWR);
    }
}

}  // namespace

int runPoints(const std::vector<Point>& points, const std::vector<Helper>& helpers) {
    knownHelpers = &helpers;
    signal(SIGPIPE, SIG_IGN);
    if (!say("TAP version 13\n1.." + std::to_string(points.size()) + "\n")) return 2;
    keepStreamsOpen();
    if (!watchChildren()) {
        std::fprintf(stderr, "userctl-conformance: no pipe: %s\n", std::strerror(errno));
        return 2;
    }
    int status = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const Verdict verdict = runChild(points[i].body, points[i].common);
        if (!print(i + 1, points[i], verdict)) return 2;
        if (verdict.kind == Verdict::Kind::failed) status = 1;
    }
    return status;
}

void beat() { sendLine(reportFd, 'B', ""); }

bool named(const std::string& account) {
    sendLine(reportFd, 'N', account);
    return readLine(replyFd) == "y";
}

Verdict ask(const std::string& word, const std::string& argument) {
    sendLine(reportFd, 'Q', word + " " + argument);
    const std::string line = readLine(replyFd);
    return line.empty() ? fail("no answer to " + word) : decode(line.substr(1));
}

std::string killedBy(int signal) { return "killed by signal " + std::to_string(signal); }

GuardedBytes::GuardedBytes(std::size_t size) : base(nullptr), length(0), size(size) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    length = std::max<std::size_t>(1, (size + page - 1) / page) * page;
    void* mapped = mmap(nullptr, length + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::runtime_error("no memory for guarded bytes");
    base = static_cast<unsigned char*>(mapped);
    if (mprotect(base + length, page, PROT_NONE) != 0) {
        munmap(base, length + page);
        throw std::runtime_error("no guard page");
    }
}

GuardedBytes::~GuardedBytes() { munmap(base, length + static_cast<std::size_t>(sysconf(_SC_PAGESIZE))); }

void GuardedBytes::revoke() { mprotect(base, length, PROT_NONE); }

}  // namespace kit
