// What a frame looks like once the script has failed under on_error=mark: the
// input, unchanged, under a red band across its top, so that nobody ships it
// by mistake.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pelx04frei0r {

// A twelfth of the height, rounded up: at least one row of any frame.
unsigned errorBandRows(unsigned height);

// Copies `in` to `out` (which may be the same) and paints the band, with
// "PELX04 ERROR - SEE STDERR" in white when it is 9 rows or more.
void copyWithErrorBand(const std::uint32_t* in, std::uint32_t* out, unsigned width, unsigned height);

}  // namespace pelx04frei0r
