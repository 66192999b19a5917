// The module's only exported symbol and the table of functions it registers.
#include <lua.hpp>

#include "lua/bindings.hpp"

#ifdef _WIN32
#define PELX04_EXPORT extern "C" __declspec(dllexport)
#else
#define PELX04_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace pelx04 {
namespace {

// Scripts may rely on the order in which the functions are registered.
const luaL_Reg functionTable[] = {
    {"daytime", daytime},
    {"mirtRGB", mirtRGB},
    {"mirtCVSave", mirtCVSave},
    {"mirtToneCurve", mirtToneCurve},
    {"mirtToneCurveHSV", mirtToneCurveHSV},
    {"mirtHSV", mirtHSV},
    {"mirtHistgram", mirtHistgram},
    {"mirtYPbPr", mirtYPbPr},
    {"mirtGradation256", mirtGradation256},
    {"mirtMixPict0", mirtMixPict0},
    {"mirtMixPict1", mirtMixPict1},
    {"mirtheitan", mirtheitan},
    {"mirtRGB2GRA", mirtRGB2GRA},
    {"mirtRGB2CONV", mirtRGB2CONV},
    {"mirtGanma", mirtGanma},
    {"mirtHsvHeitan", mirtHsvHeitan},
    {"mirtOgtoHsv", mirtOgtoHsv},
    {nullptr, nullptr},
};

}  // namespace
}  // namespace pelx04

// Runs once per require; it only registers functions, so the value table and
// the picture store keep their contents across Lua states and reloads.
PELX04_EXPORT int luaopen_pelx04(lua_State* L) {
    luaL_register(L, "pelx04", pelx04::functionTable);
    return 1;
}
