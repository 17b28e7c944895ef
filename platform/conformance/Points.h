#pragma once

#include <vector>

#include "Harness.h"

namespace kit {

// What a run checks: the promises of a working board; with fill as well, a
// full board's refusal, the board filled to its capacity; or those that hold
// where the board's storage refuses writes, as its vendor made it do.
enum class Mode { normal, fill, storageRefuses };

// Every test point of mode, in the order run.
std::vector<Point> points(Mode mode);

}  // namespace kit
