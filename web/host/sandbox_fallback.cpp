#include "sandbox_fallback.hpp"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <lua.hpp>

namespace pelx04run {
namespace {

long armedLimit = 0;

void clearField(lua_State* L, const char* table, const char* field) {
    lua_getglobal(L, table);
    if (lua_istable(L, -1)) {
        lua_pushnil(L);
        lua_setfield(L, -2, field);
    }
    lua_pop(L, 1);
}

int sandboxRequire(lua_State* L) {
    const char* name = luaL_checkstring(L, 1);
    if (std::strcmp(name, "pelx04") != 0) return luaL_error(L, "require of '%s' is not allowed in the sandbox", name);
    lua_getfield(L, LUA_REGISTRYINDEX, "_LOADED");
    lua_getfield(L, -1, "pelx04");
    return 1;
}

void limitReached(lua_State* L, lua_Debug*) {
    luaL_error(L, "instruction limit of %d per frame reached", static_cast<int>(armedLimit));
}

int refusedExit(lua_State* L) {
    return luaL_error(L, "os.exit is not allowed: a script cannot end the page's worker");
}

}  // namespace

void* budgetedAlloc(void* ud, void* ptr, std::size_t osize, std::size_t nsize) {
    MemoryBudget* budget = static_cast<MemoryBudget*>(ud);
    if (ptr == nullptr) osize = 0;
    if (nsize == 0) {
        std::free(ptr);
        budget->used -= osize;
        return nullptr;
    }
    if (nsize > osize && budget->limit != 0 && nsize - osize > budget->limit - budget->used) return nullptr;
    void* grown = std::realloc(ptr, nsize);
    if (grown != nullptr) budget->used = budget->used - osize + nsize;
    return grown;
}

void restrictToSandbox(lua_State* L) {
    for (const char* name : {"io", "debug", "load", "loadstring", "loadfile", "dofile"}) {
        lua_pushnil(L);
        lua_setglobal(L, name);
    }
    lua_getglobal(L, "os");
    lua_newtable(L);
    for (const char* name : {"clock", "date", "time", "difftime"}) {
        lua_getfield(L, -2, name);
        lua_setfield(L, -2, name);
    }
    lua_setglobal(L, "os");
    lua_pop(L, 1);
    clearField(L, "string", "dump");
    clearField(L, "package", "loadlib");
    clearField(L, "package", "loaders");
    lua_pushcfunction(L, sandboxRequire);
    lua_setglobal(L, "require");
}

int loadScriptChunk(lua_State* L, const char* text, std::size_t size, const char* chunkName) {
    if (size > 0 && text[0] == '\33') {
        lua_pushfstring(L, "%s: precompiled chunks are not accepted", chunkName);
        return LUA_ERRSYNTAX;
    }
    return luaL_loadbuffer(L, text, size, chunkName);
}

void armInstructionLimit(lua_State* L, long maxInstructions) {
    armedLimit = maxInstructions;
    if (maxInstructions <= 0 || maxInstructions > 0x7fffffffL) {
        lua_sethook(L, nullptr, 0, 0);
        return;
    }
    lua_sethook(L, limitReached, LUA_MASKCOUNT, static_cast<int>(maxInstructions));
}

void refuseOsExit(lua_State* L) {
    lua_getglobal(L, "os");
    if (lua_istable(L, -1)) {
        lua_pushcfunction(L, refusedExit);
        lua_setfield(L, -2, "exit");
    }
    lua_pop(L, 1);
}

}  // namespace pelx04run
