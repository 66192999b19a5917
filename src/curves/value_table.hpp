// The table of 360 integers that scripts fill with curves and read histograms
// from. One per process, shared by every Lua state, zero at load.
#pragma once

#include <cstdint>

namespace pelx04 {

constexpr int valueTableSize = 360;

extern std::int32_t valueTable[valueTableSize];

inline bool isValueTableIndex(std::int32_t index) { return index >= 0 && index < valueTableSize; }

}  // namespace pelx04
