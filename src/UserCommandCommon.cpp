#include "UserCommandCommon.h"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

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

// One byte of the reply, read straight from the descriptor: a buffered read
// would take the lines that follow too, and a script that answers several
// commands through one pipe would lose them. An input left non-blocking by
// whoever started the command is waited on. False at end of input or on an
// error.
bool readReplyByte(char& c) {
    for (;;) {
        const ssize_t got = read(STDIN_FILENO, &c, 1);
        if (got == 1) return true;
        if (got == 0) return false;
        if (errno == EAGAIN) {
            pollfd input{STDIN_FILENO, POLLIN, 0};
            if (poll(&input, 1, -1) < 0 && errno != EINTR) return false;
        } else if (errno != EINTR) {
            return false;
        }
    }
}

// The typing on the terminal of standard input not echoed while it lives;
// nothing of that where standard input is no terminal. The line feed that
// ends a line is still echoed, as passwd does. Echo comes back when it ends,
// and, before the process ends, by a signal that would end it (caught for
// the purpose, where no one else handles it): it then ends the process as it
// would have. The two signals the C library keeps for threads cannot be
// caught that way: they are held meanwhile. SIGKILL cannot be caught at all,
// and a stop is no end: either leaves echo off (stty echo mends it).
class TypingHidden {
public:
    TypingHidden() : threads(HeldSignals::Which::forThreads) {
        sigemptyset(&caught);
        if (tcgetattr(STDIN_FILENO, &echoing) != 0) return;
        atTerminal = true;
        termios hidden = echoing;
        hidden.c_lflag = (hidden.c_lflag & ~tcflag_t{ECHO}) | ECHONL;
        struct sigaction restore {};
        restore.sa_handler = restoreAndEnd;
        restore.sa_flags = SA_RESETHAND;
        for (int number = 1; number < NSIG; ++number) {
            struct sigaction action {};
            if (ends(number) && sigaction(number, nullptr, &action) == 0 && !(action.sa_flags & SA_SIGINFO) &&
                action.sa_handler == SIG_DFL && sigaction(number, &restore, nullptr) == 0) {
                sigaddset(&caught, number);
            }
        }
        // Typed ahead of the first prompt, a line was echoed already: it is dropped.
        hiding = tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden) == 0;
    }
    ~TypingHidden() {
        if (hiding) tcsetattr(STDIN_FILENO, TCSANOW, &echoing);
        for (int number = 1; number < NSIG; ++number) {
            if (sigismember(&caught, number) == 1) signal(number, SIG_DFL);
        }
    }
    TypingHidden(const TypingHidden&) = delete;
    TypingHidden& operator=(const TypingHidden&) = delete;

    // Reads one line into line, after prompt at a terminal; nothing from a
    // terminal whose echo could not be turned off (the line is then empty).
    void readLine(const char* prompt, std::string& line) const {
        // Room for a password and one byte more, which a longer line fills:
        // grown no further, the string leaves no copy behind in memory it let go.
        line.clear();
        line.reserve(maxTextLength + 1);
        if (atTerminal) {
            std::fputs(prompt, stderr);  // unbuffered: on the terminal before the read
            if (!hiding) return;
        }
        for (char c = 0; readReplyByte(c) && c != '\n';) {
            if (line.size() <= maxTextLength) line += c;
        }
    }

private:
    // Whether a signal's default action ends the process.
    static bool ends(int number) {
        switch (number) {
        case SIGKILL:
        case SIGSTOP:
        case SIGTSTP:
        case SIGTTIN:
        case SIGTTOU:
        case SIGCHLD:
        case SIGCONT:
        case SIGURG:
        case SIGWINCH: return false;
        default: return true;
        }
    }
    // The handler is reset as it runs: the signal, raised again, is let in
    // once it returns, and ends the process by its default action.
    static void restoreAndEnd(int number) {
        tcsetattr(STDIN_FILENO, TCSANOW, &echoing);
        raise(number);
    }

    static termios echoing;     // the handler's too, which nothing else can reach
    const HeldSignals threads;  // first held, last let go: after echo is back
    bool atTerminal = false, hiding = false;
    sigset_t caught;
};
termios TypingHidden::echoing{};

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
    if (!parseCommand(count, words)) return exitStatus::invalid;
    return execute();
}

bool UserCommandCommon::isExecute(const char* prompt) {
    for (;;) {
        // Declined, and no reply read: the next reader of the input gets it.
        if (!writeQuestion(prompt)) return false;
        std::size_t length = 0;
        char first = 0;
        for (char c = 0;;) {
            // No line will come: take it as the user declining, never loop.
            if (!readReplyByte(c)) return false;
            if (c == '\n') break;
            if (length++ == 0) first = c;
        }
        if (length != 1) continue;
        if (first == 'N' || first == 'n') return false;
        if (first == 'Y' || first == 'y') return true;
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

void UserCommandCommon::getCmdString(std::string& text, int count, char** words) {
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

bool UserCommandCommon::readPasswords(std::string& password, std::string& passwordAgain) {
    const TypingHidden hidden;
    hidden.readLine("Password: ", password);
    if (!judgePassword(password)) return false;
    hidden.readLine("Retype password: ", passwordAgain);
    return judgePassword(passwordAgain);
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
    if (text.find_first_of(",-") == 0) return false;
    if (text.empty() || text.find_last_of(",-") == text.size() - 1) return false;
    // strtoul reads an empty item as 0: without these, "1,,2" would grant partition 0.
    for (const char* pair : {",-", "-,", ",,", "--"}) {
        if (text.find(pair) != std::string::npos) return false;
    }

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

int UserCommandCommon::commandFailed(HalmLib::trace::HalmTrace& trace, const std::string& command, const char* message,
                                     int detail, int action) {
    char text[lmsgBufferSize];
    trace.putLog(0, lmsg_getmsg(lmsgNumber::commandFailed, text, command.c_str(), detail, action));
    printConsole(message);
    return exitStatus::failed;
}
