#include "curves/hsv_tone_curve.hpp"

#include "color/hsv_kernels.hpp"
#include "core/pixel_pass.hpp"

namespace pelx04 {

void applyHsvToneCurveReference(unsigned char* pixels, std::uint32_t count, const HsvToneCurveParams& p) {
    rewriteVisiblePixels(pixels, count, [&p](std::uint32_t word) { return hsvToneCurvePixel(word, p); });
}

// A hue or value curve is a map over the 360 hues or 256 values, made by the
// literal helpers; a saturation curve is looked up per pixel by the whole part.
// The table is read once, here, before the pass.
void applyHsvToneCurve(unsigned char* pixels, std::uint32_t count, const HsvToneCurveParams& p) {
    HsvKernel k;
    setUnchanged(k);
    switch (p.mode) {
        case 0: setHueMap(k, [](std::int32_t h) { return wrapHue(std::int64_t{h} + valueTable[h]); }); break;
        case 1:
            for (int i = 0; i < 256; ++i) k.offsets[i] = valueTable[i];
            k.rule = HsvSaturationRule::table;
            break;
        case 2:
            setValueMap(k, [](double v) { return limitToHsvScale(v + valueTable[truncateToInt32(v)]); });
            break;
        default: break;
    }
    runHsvKernel(pixels, count, k, [&p](std::uint32_t word) { return hsvToneCurvePixel(word, p); });
}

}  // namespace pelx04
