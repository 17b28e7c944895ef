#pragma once

#include <vector>

#include "Harness.h"

namespace kit {

// Every test point, in the order run; with fill, the board is filled to its
// capacity to see a full board's refusal.
std::vector<Point> points(bool fill);

}  // namespace kit
