#include "filters/gradation.hpp"

#include "module/pixel_pass.hpp"

namespace pelx04 {

void applyGradation(unsigned char* pixels, std::uint32_t count, const GradationParams& p) {
    rewriteVisiblePixels(pixels, count, [&p](std::uint32_t word) { return gradationPixel(word, p); });
}

}  // namespace pelx04
