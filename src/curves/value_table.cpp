#include "curves/value_table.hpp"

namespace pelx04 {

std::int32_t valueTable[valueTableSize] = {};

}  // namespace pelx04
