// Fast passes of the table-driven filters, kept apart from the literal rules in
// tone_curve.hpp and histogram.hpp, which stay the reference.
#pragma once

#include <cstdint>

#include "curves/histogram.hpp"
#include "curves/tone_curve.hpp"

namespace pelx04 {

// Rewrites whole vectors of the frame as toneCurvePixel would, at the CPU's
// level, and returns how many pixels it has done; the caller finishes the rest
// with the rule.
std::uint32_t toneCurveFast(unsigned char* pixels, std::uint32_t count, const ToneCurveParams& p);

// Adds every pixel's histogramPixel entry to counts, as the literal count does.
void countHistogramFast(const unsigned char* pixels, std::uint32_t count, const HistogramParams& p,
                        std::uint64_t counts[256]);

}  // namespace pelx04
