// The simulated board through the platform's own interface, each test in a
// fresh state directory.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "Board.h"
#include "CGIRequester.h"
#include "CGI_USER_INFO.h"
#include "CommonUtil.h"
#include "HalmTrace.h"
#include "PException.h"
#include "PrimitiveTypeArray.h"
#include "UtmpUtil.h"
#include "llog.h"
#include "lmsg.h"

namespace {

constexpr unsigned int addUser = 0x020100EB, userList = 0x0201004F;

CGI_USER_INFO record(const char* name, std::uint32_t privilege = 1, unsigned long mask = 1) {
    CGI_USER_INFO user{};
    std::snprintf(user.user_name, sizeof user.user_name, "%s", name);
    std::snprintf(user.password, sizeof user.password, "s3cret!");
    std::snprintf(user.password_again, sizeof user.password_again, "s3cret!");
    user.setPrivilege(privilege);
    user.entry_flag = 1;
    user.setOperablePartition(mask);
    return user;
}

unsigned mode(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

struct Recorder : HalmLib::SerializableObject {
    std::vector<unsigned char> bytes;
    unsigned int getSerialized(unsigned char*, unsigned int) const override { return 0; }
    unsigned int getSerializedSize() const override { return 0; }
    bool setSerialized(const unsigned char* data, unsigned int size) override {
        bytes.assign(data, data + size);
        return true;
    }
};

class Board : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/board-test.XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        setenv("USERCTL_BOARD_DIR", dir.c_str(), 1);
        board::forgetState();
        unsetenv("USERCTL_BOARD_FAULT");
        board::forgetState();
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string file(const char* name) const {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void put(const char* name, const std::string& text) const {
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
        board::forgetState();
    }
    // The log's lines, each without its first skip bytes.
    std::vector<std::string> lines(const char* name, std::size_t skip) const {
        std::istringstream log(file(name));
        std::vector<std::string> texts;
        for (std::string line; std::getline(log, line);) texts.push_back(line.substr(skip));
        return texts;
    }
    bool traced(const std::string& text) const { return file("trace.log").find(text) != std::string::npos; }
    int add(const CGI_USER_INFO& user) { return requester.setInfo(addUser, sizeof user, &user); }
    // Expects a platform failure from every operation that reads the settings.
    void expectPlatformFailures() {
        Recorder list;
        try {
            CommonUtil::getMaxPartitionNum();
            ADD_FAILURE() << "no platform failure";
        } catch (const HalmLib::PException& e) {
            EXPECT_EQ(e.getActionCode(), 1537);
            EXPECT_EQ(e.getExceptionDetail(), 20019);
        }
        EXPECT_THROW(requester.getInfo(userList, list), HalmLib::PException);
        EXPECT_THROW(add(record("alice")), HalmLib::PException);
    }

    std::string dir;
    HalmLib::Gui::CGIRequester requester;
};

TEST_F(Board, TraceLinesAreStampedCutAndEscaped) {
    HalmLib::trace::HalmTrace trace(1, 10, 1024);
    trace.putLog(0, "a\tb\nc\r\\d\x01\x7f\xc3\xa9 end\n");
    trace.putLog(0, std::string(300, 'x').c_str());
    const std::regex stamp("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z userctl\\[" +
                           std::to_string(getpid()) + "\\]: ");
    const std::string log = file("trace.log");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(log, match, stamp, std::regex_constants::match_continuous)) << log;
    const std::vector<std::string> expected = {"a\\tb\\nc\\r\\\\d\\x01\\x7f\xc3\xa9 end", std::string(255, 'x')};
    EXPECT_EQ(lines("trace.log", match.length()), expected);
}

TEST_F(Board, StateDirectoryFallsBackToXdgThenHome) {
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("USERCTL_BOARD_DIR", "", 1);
    board::forgetState();
    const struct { const char* variable; const char* value; const char* where; } cases[] = {
        {"XDG_STATE_HOME", "/xdg", "/xdg/userctl/board"},
        {"HOME", "/home", "/home/.local/state/userctl/board"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.variable);
        setenv(c.variable, (dir + c.value).c_str(), 1);
        board::forgetState();
        HalmLib::Report::llog_putHalmLog(1, "x", 0, "", "", "");
        unsetenv("XDG_STATE_HOME");
        board::forgetState();
        EXPECT_EQ(mode(dir + c.where), 0700u);
        EXPECT_EQ(mode(dir + c.where + "/event.log"), 0600u);
    }
    setenv("HOME", home.c_str(), 1);
    board::forgetState();
}

TEST_F(Board, SettingsAreParsedOrRefusedWithoutTouchingTheFile) {
    EXPECT_EQ(CommonUtil::getMaxPartitionNum(), 4) << "no board.conf";
    const struct { const char* conf; int partitions; const char* where; } cases[] = {
        {"", 4, ""},
        {"# comment\n\n  partitions = 8  # eight\nmax_users=3\n", 8, ""},
        {"partitions=32", 32, ""},
        {"partitions = 0\n", 0, "board.conf:1: "},
        {"partitions = 33\n", 0, "board.conf:1: "},
        {"\npartitions = 4x\n", 0, "board.conf:2: "},
        {"partitions = -1\n", 0, "board.conf:1: "},
        {"max_users = 65536\n", 0, "board.conf:1: "},
        {"max_users = 99999999999999999999\n", 0, "board.conf:1: "},
        {"colour = red\n", 0, "board.conf:1: "},
        {"partitions 4\n", 0, "board.conf:1: "},
        {"partitions = 4\npartitions = 5\n", 0, "board.conf:2: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.conf);
        put("board.conf", c.conf);
        if (c.partitions) {
            EXPECT_EQ(CommonUtil::getMaxPartitionNum(), c.partitions);
            continue;
        }
        expectPlatformFailures();
        EXPECT_EQ(file("board.conf"), c.conf);
        EXPECT_TRUE(traced(c.where));
    }
}

TEST_F(Board, AddRefusalsLeaveTheStoreAsItWas) {
    put("board.conf", "max_users = 2\n");
    ASSERT_EQ(add(record("alice")), 1);
    const std::string before = file("users");
    const struct { const char* what; std::function<void(CGI_USER_INFO&)> change; std::int32_t code; } cases[] = {
        {"existing name", [](CGI_USER_INFO&) {}, 1036},
        {"name without NUL", [](CGI_USER_INFO& u) { std::memset(u.user_name, 'b', sizeof u.user_name); }, 1},
        {"password without NUL", [](CGI_USER_INFO& u) { std::memset(u.password, 'p', sizeof u.password); }, 1},
        {"empty name", [](CGI_USER_INFO& u) { u.user_name[0] = 0; }, 1},
        {"colon", [](CGI_USER_INFO& u) { std::strcpy(u.user_name, "bo:b"); }, 1},
        {"blank", [](CGI_USER_INFO& u) { std::strcpy(u.user_name, "bo b"); }, 1},
        {"DEL", [](CGI_USER_INFO& u) { std::strcpy(u.user_name, "bob\x7f"); }, 1},
        {"non-ASCII", [](CGI_USER_INFO& u) { std::strcpy(u.user_name, "b\xc3\xb6"); }, 1},
        {"passwords differ", [](CGI_USER_INFO& u) { u.password_again[0] = 'S'; }, 1},
        {"privilege 0", [](CGI_USER_INFO& u) { u.setPrivilege(0); }, 1},
        {"privilege 6", [](CGI_USER_INFO& u) { u.setPrivilege(6); }, 1},
        {"partition 4 of 4", [](CGI_USER_INFO& u) { u.setOperablePartition(1ul << 4); }, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CGI_USER_INFO user = record("alice");
        c.change(user);
        EXPECT_EQ(add(user), 0);
        EXPECT_EQ(requester.errorCode, c.code);
        EXPECT_EQ(file("users"), before);
    }
    const CGI_USER_INFO bob = record("bob");
    EXPECT_EQ(requester.setInfo(addUser, sizeof bob - 1, &bob), 0);
    EXPECT_EQ(requester.setInfo(addUser + 1, sizeof bob, &bob), 0);
    EXPECT_EQ(requester.setInfo(addUser, sizeof bob, nullptr), 0);
    EXPECT_EQ(file("users"), before);
    ASSERT_EQ(add(bob), 1);
    EXPECT_EQ(add(record("carol")), 0);
    EXPECT_EQ(requester.errorCode, 1037);
    EXPECT_EQ(add(record("alice")), 0);
    EXPECT_EQ(requester.errorCode, 1036) << "an existing name is told before a full store";
}

TEST_F(Board, FailedWriteLeavesStoreIntact) {
    ASSERT_EQ(add(record("alice")), 1);
    const std::string before = file("users");
    ASSERT_EQ(mkdir((dir + "/users.tmp").c_str(), 0700), 0);  // cannot be replaced by a file
    EXPECT_EQ(add(record("bob")), 0);
    EXPECT_EQ(requester.errorCode, 1);
    EXPECT_EQ(file("users"), before);
    EXPECT_TRUE(traced("cannot write"));
}


}  // namespace
