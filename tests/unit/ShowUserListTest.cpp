#include <gtest/gtest.h>

#include "Console.h"
#include "PException.h"
#include "Records.h"
#include "ShowUserList.h"
#include "TestPlatform.h"

namespace {

const std::string header = "user_name" + std::string(24, ' ') + "privilege" + std::string(10, ' ') +
                           "operable_partition\n";

class ShowUserListRun : public testing::Test {
protected:
    void SetUp() override { testplatform::reset(); }
    int run(Words words = {}) {
        int status = -1;
        console = withConsole("", [&] { status = ShowUserList().processCommand(words.count(), words.data()); });
        return status;
    }
    testplatform::State& board = testplatform::state();
    ConsoleOutput console;
};

std::string row(const std::string& name, const std::string& privilege, const std::string& partitions) {
    return name + std::string(name.size() < 33 ? 33 - name.size() : 1, ' ') + privilege +
           std::string(19 - privilege.size(), ' ') + partitions + "\n";
}

}  // namespace

TEST_F(ShowUserListRun, PrintsEveryRecordInServiceOrder) {
    board.reply = serialize({record("zed_operator", 5, 0x3), record("admin_one", 1, 0), record("op_erator", 2, 0x5),
                             record("ce_person", 4, 0), record("plain_user", 3, 0), record("code_zero", 0, 0),
                             record("code_six", 6, 0), record(std::string(32, 'n'), 1, 0)});
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(console.out, header + row("zed_operator", "Partition Operator", "#0,#1") + row("admin_one", "Admin", "") +
                               row("op_erator", "Operator", "#0,#2") + row("ce_person", "CE", "") +
                               row("plain_user", "User", "") + row("code_zero", "User", "") +
                               row("code_six", "User", "") + row(std::string(32, 'n'), "Admin", ""));
    EXPECT_EQ(console.err, "");
    ASSERT_EQ(board.requests.size(), 1u);
    EXPECT_EQ(board.requests[0].code, 0x0201004Fu);
    EXPECT_EQ(board.trace, std::vector<std::string>{"Command completed. [show user_list]"});
    EXPECT_EQ(board.requesters, 0);
}

TEST_F(ShowUserListRun, ANameFillingItsFieldShowsNoMoreThanTheField) {
    CGI_USER_INFO user = record(std::string(36, 'w'), 1, 0);
    std::memset(user.password, 'P', sizeof user.password);  // what follows the field
    board.reply = serialize({user});
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(console.out, header + std::string(36, 'w') + " " + row("", "Admin", "").substr(33));
}

TEST_F(ShowUserListRun, FailuresPrintNoTable) {
    const HalmLib::PException unavailable(1, 80, 23296, 1, 1537, 20019, 0, 0, 0, 0, 0, 0, 0, 0);
    const std::vector<unsigned char> corrupt = {0, 2, 1, 2, 3};
    const struct {
        const char* name;
        int result;
        std::exception_ptr raises;
        std::vector<unsigned char> reply;
        std::string trace;
    } table[] = {
        {"refused", 0, nullptr, {0, 0}, "Platform call failed. [getInfo(REQ_CGI_GET_USER_LIST)]"},
        {"corrupt", 1, nullptr, corrupt, "Platform call failed. [getInfo(REQ_CGI_GET_USER_LIST)]"},
        {"raised", 1, std::make_exception_ptr(unavailable), {0, 0},
         "Command failed. [show user_list] (detail=20019, action=1537)"},
    };
    for (const auto& fault : table) {
        SCOPED_TRACE(fault.name);
        testplatform::reset();
        board.getInfoResult = fault.result;
        board.getInfoRaises = fault.raises;
        board.reply = fault.reply;
        EXPECT_EQ(run(), 3);
        EXPECT_EQ(console.out, "");
        EXPECT_EQ(console.err, "Failed to execute the command.\n");
        EXPECT_EQ(board.trace, std::vector<std::string>{fault.trace});
        EXPECT_EQ(board.requesters, 0);
    }
}
