#include "PartitionOperatorInfo.h"

namespace HalmLib {
namespace HalmUi {

namespace {
bool inRange(int partition) { return partition >= 0 && partition < PartitionOperatorInfo::maskWidth; }
}  // namespace

PartitionOperatorInfo::PartitionOperatorInfo() = default;
PartitionOperatorInfo::~PartitionOperatorInfo() = default;

unsigned long PartitionOperatorInfo::setOperablePartition(unsigned long mask, int partition) const {
    return inRange(partition) ? mask | (1ul << partition) : mask;
}

int PartitionOperatorInfo::isOperablePartition(unsigned long mask, int partition) const {
    return inRange(partition) && ((mask >> partition) & 1ul) ? 1 : 0;
}

}  // namespace HalmUi
}  // namespace HalmLib
