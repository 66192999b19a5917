// Where the playground keeps the frame a script works on: at the very end of
// WebAssembly memory, followed only by a canary region. A filter that a script
// sends past its frame (frame.row with too many rows) writes into the canary,
// which is checked after every run, or runs off the end of memory and traps;
// it can never reach the heap that holds the Lua state and the input picture.
#pragma once

#include <cstddef>

namespace pelx04web {

// The largest frame the page accepts: 3840 x 2160 and 4096 x 2048 fit.
constexpr std::size_t maxFramePixels = 4096u * 2048u;

// Call once, first thing. Grows the malloc heap to `heapBytes` and then takes
// the rest of memory (which never grows) for frames, so no later allocation
// can land after the frame. False if memory is too small for both.
bool claimFrameArena(std::size_t heapBytes);

// The frame of `pixels` words (at most maxFramePixels), ending where the
// canary starts; the canary is rewritten.
unsigned char* placeFrame(std::size_t pixels);

// False when any canary word differs from what placeFrame wrote.
bool canaryIntact();

}  // namespace pelx04web
