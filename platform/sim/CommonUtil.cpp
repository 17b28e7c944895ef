#include "CommonUtil.h"

#include "Config.h"

int CommonUtil::getMaxPartitionNum() { return board::load().settings.partitions; }
