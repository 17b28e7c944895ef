#pragma once

class CommonUtil {
public:
    // The number of partitions of the machine. Throws HalmLib::PException
    // when the board cannot tell.
    static int getMaxPartitionNum();
};
