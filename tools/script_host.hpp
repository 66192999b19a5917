// The runner's Lua side: one Lua 5.1 state with pelx04 required and the
// user's script loaded once, then run once per frame.
#pragma once

#include <string>

struct lua_State;

namespace pelx04run {

// Opens a state with the standard libraries, makes `modulePattern` (such as
// "/opt/build/lua/?.so") package.cpath, requires "pelx04" (which sets the
// global `pelx04`) and loads the script without running it. Returns null and
// sets `error` (with file and line for a syntax error) on failure.
lua_State* openScriptHost(const std::string& modulePattern, const std::string& scriptPath, std::string& error);

// Sets the global `frame` to {data, width, height, index, row} for this frame
// and runs the script on it. The pixels must stay valid until the state is
// closed, since a script may keep frame.data. False with `error` holding the
// script's message and a traceback when the script fails.
bool runScript(lua_State* L, unsigned char* pixels, int width, int height, double index, std::string& error);

void closeScriptHost(lua_State* L);

}  // namespace pelx04run
