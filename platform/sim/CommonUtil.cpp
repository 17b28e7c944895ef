#include "CommonUtil.h"

#include "Process.h"

int CommonUtil::getMaxPartitionNum() { return static_cast<int>(board::partitionCount(board::load(board::process()))); }
