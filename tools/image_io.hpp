// Frames as the runner holds them, and reading and writing them as images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pelx04run {

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

// Converts between stb's R, G, B, A byte order and the frame's B, G, R, A.
void frameFromRgba(Frame& frame, const unsigned char* rgba);
void frameToRgba(const Frame& frame, unsigned char* rgba);

// Writes RGBA (components 4) or RGB (components 3) pixels as a PNG. The file
// is written beside the target under a temporary name and renamed into place
// only when complete, so a failure never leaves a half-written target.
bool writePng(const std::string& path, int width, int height, int components,
              const unsigned char* pixels, std::string& error);

// Writes a frame as an RGBA PNG, as writePng does.
bool saveFrame(const std::string& path, const Frame& frame, std::string& error);

}  // namespace pelx04run
