#include "filters/posterize.hpp"

#include "module/pixel_pass.hpp"

namespace pelx04 {

void applyPosterize(unsigned char* pixels, std::uint32_t count, const PosterizeParams& p) {
    rewriteVisiblePixels(pixels, count, [&p](std::uint32_t word) { return posterizePixel(word, p); });
}

}  // namespace pelx04
