#include "curves/table_access.hpp"

#include <cstdio>

#include "curves/value_table.hpp"

namespace pelx04 {

bool writeTableEntry(std::int32_t index, std::int32_t value) {
    if (!isValueTableIndex(index)) return false;
    valueTable[index] = value;
    return true;
}

bool readTableEntry(std::int32_t index, std::int32_t& value) {
    if (!isValueTableIndex(index)) return false;
    value = valueTable[index];
    return true;
}

void formatTableEntry(std::int32_t value, char (&text)[tableEntryTextSize]) {
    std::snprintf(text, sizeof text, "%ld", static_cast<long>(value));
}

}  // namespace pelx04
