#include <gtest/gtest.h>

#include "AddUser.h"
#include "Console.h"
#include "PException.h"
#include "Records.h"
#include "TestPlatform.h"

namespace {

const std::string name = "operator_01";
const std::string secret = "S3cret!pw";
const std::string invalid = "The specified parameter is invalid.\n";

class AddUserRun : public testing::Test {
protected:
    void SetUp() override { testplatform::reset(); }
    void TearDown() override {
        // No password ever reaches a log, whatever the outcome.
        for (const std::string& line : board.trace) EXPECT_EQ(line.find(secret), std::string::npos) << line;
        for (const auto& event : board.events) EXPECT_EQ(event.text.find(secret), std::string::npos);
        EXPECT_EQ(board.requesters, 0);
    }
    int run(const std::vector<std::string>& words, const std::string& input = "") {
        Words argv(words);
        int status = -1;
        console = withConsole(input, [&] { status = AddUser().processCommand(argv.count(), argv.data()); });
        for (int i = 1; i <= 2 && i < argv.count(); ++i) {
            EXPECT_EQ(argv.at(i), std::string(words[i].size(), 'x')) << "password word " << i << " left in argv";
        }
        return status;
    }
    std::vector<std::string> account(const std::string& privilege, std::vector<std::string> rest = {}) {
        std::vector<std::string> words = {name, secret, secret, privilege};
        words.insert(words.end(), rest.begin(), rest.end());
        return words;
    }
    testplatform::State& board = testplatform::state();
    ConsoleOutput console;
};

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

TEST_F(AddUserRun, ParsingStopsAtTheFirstFaultWithItsOwnTraceLine) {
    const std::string base = "CLI UserCommandCommon: ";
    const struct {
        std::vector<std::string> words;
        std::vector<std::string> trace;
    } table[] = {
        {{}, {"CLI add user: This command need parameters at least 4 ."}},
        {{name, secret, secret}, {"CLI add user: This command need parameters at least 4 ."}},
        {{"1bad", "x", "y", "z"}, {base + "Username is too short. [1bad] "}},
        {{name, "short", secret, "admin"}, {base + "Password is too short."}},
        {{name, secret, "short", "admin"}, {base + "Password is too short."}},
        {{name, secret, secret + " ", "admin"}, {base + "Invalid character is included in Password."}},
        {{name, secret, lower(secret), "admin"}, {"CLI add user: The specified password is invalid."}},
        {{name, secret, secret, "Admin"}, {base + "privilege [Admin] is not supported."}},
        {{name, secret, secret, "partition_operator"},
         {"CLI add user: This command need [partition] parameter at Partition Operator."}},
        {{name, secret, secret, "partition_operator", "quiet"},
         {base + "The specified partition number is invalid. [quiet]"}},
        {{name, secret, secret, "admin", "0-1"}, {}},
        {{name, secret, secret, "admin", "Quiet"}, {}},
        {{name, secret, secret, "user", "quiet", "quiet"}, {"CLI add user: Needless parameters are specified."}},
        {{name, secret, secret, "partition_operator", "all", "quiet", "x"},
         {"CLI add user: Needless parameters are specified."}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(testing::PrintToString(row.words));
        testplatform::reset();
        EXPECT_EQ(run(row.words), 1);
        EXPECT_EQ(console.err, invalid);
        EXPECT_EQ(console.out, "");
        EXPECT_EQ(board.trace, row.trace);
        EXPECT_TRUE(board.requests.empty());
        EXPECT_TRUE(board.events.empty());
    }
}

TEST_F(AddUserRun, SendsTheRecordByteForByte) {
    const std::string longName = "a" + std::string(31, 'B');
    const std::string longSecret = std::string(31, '#') + "|";
    EXPECT_EQ(run({longName, longSecret, longSecret, "partition_operator", "1,0", "quiet"}), 0);
    ASSERT_EQ(board.requests.size(), 1u);
    EXPECT_EQ(board.requests[0].code, 0x020100EBu);
    EXPECT_EQ(board.requests[0].size, 212u);

    std::vector<unsigned char> expected(212, 0);
    std::copy(longName.begin(), longName.end(), expected.begin());
    std::copy(longSecret.begin(), longSecret.end(), expected.begin() + 36);
    std::copy(longSecret.begin(), longSecret.end(), expected.begin() + 104);
    expected[143] = 5;  // privilege, big-endian
    expected[144] = 1;  // entry flag
    expected[211] = 3;  // partitions 0 and 1
    EXPECT_EQ(board.requests[0].bytes, expected);

    EXPECT_EQ(console.out, "");
    EXPECT_EQ(console.err, "User addition was completed.\n");
    EXPECT_EQ(board.trace, std::vector<std::string>{"Command completed. [add user " + longName +
                                                    " ******** ******** partition_operator 1,0 quiet]"});
    const std::string text = "User account " + longName + " (Partition#0,#1): Add";
    ASSERT_EQ(board.events.size(), 1u);
    const testplatform::Event& event = board.events[0];
    EXPECT_EQ(event.length, static_cast<long>(text.size()));
    EXPECT_EQ(event.text, text);
    EXPECT_EQ(event.kind, 1ul);
    EXPECT_EQ(event.login, "alice");
    EXPECT_EQ(event.origin, "pts/0");
    EXPECT_EQ(event.code, "0xFF");
}

TEST_F(AddUserRun, RefusalsAndFailuresMapToTheirStatus) {
    const std::string failed = "Command failed. [add user " + name + " ******** ******** admin quiet]";
    const HalmLib::PException unavailable(1, 80, 23296, 1, 1537, 20019,
                                          reinterpret_cast<long>("Management service unavailable"), 0, 0, 0, 0, 0,
                                          0, 0);
    const struct {
        std::int32_t errorCode;
        std::exception_ptr raises;
        int status;
        std::string err;
        std::string trace;
    } table[] = {
        {1036, nullptr, 47, "Same name already exists. User addition failed.\n", failed + " (detail=0, action=0)"},
        {1037, nullptr, 46, "No more User addition.\n", failed + " (detail=0, action=0)"},
        {1, nullptr, 3, "Failed to execute add user command.\n", failed + " (detail=0, action=0)"},
        {0, std::make_exception_ptr(unavailable), 3, "Failed to execute add user command.\n",
         failed + " (detail=20019, action=1537)"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.status);
        testplatform::reset();
        board.setInfoResult = 0;
        board.setInfoError = row.errorCode;
        board.setInfoRaises = row.raises;
        EXPECT_EQ(run(account("admin", {"quiet"})), row.status);
        EXPECT_EQ(console.err, row.err);
        EXPECT_EQ(board.trace, std::vector<std::string>{row.trace});
        EXPECT_TRUE(board.events.empty());
    }
}

TEST_F(AddUserRun, AFailedLoginLookupEndsBeforeTheQuestion) {
    board.loginResult = -1;
    EXPECT_EQ(run(account("admin"), "y\n"), 3);
    EXPECT_EQ(console.out, "");
    EXPECT_EQ(console.err, "Failed to execute add user command.\n");
    EXPECT_EQ(board.trace, std::vector<std::string>{"Command failed. [add user " + name +
                                                    " ******** ******** admin (UtmpUtil::getUserInfo()) failed.)] "
                                                    "(detail=0, action=0)"});
    EXPECT_TRUE(board.requests.empty());
}

TEST_F(AddUserRun, TextsStayWithinTheirBuffers) {
    std::string specification = "0";
    while (specification.size() < 600) specification += ",0";
    EXPECT_EQ(run(account("partition_operator", {specification, "quiet"})), 0);
    ASSERT_EQ(board.trace.size(), 1u);
    EXPECT_EQ(board.trace[0].size(), 255u);
    EXPECT_EQ(board.trace[0].rfind("Command completed. [add user " + name + " ******** ******** ", 0), 0u);
}
