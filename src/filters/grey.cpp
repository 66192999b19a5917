#include "filters/grey.hpp"

#include "module/pixel_pass.hpp"

namespace pelx04 {

void applyGrey(unsigned char* pixels, std::uint32_t count, const GreyParams& p) {
    if (greyLeavesBuffer(p)) return;
    rewriteVisiblePixels(pixels, count, [&p](std::uint32_t word) { return greyPixel(word, p); });
}

}  // namespace pelx04
