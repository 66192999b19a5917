// mirtGanma: a power curve per colour channel, exponents quantised to 0.01.
#pragma once

#include <cmath>
#include <cstdint>

#include "core/pixel.hpp"

namespace pelx04 {

// The script's arguments, used as doubles.
struct GammaArgs {
    double scale, red, green, blue;
};

struct GammaParams {
    double red, green, blue;  // exponents
};

// unit = scale × 0.001; exponent = 0.01 × round(100.0 × (argument ÷ unit)).
inline double gammaExponent(double argument, double scale) {
    const double unit = scale * 0.001;
    const double q = argument / unit;
    const double n = roundHalfAway(100.0 * q);
    return 0.01 * n;
}

inline GammaParams gammaParams(const GammaArgs& args) {
    return {gammaExponent(args.red, args.scale), gammaExponent(args.green, args.scale),
            gammaExponent(args.blue, args.scale)};
}

// Divides by 255.0 (not a stored reciprocal) and multiplies by the same 255.0.
// An infinite or NaN result (a zero channel under a negative exponent, a NaN
// exponent) converts with saturation before the clamp.
inline int gammaChannel(int value, double exponent) {
    const double x = value / 255.0;
    const double y = std::pow(x, exponent);
    const double z = roundHalfAway(y * 255.0);
    return clampChannel(truncateToInt32(z));
}

inline std::uint32_t gammaPixel(std::uint32_t word, const GammaParams& p) {
    return packWord(channelA(word), gammaChannel(channelR(word), p.red), gammaChannel(channelG(word), p.green),
                    gammaChannel(channelB(word), p.blue));
}

// A zero scale would divide by zero in every exponent: the call leaves the
// buffer untouched.
inline bool gammaLeavesBuffer(const GammaArgs& args) { return args.scale == 0.0; }

// The entry the binding calls: the fastest kernel the CPU allows.
void applyGamma(unsigned char* pixels, std::uint32_t count, const GammaParams& p);

// The literal pass over gammaPixel, kept for tests and benchmarks.
void applyGammaReference(unsigned char* pixels, std::uint32_t count, const GammaParams& p);

}  // namespace pelx04
