// Lua entry points of the filters that work on the channels directly.
#include "filters/channel_offset.hpp"
#include "filters/channel_swap.hpp"
#include "filters/gamma.hpp"
#include "filters/gradation.hpp"
#include "filters/grey.hpp"
#include "filters/posterize.hpp"
#include "lua/bindings.hpp"
#include "lua/lua_args.hpp"

namespace pelx04 {

int mirtRGB(lua_State* L) {
    const FrameArgs frame = readFrame(L);
    const ChannelOffsetParams p{intArg(L, 4), intArg(L, 5), intArg(L, 6), intArg(L, 7)};
    lua_settop(L, 1);
    applyChannelOffset(frame.pixels, frame.count, p);
    return 1;
}

int mirtGradation256(lua_State* L) {
    const FrameArgs frame = readFrame(L);
    const GradationParams p = gradationParams(intArg(L, 4), intArg(L, 5), intArg(L, 6), intArg(L, 7));
    lua_settop(L, 1);
    applyGradation(frame.pixels, frame.count, p);
    return 1;
}

int mirtheitan(lua_State* L) {
    const FrameArgs frame = readFrame(L);
    const PosterizeParams p = posterizeParams({intArg(L, 4), intArg(L, 5), intArg(L, 6), intArg(L, 7), intArg(L, 8)});
    lua_settop(L, 1);
    applyPosterize(frame.pixels, frame.count, p);
    return 1;
}

int mirtRGB2GRA(lua_State* L) {
    const FrameArgs frame = readFrame(L);
    const GreyParams p{intArg(L, 4), intArg(L, 5), intArg(L, 6)};
    lua_settop(L, 1);
    applyGrey(frame.pixels, frame.count, p);
    return 1;
}

int mirtRGB2CONV(lua_State* L) {
    const FrameArgs frame = readFrame(L);
    const ChannelSwapParams p{intArg(L, 4), intArg(L, 5), intArg(L, 6), intArg(L, 7)};
    lua_settop(L, 1);
    applyChannelSwap(frame.pixels, frame.count, p);
    return 1;
}

int mirtGanma(lua_State* L) {
    const FrameArgs frame = readFrame(L);
    const GammaArgs args{numberArg(L, 4), numberArg(L, 5), numberArg(L, 6), numberArg(L, 7)};
    lua_settop(L, 1);
    if (!gammaLeavesBuffer(args)) applyGamma(frame.pixels, frame.count, gammaParams(args));
    return 1;
}

}  // namespace pelx04
