#include <gtest/gtest.h>

#include "PException.h"
#include "Probe.h"
#include "TestPlatform.h"

namespace {

struct Row {
    std::string specification;
    std::vector<int> partitions;  // empty: refused
    int count = 4;
};

std::vector<int> upTo(int count) {
    std::vector<int> all;
    for (int n = 0; n < count; ++n) all.push_back(n);
    return all;
}

}  // namespace

TEST(Partitions, SpecificationsBecomeAscendingLists) {
    const Row table[] = {
        {"all", {0, 1, 2, 3}}, {"ALL", {}}, {"All", {}}, {"all,1", {}},
        {"0,1,3", {0, 1, 3}}, {"3,1,1,0", {0, 1, 3}}, {"0-3", {0, 1, 2, 3}}, {"2-2", {2}},
        {"0-2,1", {0, 1, 2}}, {"01", {1}}, {"2-1", {}}, {"0-1-2", {}},
        {",1", {}}, {"-1", {}}, {"1,", {}}, {"1-", {}}, {"1,,2", {}}, {"1--2", {}},
        {"1,-2", {}}, {"1-,2", {}}, {"", {}}, {"1, 2", {}}, {"4", {}, 8}, {"10", {}},
        {"10", {10}, 16}, {"3", {}, 3}, {"33333333333333333333", {}},
        {"0-31", upTo(32), 32}, {"31", {31}, 32},
        // A board that reports more than a mask holds is held to 32, and
        // one that reports none offers nothing.
        {"all", upTo(32), 33}, {"32", {}, 40}, {"0-33", {}, 40},
        {"all", {}, 0}, {"0", {}, 0}, {"0", {}, -5},
    };
    Probe probe;
    for (const Row& row : table) {
        SCOPED_TRACE(row.specification + " with " + std::to_string(row.count) + " partitions");
        testplatform::reset();
        testplatform::state().partitions = row.count;
        std::vector<int> list = {7, 9};
        const bool accepted = probe.getPartitionType(row.specification.c_str(), list);
        EXPECT_EQ(list, row.partitions);
        const bool expected = !row.partitions.empty() || (row.specification == "all" && row.count <= 0);
        EXPECT_EQ(accepted, expected);
        const std::vector<std::string> trace = testplatform::state().trace;
        if (accepted) {
            EXPECT_TRUE(trace.empty());
        } else {
            EXPECT_EQ(trace, std::vector<std::string>{"CLI UserCommandCommon: The specified partition number is "
                                                      "invalid. [" + row.specification + "]"});
        }
    }
}

TEST(Partitions, RefusalTraceShowsAtMost128Characters) {
    testplatform::reset();
    Probe probe;
    std::vector<int> list;
    EXPECT_FALSE(probe.getPartitionType(std::string(300, '9').c_str(), list));
    EXPECT_EQ(testplatform::state().trace.at(0),
              "CLI UserCommandCommon: The specified partition number is invalid. [" + std::string(128, '9') + "]");
}

TEST(Partitions, MasksAndTheirTexts) {
    testplatform::reset();
    Probe probe;
    unsigned long mask = 99;
    std::vector<int> list;
    probe.setPartitionNo(list, mask);
    EXPECT_EQ(mask, 0ul);
    EXPECT_EQ(probe.getPartitionNo(mask), "");

    list = {0, 1, 3};
    probe.setPartitionNo(list, mask);
    EXPECT_EQ(mask, 0xBul);
    EXPECT_EQ(probe.getPartitionNo(mask), "#0,#1,#3");

    testplatform::state().partitions = 16;
    list = {12};
    probe.setPartitionNo(list, mask);
    EXPECT_EQ(probe.getPartitionNo(mask), "#12");

    // Only partitions the board has are shown, however many bits are set.
    testplatform::state().partitions = 2;
    EXPECT_EQ(probe.getPartitionNo(0xFFFFFFFFul), "#0,#1");
    testplatform::state().partitions = 64;
    EXPECT_EQ(probe.getPartitionNo(0x80000000ul), "#31");
}

TEST(Partitions, BoardFailuresPassThrough) {
    testplatform::reset();
    testplatform::state().partitionRaises = std::make_exception_ptr(
        HalmLib::PException(1, 80, 23296, 1, 1537, 20019, 0, 0, 0, 0, 0, 0, 0, 0));
    Probe probe;
    std::vector<int> list;
    EXPECT_THROW(probe.getPartitionType("all", list), HalmLib::PException);
    EXPECT_THROW(probe.getPartitionNo(1), HalmLib::PException);
}
