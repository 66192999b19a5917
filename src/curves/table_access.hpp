// mirtCVSave: one entry of the value table written, or read back as decimal
// text, by index.
#pragma once

#include <cstdint>

namespace pelx04 {

// "-2147483648" and its terminator.
constexpr int tableEntryTextSize = 12;

// An index outside the table is refused: a write stores nothing and a read
// yields nothing, so a stray index never reaches memory beside the table.
bool writeTableEntry(std::int32_t index, std::int32_t value);
bool readTableEntry(std::int32_t index, std::int32_t& value);

// The entry as "%d" gives it: a minus sign when negative, no padding.
void formatTableEntry(std::int32_t value, char (&text)[tableEntryTextSize]);

}  // namespace pelx04
