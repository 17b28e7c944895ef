#include "CommonUtil.h"

#include "Config.h"

int CommonUtil::getMaxPartitionNum() { return static_cast<int>(board::load().settings.partitions); }
