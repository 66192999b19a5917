#include "curves/hsv_band_shift.hpp"

#include "color/hsv_kernels.hpp"
#include "core/pixel_pass.hpp"

namespace pelx04 {

void applyHsvBandShiftReference(unsigned char* pixels, std::uint32_t count, const HsvBandShiftParams& p) {
    if (p.refused) return;
    rewriteVisiblePixels(pixels, count, [&p](std::uint32_t word) { return hsvBandShiftPixel(word, p); });
}

// Hue and value bands are maps over the 360 hues or 256 values, made by the
// literal helpers. Saturation bands are found per pixel, round(s / w) in
// 0..255, and each band's offset comes from a table made the way bandEntry
// forms the entry (in 64 bits, so that any shift keeps rotating).
void applyHsvBandShift(unsigned char* pixels, std::uint32_t count, const HsvBandShiftParams& p) {
    if (p.refused) return;
    HsvKernel k;
    setUnchanged(k);
    switch (p.component) {
        case 0:
            setHueMap(k, [&p](std::int32_t h) {
                return wrapHue(std::int64_t{h} + valueTable[bandEntry(static_cast<double>(h), p)]);
            });
            break;
        case 1:
            for (std::int64_t band = 0; band < 256; ++band) k.offsets[band] = valueTable[(band + p.shift - 1) % p.bands];
            k.rule = HsvSaturationRule::band;
            k.divisor = p.width;
            break;
        case 2: setValueMap(k, [&p](double v) { return limitToHsvScale(v + valueTable[bandEntry(v, p)]); }); break;
        default: break;
    }
    runHsvKernel(pixels, count, k, [&p](std::uint32_t word) { return hsvBandShiftPixel(word, p); });
}

}  // namespace pelx04
