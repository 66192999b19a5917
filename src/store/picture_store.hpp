// The one picture a script can keep for later blends. One per process, shared
// by every Lua state, zero at load.
#pragma once

#include <cstdint>

namespace pelx04 {

constexpr std::uint32_t pictureStoreSize = 1920u * 1080u;

extern std::uint32_t pictureStore[pictureStoreSize];

}  // namespace pelx04
