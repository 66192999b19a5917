// mirtHistgram: a frame counted by brightness or by one colour channel into the
// value table, for scripts to read back entry by entry.
#pragma once

#include <cstdint>

#include "core/pixel.hpp"

namespace pelx04 {

struct HistogramParams {
    std::int32_t mode;  // 0 brightness, 1 R, 2 G, 3 B; others count every pixel into entry 0
};

// The entry a pixel is counted into, 0..255. Alpha is not looked at: transparent
// pixels count like any other. 0.33333333 (eight threes) as written.
inline int histogramPixel(std::uint32_t word, const HistogramParams& p) {
    switch (p.mode) {
        case 0: {
            const int sum = channelR(word) + channelG(word) + channelB(word);
            return truncateToInt32(roundHalfAway(static_cast<double>(sum) * 0.33333333));
        }
        case 1: return channelR(word);
        case 2: return channelG(word);
        case 3: return channelB(word);
        default: return 0;
    }
}

// A table entry holds at most INT32_MAX: a larger count is stored as that.
inline std::int32_t saturatedCount(std::uint64_t count) {
    return count > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(count);
}

// Replaces all 360 entries of the value table, also for a count of 0; the
// buffer is only read.
void applyHistogram(const unsigned char* pixels, std::uint32_t count, const HistogramParams& p);

}  // namespace pelx04
