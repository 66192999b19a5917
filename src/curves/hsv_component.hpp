// What the table-driven HSV filters share: limiting a changed saturation or
// value, and the way back to a pixel word.
#pragma once

#include <cstdint>

#include "color/hsv.hpp"
#include "module/pixel.hpp"

namespace pelx04 {

// Saturation and value stay on their 0..255 scale; a saturation keeps its
// fractional part.
inline double clampHsvComponent(double x) {
    if (x < 0.0) return 0.0;
    if (x > 255.0) return 255.0;
    return x;
}

// The scaled way back, channels clamped, the pixel's own alpha kept.
inline std::uint32_t hsvToWord(int alpha, double hue, double saturation, double value) {
    std::int32_t r, g, b;
    scaledHsvToRgb(hue, saturation, value, r, g, b);
    return packWord(alpha, clampChannel(r), clampChannel(g), clampChannel(b));
}

}  // namespace pelx04
