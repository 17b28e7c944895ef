#include "Harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
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
#include "PException.h"

namespace kit {

namespace {

// Beyond the call bound, for the kit's own work in a child.
constexpr long marginSeconds = 10;
// What a child's standard input holds: a call that reads it takes some.
const char stdinBytes[] = "kit\n";
constexpr std::size_t stdinSize = sizeof stdinBytes - 1;

const std::vector<Helper>* knownHelpers = nullptr;
// In a child: its ends of the pipes to the parent.
int reportFd = -1;
int replyFd = -1;
// In the parent: its ends of the pipes of the children running, which a
// child forked meanwhile closes.
std::vector<int> held;

struct Pipes {
    int report[2];  // child to parent: lines of a kind letter and a text
    int reply[2];   // parent to child: the answers to its questions
    int out[2];     // the child's standard output
    int in[2];      // the child's standard input
};

void writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

// One line of the report: its kind, then the text on one line.
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

// What a call must leave as it was: the signal mask, every handler, the
// threads (counted against the start, as an emulator may run its own).
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
        state.handlers.push_back(known ? static_cast<std::uintptr_t>(action.sa_flags) : 0);
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

[[noreturn]] void childMain(const Body& body, unsigned common, const Pipes& pipes) {
    for (const int fd : held) close(fd);
    held.clear();
    dup2(pipes.in[0], STDIN_FILENO);
    dup2(pipes.out[1], STDOUT_FILENO);
    for (const int fd : {pipes.in[0], pipes.out[0], pipes.out[1], pipes.report[0], pipes.reply[1]}) close(fd);
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

Verdict runChild(const Body& body, unsigned calls, unsigned common);

// The parent's view of a running child.
struct Watch {
    Watch(pid_t pid, const Pipes& pipes, long budget) : pid(pid), pipes(pipes), budget(budget) {}

    pid_t pid;
    const Pipes& pipes;
    long budget;  // milliseconds from the last line the child sent
    long deadline = now() + budget;
    std::string pending;
    std::string written;  // the first bytes it wrote to standard output
    std::size_t writtenSize = 0;
    bool late = false;
    bool reported = false;
    Verdict result;
};

void answer(Watch& watch, const std::string& question) {
    const std::size_t blank = question.find(' ');
    const std::string word = question.substr(0, blank);
    const std::string argument = blank == std::string::npos ? std::string() : question.substr(blank + 1);
    const auto known = std::find_if(knownHelpers->begin(), knownHelpers->end(),
                                    [&](const Helper& helper) { return word == helper.word; });
    Verdict reply = fail("the kit knows no question " + word);
    if (known != knownHelpers->end())
        reply = runChild([&] { return known->answer(argument); }, known->calls, everyCommon);
    sendLine(watch.pipes.reply[1], 'A', encode(reply));
}

void handle(Watch& watch, const std::string& line) {
    const std::string text = line.empty() ? line : line.substr(1);
    switch (line.empty() ? ' ' : line[0]) {
    case 'C': std::printf("# %s\n", text.c_str()); break;
    case 'Q': answer(watch, text); break;
    case 'R':
        watch.result = decode(text);
        watch.reported = true;
        break;
    default: break;  // a heartbeat
    }
    watch.deadline = now() + watch.budget;
}

// Takes what is ready on fd; false at its end.
bool take(int fd, std::string& into, std::size_t& size) {
    char chunk[4096];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0) return errno == EINTR;
    size += static_cast<std::size_t>(n);
    into.append(chunk, static_cast<std::size_t>(n));
    return n > 0;
}

// Follows the child until it closes its report or passes its deadline.
void follow(Watch& watch) {
    pollfd fds[2] = {{watch.pipes.report[0], POLLIN, 0}, {watch.pipes.out[0], POLLIN, 0}};
    while (true) {
        const long left = watch.deadline - now();
        if (left <= 0) {
            kill(watch.pid, SIGKILL);
            watch.late = true;
            return;
        }
        if (poll(fds, 2, static_cast<int>(std::min(left, long{INT_MAX}))) < 0 && errno != EINTR) return;
        std::size_t ignored = 0;
        if (fds[1].revents != 0 && !take(fds[1].fd, watch.written, watch.writtenSize)) fds[1].fd = -1;
        if (fds[0].revents == 0) continue;
        if (!take(fds[0].fd, watch.pending, ignored)) return;
        for (std::size_t end; (end = watch.pending.find('\n')) != std::string::npos;) {
            const std::string line = watch.pending.substr(0, end);
            watch.pending.erase(0, end + 1);
            handle(watch, line);
        }
    }
}

// The reasons a child's end and its standard streams give against it.
std::string misconduct(const Watch& watch, int status, std::size_t unread, unsigned common) {
    std::string found;
    if (watch.late) {
        found += "\nno result within its deadline of " + std::to_string(watch.budget / 1000) + " s: killed";
    } else if (WIFSIGNALED(status)) {
        found += "\n" + killedBy(WTERMSIG(status));
    } else if (!watch.reported) {
        found += "\nended with status " + std::to_string(WEXITSTATUS(status)) + " without a result";
    }
    if ((common & output) != 0 && watch.writtenSize > 0) {
        std::string shown = watch.written.substr(0, 40);
        std::replace_if(
            shown.begin(), shown.end(), [](char c) { return c < ' ' || c > '~'; }, '.');
        found += "\nwrote " + std::to_string(watch.writtenSize) + " bytes to standard output: \"" + shown + "\"";
    }
    if ((common & input) != 0 && unread != stdinSize)
        found += "\nread " + std::to_string(stdinSize - unread) + " bytes of standard input";
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
    int status = 0;
    while (waitpid(watch.pid, &status, 0) < 0 && errno == EINTR) {
    }
    fcntl(watch.pipes.out[0], F_SETFL, O_NONBLOCK);
    while (take(watch.pipes.out[0], watch.written, watch.writtenSize) && watch.writtenSize < 65536) {
    }
    const std::string found = misconduct(watch, status, unreadInput(watch.pipes.in[0]), common);
    if (found.empty()) return watch.result;
    const bool failed = watch.reported && watch.result.kind == Verdict::Kind::failed;
    return fail(failed ? watch.result.reason + "\n" + found : found);
}

bool makePipes(Pipes& pipes) {
    int* ends[] = {pipes.report, pipes.reply, pipes.out, pipes.in};
    for (int* pair : ends) {
        if (pipe(pair) != 0) return false;
    }
    writeAll(pipes.in[1], stdinBytes);
    close(pipes.in[1]);
    return true;
}

Verdict runChild(const Body& body, unsigned calls, unsigned common) {
    Pipes pipes{};
    if (!makePipes(pipes)) return fail(std::string("no pipe for a child: ") + std::strerror(errno));
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) childMain(body, common, pipes);
    for (const int fd : {pipes.report[1], pipes.reply[0], pipes.out[1]}) close(fd);
    const int parentEnds[] = {pipes.report[0], pipes.reply[1], pipes.out[0], pipes.in[0]};
    Verdict verdict = fail(std::string("no child: ") + std::strerror(errno));
    if (pid > 0) {
        held.insert(held.end(), std::begin(parentEnds), std::end(parentEnds));
        const long budget = (static_cast<long>(HalmLib::callSeconds) * calls + marginSeconds) * 1000L;
        Watch watch(pid, pipes, budget);
        follow(watch);
        verdict = conclude(watch, common);
        held.resize(held.size() - std::size(parentEnds));
    }
    for (const int fd : parentEnds) close(fd);
    return verdict;
}

void print(std::size_t number, const Point& point, const Verdict& verdict) {
    switch (verdict.kind) {
    case Verdict::Kind::ok: std::printf("ok %zu - %s\n", number, point.name.c_str()); break;
    case Verdict::Kind::skipped:
        std::printf("ok %zu - %s # SKIP %s\n", number, point.name.c_str(), verdict.reason.c_str());
        break;
    case Verdict::Kind::failed: {
        std::printf("not ok %zu - %s\n", number, point.name.c_str());
        std::string reasons = verdict.reason;
        std::replace(reasons.begin(), reasons.end(), '\t', '\n');
        for (std::size_t at = 0, end = 0; at < reasons.size(); at = end + 1) {
            end = std::min(reasons.find('\n', at), reasons.size());
            std::printf("  # %s\n", reasons.substr(at, end - at).c_str());
        }
    }
    }
    std::fflush(stdout);
}

}  // namespace

int runPoints(const std::vector<Point>& points, const std::vector<Helper>& helpers) {
    knownHelpers = &helpers;
    std::printf("TAP version 13\n1..%zu\n", points.size());
    int status = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const Verdict verdict = runChild(points[i].body, points[i].calls, points[i].common);
        print(i + 1, points[i], verdict);
        if (verdict.kind == Verdict::Kind::failed) status = 1;
    }
    return status;
}

void comment(const std::string& text) { sendLine(reportFd, 'C', text); }
void heartbeat() { sendLine(reportFd, 'H', ""); }

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
