// mirtMixPict1: a frame blended, pixel by pixel and in all four channels, with
// the picture store.
#pragma once

#include <cmath>
#include <cstdint>

#include "core/pixel.hpp"

namespace pelx04 {

struct PictureBlendParams {
    double ratio;       // weight of the frame's pixel
    double complement;  // 1 - ratio, the stored pixel's weight
};

inline PictureBlendParams pictureBlendParams(double ratio) { return {ratio, 1.0 - ratio}; }

// For a ratio within 0..1 the result is a weighted mean and needs no clamp. A
// ratio outside takes it below 0 or above 255, and without the clamp a channel
// would spill into its neighbour when packed.
inline int blendChannel(int current, int stored, const PictureBlendParams& p) {
    const double mixed = current * p.ratio + stored * p.complement;
    return clampChannel(truncateToInt32(roundHalfAway(mixed)));
}

// Two transparent pixels keep the frame's word; otherwise alpha is blended
// like the colours, so opaque over transparent comes out partly transparent.
inline std::uint32_t pictureBlendPixel(std::uint32_t current, std::uint32_t stored, const PictureBlendParams& p) {
    if (channelA(current) + channelA(stored) == 0) return current;
    const int r = blendChannel(channelR(current), channelR(stored), p);
    const int g = blendChannel(channelG(current), channelG(stored), p);
    const int b = blendChannel(channelB(current), channelB(stored), p);
    const int a = blendChannel(channelA(current), channelA(stored), p);
    return packWord(a, r, g, b);
}

// Pixel i goes with store entry i, whatever sizes the two frames had. A count
// beyond the store, or a NaN ratio (which gives no weights at all), is refused
// and the buffer is left as it was. The store is only read.
void applyPictureBlend(unsigned char* pixels, std::uint32_t count, const PictureBlendParams& p);

}  // namespace pelx04
