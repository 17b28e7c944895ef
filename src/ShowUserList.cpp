#include "ShowUserList.h"

#include <cstdio>
#include <cstring>

#include "CGIRequester.h"
#include "CGI_USER_INFO.h"
#include "PException.h"
#include "PrimitiveTypeArray.h"
#include "lmsg.h"

namespace {

const char* const failureMessage = "Failed to execute the command.\n";

}  // namespace

ShowUserList::ShowUserList()
    : trace(HalmLib::trace::cliFacility, HalmLib::trace::cliLevel, HalmLib::trace::cliLineSize),
      cmdString("show user_list") {}
ShowUserList::~ShowUserList() = default;

bool ShowUserList::parseCommand(int count, char** words) {
    getCmdString(cmdString, count, words);
    if (count <= 0) return true;
    printParameterInvalid();
    return false;
}

int ShowUserList::execute() {
    char message[lmsgBufferSize];
    try {
        HalmLib::HalmUi::PrimitiveTypeArray<CGI_USER_INFO> users;
        HalmLib::Gui::CGIRequester requester;
        if (requester.getInfo(HalmLib::Gui::REQ_CGI_GET_USER_LIST, users) == 0) {
            return callFailed(trace, failureMessage, "getInfo(REQ_CGI_GET_USER_LIST)");
        }

        printTitle();
        const unsigned int count = users.size();
        CGI_USER_INFO record;
        for (unsigned int i = 0; i < count; ++i) {
            std::memcpy(&record, &users[i], sizeof record);
            // A name that fills its field without a NUL is shown as the
            // field's bytes and no more.
            const int nameLength = static_cast<int>(strnlen(record.user_name, sizeof record.user_name));
            std::printf("%-32.*s %-18s %-s\n", nameLength, record.user_name,
                        getPrivilege(record.getPrivilege()).c_str(),
                        getPartitionNo(record.getOperablePartition()).c_str());
        }
        // A table that could not be written is no success. A failed flush
        // sets the stream's error indicator too.
        std::fflush(stdout);
        if (std::ferror(stdout)) return commandFailed(trace, failureMessage, cmdString.c_str());
        trace.putLog(0, lmsg_getmsg(lmsgNumber::commandCompleted, message, cmdString.c_str()));
        return exitStatus::success;
    } catch (const HalmLib::PException& exception) {
        return commandFailed(trace, failureMessage, cmdString.c_str(), exception.getExceptionDetail(),
                             exception.getActionCode());
    }
}

void ShowUserList::printTitle() {
    // The widths are the rows' 32 and 18 with their separating blank.
    std::printf("%-33s%-19s%-11s\n", "user_name", "privilege", "operable_partition");
    std::fflush(stdout);
}

std::string ShowUserList::getPrivilege(unsigned int privilege) {
    switch (privilege) {
    case privilegeCode::admin: return "Admin";
    case privilegeCode::operatorUser: return "Operator";
    case privilegeCode::ce: return "CE";
    case privilegeCode::partitionOperator: return "Partition Operator";
    default: return "User";  // code 3 and any unknown code
    }
}

std::string ShowUserList::getPartitionNo(unsigned long mask) { return UserCommandCommon::getPartitionNo(mask); }
