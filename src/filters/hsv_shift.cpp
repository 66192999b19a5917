#include "filters/hsv_shift.hpp"

#include "color/hsv_kernels.hpp"
#include "core/pixel_pass.hpp"

namespace pelx04 {

void applyHsvShiftReference(unsigned char* pixels, std::uint32_t count, const HsvShiftParams& p) {
    rewriteVisiblePixels(pixels, count, [&p](std::uint32_t word) { return hsvShiftPixel(word, p); });
}

// The hue turn is a map over the 360 hues and the value shift one over the 256
// values, both made by the literal helpers; the saturation shift is an add.
void applyHsvShift(unsigned char* pixels, std::uint32_t count, const HsvShiftParams& p) {
    HsvKernel k;
    setUnchanged(k);
    setHueMap(k, [&p](std::int32_t h) { return wrapHue(std::int64_t{h} + p.hue); });
    setValueMap(k, [&p](double v) { return limitToHsvScale(v + p.value); });
    k.addend = p.saturation;
    runHsvKernel(pixels, count, k, [&p](std::uint32_t word) { return hsvShiftPixel(word, p); });
}

}  // namespace pelx04
