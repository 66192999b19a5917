#include "filters/hsv_posterize.hpp"

#include "color/hsv_kernels.hpp"
#include "core/pixel_pass.hpp"

namespace pelx04 {

void applyHsvPosterizeReference(unsigned char* pixels, std::uint32_t count, const HsvPosterizeParams& p) {
    rewriteVisiblePixels(pixels, count, [&p](std::uint32_t word) { return hsvPosterizePixel(word, p); });
}

// The rounded channels, the rounded value and the hue turn are maps made by
// the literal helpers; the saturation is rounded to its step per pixel.
void applyHsvPosterize(unsigned char* pixels, std::uint32_t count, const HsvPosterizeParams& p) {
    HsvKernel k;
    setUnchanged(k);
    setHueMap(k, [&p](std::int32_t h) { return wrapHue(std::int64_t{h} + p.hue); });
    setValueMap(k, [&p](double v) { return roundToStep(v, p.valueStep); });
    for (int c = 0; c < 256; ++c) k.channel[c] = truncateToInt32(roundToStep(c, p.channelStep));
    k.roundedHue = true;
    k.rule = HsvSaturationRule::step;
    k.divisor = p.saturationStep;
    runHsvKernel(pixels, count, k, [&p](std::uint32_t word) { return hsvPosterizePixel(word, p); });
}

}  // namespace pelx04
