#include "AddUser.h"

#include <signal.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "CGIRequester.h"
#include "CGI_USER_INFO.h"
#include "PException.h"
#include "UtmpUtil.h"
#include "llog.h"
#include "lmsg.h"

namespace {

constexpr int passwordWord = 1;       // the password and its repetition
constexpr int passwordAgainWord = 2;  // among the words after "add user"
constexpr const char* passwordMask = "********";
constexpr std::size_t fieldTextLength = 32;

// How the service's refusals end the command.
struct Refusal {
    std::int32_t errorCode;
    int status;
    const char* message;
};
constexpr Refusal refusals[] = {
    {HalmLib::Gui::serviceError::userExists, exitStatus::sameName, "Same name already exists. User addition failed.\n"},
    {HalmLib::Gui::serviceError::noMoreUsers, exitStatus::noMoreUsers, "No more User addition.\n"},
};
constexpr Refusal otherRefusal = {0, exitStatus::failed, "Failed to execute add user command.\n"};

const Refusal& refusalFor(std::int32_t errorCode) {
    for (const Refusal& refusal : refusals) {
        if (refusal.errorCode == errorCode) return refusal;
    }
    return otherRefusal;
}

bool isPasswordWord(int index) { return index == passwordWord || index == passwordAgainWord; }

// Once copied, the passwords are wiped from the process's own argument
// vector, so that ps and /proc/PID/cmdline do not show them while the
// question waits or the request runs.
class PasswordWordsWiper {
public:
    PasswordWordsWiper(int count, char** words) : count(count), words(words) {}
    ~PasswordWordsWiper() {
        for (int i = 0; i < count; ++i) {
            if (isPasswordWord(i)) std::memset(words[i], 'x', std::strlen(words[i]));
        }
    }
    PasswordWordsWiper(const PasswordWordsWiper&) = delete;
    PasswordWordsWiper& operator=(const PasswordWordsWiper&) = delete;

private:
    int count;
    char** words;
};

// Holds, while it lives, the signals that would end the process: an account
// must not be stored without the lines that record it. One that arrives
// meanwhile ends the process as it would have, once the old mask is back.
class HeldSignals {
public:
    HeldSignals() {
        sigset_t held;
        sigfillset(&held);
        // Faults must reach the process, and its sanitizers, at once; the
        // stop signals do not end it; SIGPIPE and SIGXFSZ are ignored.
        for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGTSTP, SIGTTIN, SIGTTOU, SIGPIPE, SIGXFSZ}) {
            sigdelset(&held, s);
        }
        sigprocmask(SIG_BLOCK, &held, &old);
    }
    ~HeldSignals() { sigprocmask(SIG_SETMASK, &old, nullptr); }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

private:
    sigset_t old;
};

// A password, or a text holding one, cleared once it has served, so that no
// copy outlives its use for a memory disclosure to find.
void wipe(void* bytes, std::size_t size) { explicit_bzero(bytes, size); }
void wipe(std::string& text) {
    wipe(&text[0], text.size());
    text.clear();
}

// Clears the record's passwords on every way out of the block that sends it.
struct RecordWiper {
    CGI_USER_INFO& record;
    ~RecordWiper() {
        wipe(record.password, sizeof record.password);
        wipe(record.password_again, sizeof record.password_again);
    }
};

void copyField(char* field, const std::string& text) { std::strncpy(field, text.c_str(), fieldTextLength); }

}  // namespace

AddUser::AddUser()
    : trace(HalmLib::trace::cliFacility, HalmLib::trace::cliLevel, HalmLib::trace::cliLineSize),
      cmdString("add user"),
      privilege(0),
      quiet(false),
      logString("add user") {}

AddUser::~AddUser() {
    wipe(cmdString);
    wipe(password);
    wipe(passwordAgain);
}

bool AddUser::refuse() {
    printParameterInvalid();
    return false;
}

bool AddUser::parseCommand(int count, char** words) {
    // Grown once, so that no freed buffer keeps a part of a password.
    std::size_t length = cmdString.size();
    for (int i = 0; i < count; ++i) length += 1 + std::strlen(words[i]);
    cmdString.reserve(length);
    getCmdString(cmdString, count, words);
    for (int i = 0; i < count; ++i) {
        logString += ' ';
        logString += isPasswordWord(i) ? passwordMask : words[i];
    }
    const PasswordWordsWiper wiper(count, words);

    if (count < 4) {
        putTrace(trace, "CLI add user: This command need parameters at least 4 .");
        return refuse();
    }
    if (!getUserName(words[0], userName)) return refuse();
    if (!getPassword(words[1], password)) return refuse();
    if (!getPassword(words[2], passwordAgain)) return refuse();
    if (!checkKeyword(password.c_str(), passwordAgain.c_str())) {
        putTrace(trace, "CLI add user: The specified password is invalid.");
        return refuse();
    }
    if (!getPrivilege(words[3], privilege)) return refuse();

    int left = count - 4;
    char** next = words + 4;
    if (privilege == privilegeCode::partitionOperator) {
        if (left == 0) {
            putTrace(trace, "CLI add user: This command need [partition] parameter at Partition Operator.");
            return refuse();
        }
        if (!getPartitionType(next[0], partitionIdList)) return refuse();
        ++next;
        --left;
    }
    if (left == 0) return true;
    if (!getQuiet(next, quiet)) return refuse();
    if (left == 1) return true;
    putTrace(trace, "CLI add user: Needless parameters are specified.");
    return refuse();
}

int AddUser::execute() {
    char message[lmsgBufferSize];
    // From the request on, until its outcome is recorded, the exception's included.
    std::optional<HeldSignals> held;
    try {
        std::string origin;
        std::string login;
        if (UtmpUtil::getUserInfo(origin, login) != 0) {
            printConsole("%s", otherRefusal.message);
            char text[textBufferSize];
            std::snprintf(text, sizeof text, "%s (UtmpUtil::getUserInfo()) failed.)", logString.c_str());
            trace.putLog(0, lmsg_getmsg(lmsgNumber::commandFailed, message, text, 0, 0));
            return exitStatus::failed;
        }

        HalmLib::Gui::CGIRequester requester;

        CGI_USER_INFO record;
        std::memset(&record, 0, sizeof record);
        copyField(record.user_name, userName);
        copyField(record.password, password);
        copyField(record.password_again, passwordAgain);
        wipe(password);
        wipe(passwordAgain);
        const RecordWiper recordWiper{record};
        record.setPrivilege(privilege);
        record.entry_flag = 1;
        unsigned long mask = 0;
        setPartitionNo(partitionIdList, mask);
        record.setOperablePartition(mask);

        std::string description = record.user_name;
        if (record.getPrivilege() == privilegeCode::partitionOperator) {
            description += " (Partition" + getPartitionNo(record.getOperablePartition()) + ")";
        }

        char question[textBufferSize];
        std::snprintf(question, sizeof question, "Are you sure you want to add %s ? [Y/N]: ", record.user_name);
        if (!quiet && !isExecute(question)) return exitStatus::success;

        held.emplace();
        if (requester.setInfo(HalmLib::Gui::REQ_CGI_ADD_USER, sizeof record, &record) == 0) {
            trace.putLog(0, lmsg_getmsg(lmsgNumber::commandFailed, message, logString.c_str(), 0, 0));
            const Refusal& refusal = refusalFor(requester.errorCode);
            printConsole("%s", refusal.message);
            return refusal.status;
        }

        printConsole("User addition was completed.\n");
        trace.putLog(0, lmsg_getmsg(lmsgNumber::commandCompleted, message, logString.c_str()));
        lmsg_getmsg(lmsgNumber::accountEvent, message, description.c_str(), "Add");
        HalmLib::Report::llog_putHalmLog(static_cast<long>(std::strlen(message)), message, 1, login.c_str(),
                                         origin.c_str(), "0xFF");
        return exitStatus::success;
    } catch (const HalmLib::PException& exception) {
        trace.putLog(0, lmsg_getmsg(lmsgNumber::commandFailed, message, logString.c_str(),
                                    exception.getExceptionDetail(), exception.getActionCode()));
        printConsole("%s", otherRefusal.message);
        return exitStatus::failed;
    }
}
