// Lua entry points of the value table and the filters that read or fill it.
#include "curves/histogram.hpp"
#include "curves/hsv_band_shift.hpp"
#include "curves/hsv_tone_curve.hpp"
#include "curves/table_access.hpp"
#include "curves/tone_curve.hpp"
#include "lua/bindings.hpp"
#include "lua/lua_args.hpp"

namespace pelx04 {

// Mode 0 writes and returns nothing; any other mode reads and returns the entry
// as text. A read of an index outside the table returns nil, not "0": a script
// must not take a refusal for a count.
int mirtCVSave(lua_State* L) {
    const std::int32_t index = intArg(L, 1);
    const std::int32_t value = intArg(L, 2);
    const std::int32_t mode = intArg(L, 3);
    if (mode == 0) {
        writeTableEntry(index, value);
        return 0;
    }
    std::int32_t entry;
    if (!readTableEntry(index, entry)) {
        lua_pushnil(L);
        return 1;
    }
    char text[tableEntryTextSize];
    formatTableEntry(entry, text);
    lua_pushstring(L, text);
    return 1;
}

int mirtToneCurve(lua_State* L) {
    const FrameArgs frame = readFrame(L);
    const ToneCurveParams p{intArg(L, 4)};
    lua_settop(L, 1);
    applyToneCurve(frame.pixels, frame.count, p);
    return 1;
}

int mirtToneCurveHSV(lua_State* L) {
    const FrameArgs frame = readFrame(L);
    const HsvToneCurveParams p{intArg(L, 4)};
    lua_settop(L, 1);
    applyHsvToneCurve(frame.pixels, frame.count, p);
    return 1;
}

// Returns nothing. A refused frame leaves even the table alone: clearing it
// would hand the script a histogram of a frame that was never counted.
int mirtHistgram(lua_State* L) {
    const FrameArgs frame = readFrame(L);
    const HistogramParams p{intArg(L, 4)};
    lua_settop(L, 1);
    if (!frame.refused) applyHistogram(frame.pixels, frame.count, p);
    return 0;
}

int mirtOgtoHsv(lua_State* L) {
    const FrameArgs frame = readFrame(L);
    const HsvBandShiftParams p = hsvBandShiftParams({intArg(L, 4), intArg(L, 5), intArg(L, 6)});
    lua_settop(L, 1);
    applyHsvBandShift(frame.pixels, frame.count, p);
    return 1;
}

}  // namespace pelx04
