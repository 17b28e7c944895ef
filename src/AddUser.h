#pragma once

#include <string>
#include <vector>

#include "HalmTrace.h"
#include "UserCommandCommon.h"

// add user NAME PASSWORD PASSWORD PRIVILEGE [PARTITIONS] [quiet]
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

    HalmLib::trace::HalmTrace trace;
    std::string cmdString;  // the command as typed, passwords included
    std::string userName;
    std::string password;
    std::string passwordAgain;
    unsigned int privilege;
    std::vector<int> partitionIdList;
    bool quiet;
    // cmdString with the two password words masked: the only form of the
    // command that reaches a log.
    std::string logString;
};
