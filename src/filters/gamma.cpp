#include "filters/gamma.hpp"

#include "module/pixel_pass.hpp"

namespace pelx04 {

void applyGamma(unsigned char* pixels, std::uint32_t count, const GammaParams& p) {
    rewriteVisiblePixels(pixels, count, [&p](std::uint32_t word) { return gammaPixel(word, p); });
}

}  // namespace pelx04
