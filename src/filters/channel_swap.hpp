// mirtRGB2CONV: offset the colour channels, then write them in one of six orders.
#pragma once

#include <cstdint>

#include "core/pixel.hpp"

namespace pelx04 {

struct ChannelSwapParams {
    std::int32_t mode;  // 0..5; any other value gives black
    std::int32_t red, green, blue;
};

// The offsets belong to the source channels: added and clamped before the move.
inline std::uint32_t channelSwapPixel(std::uint32_t word, const ChannelSwapParams& p) {
    const int r = clampChannel(std::int64_t{channelR(word)} + p.red);
    const int g = clampChannel(std::int64_t{channelG(word)} + p.green);
    const int b = clampChannel(std::int64_t{channelB(word)} + p.blue);
    const int a = channelA(word);
    switch (p.mode) {
        case 0: return packWord(a, r, g, b);
        case 1: return packWord(a, g, b, r);
        case 2: return packWord(a, b, r, g);
        case 3: return packWord(a, r, b, g);
        case 4: return packWord(a, b, g, r);
        case 5: return packWord(a, g, r, b);
        default: return packWord(a, 0, 0, 0);
    }
}

// The entry the binding calls: the fastest kernel the CPU allows.
void applyChannelSwap(unsigned char* pixels, std::uint32_t count, const ChannelSwapParams& p);

// The literal pass over channelSwapPixel, kept for tests and benchmarks.
void applyChannelSwapReference(unsigned char* pixels, std::uint32_t count, const ChannelSwapParams& p);

}  // namespace pelx04
