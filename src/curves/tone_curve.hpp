// mirtToneCurve: a curve from the value table added to the colour channels, or
// the alpha derived from the brightness through it.
#pragma once

#include <cstdint>

#include "curves/value_table.hpp"
#include "core/pixel.hpp"

namespace pelx04 {

struct ToneCurveParams {
    std::int32_t mode;  // 0 RGB, 1 R, 2 G, 3 B, 4 RG, 5 RB, 6 GB, 7 alpha; others change nothing
};

// Entry c is an offset, not an output value. The sum is formed in 64 bits, so
// entries of any size saturate instead of wrapping.
inline int toneCurveChannel(int c) { return clampChannel(std::int64_t{c} + valueTable[c]); }

// 0.3333333 (seven threes) as written, and 127 rather than 128: scripts tune
// their tables to exactly this alpha. The index never leaves 0..255.
inline int toneCurveAlpha(int r, int g, int b) {
    const int sum = r + g + b;
    const std::int32_t index = truncateToInt32(roundHalfAway(static_cast<double>(sum) * 0.3333333));
    return clampChannel(std::int64_t{valueTable[index]} + 127);
}

// Every lookup uses the channel values as loaded.
inline std::uint32_t toneCurvePixel(std::uint32_t word, const ToneCurveParams& p) {
    int a = channelA(word), r = channelR(word), g = channelG(word), b = channelB(word);
    switch (p.mode) {
        case 0: r = toneCurveChannel(r), g = toneCurveChannel(g), b = toneCurveChannel(b); break;
        case 1: r = toneCurveChannel(r); break;
        case 2: g = toneCurveChannel(g); break;
        case 3: b = toneCurveChannel(b); break;
        case 4: r = toneCurveChannel(r), g = toneCurveChannel(g); break;
        case 5: r = toneCurveChannel(r), b = toneCurveChannel(b); break;
        case 6: g = toneCurveChannel(g), b = toneCurveChannel(b); break;
        case 7: a = toneCurveAlpha(r, g, b); break;
        default: break;
    }
    return packWord(a, r, g, b);
}

void applyToneCurve(unsigned char* pixels, std::uint32_t count, const ToneCurveParams& p);

}  // namespace pelx04
