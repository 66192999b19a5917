// Lua entry points of the picture store.
#include "lua/bindings.hpp"
#include "lua/lua_args.hpp"
#include "store/picture_blend.hpp"
#include "store/picture_keep.hpp"

namespace pelx04 {

// The buffer is only read, and returned.
int mirtMixPict0(lua_State* L) {
    const FrameArgs frame = readFrame(L);
    lua_settop(L, 1);
    applyPictureKeep(frame.pixels, frame.count);
    return 1;
}

// The ratio is used as the double Lua holds, not truncated.
int mirtMixPict1(lua_State* L) {
    const FrameArgs frame = readFrame(L);
    const PictureBlendParams p = pictureBlendParams(numberArg(L, 4));
    lua_settop(L, 1);
    applyPictureBlend(frame.pixels, frame.count, p);
    return 1;
}

}  // namespace pelx04
