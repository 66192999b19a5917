// mirtheitan: channel values cut to multiples of a step, per channel or as a
// posterised grey.
#pragma once

#include <cstdint>

#include "core/pixel.hpp"

namespace pelx04 {

struct PosterizeArgs {
    std::int32_t common, red, green, blue, mode;
};

struct PosterizeParams {
    bool grey;           // mode 1
    std::int32_t greyStep;  // never 0 in grey mode
    std::int32_t red, green, blue;
};

// A non-zero common step stands for all three channel steps; grey mode with a
// common step of 0 uses 1.
inline PosterizeParams posterizeParams(const PosterizeArgs& a) {
    PosterizeParams p{a.mode == 1, a.common, a.red, a.green, a.blue};
    if (a.common != 0) {
        p.red = p.green = p.blue = a.common;
    } else if (p.grey) {
        p.greyStep = 1;
    }
    return p;
}

// Cuts down to the multiple at or below the value. A step of 0 (what a missing
// argument reads as) leaves the channel as it is instead of dividing by zero.
inline int posterizeChannel(int value, std::int32_t step) {
    if (step == 0) return value;
    return static_cast<int>(value / step * step);
}

// 0.333333333 (nine threes) as written: the product first, then the quotient;
// the product n × s is already whole.
inline int posterizeGrey(int r, int g, int b, std::int32_t step) {
    const int sum = r + g + b;
    const double y = sum * 0.333333333 / step;
    const double n = roundHalfAway(y);
    return clampChannel(truncateToInt32(n * step));
}

inline std::uint32_t posterizePixel(std::uint32_t word, const PosterizeParams& p) {
    const int r = channelR(word), g = channelG(word), b = channelB(word);
    if (p.grey) {
        const int v = posterizeGrey(r, g, b, p.greyStep);
        return packWord(channelA(word), v, v, v);
    }
    return packWord(channelA(word), posterizeChannel(r, p.red), posterizeChannel(g, p.green),
                    posterizeChannel(b, p.blue));
}

// The entry the binding calls: the fastest kernel the CPU allows.
void applyPosterize(unsigned char* pixels, std::uint32_t count, const PosterizeParams& p);

// The literal pass over posterizePixel, kept for tests and benchmarks.
void applyPosterizeReference(unsigned char* pixels, std::uint32_t count, const PosterizeParams& p);

}  // namespace pelx04
