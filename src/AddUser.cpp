#include "AddUser.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "CGIRequester.h"
#include "CGI_USER_INFO.h"
#include "HeldSignals.h"
#include "PException.h"
#include "UtmpUtil.h"
#include "llog.h"
#include "lmsg.h"

namespace {

// Where the password and its repetition stand among the words after "add user".
constexpr int passwordWord = 1;
constexpr int passwordAgainWord = 2;
constexpr std::size_t fieldTextLength = 32;

const char* const failureMessage = "Failed to execute add user command.\n";

bool isPasswordWord(int index) { return index == passwordWord || index == passwordAgainWord; }

// Once read, the passwords are wiped from the process's own argument vector,
// on every way out of the parse, so that ps and /proc/PID/cmdline do not show
// them while the question waits, the request runs or a failure is reported.
struct PasswordWordsWiper {
    int count;
    char** words;
    ~PasswordWordsWiper() {
        for (int i = 0; i < count; ++i) {
            if (isPasswordWord(i)) std::memset(words[i], 'x', std::strlen(words[i]));
        }
    }
};

// A password cleared once it has served, so that no copy outlives its use for
// a memory disclosure to find.
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
      quiet(false) {}

AddUser::~AddUser() {
    wipe(password);
    wipe(passwordAgain);
}

bool AddUser::refuse() {
    printParameterInvalid();
    return false;
}

bool AddUser::parseCommand(int count, char** words) {
    // The command text reaches the trace log: the two password words never
    // enter it.
    static const char mask[] = "********";
    std::vector<const char*> shown(words, words + count);
    for (int i = 0; i < count; ++i) {
        if (isPasswordWord(i)) shown[i] = mask;
    }
    getCmdString(cmdString, count, shown.data());
    const PasswordWordsWiper wiper{count, words};
    // "- -": the password and its repetition are read, never taken from the
    // command line, where any user could see them. A single "-" is a word of
    // its own. Where no one types them, the lines read are fixed by the words
    // alone: the two lines, before anything can fail, and a reply unless the
    // last word is quiet, by the question or else as the command ends.
    if (count >= 3 && checkKeyword(words[1], "-") && checkKeyword(words[2], "-")) {
        typed = atTerminal() ? Typed::asked : Typed::piped;
    }
    if (typed == Typed::piped) {
        typedLines = readPasswordLines(password, passwordAgain);
        replyOwed = !checkKeyword(words[count - 1], "quiet");
    }
    return judgeWords(count, words);
}

bool AddUser::judgeWords(int count, char** words) {
    if (count < 4) {
        putTrace(trace, "CLI add user: This command need parameters at least 4 .");
        return refuse();
    }
    if (!getUserName(words[0], userName)) return refuse();
    // At a terminal the passwords are asked for once every other word is judged.
    if (typed == Typed::asked) return judgeOptions(count, words) && judgePasswords(words);
    return judgePasswords(words) && judgeOptions(count, words);
}

bool AddUser::judgePasswords(char** words) {
    bool accepted = false;
    switch (typed) {
    case Typed::no: accepted = getPassword(words[1], password) && getPassword(words[2], passwordAgain); break;
    case Typed::asked: accepted = readPasswords(password, passwordAgain); break;
    case Typed::piped: accepted = judgeTyped(typedLines > 0, password) && judgeTyped(typedLines > 1, passwordAgain);
    }
    if (!accepted) return refuse();
    if (!checkKeyword(password.c_str(), passwordAgain.c_str())) {
        putTrace(trace, "CLI add user: The specified password is invalid.");
        return refuse();
    }
    return true;
}

bool AddUser::judgeOptions(int count, char** words) {
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

void AddUser::makeRecord(CGI_USER_INFO& record) {
    std::memset(&record, 0, sizeof record);
    copyField(record.user_name, userName);
    copyField(record.password, password);
    copyField(record.password_again, passwordAgain);
    // From here on the record holds the only copy.
    wipe(password);
    wipe(passwordAgain);
    record.setPrivilege(privilege);
    record.entry_flag = 1;
    unsigned long mask = 0;
    setPartitionNo(partitionIdList, mask);
    record.setOperablePartition(mask);
}

int AddUser::reportOutcome(const HalmLib::Gui::CGIRequester& requester, bool added, const std::string& description,
                           const std::string& login, const std::string& origin) {
    if (!added) {
        using namespace HalmLib::Gui::serviceError;
        const char* const text = cmdString.c_str();
        switch (requester.errorCode) {
        case userExists:
            commandFailed(trace, "Same name already exists. User addition failed.\n", text);
            return exitStatus::sameName;
        case noMoreUsers: commandFailed(trace, "No more User addition.\n", text); return exitStatus::noMoreUsers;
        default: return commandFailed(trace, failureMessage, text);
        }
    }
    char message[lmsgBufferSize];
    // The service took the account: its record first, which a board may
    // take as one with the account (the event call then throws PException
    // when the record cannot be written, and the account is not stored), and
    // only then the console, which a stopped terminal may hold up.
    trace.putLog(0, lmsg_getmsg(lmsgNumber::commandCompleted, message, cmdString.c_str()));
    lmsg_getmsg(lmsgNumber::accountEvent, message, description.c_str(), "Add");
    // An entry not written is an account not stored, whatever the board did
    // instead of throwing: never told as completed.
    if (HalmLib::Report::llog_putHalmLog(static_cast<long>(std::strlen(message)), message, 1, login.c_str(),
                                         origin.c_str(), "0xFF") != 0) {
        return callFailed(trace, failureMessage, "llog_putHalmLog");
    }
    printConsole("User addition was completed.\n");
    return exitStatus::success;
}

int AddUser::execute() {
    // From the request on, the signals a person or the system sends to end
    // or stop the process are held until the outcome is recorded, a platform
    // failure's too: a board's service may store the account as it answers,
    // and the command must not end between that and the lines that record
    // it. A stop is held too: stopped in between, an add would wait for
    // whoever continues it, and one in the background that holds SIGTTOU may
    // write its outcome to its terminal.
    std::optional<HeldSignals> held;
    try {
        std::string origin;
        std::string login;
        if (UtmpUtil::getUserInfo(origin, login) != 0) {
            // Its trace line's text says which call failed. Nothing has
            // reached the service, so no outcome's record must come first:
            // the user is told at once, before a trace line that may wait
            // for its log.
            char text[textBufferSize];
            std::snprintf(text, sizeof text, "%s (UtmpUtil::getUserInfo()) failed.)", cmdString.c_str());
            return commandFailed(trace, failureMessage, text, 0, 0, Told::consoleFirst);
        }

        HalmLib::Gui::CGIRequester requester;
        CGI_USER_INFO record;
        const RecordWiper recordWiper{record};
        makeRecord(record);

        std::string description = record.user_name;
        if (record.getPrivilege() == privilegeCode::partitionOperator) {
            description += " (Partition" + getPartitionNo(record.getOperablePartition()) + ")";
        }

        char question[textBufferSize];
        std::snprintf(question, sizeof question, "Are you sure you want to add %s ? [Y/N]: ", record.user_name);
        if (!quiet && !isExecute(question)) return exitStatus::success;

        held.emplace(HeldSignals::Which::ending);
        const bool added = requester.setInfo(HalmLib::Gui::REQ_CGI_ADD_USER, sizeof record, &record) != 0;
        return reportOutcome(requester, added, description, login, origin);
    } catch (const HalmLib::PException& exception) {
        return commandFailed(trace, failureMessage, cmdString.c_str(), exception.getExceptionDetail(),
                             exception.getActionCode());
    }
}
