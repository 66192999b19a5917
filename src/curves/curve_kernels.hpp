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

// The histogram entry of each pixel, 0..255: ofSum holds the brightness entry
// of every R + G + B (made by the rule). A kernel fills entries[0..n) for the
// first n pixels it has done and returns n.
struct HistogramEntries {
    std::int32_t mode;  // 0..3
    std::uint8_t ofSum[766];
};

using HistogramEntriesFn = std::uint32_t (*)(const unsigned char*, std::uint32_t, const HistogramEntries&,
                                             std::uint8_t*);

namespace x86 {
// SSE2 (sixteen pixels a step) and AVX2 (32). Brightness entries as
// floor((R + G + B + 1) / 3): round(sum × 0.33333333) is the nearest integer
// to sum / 3 (the factor lies 3.3e-9 below 1/3, far less than the 1/6 by which
// sum / 3 misses every half), which is that.
std::uint32_t histogramEntriesSse2(const unsigned char* pixels, std::uint32_t count, const HistogramEntries& h,
                                   std::uint8_t* entries);
std::uint32_t histogramEntriesAvx2(const unsigned char* pixels, std::uint32_t count, const HistogramEntries& h,
                                   std::uint8_t* entries);
}  // namespace x86

}  // namespace pelx04
