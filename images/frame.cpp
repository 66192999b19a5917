#include "frame.hpp"

#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace pelx04image {

bool resizeFrame(Frame& frame, int width, int height) {
    if (width < 0 || height < 0) return false;
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t h = static_cast<std::size_t>(height);
    if (h != 0 && w > std::numeric_limits<std::size_t>::max() / 4 / h) return false;
    try {
        frame.words.assign(w * h, 0u);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    frame.width = width;
    frame.height = height;
    return true;
}

// In whole words, so that a compiler with vectors makes one vector pass of it.
void swapRedBlue(const unsigned char* from, unsigned char* to, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint32_t word;
        std::memcpy(&word, from + i * 4u, 4);
        word = (word & 0xFF00FF00u) | ((word >> 16) & 0xFFu) | ((word & 0xFFu) << 16);
        std::memcpy(to + i * 4u, &word, 4);
    }
}

}  // namespace pelx04image
