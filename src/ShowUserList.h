#pragma once

#include <string>

#include "HalmTrace.h"
#include "UserCommandCommon.h"

// show user_list: prints every account of the management service as a
// table of user name, privilege and operable partitions, in service order.
class ShowUserList : public UserCommandCommon {
public:
    ShowUserList();
    ~ShowUserList() override;

    bool parseCommand(int count, char** words) override;
    int execute() override;

    void printTitle();
    std::string getPrivilege(unsigned int privilege);
    std::string getPartitionNo(unsigned long mask);

private:
    HalmLib::trace::HalmTrace trace;
    std::string cmdString;
};
