// mirtYPbPr: offsets added to luma, the two colour differences and alpha.
#pragma once

#include <cstdint>

#include "color/ypbpr.hpp"
#include "core/pixel.hpp"

namespace pelx04 {

struct YPbPrAdjustParams {
    std::int32_t luma, pb, pr, alpha;
};

// The limits apply even with every offset 0 (yellow's Pb of -127.5 is pulled
// up to -127), and the colour-difference range is -127..128, not symmetric.
// The alpha sum is formed in 64 bits so that any offset saturates.
inline std::uint32_t ypbprAdjustPixel(std::uint32_t word, const YPbPrAdjustParams& p) {
    double y, pb, pr;
    rgbToYPbPr(channelR(word), channelG(word), channelB(word), y, pb, pr);
    y = y + p.luma;
    pb = pb + p.pb;
    pr = pr + p.pr;
    std::int64_t a = std::int64_t{channelA(word)} + p.alpha;
    if (y >= 255.0) y = 255.0;
    if (pb >= 128.0) pb = 128.0;
    if (pr >= 128.0) pr = 128.0;
    if (a > 254) a = 255;
    if (y <= 0.0) y = 0.0;
    if (pb <= -127.0) pb = -127.0;
    if (pr <= -127.0) pr = -127.0;
    std::int32_t r, g, b;
    ypbprToRgb(y, pb, pr, r, g, b);
    return packWord(clampChannel(a), clampChannel(r), clampChannel(g), clampChannel(b));
}

void applyYPbPrAdjust(unsigned char* pixels, std::uint32_t count, const YPbPrAdjustParams& p);
// The literal pass, for tests and benchmarks.
void applyYPbPrAdjustReference(unsigned char* pixels, std::uint32_t count, const YPbPrAdjustParams& p);

}  // namespace pelx04
