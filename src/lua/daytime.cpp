#include "lua/bindings.hpp"
#include "lua/local_time.hpp"

namespace pelx04 {

// Arguments are ignored and left on the stack.
int daytime(lua_State* L) {
    char text[264];
    formatDaytime(readLocalTime(), text, sizeof text);
    lua_pushstring(L, text);
    return 1;
}

}  // namespace pelx04
