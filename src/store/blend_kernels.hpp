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

namespace x86 {
std::uint32_t pictureBlendAvx2(unsigned char* pixels, std::uint32_t count, const std::uint32_t* stored,
                               const PictureBlendParams& p);
}  // namespace x86

}  // namespace pelx04
