// mirtRGB2GRA: one grey value per pixel, from eight formulas.
#pragma once

#include <cstdint>

#include "core/pixel.hpp"

namespace pelx04 {

struct GreyParams {
    std::int32_t mode;    // 1..8; 0 and anything else leave the buffer untouched
    std::int32_t offset;  // added in modes 1 to 6
    std::int32_t invert;  // exactly 1 inverts
};

inline bool greyLeavesBuffer(const GreyParams& p) { return p.mode < 1 || p.mode > 8; }

// Modes 5 and 6 sum left to right in doubles and round halves away from zero.
inline std::int64_t greyValue(int r, int g, int b, std::int32_t mode) {
    switch (mode) {
        case 1: return r;
        case 2: return g;
        case 3: return b;
        case 4: return (r + g + b) / 3;
        case 5: return static_cast<std::int64_t>(roundHalfAway((0.2126 * r + 0.7152 * g) + 0.0722 * b));
        case 6: return static_cast<std::int64_t>(roundHalfAway((0.299 * r + 0.587 * g) + 0.114 * b));
        case 7: return r > g ? (r > b ? r : b) : (g > b ? g : b);
        default: return r < g ? (r < b ? r : b) : (g < b ? g : b);
    }
}

// The offset is added in 64 bits, and the inversion comes before the clamp.
inline std::uint32_t greyPixel(std::uint32_t word, const GreyParams& p) {
    std::int64_t t = greyValue(channelR(word), channelG(word), channelB(word), p.mode);
    if (p.mode <= 6) t += p.offset;
    if (p.invert == 1) t = 255 - t;
    const int v = clampChannel(t);
    return packWord(channelA(word), v, v, v);
}

// The entry the binding calls: the fastest kernel the CPU allows.
void applyGrey(unsigned char* pixels, std::uint32_t count, const GreyParams& p);

// The literal pass over greyPixel, kept for tests and benchmarks.
void applyGreyReference(unsigned char* pixels, std::uint32_t count, const GreyParams& p);

}  // namespace pelx04
