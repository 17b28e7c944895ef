// What no command reaches: the record's bytes, the list's bounds and
// serialized form, masks beyond 32 partitions, an empty argument vector.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "CGI_USER_INFO.h"
#include "PException.h"
#include "PartitionOperatorInfo.h"
#include "PrimitiveTypeArray.h"
#include "UserCtrlCmd.h"

using Bytes = std::vector<unsigned char>;
using Users = HalmLib::HalmUi::PrimitiveTypeArray<CGI_USER_INFO>;

namespace {

// A list announcing count records in size bytes; record i is "user<i>" with privilege i + 1.
Bytes payload(unsigned int count, unsigned int size) {
    Bytes bytes(size, 0);
    for (unsigned int i = 0; 2 + (i + 1) * 212 <= size && i < count; ++i) {
        const std::string name = "user" + std::to_string(i);
        std::memcpy(&bytes[2 + i * 212], name.c_str(), name.size());
        bytes[2 + i * 212 + 143] = static_cast<unsigned char>(i + 1);
    }
    std::copy_n(Bytes{static_cast<unsigned char>(count >> 8), static_cast<unsigned char>(count)}.begin(),
                std::min(size, 2u), bytes.begin());
    return bytes;
}

// The text of the platform exception that call throws; "" when none.
template <typename Call>
std::string raised(Call call) {
    try {
        call();
    } catch (const HalmLib::PException& e) {
        return std::to_string(e.getExceptionDetail()) + " " + std::to_string(e.getActionCode()) + " " + e.getText();
    }
    return "";
}

}  // namespace

TEST(Record, IntegersAreBigEndianAtTheirOffsets) {
    CGI_USER_INFO user{};
    user.setPrivilege(5);
    user.setOperablePartition(static_cast<unsigned long>(0x180000003ull));  // a 64-bit long's bit 32 is not sent
    Bytes bytes(212);
    std::memcpy(bytes.data(), &user, 212);
    EXPECT_EQ(Bytes(&bytes[140], &bytes[144]), (Bytes{0, 0, 0, 5}));
    EXPECT_EQ(Bytes(&bytes[208], &bytes[212]), (Bytes{0x80, 0, 0, 3}));
    EXPECT_EQ(user.getPrivilege(), 5u);
    EXPECT_EQ(user.getOperablePartition(), 0x80000003ul);
}

TEST(PrimitiveTypeArray, SetSerializedAppendsWholePayloadsOnly) {
    const struct {
        unsigned int count, size, held;
        bool accepted;
    } rows[] = {{0, 0, 2, false},  {0, 1, 2, false},   {3, 637, 2, false}, {65535, 2, 2, false},
                {0, 2, 2, true},   {0, 500, 2, true},  {3, 638, 5, true},  {3, 700, 5, true}};
    const char* names[] = {"user0", "user1", "user0", "user1", "user2"};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.count) + " records in " + std::to_string(row.size) + " bytes");
        Users users;
        const Bytes two = payload(2, 426), bytes = payload(row.count, row.size);
        ASSERT_TRUE(users.setSerialized(two.data(), 426));
        EXPECT_EQ(users.setSerialized(bytes.data(), row.size), row.accepted);
        ASSERT_EQ(users.size(), row.held);
        for (unsigned int i = 0; i < row.held; ++i) EXPECT_STREQ(users[i].user_name, names[i]);
        EXPECT_EQ(users[row.held - 1].getPrivilege(), row.held == 5 ? 3u : 2u);
        EXPECT_EQ(raised([&] { users[row.held]; }), "20019 1537 Out of range");
    }
}

TEST(PrimitiveTypeArray, GetSerializedWritesAllOrNothing) {
    const struct {
        unsigned int count, buffer;
        const char* refusal;
    } rows[] = {{0, 2, ""}, {0, 1, "20019 1537 Insufficient buffer size"}, {3, 638, ""}, {3, 639, ""},
                {3, 637, "20019 1537 Insufficient buffer size"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.count) + " records into " + std::to_string(row.buffer) + " bytes");
        Users users;
        const Bytes in = payload(row.count, 2 + row.count * 212);
        ASSERT_TRUE(users.setSerialized(in.data(), static_cast<unsigned int>(in.size())));
        EXPECT_EQ(users.getSerializedSize(), in.size());
        Bytes out(row.buffer, 0xEE), expected(row.buffer, 0xEE);
        unsigned int written = 0;
        EXPECT_EQ(raised([&] { written = users.getSerialized(out.data(), row.buffer); }), row.refusal);
        if (!*row.refusal) std::copy(in.begin(), in.end(), expected.begin());
        EXPECT_EQ(out, expected);
        EXPECT_EQ(written, *row.refusal ? 0u : in.size());
    }
    // A count beyond 16 bits is never written.
    HalmLib::HalmUi::PrimitiveTypeArray<unsigned char> bytes;
    Bytes in(2 + 65535, 0xFF);
    ASSERT_TRUE(bytes.setSerialized(in.data(), static_cast<unsigned int>(in.size())));
    ASSERT_TRUE(bytes.setSerialized(Bytes{0, 1, 7}.data(), 3));
    Bytes out(2 + 65536, 0xEE);
    EXPECT_EQ(raised([&] { bytes.getSerialized(out.data(), static_cast<unsigned int>(out.size())); }), "20019 1537 Out of range");
    EXPECT_EQ(out, Bytes(2 + 65536, 0xEE));
}

TEST(PException, SerializesItsValuesAndText) {
    const HalmLib::PException original(1, 80, 23296, 1, 1537, 20019, reinterpret_cast<long>("Out of range"), 0, 0, 0, 0, 0, 0, 0);
    Bytes bytes(23);
    EXPECT_EQ(original.getSerialized(bytes.data(), 22), 0u);
    ASSERT_EQ(original.getSerialized(bytes.data(), 23), 23u);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 11), (Bytes{1, 0x50, 0x5B, 0, 1, 6, 1, 0, 0, 0x4E, 0x33}));
    HalmLib::PException copy(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_FALSE(copy.setSerialized(bytes.data(), 10));
    ASSERT_TRUE(copy.setSerialized(bytes.data(), 23));
    EXPECT_EQ(raised([&] { throw copy; }), "20019 1537 Out of range");
}

TEST(PartitionOperatorInfo, PartitionsBeyondTheMaskAreNeverSetNorReported) {
    const HalmLib::HalmUi::PartitionOperatorInfo info;
    for (const int partition : {-1, 32, 64}) {
        EXPECT_EQ(info.setOperablePartition(0x5ul, partition), 0x5ul);
        EXPECT_EQ(info.isOperablePartition(~0ul, partition), 0);
    }
    EXPECT_EQ(info.setOperablePartition(0, 31), 0x80000000ul);
    EXPECT_EQ(info.isOperablePartition(0x80000000ul, 31), 1);
}

TEST(UserCtrlCmd, AnEmptyArgumentVectorSelectsNothing) {
    char* argv[] = {nullptr};
    EXPECT_EQ(UserCtrlCmd().execute(0, argv), 1);
}
