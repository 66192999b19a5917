// mirtToneCurveHSV: a curve from the value table added to the hue, the
// saturation or the value of each pixel.
#pragma once

#include <cstdint>

#include "color/hsv.hpp"
#include "curves/value_table.hpp"
#include "core/pixel.hpp"

namespace pelx04 {

struct HsvToneCurveParams {
    std::int32_t mode;  // 0 hue, 1 saturation, 2 value; others change nothing
};

// The entry is chosen by the component's whole part (hue 0..359, saturation and
// value 0..255). The hue is a whole number, so its sum with the entry is formed
// exactly in 64 bits and wraps onto the circle for entries of any size. Every
// pixel goes there and back, so even an unchanged one loses one on its largest
// channel.
inline std::uint32_t hsvToneCurvePixel(std::uint32_t word, const HsvToneCurveParams& p) {
    double h, s, v;
    rgbToHsv(channelR(word), channelG(word), channelB(word), h, s, v);
    switch (p.mode) {
        case 0: {
            const std::int32_t k = truncateToInt32(h);
            h = wrapHue(std::int64_t{k} + valueTable[k]);
            break;
        }
        case 1: s = limitToHsvScale(s + valueTable[truncateToInt32(s)]); break;
        case 2: v = limitToHsvScale(v + valueTable[truncateToInt32(v)]); break;
        default: break;
    }
    return hsvToWord(channelA(word), h, s, v);
}

void applyHsvToneCurve(unsigned char* pixels, std::uint32_t count, const HsvToneCurveParams& p);
// The literal pass, for tests and benchmarks.
void applyHsvToneCurveReference(unsigned char* pixels, std::uint32_t count, const HsvToneCurveParams& p);

}  // namespace pelx04
