#include "frame_table.hpp"

#include <cstddef>

namespace pelx04host {
namespace {

// frame.row(y): a pointer to the first word of row y. Rows outside the frame
// give nil, so a script cannot be handed a pointer beyond the buffer; a
// fractional y is truncated, as the library truncates its sizes.
int frameRow(lua_State* L) {
    unsigned char* base = static_cast<unsigned char*>(lua_touserdata(L, lua_upvalueindex(1)));
    const lua_Number width = lua_tonumber(L, lua_upvalueindex(2));
    const lua_Number height = lua_tonumber(L, lua_upvalueindex(3));
    const lua_Number y = luaL_checknumber(L, 1);
    if (!(y >= 0 && y < height)) {
        lua_pushnil(L);
        return 1;
    }
    const std::size_t row = static_cast<std::size_t>(y);
    lua_pushlightuserdata(L, base + row * static_cast<std::size_t>(width) * 4);
    return 1;
}

}  // namespace

void setFrameGlobal(lua_State* L, unsigned char* pixels, lua_Number width, lua_Number height, lua_Number index,
                    lua_Number time) {
    lua_createtable(L, 0, 6);
    lua_pushlightuserdata(L, pixels);
    lua_setfield(L, -2, "data");
    lua_pushnumber(L, width);
    lua_setfield(L, -2, "width");
    lua_pushnumber(L, height);
    lua_setfield(L, -2, "height");
    lua_pushnumber(L, index);
    lua_setfield(L, -2, "index");
    if (time >= 0) {
        lua_pushnumber(L, time);
        lua_setfield(L, -2, "time");
    }
    lua_pushlightuserdata(L, pixels);
    lua_pushnumber(L, width);
    lua_pushnumber(L, height);
    lua_pushcclosure(L, frameRow, 3);
    lua_setfield(L, -2, "row");
    lua_setglobal(L, "frame");
}

}  // namespace pelx04host
