#include "store/picture_blend.hpp"

#include "store/blend_kernels.hpp"
#include "store/picture_store.hpp"

namespace pelx04 {

void applyPictureBlend(unsigned char* pixels, std::uint32_t count, const PictureBlendParams& p) {
    if (!fitsPictureStore(count) || std::isnan(p.ratio)) return;
    const std::uint32_t done = pictureBlendFast(pixels, count, pictureStore, p);
    for (std::uint32_t i = done; i < count; ++i) {
        storeWord(pixels, i, pictureBlendPixel(loadWord(pixels, i), pictureStore[i], p));
    }
}

}  // namespace pelx04
