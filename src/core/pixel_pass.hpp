// The one pass over a frame that every in-place filter shares.
#pragma once

#include <cstdint>

#include "core/pixel.hpp"

namespace pelx04 {

// Rewrites each visible pixel with rule(word), in ascending order; a transparent
// pixel keeps its word. The rule sees one pixel at a time.
template <class Rule>
inline void rewriteVisiblePixels(unsigned char* pixels, std::uint32_t count, Rule rule) {
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t word = loadWord(pixels, i);
        if (isTransparent(word)) continue;
        storeWord(pixels, i, rule(word));
    }
}

}  // namespace pelx04
