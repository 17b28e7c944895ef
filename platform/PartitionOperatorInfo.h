#pragma once

namespace HalmLib {
namespace HalmUi {

// The layout of an operable-partition mask: partition n is the bit of value
// 1 shifted left by n. A partition outside 0 to maskWidth - 1 is never set
// nor reported.
class PartitionOperatorInfo {
public:
    static constexpr int maskWidth = 32;

    PartitionOperatorInfo();
    ~PartitionOperatorInfo();

    // mask with partition added.
    unsigned long setOperablePartition(unsigned long mask, int partition) const;
    // Nonzero when partition is in mask.
    int isOperablePartition(unsigned long mask, int partition) const;
};

}  // namespace HalmUi
}  // namespace HalmLib
