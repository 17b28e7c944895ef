#pragma once

class CommonUtil {
public:
    // The number of partitions of the machine: at least 1, the same at every
    // call within a process. userctl asks once for each row it lists (65535
    // in a full list), so an answer costs no more than a look in memory. A
    // count past 32 (PartitionOperatorInfo::maskWidth) names partitions no
    // mask holds: userctl names 32 at most. Throws HalmLib::PException when
    // the board cannot tell.
    static int getMaxPartitionNum();
};
