// Placeholders for functions still being written; each is removed from here
// when its real binding lands.
#include "module/bindings.hpp"

namespace pelx04 {

int mirtCVSave(lua_State*) { return 0; }
int mirtToneCurve(lua_State* L) { lua_settop(L, 1); return 1; }
int mirtToneCurveHSV(lua_State* L) { lua_settop(L, 1); return 1; }
int mirtHSV(lua_State* L) { lua_settop(L, 1); return 1; }
int mirtHistgram(lua_State* L) { lua_settop(L, 1); return 0; }
int mirtYPbPr(lua_State* L) { lua_settop(L, 1); return 1; }
int mirtMixPict0(lua_State* L) { lua_settop(L, 1); return 1; }
int mirtMixPict1(lua_State* L) { lua_settop(L, 1); return 1; }
int mirtHsvHeitan(lua_State* L) { lua_settop(L, 1); return 1; }
int mirtOgtoHsv(lua_State* L) { lua_settop(L, 1); return 1; }

}  // namespace pelx04
