#include "curves/histogram.hpp"

#include "curves/curve_kernels.hpp"
#include "curves/value_table.hpp"

namespace pelx04 {

void applyHistogram(const unsigned char* pixels, std::uint32_t count, const HistogramParams& p) {
    // Counted apart from the table, in 64 bits: a frame of 2^31 pixels or more
    // of one measure would pass what a table entry holds.
    std::uint64_t counts[256] = {};
    countHistogramFast(pixels, count, p, counts);
    for (int k = 0; k < valueTableSize; ++k) valueTable[k] = k < 256 ? saturatedCount(counts[k]) : 0;
}

}  // namespace pelx04
