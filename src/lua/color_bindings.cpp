// Lua entry points of the filters that work in the HSV and YPbPr models.
#include "filters/hsv_posterize.hpp"
#include "filters/hsv_shift.hpp"
#include "filters/ypbpr_adjust.hpp"
#include "lua/bindings.hpp"
#include "lua/lua_args.hpp"

namespace pelx04 {

int mirtHSV(lua_State* L) {
    const FrameArgs frame = readFrame(L);
    const HsvShiftParams p{intArg(L, 4), intArg(L, 5), intArg(L, 6)};
    lua_settop(L, 1);
    applyHsvShift(frame.pixels, frame.count, p);
    return 1;
}

int mirtYPbPr(lua_State* L) {
    const FrameArgs frame = readFrame(L);
    const YPbPrAdjustParams p{intArg(L, 4), intArg(L, 5), intArg(L, 6), intArg(L, 7)};
    lua_settop(L, 1);
    applyYPbPrAdjust(frame.pixels, frame.count, p);
    return 1;
}

int mirtHsvHeitan(lua_State* L) {
    const FrameArgs frame = readFrame(L);
    const HsvPosterizeParams p = hsvPosterizeParams(intArg(L, 4), intArg(L, 5), intArg(L, 6), intArg(L, 7));
    lua_settop(L, 1);
    applyHsvPosterize(frame.pixels, frame.count, p);
    return 1;
}

}  // namespace pelx04
