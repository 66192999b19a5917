// Reading a call's arguments from the Lua stack. Every function that calls the
// Lua API keeps objects with destructors out: a Lua error unwinds with longjmp.
#pragma once

#include <cstdint>

#include <lua.hpp>

namespace pelx04 {

struct FrameArgs {
    unsigned char* pixels;  // first byte of the first pixel word
    std::uint32_t count;    // 0 when refused
    bool refused;           // nothing may be touched, not even module state
};

// Arguments 1 to 3: buffer, width, height.
FrameArgs readFrame(lua_State* L);

// A missing or non-numeric argument reads as 0, as lua_tonumber gives it.
inline double numberArg(lua_State* L, int index) { return static_cast<double>(lua_tonumber(L, index)); }

std::int32_t intArg(lua_State* L, int index);

}  // namespace pelx04
