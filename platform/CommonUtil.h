#pragma once

class CommonUtil {
public:
    // The number of partitions of the machine, read anew at every call.
    // Throws HalmLib::PException when the board cannot tell.
    static int getMaxPartitionNum();
};
