// Turning a script's width and height into a pixel count, and the refusals
// that keep a pass inside its buffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pelx04 {

struct FrameSize {
    std::uint32_t count;  // pixel words the pass visits
    bool refused;         // the call must touch nothing
};

// Width and height are truncated toward zero (-0.5 is a side of 0). A side of
// -1 or less, NaN or infinite, a side of 2^32 or more, or a product that does
// not fit in 32 bits, is refused: taken modulo 2^32 the count would wrap, and
// the pass would run past the buffer or silently work on the wrong pixels.
FrameSize frameSize(double width, double height);

// A null buffer with pixels to visit, or a buffer known to hold fewer bytes than
// the pass would touch, is refused. knownBytes is SIZE_MAX when the size cannot
// be known (a light userdata is trusted, as the host's buffers are).
bool bufferFits(const void* pixels, std::uint32_t count, std::size_t knownBytes);

}  // namespace pelx04
