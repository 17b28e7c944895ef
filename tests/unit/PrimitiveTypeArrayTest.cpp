#include <gtest/gtest.h>

#include <cstring>

#include "CGI_USER_INFO.h"
#include "PrimitiveTypeArray.h"
#include "Records.h"

using HalmLib::PException;
using Users = HalmLib::HalmUi::PrimitiveTypeArray<CGI_USER_INFO>;

namespace {

// A serialized list: the count, then the records.
std::vector<unsigned char> payload(unsigned int count, unsigned int size) {
    std::vector<unsigned char> bytes(size, 0);
    if (size > 0) bytes[0] = static_cast<unsigned char>(count >> 8);
    if (size > 1) bytes[1] = static_cast<unsigned char>(count);
    for (unsigned int i = 0; i < count && 2 + (i + 1) * 212 <= size; ++i) {
        const CGI_USER_INFO user = record("user" + std::to_string(i), i + 1, i);
        std::memcpy(bytes.data() + 2 + i * 212, &user, sizeof user);
    }
    return bytes;
}

std::string text(const PException& exception) { return exception.getText(); }

}  // namespace

TEST(UserRecord, IntegersAreBigEndianAtTheirOffsets) {
    const CGI_USER_INFO user = record("name", 5, 0x80000003ul);
    unsigned char bytes[212];
    std::memcpy(bytes, &user, sizeof bytes);
    EXPECT_EQ(std::vector<unsigned char>(bytes + 140, bytes + 144), (std::vector<unsigned char>{0, 0, 0, 5}));
    EXPECT_EQ(std::vector<unsigned char>(bytes + 208, bytes + 212),
              (std::vector<unsigned char>{0x80, 0, 0, 3}));
    EXPECT_EQ(user.getPrivilege(), 5u);
    EXPECT_EQ(user.getOperablePartition(), 0x80000003ul);
}

TEST(PrimitiveTypeArray, SerializesCountThenRecords) {
    Users users;
    unsigned char two[2] = {9, 9};
    EXPECT_EQ(users.getSerializedSize(), 2u);
    EXPECT_EQ(users.getSerialized(two, 2), 2u);
    EXPECT_EQ(two[0] | two[1], 0);
    try {
        users.getSerialized(two, 1);
        ADD_FAILURE() << "a 1-byte buffer was taken";
    } catch (const PException& e) {
        EXPECT_EQ(text(e), "Insufficient buffer size");
        EXPECT_EQ(e.getExceptionDetail(), 20019);
        EXPECT_EQ(e.getActionCode(), 1537);
    }

    const std::vector<unsigned char> three = payload(3, 638);
    ASSERT_TRUE(users.setSerialized(three.data(), 638));
    std::vector<unsigned char> out(638, 0xEE);
    EXPECT_THROW(users.getSerialized(out.data(), 637), PException);
    EXPECT_EQ(out, std::vector<unsigned char>(638, 0xEE));  // nothing written
    EXPECT_EQ(users.getSerialized(out.data(), 638), 638u);
    EXPECT_EQ(out, three);
}

TEST(PrimitiveTypeArray, RefusesShortPayloadsAndLeavesTheArrayAlone) {
    const struct {
        unsigned int count, size;
        bool accepted;
        unsigned int added;
    } table[] = {{0, 0, false, 0}, {0, 1, false, 0}, {3, 637, false, 0}, {3, 638, true, 3},
                 {3, 700, true, 3}, {0, 2, true, 0},  {0, 500, true, 0},   {65535, 2, false, 0}};
    for (const auto& row : table) {
        SCOPED_TRACE(std::to_string(row.count) + " records in " + std::to_string(row.size) + " bytes");
        Users users;
        const std::vector<unsigned char> bytes = payload(row.count, row.size);
        EXPECT_EQ(users.setSerialized(bytes.data(), row.size), row.accepted);
        EXPECT_EQ(users.size(), row.added);
    }
}

TEST(PrimitiveTypeArray, AppendsAfterWhatItHolds) {
    Users users;
    const std::vector<unsigned char> two = payload(2, 426), three = payload(3, 638);
    ASSERT_TRUE(users.setSerialized(two.data(), 426));
    ASSERT_TRUE(users.setSerialized(three.data(), 638));
    ASSERT_EQ(users.size(), 5u);
    const char* names[] = {"user0", "user1", "user0", "user1", "user2"};
    for (unsigned int i = 0; i < 5; ++i) EXPECT_STREQ(users[i].user_name, names[i]);
    EXPECT_EQ(users[4].getPrivilege(), 3u);
    try {
        users[5];
        ADD_FAILURE() << "index 5 of 5 was taken";
    } catch (const PException& e) {
        EXPECT_EQ(text(e), "Out of range");
    }
}

TEST(PrimitiveTypeArray, ACountBeyondSixteenBitsIsNeverWritten) {
    HalmLib::HalmUi::PrimitiveTypeArray<unsigned char> bytes;
    std::vector<unsigned char> in(2 + 65535, 1);
    in[0] = in[1] = 0xFF;
    ASSERT_TRUE(bytes.setSerialized(in.data(), static_cast<unsigned int>(in.size())));
    in[0] = 0;
    in[1] = 1;  // one more: 65536 in all
    ASSERT_TRUE(bytes.setSerialized(in.data(), 3));
    std::vector<unsigned char> out(bytes.getSerializedSize(), 0xEE);
    ASSERT_EQ(out.size(), 2u + 65536);
    try {
        bytes.getSerialized(out.data(), static_cast<unsigned int>(out.size()));
        ADD_FAILURE() << "a wrapped count was written";
    } catch (const PException& e) {
        EXPECT_EQ(text(e), "Out of range");
    }
    EXPECT_EQ(out, std::vector<unsigned char>(2 + 65536, 0xEE));
}

TEST(PException, KeepsItsValuesAndText) {
    const PException original(1, 80, 23296, 1, 1537, 20019, reinterpret_cast<long>("Out of range"), 0, 0, 0, 0,
                              0, 0, 0);
    std::vector<unsigned char> bytes(original.getSerializedSize());
    ASSERT_EQ(original.getSerialized(bytes.data(), static_cast<unsigned int>(bytes.size())), 11u + 12);
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 11),
              (std::vector<unsigned char>{0x01, 0x50, 0x5B, 0x00, 0x01, 0x06, 0x01, 0, 0, 0x4E, 0x33}));
    PException copy(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    ASSERT_TRUE(copy.setSerialized(bytes.data(), static_cast<unsigned int>(bytes.size())));
    EXPECT_EQ(text(copy), "Out of range");
    EXPECT_EQ(copy.getExceptionDetail(), 20019);
    EXPECT_EQ(copy.getActionCode(), 1537);
}
