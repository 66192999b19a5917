// The page's Lua state, from the shared script host (host/): pelx04 linked in
// and registered through package.preload, restricted as the frame runner's
// --sandbox, with `print` collected into a buffer the page shows.
#pragma once

#include <cstddef>

struct lua_State;

namespace pelx04web {

// Null with `error` set (a static message) when the state cannot be made.
lua_State* openScriptState(const char*& error);

// Runs `text` once on the frame, as the frame runner runs a script per frame:
// the global `frame` = {data, width, height, index, time, row(y)}. The chunk is
// compiled again only when the text changes; globals, the value table and the
// picture store persist. False on a script error: its message, with the line
// ("script:LINE: ...") and a traceback, is left in scriptMessage().
bool runScriptOnFrame(lua_State* L, const char* text, std::size_t size, unsigned char* pixels, int width,
                      int height, double index, double time);

const char* scriptMessage();
// What print wrote since the last clearScriptOutput().
const char* scriptOutput();
void clearScriptOutput();

}  // namespace pelx04web
