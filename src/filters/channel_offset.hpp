// mirtRGB: a signed offset added to each of the four channels, saturated.
#pragma once

#include <cstdint>

#include "core/pixel.hpp"

namespace pelx04 {

struct ChannelOffsetParams {
    std::int32_t red, green, blue, alpha;
};

// Sums are formed in 64 bits so that offsets near the ends of the 32-bit range
// still saturate instead of wrapping.
inline std::uint32_t channelOffsetPixel(std::uint32_t word, const ChannelOffsetParams& p) {
    const int r = clampChannel(std::int64_t{channelR(word)} + p.red);
    const int g = clampChannel(std::int64_t{channelG(word)} + p.green);
    const int b = clampChannel(std::int64_t{channelB(word)} + p.blue);
    const int a = clampChannel(std::int64_t{channelA(word)} + p.alpha);
    return packWord(a, r, g, b);
}

// The entry the binding calls: the fastest kernel the CPU allows.
void applyChannelOffset(unsigned char* pixels, std::uint32_t count, const ChannelOffsetParams& p);

// The literal pass over channelOffsetPixel, kept for tests and benchmarks.
void applyChannelOffsetReference(unsigned char* pixels, std::uint32_t count, const ChannelOffsetParams& p);

}  // namespace pelx04
