// RGB to HSV and back: the only place the HSV arithmetic is written. Every HSV
// filter converts with these, and its results depend on their exact order of
// operations and constants.
#pragma once

#include <cmath>
#include <cstdint>

#include "core/pixel.hpp"

namespace pelx04 {

// Hue in whole degrees 0..359, saturation (max − min) × 255 / max unrounded,
// value the largest channel. Channels are never negative here.
inline void rgbToHsv(std::int32_t r, std::int32_t g, std::int32_t b, double& hue, double& saturation,
                     double& value) {
    const double rd = r, gd = g, bd = b;
    const double max = std::fmax(rd, std::fmax(gd, bd));
    const double min = std::fmin(rd, std::fmin(gd, bd));
    if (max == min) {
        hue = 0.0;
        saturation = 0.0;
    } else {
        const double delta = max - min;
        double q;
        // The offset is added before rounding: a green q of 119.5 gives 120.
        if (max == rd) {
            q = (gd - bd) * 60.0 / delta;
        } else if (max == gd) {
            q = (bd - rd) * 60.0 / delta + 120.0;
        } else {
            q = (rd - gd) * 60.0 / delta + 240.0;
        }
        hue = roundHalfAway(q);
        saturation = (delta * 255.0) / max;
    }
    while (hue < 0.0) hue += 360.0;
    value = max;
}

// Saturation and value on the unit scale; callers pass 0 <= hue < 360. The
// sector comes from the multiplier 0.01666666666 (a hair below 1/60), the
// fraction from an exact division by 60: whole-degree hues on a sector edge
// fall to the sector below with f = 1, which gives the same channels.
inline void hsvToRgb(double hue, double saturation, double value, std::int32_t& r, std::int32_t& g,
                     std::int32_t& b) {
    const std::int32_t i = truncateToInt32(hue * 0.01666666666);
    const std::int32_t sector = i % 6;
    const double f = hue / 60.0 - sector;
    const double p = ((1.0 - saturation) * value) * 255.0;
    const double q = ((1.0 - saturation * f) * value) * 255.0;
    const double t = ((1.0 - saturation * (1.0 - f)) * value) * 255.0;
    const double v = value * 255.0;
    double rd, gd, bd;
    switch (sector) {
        case 0: rd = v, gd = t, bd = p; break;
        case 1: rd = q, gd = v, bd = p; break;
        case 2: rd = p, gd = v, bd = t; break;
        case 3: rd = p, gd = q, bd = v; break;
        case 4: rd = t, gd = p, bd = v; break;
        default: rd = v, gd = p, bd = q; break;
    }
    r = truncateToInt32(rd);
    g = truncateToInt32(gd);
    b = truncateToInt32(bd);
}

// The way back every filter uses: saturation and value on the 0..255 scale,
// each multiplied by 0.00392156862. That is a hair below 1/255, so the largest
// channel of an unchanged colour comes back one lower (white gives 254), and
// scripts rely on it.
inline void scaledHsvToRgb(double hue, double saturation, double value, std::int32_t& r, std::int32_t& g,
                           std::int32_t& b) {
    hsvToRgb(hue, saturation * 0.00392156862, value * 0.00392156862, r, g, b);
}

// A changed saturation or value stays on the 0..255 scale; it need not be a
// whole number.
inline double limitToHsvScale(double x) {
    if (x < 0.0) return 0.0;
    if (x > 255.0) return 255.0;
    return x;
}

// The scaled way back to a pixel word: channels clamped, the pixel's own alpha
// kept.
inline std::uint32_t hsvToWord(int alpha, double hue, double saturation, double value) {
    std::int32_t r, g, b;
    scaledHsvToRgb(hue, saturation, value, r, g, b);
    return packWord(alpha, clampChannel(r), clampChannel(g), clampChannel(b));
}

// A shifted hue back onto the circle: remainder by 360 with the sign of the
// sum, then 360 added while negative. The sum is formed in 64 bits, so shifts
// of any size wrap instead of overflowing.
inline double wrapHue(std::int64_t shiftedHue) {
    std::int64_t h = shiftedHue % 360;
    while (h < 0) h += 360;
    return static_cast<double>(h);
}

}  // namespace pelx04
