// Lua errors unwind with longjmp, which skips C++ destructors. So everything
// that can raise one (loading libraries, require, the script itself) runs
// inside lua_cpcall in functions that hold no objects with destructors, and
// the public functions, which may, call only API functions that cannot raise.
#include "script_host.hpp"

#include <lua.hpp>

namespace pelx04run {
namespace {

// Registry keys: the loaded chunk and the traceback handler, kept where the
// script cannot reach or replace them.
char chunkKey;
char tracebackKey;

struct SetupCall {
    const char* cpath;
    const char* scriptPath;
};

struct FrameCall {
    unsigned char* pixels;
    double width;
    double height;
    double index;
};

int setUpHost(lua_State* L) {
    const SetupCall* call = static_cast<const SetupCall*>(lua_touserdata(L, 1));
    luaL_openlibs(L);

    // Only the build's own module may answer require "pelx04"; LUA_CPATH and
    // the system directories are not consulted.
    lua_getglobal(L, "package");
    lua_pushstring(L, call->cpath);
    lua_setfield(L, -2, "cpath");
    lua_pop(L, 1);

    lua_getglobal(L, "require");
    lua_pushstring(L, "pelx04");
    lua_call(L, 1, 0);

    lua_pushlightuserdata(L, &tracebackKey);
    lua_getglobal(L, "debug");
    lua_getfield(L, -1, "traceback");
    lua_remove(L, -2);
    lua_rawset(L, LUA_REGISTRYINDEX);

    lua_pushlightuserdata(L, &chunkKey);
    if (luaL_loadfile(L, call->scriptPath) != 0) lua_error(L);
    lua_rawset(L, LUA_REGISTRYINDEX);
    return 0;
}

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
    const size_t row = static_cast<size_t>(y);
    lua_pushlightuserdata(L, base + row * static_cast<size_t>(width) * 4);
    return 1;
}

int runFrameStep(lua_State* L) {
    const FrameCall* call = static_cast<const FrameCall*>(lua_touserdata(L, 1));
    lua_settop(L, 0);

    lua_createtable(L, 0, 5);
    lua_pushlightuserdata(L, call->pixels);
    lua_setfield(L, -2, "data");
    lua_pushnumber(L, call->width);
    lua_setfield(L, -2, "width");
    lua_pushnumber(L, call->height);
    lua_setfield(L, -2, "height");
    lua_pushnumber(L, call->index);
    lua_setfield(L, -2, "index");
    lua_pushlightuserdata(L, call->pixels);
    lua_pushnumber(L, call->width);
    lua_pushnumber(L, call->height);
    lua_pushcclosure(L, frameRow, 3);
    lua_setfield(L, -2, "row");
    lua_setglobal(L, "frame");

    lua_pushlightuserdata(L, &tracebackKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    const int handler = lua_isfunction(L, -1) ? lua_gettop(L) : 0;
    lua_pushlightuserdata(L, &chunkKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (lua_pcall(L, 0, 0, handler) != 0) lua_error(L);
    return 0;
}

// Takes the error object left by a failed protected call.
void takeError(lua_State* L, int status, std::string& error) {
    const char* message = lua_tostring(L, -1);
    if (message != nullptr) {
        error = message;
    } else if (status == LUA_ERRMEM) {
        error = "out of memory";
    } else {
        error = "script raised a ";
        error += luaL_typename(L, -1);
        error += " value as its error";
    }
    lua_settop(L, 0);
}

}  // namespace

lua_State* openScriptHost(const std::string& modulePattern, const std::string& scriptPath, std::string& error) {
    lua_State* L = luaL_newstate();
    if (L == nullptr) {
        error = "cannot create a Lua state (out of memory)";
        return nullptr;
    }
    SetupCall call{modulePattern.c_str(), scriptPath.c_str()};
    const int status = lua_cpcall(L, setUpHost, &call);
    if (status != 0) {
        takeError(L, status, error);
        lua_close(L);
        return nullptr;
    }
    return L;
}

bool runScript(lua_State* L, unsigned char* pixels, int width, int height, double index, std::string& error) {
    FrameCall call{pixels, static_cast<double>(width), static_cast<double>(height), index};
    const int status = lua_cpcall(L, runFrameStep, &call);
    if (status != 0) {
        takeError(L, status, error);
        return false;
    }
    lua_settop(L, 0);
    return true;
}

void closeScriptHost(lua_State* L) {
    if (L != nullptr) lua_close(L);
}

}  // namespace pelx04run
