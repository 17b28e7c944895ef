#pragma once

#include <string>
#include <vector>

#include "CGIRequester.h"
#include "CGI_USER_INFO.h"
#include "HalmTrace.h"
#include "UserCommandCommon.h"

// add user NAME PASSWORD PASSWORD PRIVILEGE [PARTITIONS] [quiet]
// add user NAME - - PRIVILEGE [PARTITIONS] [quiet]   (the passwords read)
//
// parseCommand judges the words in a fixed order and stops at the first
// fault; execute asks for confirmation unless quiet, then sends the account
// to the management service in one request.
class AddUser : public UserCommandCommon {
public:
    AddUser();
    ~AddUser() override;

    bool parseCommand(int count, char** words) override;
    int execute() override;

private:
    bool refuse();
    // The words judged in order; false after the first fault's messages.
    bool judgeWords(int count, char** words);
    bool judgePasswords(char** words);
    // The privilege and what may follow it.
    bool judgeOptions(int count, char** words);
    // The record of the new account; the passwords then live only there.
    void makeRecord(CGI_USER_INFO& record);
    // The request's outcome on the console, in the trace log and, for a
    // created account, in the event log; returns the exit status.
    int reportOutcome(const HalmLib::Gui::CGIRequester& requester, bool added, const std::string& description,
                      const std::string& login, const std::string& origin);

    HalmLib::trace::HalmTrace trace;
    std::string cmdString;  // the command as typed, the password words masked
    std::string userName;
    std::string password;
    std::string passwordAgain;
    unsigned int privilege;
    std::vector<int> partitionIdList;
    bool quiet;
    // Where the passwords come from: the words, or, for "- -", a terminal or
    // lines read ahead (typedLines of the two were there).
    enum class Typed { no, asked, piped } typed = Typed::no;
    int typedLines = 0;
};
