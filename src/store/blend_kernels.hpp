// Fast passes of the picture store's blend, kept apart from the literal rule
// in picture_blend.hpp, which stays the reference.
#pragma once

#include <cstdint>

#include "store/picture_blend.hpp"

namespace pelx04 {

// Blends whole vectors of the frame with stored[i] as pictureBlendPixel would,
// at the CPU's level, and returns how many pixels it has done; the caller
// finishes the rest with the rule. The ratio is not NaN.
std::uint32_t pictureBlendFast(unsigned char* pixels, std::uint32_t count, const std::uint32_t* stored,
                               const PictureBlendParams& p);

// One ratio's blend in 16-bit fixed point, checked against the literal rule
// over all 65,536 channel pairs when the ratio is set. Every channel is
//   result = clamp(base + ((other - base) * weight + 2^14 >> 15))
// with base the stored channel and other the frame's (or the reverse when
// frameIsBase), and a channel pair whose product's low 15 bits fall within
// flagLow..flagLow+flagWidth takes table[frame << 8 | stored] instead. The
// check made that window cover every pair where the fixed point is wrong
// (they sit where the exact mean is a half, and the two double products decide
// it), so outside it the fixed point is the rule.
struct BlendFixedPlan {
    const unsigned char* table;  // 65,536 results of blendChannel, indexed frame << 8 | stored
    std::int16_t weight;         // |weight| <= 2^14
    bool frameIsBase;
    bool anyFlagged;             // false: the fixed point is right for every pair
    std::uint16_t flagLow, flagWidth;
};

namespace x86 {
std::uint32_t pictureBlendAvx2(unsigned char* pixels, std::uint32_t count, const std::uint32_t* stored,
                               const PictureBlendParams& p);
std::uint32_t pictureBlendFixedAvx2(unsigned char* pixels, std::uint32_t count, const std::uint32_t* stored,
                                    const BlendFixedPlan& plan);
std::uint32_t pictureBlendFixedAvx512(unsigned char* pixels, std::uint32_t count, const std::uint32_t* stored,
                                      const BlendFixedPlan& plan);
}  // namespace x86

}  // namespace pelx04
