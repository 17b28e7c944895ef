#include "UserCommandCommon.h"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "CallerSignals.h"
#include "CommonUtil.h"
#include "HeldSignals.h"
#include "PartitionOperatorInfo.h"
#include "lmsg.h"

namespace {

// User names and passwords alike.
constexpr std::size_t minTextLength = 8;
constexpr std::size_t maxTextLength = 32;

constexpr std::string_view nameFirstChars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr std::string_view nameChars = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_-";

struct PrivilegeKeyword {
    const char* keyword;
    unsigned int code;
};
constexpr PrivilegeKeyword privilegeKeywords[] = {
    {"admin", privilegeCode::admin}, {"operator", privilegeCode::operatorUser},
    {"user", privilegeCode::user},   {"partition_operator", privilegeCode::partitionOperator},
    {"ce", privilegeCode::ce},
};

// One byte of standard input, read straight from the descriptor: a buffered
// read would take the lines that follow too, and a script that answers
// several commands through one pipe would lose them. 1 for a byte; 0 at end
// of input or on an error; -1 when a signal's handler interrupted the read,
// or an input left non-blocking by whoever started the command had nothing
// yet (it is then waited on).
int readByte(char& c) {
    const ssize_t got = read(STDIN_FILENO, &c, 1);
    if (got == 1) return 1;
    if (got == 0 || (errno != EINTR && errno != EAGAIN)) return 0;
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (errno == EAGAIN && poll(&input, 1, -1) < 0 && errno != EINTR) return 0;
    return -1;
}

// How a line read from standard input ended: with its line feed; as the last
// of the input, cut off by its end or by its length; or not there at all.
enum class Read { line, last, none };

// One line read into line: its bytes before the line feed, at most
// maxTextLength + 1 of them kept (a longer one is refused by its length all
// the same), nothing after it. Begun again whenever restarted() says so.
// Once the input ends, or a line passes maxLineLength bytes (an input
// without line feeds, as /dev/zero, would be read for ever), ended is set and
// nothing more is read.
Read readLine(std::string& line, bool& ended, bool (*restarted)() = nullptr) {
    // Room for a password and one byte more: grown no further, the string
    // leaves no copy behind in memory it let go.
    line.clear();
    line.reserve(maxTextLength + 1);
    std::size_t length = 0;
    // A stop: what was typed before it is asked for again.
    const auto again = [&] {
        if (!restarted || !restarted()) return false;
        line.clear();
        length = 0;
        return true;
    };
    while (!ended) {
        again();
        char c = 0;
        const int got = readByte(c);
        // A byte read as the stop came was typed before it.
        if (again() || got < 0) continue;
        if (got == 0) {
            ended = true;
        } else if (c == '\n') {
            return Read::line;
        } else {
            if (line.size() <= maxTextLength) line += c;
            if (++length > UserCommandCommon::maxLineLength) ended = true;
        }
    }
    return length > 0 ? Read::last : Read::none;
}

// The typing on the terminal of standard input not echoed while it lives;
// nothing of that where standard input is no terminal. The line feed that
// ends a line is still echoed, as passwd does. Echo comes back when it ends,
// and, before the process ends, by a signal that would end it (caught for
// the purpose, where no one else handles it): it then ends the process as it
// would have. A stop (Ctrl-Z, or a read or write from the background) gives
// the terminal back as it was first; continued in the foreground, the typing
// is hidden again and the line asked for again, as passwd does. Either
// signal drops what was typed of the line first. The two
// signals the C library keeps for threads cannot be caught that way: they are
// held meanwhile. SIGKILL cannot be caught at all: it leaves echo off (stty
// echo mends it).
class TypingHidden {
public:
    TypingHidden() : threads(HeldSignals::Which::forThreads) {
        sigemptyset(&caught);
        if (tcgetattr(STDIN_FILENO, &echoing) != 0) return;
        atTerminal = true;
        hidden = echoing;
        hidden.c_lflag = (hidden.c_lflag & ~tcflag_t{ECHO}) | ECHONL;
        for (int number = 1; number < NSIG; ++number) {
            const callerSignals::Action action = callerSignals::byDefault(number);
            if (action == callerSignals::Action::end && number != SIGKILL) catchSignal(number, restoreAndEnd);
            if (action == callerSignals::Action::stop && number != SIGSTOP) catchSignal(number, stopAndAskAgain);
        }
        // Typed ahead of the first prompt, a line was echoed already: it is dropped.
        hiding = discardAndSet(hidden);
    }
    ~TypingHidden() {
        prompt = nullptr;
        if (hiding) setTerminal(echoing);
        for (int number = 1; number < NSIG; ++number) {
            if (sigismember(&caught, number) == 1) signal(number, SIG_DFL);
        }
    }
    TypingHidden(const TypingHidden&) = delete;
    TypingHidden& operator=(const TypingHidden&) = delete;

    // Reads one line, after text at a terminal; none from a terminal whose
    // echo could not be turned off.
    Read readLine(const char* text, std::string& line, bool& ended) const {
        if (!atTerminal) return ::readLine(line, ended);
        prompt = text;
        std::fputs(text, stderr);  // unbuffered: on the terminal before the read
        if (!hiding) line.clear();
        return hiding ? ::readLine(line, ended, takeRestart) : Read::none;
    }
    // What was typed ahead of a refusal is dropped while the typing is still
    // hidden, as passwd does: left there, it would go to whatever reads the
    // terminal next, a shell that echoes it, runs it and keeps it in its
    // history.
    void discardTypedAhead() const {
        if (atTerminal) tcflush(STDIN_FILENO, TCIFLUSH);
    }

private:
    // Where no one else handles it, the signal is caught with handler, which
    // nothing else interrupts.
    void catchSignal(int number, void (*handler)(int)) {
        struct sigaction action {};
        if (sigaction(number, nullptr, &action) != 0 || (action.sa_flags & SA_SIGINFO) ||
            action.sa_handler != SIG_DFL) {
            return;
        }
        action.sa_handler = handler;
        // The handler is reset as it ends the process: the signal, raised again, acts then as it would have.
        action.sa_flags = handler == restoreAndEnd ? SA_RESETHAND : 0;
        sigfillset(&action.sa_mask);
        if (sigaction(number, &action, nullptr) == 0) sigaddset(&caught, number);
    }
    static bool setTerminal(const termios& state) {
        while (tcsetattr(STDIN_FILENO, TCSANOW, &state) != 0) {
            if (errno != EINTR) return false;
        }
        return true;
    }
    // Whenever echo comes back, or the typing is hidden again, what was typed
    // and not yet entered is dropped first, as the keyboard's own Ctrl-C and
    // Ctrl-Z drop it: left there, part of a password would show on the
    // shell's line once echo is back, one Enter from running it and keeping
    // it in its history. Dropped before the change, bytes still on their way
    // go too, never echoed. Nothing here waits for output to drain
    // (TCSAFLUSH does): a process stopped at its terminal would wait for ever.
    static bool discardAndSet(const termios& state) {
        tcflush(STDIN_FILENO, TCIFLUSH);
        return setTerminal(state);
    }
    static void restoreAndEnd(int number) {
        discardAndSet(echoing);
        raise(number);  // let in once the handler returns
    }
    static void stopAndAskAgain(int number) {
        const int saved = errno;
        discardAndSet(echoing);
        struct sigaction catching {
        }, stopping{};
        sigaction(number, &stopping, &catching);  // its default action: to stop
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, number);
        raise(number);
        sigprocmask(SIG_UNBLOCK, &only, nullptr);  // stopped here, until continued
        sigprocmask(SIG_BLOCK, &only, nullptr);
        sigaction(number, &catching, nullptr);
        if (tcgetpgrp(STDIN_FILENO) == getpgrp()) {  // in the foreground again
            discardAndSet(hidden);
            if (const char* text = prompt) (void)!write(STDERR_FILENO, text, std::strlen(text));
            restarted = 1;
        }
        errno = saved;
    }
    static bool takeRestart() {
        if (!restarted) return false;
        restarted = 0;
        return true;
    }

    // The handlers' too, which nothing else can reach.
    static termios echoing, hidden;
    static const char* volatile prompt;
    static volatile sig_atomic_t restarted;
    const HeldSignals threads;  // first held, last let go: after echo is back
    bool atTerminal = false, hiding = false;
    sigset_t caught;
};
termios TypingHidden::echoing{}, TypingHidden::hidden{};
const char* volatile TypingHidden::prompt = nullptr;
volatile sig_atomic_t TypingHidden::restarted = 0;

// The question, written straight to standard output after what stdio holds:
// false when it cannot be written, since a question nobody reads must not be
// asked forever. An output left non-blocking is waited on.
bool writeQuestion(const char* text) {
    std::fflush(stdout);
    for (std::size_t left = std::strlen(text); left > 0;) {
        const ssize_t put = write(STDOUT_FILENO, text, left);
        if (put > 0) {
            text += put;
            left -= static_cast<std::size_t>(put);
        } else if (put < 0 && errno == EAGAIN) {
            pollfd output{STDOUT_FILENO, POLLOUT, 0};
            if (poll(&output, 1, -1) < 0 && errno != EINTR) return false;
        } else if (put == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

}  // namespace

UserCommandCommon::UserCommandCommon()
    : commonTrace(HalmLib::trace::cliFacility, HalmLib::trace::cliLevel, HalmLib::trace::cliLineSize) {}
UserCommandCommon::~UserCommandCommon() = default;

int UserCommandCommon::processCommand(int count, char** words) {
    // An exception thrown from the board passes through here too: the line
    // is read as it leaves. What cannot be read (memory run out) is left.
    struct OwedReply {
        UserCommandCommon& command;
        ~OwedReply() {
            if (!std::exchange(command.replyOwed, false)) return;
            try {
                std::string line;
                readLine(line, command.inputEnded);
            } catch (...) {
            }
        }
    } const owed{*this};
    if (!parseCommand(count, words)) return exitStatus::invalid;
    return execute();
}

bool UserCommandCommon::isExecute(const char* prompt) {
    replyOwed = false;
    std::string reply;
    for (;;) {
        // Declined, and no reply read: the next reader of the input gets it.
        // No line will come: taken as the user declining, never asked again.
        if (!writeQuestion(prompt) || readLine(reply, inputEnded) != Read::line) return false;
        if (reply == "N" || reply == "n") return false;
        if (reply == "Y" || reply == "y") return true;
    }
}

bool UserCommandCommon::checkKeyword(const char* word, const char* keyword) {
    return word != nullptr && keyword != nullptr && std::strcmp(word, keyword) == 0;
}

bool UserCommandCommon::getPrivilege(const char* word, unsigned int& privilege) {
    for (const PrivilegeKeyword& entry : privilegeKeywords) {
        if (checkKeyword(word, entry.keyword)) {
            privilege = entry.code;
            return true;
        }
    }
    putTrace(commonTrace, "CLI UserCommandCommon: privilege [%.128s] is not supported.", word ? word : "");
    return false;
}

bool UserCommandCommon::getQuiet(char** words, bool& quiet) {
    quiet = checkKeyword(words[0], "quiet");
    return quiet;
}

std::string UserCommandCommon::printParameterInvalid() {
    static const char message[] = "The specified parameter is invalid.\n";
    printConsole(message);
    return message;
}

void UserCommandCommon::getCmdString(std::string& text, int count, const char* const* words) {
    for (int i = 0; i < count; ++i) {
        text += ' ';
        text += words[i];
    }
}

bool UserCommandCommon::getUserName(const char* text, std::string& userName) {
    userName = text;
    const char* name = userName.c_str();
    if (userName.size() < minTextLength) {
        putTrace(commonTrace, "CLI UserCommandCommon: Username is too short. [%.128s] ", name);
    } else if (userName.size() > maxTextLength) {
        putTrace(commonTrace, "CLI UserCommandCommon: Username is too long. [%.128s] ", name);
    } else if (nameFirstChars.find(userName[0]) == std::string_view::npos) {
        putTrace(commonTrace,
                 "CLI UserCommandCommon: Invalid character is included in UserName. [%.128s] "
                 "(top word is bad format).",
                 name);
    } else if (userName.find_first_not_of(nameChars.data(), 0, nameChars.size()) != std::string::npos) {
        putTrace(commonTrace, "CLI UserCommandCommon: Invalid character is included in UserName. [%.128s] ", name);
    } else {
        return true;
    }
    return false;
}

bool UserCommandCommon::getPassword(const char* text, std::string& password) {
    password = text;
    return judgePassword(password);
}

bool UserCommandCommon::atTerminal() {
    termios state{};
    return tcgetattr(STDIN_FILENO, &state) == 0;
}

bool UserCommandCommon::readPasswords(std::string& password, std::string& passwordAgain) {
    const TypingHidden hidden;
    const bool accepted =
        judgeTyped(hidden.readLine("Password: ", password, inputEnded) != Read::none, password) &&
        judgeTyped(hidden.readLine("Retype password: ", passwordAgain, inputEnded) != Read::none, passwordAgain);
    // A repetition that differs is the caller's refusal to tell, but a refusal all the same.
    if (!accepted || password != passwordAgain) hidden.discardTypedAhead();
    return accepted;
}

int UserCommandCommon::readPasswordLines(std::string& password, std::string& passwordAgain) {
    const int first = readLine(password, inputEnded) != Read::none;
    return first + (readLine(passwordAgain, inputEnded) != Read::none);
}

bool UserCommandCommon::judgeTyped(bool there, const std::string& password) {
    if (there) return judgePassword(password);
    putTrace(commonTrace, "CLI UserCommandCommon: Password line is missing.");
    return false;
}

bool UserCommandCommon::judgePassword(const std::string& password) {
    // Every printable ASCII character but the blank.
    const char* const allow_charset =
        "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
        "!\"#$%&'()=-^~\\@`[]{}:*;+?<.>,/_|";
    // These lines never show any part of the password.
    if (password.size() < minTextLength) {
        putTrace(commonTrace, "CLI UserCommandCommon: Password is too short.");
    } else if (password.size() > maxTextLength) {
        putTrace(commonTrace, "CLI UserCommandCommon: Password is too long.");
    } else if (password.find_first_not_of(allow_charset) != std::string::npos) {
        putTrace(commonTrace, "CLI UserCommandCommon: Invalid character is included in Password.");
    } else {
        return true;
    }
    return false;
}

bool UserCommandCommon::getPartitionType(const char* specification, std::vector<int>& list) {
    list.clear();
    if (checkKeyword(specification, "all")) {
        const int count = partitionCount();
        for (int n = 0; n < count; ++n) list.push_back(n);
        return true;
    }
    if (getPartitionIdList(specification, list)) return true;
    list.clear();
    putTrace(commonTrace, "CLI UserCommandCommon: The specified partition number is invalid. [%.128s]", specification);
    return false;
}

bool UserCommandCommon::getPartitionIdList(const char* specification, std::vector<int>& list) {
    std::string text = specification;
    // A number is written with the digits 0 to 3 only, as the board's command
    // has always read it: partitions 4 to 9 are named through a range or "all".
    if (text.find_first_not_of("0123,-") != std::string::npos) return false;
    return parsePartIdList(text, list);
}

bool UserCommandCommon::parsePartIdList(std::string& text, std::vector<int>& list) {
    // No separator at either end, none beside another (",-", "-,", ",,",
    // "--"): strtoul reads an empty item, or a signed one, as 0, and without
    // these "1,,2" or "1,-0" would grant partition 0.
    const auto separator = [](char c) { return c == ',' || c == '-'; };
    if (text.empty() || separator(text.front()) || separator(text.back())) return false;
    const auto adjacent = [&](char a, char b) { return separator(a) && separator(b); };
    if (std::adjacent_find(text.begin(), text.end(), adjacent) != text.end()) return false;

    // The rules above leave items that start with a digit and numbers that
    // end at a comma, a hyphen or the end: every pass consumes an item.
    const unsigned long count = static_cast<unsigned long>(partitionCount());
    std::uint32_t named = 0;
    const char* cursor = text.c_str();
    for (;;) {
        char* end = nullptr;
        const unsigned long first = std::strtoul(cursor, &end, 10);
        unsigned long last = first;
        if (first >= count) return false;
        if (*end == '-') {
            last = std::strtoul(end + 1, &end, 10);
            if (last >= count || first > last || *end == '-') return false;
        }
        for (unsigned long n = first; n <= last; ++n) named |= std::uint32_t{1} << n;
        if (*end != ',') break;
        cursor = end + 1;
    }

    for (unsigned long n = 0; n < count; ++n) {
        if (named & (std::uint32_t{1} << n)) list.push_back(static_cast<int>(n));
    }
    return true;
}

void UserCommandCommon::setPartitionNo(std::vector<int>& list, unsigned long& mask) {
    HalmLib::HalmUi::PartitionOperatorInfo info;
    mask = 0;
    for (int partition : list) mask = info.setOperablePartition(mask, partition);
}

std::string UserCommandCommon::getPartitionNo(unsigned long mask) {
    HalmLib::HalmUi::PartitionOperatorInfo info;
    std::string text;
    const int count = partitionCount();
    for (int n = 0; n < count; ++n) {
        if (!info.isOperablePartition(mask, n)) continue;
        if (!text.empty()) text += ',';
        char entry[16];
        std::snprintf(entry, sizeof entry, "#%d", n);
        text += entry;
    }
    return text;
}

int UserCommandCommon::partitionCount() {
    // A mask holds 32 partitions; a board that reports more or fewer must
    // not make the parser shift past the width of its set.
    const int count = CommonUtil::getMaxPartitionNum();
    constexpr int maskWidth = HalmLib::HalmUi::PartitionOperatorInfo::maskWidth;
    if (count > maskWidth) return maskWidth;
    return count < 1 ? 0 : count;
}

void UserCommandCommon::putTrace(HalmLib::trace::HalmTrace& trace, const char* format, ...) {
    char text[textBufferSize];
    va_list inserts;
    va_start(inserts, format);
    std::vsnprintf(text, sizeof text, format, inserts);
    va_end(inserts);
    trace.putLog(0, text);
}

void UserCommandCommon::printConsole(const char* message) {
    char text[textBufferSize];
    std::snprintf(text, sizeof text, "%s", message);
    std::fputs(text, stderr);
}

int UserCommandCommon::commandFailed(HalmLib::trace::HalmTrace& trace, const char* message, const char* text,
                                     int detail, int action, Told order) {
    char line[lmsgBufferSize];
    return tellFailure(trace, lmsg_getmsg(lmsgNumber::commandFailed, line, text, detail, action), message, order);
}

int UserCommandCommon::callFailed(HalmLib::trace::HalmTrace& trace, const char* message, const char* call) {
    char line[lmsgBufferSize];
    return tellFailure(trace, lmsg_getmsg(lmsgNumber::callFailed, line, call), message, Told::traceFirst);
}

int UserCommandCommon::tellFailure(HalmLib::trace::HalmTrace& trace, const char* line, const char* message,
                                   Told order) {
    if (order == Told::consoleFirst) printConsole(message);
    trace.putLog(0, line);
    if (order == Told::traceFirst) printConsole(message);
    return exitStatus::failed;
}
