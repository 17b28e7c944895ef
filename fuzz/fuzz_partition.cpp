// Partition specifications. Input: byte 0 the board's partition count, the
// rest the specification (up to the first NUL).
#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "Probe.h"
#include "TestPlatform.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    testplatform::reset();
    const int count = fuzz::partitionsFrom(data[0]);
    testplatform::state().partitions = count;
    const std::string specification = std::string(reinterpret_cast<const char*>(data + 1), size - 1).c_str();

    Probe probe;
    std::vector<int> list = {99, -1, 5};  // whatever the caller held before
    const bool accepted = probe.getPartitionType(specification.c_str(), list);
    const std::vector<std::string>& trace = testplatform::state().trace;
    if (!accepted) {
        FUZZ_CHECK(list.empty());
        FUZZ_CHECK(trace.size() == 1 && trace[0].size() <= 255);
        return 0;
    }
    FUZZ_CHECK(trace.empty());
    const int held = std::clamp(count, 0, 32);
    std::vector<int> named;
    if (specification == "all") {
        for (int n = 0; n < held; ++n) named.push_back(n);
    } else {
        // An accepted list such as 0-2,3 names only partitions the board has.
        std::istringstream items(specification);
        for (std::string item; std::getline(items, item, ',');) {
            const std::size_t dash = item.find('-');
            const unsigned long first = std::strtoul(item.c_str(), nullptr, 10);
            const unsigned long last = dash == std::string::npos ? first : std::strtoul(&item[dash + 1], nullptr, 10);
            FUZZ_CHECK(last < static_cast<unsigned long>(held));
            for (unsigned long n = first; n <= last; ++n) named.push_back(static_cast<int>(n));
        }
        std::sort(named.begin(), named.end());
        named.erase(std::unique(named.begin(), named.end()), named.end());
        FUZZ_CHECK(!named.empty());
    }
    // Ascending, without repeats, and just what the text names.
    FUZZ_CHECK(list == named);
    return 0;
}
