// What no command reaches: the record's bytes, the list's serialized form and
// bounds, the platform exception's serialized form, the logs' dates on days
// the clock does not show, an empty argument vector, and the simulated
// board's answer to a client that breaks the contract (a trace text too long
// among them), the codes of its refusals, which userctl does not show, and
// the lock wait it takes, which a command shows only by waiting it out.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CGIRequester.h"
#include "CGI_USER_INFO.h"
#include "HalmTrace.h"
#include "LogLine.h"
#include "PException.h"
#include "PrimitiveTypeArray.h"
#include "Process.h"
#include "UserCtrlCmd.h"
#include "llog.h"

using Bytes = std::vector<unsigned char>;
using Users = HalmLib::HalmUi::PrimitiveTypeArray<CGI_USER_INFO>;

namespace {

// A list of three records, serialized; record i is named by the letter a + i and has privilege i + 1.
Bytes threeRecords() {
    Bytes bytes(2 + 3 * 212, 0);
    bytes[1] = 3;
    for (unsigned char i = 0; i < 3; ++i) {
        bytes[2 + i * 212] = 'a' + i;
        bytes[2 + i * 212 + 143] = i + 1;
    }
    return bytes;
}

// The platform exception that call throws, serialized: its six values,
// then its text; "" when it throws none.
template <typename Call>
std::string raised(Call call) {
    try {
        call();
    } catch (const HalmLib::PException& e) {
        Bytes bytes(e.getSerializedSize());
        EXPECT_EQ(e.getSerialized(bytes.data(), static_cast<unsigned int>(bytes.size())), bytes.size());
        EXPECT_THROW(e.getSerialized(bytes.data(), static_cast<unsigned int>(bytes.size() - 1)), HalmLib::PException);
        return std::to_string(e.getExceptionDetail()) + " " + std::to_string(e.getActionCode()) + " " +
               std::string(bytes.begin(), bytes.end());
    }
    return "";
}

// What the array throws: 1, 80, 23296, 1, 1537, 20019 and its text.
const std::string thrown = std::string("20019 1537 \x01\x50\x5B\x00\x01\x06\x01\x00\x00\x4E\x33", 22);

}  // namespace

TEST(Record, IntegersAreBigEndianAtTheirOffsets) {
    CGI_USER_INFO user{};
    user.setPrivilege(0x01020305);
    user.setOperablePartition(static_cast<unsigned long>(0x180000003ull));  // a 64-bit long's bit 32 is not sent
    const auto* bytes = reinterpret_cast<const unsigned char*>(&user);
    EXPECT_EQ(Bytes(bytes + 140, bytes + 144), (Bytes{1, 2, 3, 5}));
    EXPECT_EQ(Bytes(bytes + 208, bytes + 212), (Bytes{0x80, 0, 0, 3}));
    EXPECT_EQ(user.getPrivilege(), 0x01020305ul);
    EXPECT_EQ(user.getOperablePartition(), 0x80000003ul);
}

TEST(PrimitiveTypeArray, GetSerializedWritesAllOrNothing) {
    Users users;
    const Bytes in = threeRecords();
    ASSERT_TRUE(users.setSerialized(in.data(), static_cast<unsigned int>(in.size())));
    EXPECT_EQ(users.getSerializedSize(), in.size());
    EXPECT_EQ(raised([&] { users[3]; }), thrown + "Out of range");
    Bytes out(in.size(), 0xEE);
    EXPECT_EQ(raised([&] { users.getSerialized(out.data(), 637); }), thrown + "Insufficient buffer size");
    EXPECT_EQ(out, Bytes(in.size(), 0xEE));  // one byte short: nothing written
    EXPECT_EQ(users.getSerialized(out.data(), 638), in.size());
    EXPECT_EQ(out, in);
}

TEST(PException, TakesBackItsSerializedForm) {
    HalmLib::PException copy(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    // Every byte of the detail set, and a text one longer than it holds.
    const std::string head("\x01\x50\x5B\x00\x01\x06\x02\x01\x02\x4E\x33", 11), form = head + std::string(128, 'x');
    const auto* bytes = reinterpret_cast<const unsigned char*>(form.data());
    for (const unsigned int cut : {10u, 11u + 128}) EXPECT_FALSE(copy.setSerialized(bytes, cut));
    ASSERT_TRUE(copy.setSerialized(bytes, 11 + 127));
    EXPECT_EQ(raised([&] { throw copy; }), "16928307 1538 " + head + std::string(127, 'x'));
    ASSERT_TRUE(copy.setSerialized(bytes, 11));  // no text: none of the last one's left
    EXPECT_EQ(raised([&] { throw copy; }), "16928307 1538 " + head);
}

// Only the days the clock happens to show are reached end to end.
TEST(LogLine, StampsAreDatesOfTheGregorianCalendarInUtc) {
    const struct {
        timespec time;
        const char* stamp;
    } rows[] = {
        {{3600, 0}, "1970-01-01T01:00:00.000Z"},
        {{951782399, 999999999}, "2000-02-28T23:59:59.999Z"},
        {{951782400, 1000000}, "2000-02-29T00:00:00.001Z"},  // a leap day: divisible by 400
        {{4107542400, 0}, "2100-03-01T00:00:00.000Z"},       // none: divisible by 100
        {{2147483648, 0}, "2038-01-19T03:14:08.000Z"},       // past a 32-bit time_t
        {{1775001599, 0}, "2026-03-31T23:59:59.000Z"},       // a month's last day
        {{1798761599, 0}, "2026-12-31T23:59:59.000Z"},
        {{253402300799, 0}, "9999-12-31T23:59:59.000Z"},
    };
    for (const auto& row : rows) {
        std::string line = "x";
        board::appendTimestamp(line, row.time);
        EXPECT_EQ(line, std::string("x") + row.stamp);
    }
}

TEST(UserCtrlCmd, AnEmptyArgumentVectorSelectsNothing) {
    char* argv[] = {nullptr};
    EXPECT_EQ(UserCtrlCmd().execute(0, argv), 1);
}

// Each case on a state directory of its own, which the board takes afresh;
// whatever a case ends with, none of it is left for the next.
class SimulatedBoard : public testing::Test {
protected:
    void SetUp() override { fresh(); }
    void TearDown() override {
        unsetenv("USERCTL_BOARD_FAULT");
        unsetenv("USERCTL_BOARD_DIR");
        board::forgetState();
        std::filesystem::remove_all(dir);
    }
    // A new, empty state directory in place of the last.
    void fresh() {
        std::filesystem::remove_all(dir);
        dir = std::filesystem::temp_directory_path() / "userctl-unit-XXXXXX";
        ASSERT_TRUE(mkdtemp(dir.data()) && setenv("USERCTL_BOARD_DIR", dir.c_str(), 1) == 0);
        board::forgetState();
    }
    void put(const char* name, const std::string& text) const {
        const int file = open((dir + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_EQ(write(file, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(file);
    }
    std::string read(const char* name) const {
        std::ifstream file(dir + "/" + name);
        return {std::istreambuf_iterator<char>(file), {}};
    }
    std::string lastTrace() const {
        const std::string trace = read("trace.log");
        return trace.substr(trace.rfind("]: ") + 3);
    }
    std::string dir;
};

TEST_F(SimulatedBoard, RefusesRequestsThatBreakTheContract) {
    const std::string refused = "add-user request refused: ";
    // A good record with count bytes from offset set to byte; every refusal leaves the board as it was.
    const struct {
        unsigned int request, size, offset, count, byte;
        std::string trace;
    } rows[] = {
        {0x020100EC, 212, 0, 0, 0, "unknown request 0x020100ec"},
        {0x020100EB, 212, 3, 1, ':', refused + "an empty name or one with a byte outside printable ASCII or ':'"},
        {0x020100EB, 212, 0, 36, 0, refused + "an empty name or one with a byte outside printable ASCII or ':'"},
        {0x020100EB, 212, 35, 1, 'x', refused + "a text field not padded with NUL bytes"},
        {0x020100EB, 212, 0, 36, 'x', refused + "a text field not padded with NUL bytes"},
        {0x020100EB, 212, 144, 1, 0, refused + "an entry flag other than 1"},
        {0x020100EB, 212, 207, 1, 1, refused + "reserved bytes that are not zero"},
        {0x020100EB, 212, 143, 1, 6, refused + "an unknown privilege"},
        {0x020100EB, 212, 211, 1, 0x13, refused + "a partition outside the machine"},
        {0x020100EB, 212, 0, 0, 0, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.trace);
        CGI_USER_INFO user{"alice_123", "Secret#12", "Secret#12", {0, 0, 0, 5}, 1, {}, {0, 0, 0, 0xF}};
        std::memset(reinterpret_cast<unsigned char*>(&user) + row.offset, static_cast<int>(row.byte), row.count);
        HalmLib::Gui::CGIRequester requester;
        EXPECT_EQ(requester.setInfo(row.request, row.size, &user), row.trace.empty() ? 1 : 0);
        EXPECT_EQ(requester.errorCode, row.trace.empty() ? 0 : 1);
        EXPECT_EQ(read("users.new").substr(0, 15), row.trace.empty() ? "alice_123:5:15:" : "");
        EXPECT_TRUE(row.trace.empty() || lastTrace() == "board: " + row.trace + "\n") << lastTrace();
    }
}

TEST_F(SimulatedBoard, RefusesAnUnknownListRequest) {
    Users users;
    HalmLib::Gui::CGIRequester lister;
    EXPECT_EQ(lister.getInfo(0x0201004E, users), 0);
    EXPECT_EQ(lister.errorCode, 1);
    EXPECT_EQ(lastTrace(), "board: unknown request 0x0201004e\n");
}

TEST_F(SimulatedBoard, CutsATraceTextTo255Bytes) {
    HalmLib::trace::HalmTrace(1, 10, 1024).putLog(0, std::string(300, 'x').c_str());
    EXPECT_EQ(lastTrace(), std::string(255, 'x') + "\n");
}

// A command shows it only by waiting for a held lock: 50 s, not an hour.
TEST_F(SimulatedBoard, TakesALockWaitPastACallsBoundAsTheLongest) {
    put("board.conf", "lock_wait = 3600\n");
    EXPECT_EQ(board::load(board::process()).settings.lockWait, 50u);
}

TEST_F(SimulatedBoard, FailsAnEventItCannotWrite) {
    ASSERT_EQ(mkdir((dir + "/event.log").c_str(), 0700), 0);
    EXPECT_EQ(HalmLib::Report::llog_putHalmLog(4, "text", 1, "login", "origin", "0xFF"), -1);
}

// A refusal's code says what failed: the store's lock not taken (2), the store not read (3) or not written (4), an
// injected refusal (6).
TEST_F(SimulatedBoard, SaysWhatFailedByTheCodeOfItsRefusal) {
    const struct {
        const char *file, *content, *faults;  // a file put in the state directory (no content: a directory), the faults
        bool list;                            // the request: the user list, or an add
        std::int32_t code;
    } rows[] = {
        {"users", "x\n", "", true, 3},  {"users", "x\n", "", false, 3}, {"users.tmp", nullptr, "", false, 4},
        {"", "", "list=fail", true, 6}, {"", "", "", false, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.file) + " " + row.faults + (row.list ? " list" : " add"));
        fresh();
        put("board.conf", "lock_wait = 1\n");
        if (*row.file && row.content) put(row.file, row.content);
        ASSERT_EQ(row.content ? 0 : mkdir((dir + "/" + row.file).c_str(), 0700), 0);
        ASSERT_EQ(setenv("USERCTL_BOARD_FAULT", row.faults, 1), 0);
        // The test holds the store's lock, the state directory's flock, where the row expects it taken.
        const int held = row.code == 2 ? open(dir.c_str(), O_RDONLY | O_DIRECTORY) : -1;
        ASSERT_EQ(held < 0 ? 0 : flock(held, LOCK_EX), 0);
        Users users;
        HalmLib::Gui::CGIRequester requester;
        CGI_USER_INFO user{"carol_123", "Secret#12", "Secret#12", {0, 0, 0, 3}, 1, {}, {}};
        const int done = row.list ? requester.getInfo(HalmLib::Gui::REQ_CGI_GET_USER_LIST, users)
                                  : requester.setInfo(HalmLib::Gui::REQ_CGI_ADD_USER, sizeof user, &user);
        EXPECT_EQ(done ? 0 : requester.errorCode, row.code);
        if (held >= 0) close(held);
    }
}
