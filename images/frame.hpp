// A frame as the programs hold it outside a script's run, and the one byte
// swap between it and the R, G, B, A order of image files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pelx04image {

// A frame as a host hands it to the library: width x height pixel words
// A<<24|R<<16|G<<8|B, laid out in memory as the bytes B, G, R, A, rows
// contiguous. Held as 32-bit words so the buffer is word-aligned like a
// host's.
struct Frame {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> words;

    unsigned char* bytes() { return reinterpret_cast<unsigned char*>(words.data()); }
    const unsigned char* bytes() const { return reinterpret_cast<const unsigned char*>(words.data()); }
    std::size_t pixelCount() const { return static_cast<std::size_t>(width) * static_cast<std::size_t>(height); }
};

// Sizes a frame; false when width x height x 4 bytes cannot be held.
bool resizeFrame(Frame& frame, int width, int height);

// R, G, B, A bytes to B, G, R, A, and back (the same swap), for `pixels`
// pixels; `from` and `to` may be the same buffer.
void swapRedBlue(const unsigned char* from, unsigned char* to, std::size_t pixels);

}  // namespace pelx04image
