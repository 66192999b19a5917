// The one picture a script can keep for later blends. One per process, shared
// by every Lua state, zero at load.
#pragma once

#include <cstdint>

namespace pelx04 {

constexpr std::uint32_t pictureStoreSize = 1920u * 1080u;

extern std::uint32_t pictureStore[pictureStoreSize];

// A frame of more pixels would be stored or read past the end of the store.
inline bool fitsPictureStore(std::uint32_t count) { return count <= pictureStoreSize; }

}  // namespace pelx04
