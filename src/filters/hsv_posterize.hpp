// mirtHsvHeitan: saturation and value rounded to multiples of their steps, the
// hue taken from the channels rounded to multiples of a channel step, then
// turned by whole degrees.
#pragma once

#include <cstdint>

#include "color/hsv.hpp"
#include "core/pixel.hpp"

namespace pelx04 {

struct HsvPosterizeParams {
    std::int32_t channelStep, saturationStep, valueStep;  // never 0
    std::int32_t hue;
};

// A step of 0 (also what a missing argument reads as) would divide by zero;
// it acts as 1. Negative steps stay: rounding is symmetric, so they act as
// their magnitude.
inline std::int32_t nonZeroStep(std::int32_t step) { return step == 0 ? 1 : step; }

inline HsvPosterizeParams hsvPosterizeParams(std::int32_t channelStep, std::int32_t saturationStep,
                                             std::int32_t valueStep, std::int32_t hue) {
    return {nonZeroStep(channelStep), nonZeroStep(saturationStep), nonZeroStep(valueStep), hue};
}

// n = round(x / step), then n × step, both in doubles. The result is never
// farther from x than half a step, and never above 2x for a non-zero n, so it
// stays below 511 for channels and the 0..255 scale whatever the step.
inline double roundToStep(double x, std::int32_t step) {
    const double n = roundHalfAway(x / step);
    return n * step;
}

// The saturation and value come from the pixel itself and are not limited;
// only the hue comes from the rounded channels. Values above 255 push channels
// past 255 and saturations above 255 make candidates negative: the clamp
// takes both.
inline std::uint32_t hsvPosterizePixel(std::uint32_t word, const HsvPosterizeParams& p) {
    const int r = channelR(word), g = channelG(word), b = channelB(word);
    double h, s, v;
    rgbToHsv(r, g, b, h, s, v);
    const double sq = roundToStep(s, p.saturationStep);
    const double vq = roundToStep(v, p.valueStep);
    const std::int32_t rq = truncateToInt32(roundToStep(r, p.channelStep));
    const std::int32_t gq = truncateToInt32(roundToStep(g, p.channelStep));
    const std::int32_t bq = truncateToInt32(roundToStep(b, p.channelStep));
    double hq, unusedSaturation, unusedValue;
    rgbToHsv(rq, gq, bq, hq, unusedSaturation, unusedValue);
    const double hue = wrapHue(static_cast<std::int64_t>(hq) + p.hue);
    return hsvToWord(channelA(word), hue, sq, vq);
}

void applyHsvPosterize(unsigned char* pixels, std::uint32_t count, const HsvPosterizeParams& p);
// The literal pass, for tests and benchmarks.
void applyHsvPosterizeReference(unsigned char* pixels, std::uint32_t count, const HsvPosterizeParams& p);

}  // namespace pelx04
