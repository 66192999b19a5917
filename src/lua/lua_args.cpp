#include "lua/lua_args.hpp"

#include <cstddef>

#include "lua/frame_size.hpp"
#include "core/pixel.hpp"

namespace pelx04 {

FrameArgs readFrame(lua_State* L) {
    void* pixels = lua_touserdata(L, 1);
    const FrameSize size = frameSize(numberArg(L, 2), numberArg(L, 3));
    // A full userdata tells its size; a light one cannot and is trusted.
    const std::size_t knownBytes = lua_type(L, 1) == LUA_TUSERDATA ? lua_objlen(L, 1) : SIZE_MAX;
    if (size.refused || !bufferFits(pixels, size.count, knownBytes)) return {nullptr, 0, true};
    return {static_cast<unsigned char*>(pixels), size.count, false};
}

std::int32_t intArg(lua_State* L, int index) { return truncateToInt32(numberArg(L, index)); }

}  // namespace pelx04
