// RGB to YPbPr (BT.709 weights, coefficients to six places) and back: the only
// place the YPbPr arithmetic is written. The two matrices are not exact
// inverses, and the way back truncates, so a round trip may lose one level.
#pragma once

#include <cstdint>

#include "core/pixel.hpp"

namespace pelx04 {

// Each sum left to right, in the order written.
inline void rgbToYPbPr(std::int32_t r, std::int32_t g, std::int32_t b, double& y, double& pb, double& pr) {
    const double rd = r, gd = g, bd = b;
    y = (0.2126 * rd + 0.7152 * gd) + 0.0722 * bd;
    pb = (-0.114572 * rd - 0.385428 * gd) + 0.5 * bd;
    pr = (0.5 * rd - 0.454153 * gd) - 0.045847 * bd;
}

// Truncated toward zero, not rounded.
inline void ypbprToRgb(double y, double pb, double pr, std::int32_t& r, std::int32_t& g, std::int32_t& b) {
    r = truncateToInt32(y + 1.5748 * pr);
    g = truncateToInt32((y - 0.187324 * pb) - 0.468124 * pr);
    b = truncateToInt32(y + 1.8556 * pb);
}

}  // namespace pelx04
