#include "curves/tone_curve.hpp"

#include "curves/curve_kernels.hpp"
#include "core/pixel_pass.hpp"

namespace pelx04 {

void applyToneCurve(unsigned char* pixels, std::uint32_t count, const ToneCurveParams& p) {
    const std::uint32_t done = toneCurveFast(pixels, count, p);
    rewriteVisiblePixels(pixels + std::size_t{done} * 4u, count - done,
                         [&p](std::uint32_t word) { return toneCurvePixel(word, p); });
}

}  // namespace pelx04
