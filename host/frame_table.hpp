// The global `frame` a script sees, the same in the frame runner and in the
// playground page. Lua 5.1 and the C++ standard library only.
#pragma once

#include <lua.hpp>

namespace pelx04host {

// Sets frame = {data, width, height, index, time, row(y)}. A negative time
// leaves frame.time nil, for frames that carry none (raw frames on a pipe).
void setFrameGlobal(lua_State* L, unsigned char* pixels, lua_Number width, lua_Number height, lua_Number index,
                    lua_Number time);

}  // namespace pelx04host
