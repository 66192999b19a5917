#include "store/picture_keep.hpp"

#include <cstring>

#include "core/pixel.hpp"

namespace pelx04 {

void applyPictureKeep(const unsigned char* pixels, std::uint32_t count) {
    if (!fitsPictureStore(count)) return;
    // The words as they lie in memory, whatever their alignment.
    if (count > 0) std::memcpy(pictureStore, pixels, std::size_t{count} * 4u);
}

}  // namespace pelx04
