// Pictures encoded as PNG in memory: the gallery's sheet and the page's
// download. Where the bytes go (a file written whole, a browser download) is
// the program's own business.
#pragma once

#include <vector>

namespace pelx04image {

// RGBA (components 4) or RGB (components 3) pixels, rows contiguous; false
// when encoding fails or memory runs out, with `png` empty.
bool encodePng(int width, int height, int components, const unsigned char* pixels, std::vector<unsigned char>& png);

}  // namespace pelx04image
