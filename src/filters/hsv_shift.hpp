// mirtHSV: the hue turned by whole degrees, saturation and value shifted, all
// in the HSV model and back.
#pragma once

#include <cstdint>

#include "color/hsv.hpp"
#include "core/pixel.hpp"

namespace pelx04 {

struct HsvShiftParams {
    std::int32_t hue, saturation, value;
};

// The hue sum is formed in 64 bits, so a shift near the ends of the 32-bit
// range still lands on the circle. Even with every shift 0 the pixel goes
// through the conversion and back, and its largest channel drops by one.
inline std::uint32_t hsvShiftPixel(std::uint32_t word, const HsvShiftParams& p) {
    double h, s, v;
    rgbToHsv(channelR(word), channelG(word), channelB(word), h, s, v);
    const double hue = wrapHue(static_cast<std::int64_t>(h) + p.hue);
    const double saturation = limitToHsvScale(s + p.saturation);
    const double value = limitToHsvScale(v + p.value);
    return hsvToWord(channelA(word), hue, saturation, value);
}

void applyHsvShift(unsigned char* pixels, std::uint32_t count, const HsvShiftParams& p);
// The literal pass, for tests and benchmarks.
void applyHsvShiftReference(unsigned char* pixels, std::uint32_t count, const HsvShiftParams& p);

}  // namespace pelx04
