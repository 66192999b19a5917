// The functions scripts call, each a Lua native function. They read their
// arguments, call a kernel and return; no kernel file includes the Lua headers.
#pragma once

#include <lua.hpp>

namespace pelx04 {

int daytime(lua_State* L);
int mirtRGB(lua_State* L);
int mirtCVSave(lua_State* L);
int mirtToneCurve(lua_State* L);
int mirtToneCurveHSV(lua_State* L);
int mirtHSV(lua_State* L);
int mirtHistgram(lua_State* L);
int mirtYPbPr(lua_State* L);
int mirtGradation256(lua_State* L);
int mirtMixPict0(lua_State* L);
int mirtMixPict1(lua_State* L);
int mirtheitan(lua_State* L);
int mirtRGB2GRA(lua_State* L);
int mirtRGB2CONV(lua_State* L);
int mirtGanma(lua_State* L);
int mirtHsvHeitan(lua_State* L);
int mirtOgtoHsv(lua_State* L);

}  // namespace pelx04
