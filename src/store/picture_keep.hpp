// mirtMixPict0: a frame's pixel words copied into the picture store for later
// blends.
#pragma once

#include <cstdint>

#include "store/picture_store.hpp"

namespace pelx04 {

// Entries 0..count-1 are overwritten, transparent pixels included; later
// entries keep what an earlier, larger frame left. A count the store cannot
// hold is refused and nothing is copied. The buffer is only read.
void applyPictureKeep(const unsigned char* pixels, std::uint32_t count);

}  // namespace pelx04
