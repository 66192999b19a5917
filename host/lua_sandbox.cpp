// Every function here that calls the Lua API may be unwound by a Lua error
// (longjmp), so none holds an object with a destructor.
#include "lua_sandbox.hpp"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <lua.hpp>

namespace pelx04run {
namespace {

// Registry key of the instruction budget shared by the state's threads.
char instructionBudgetKey;

struct InstructionBudget {
    long limit;
    long remaining;
};

const char* const allowedOsFunctions[] = {"clock", "date", "time", "difftime"};

bool isAllowedOsFunction(const char* name) {
    for (const char* allowed : allowedOsFunctions) {
        if (std::strcmp(name, allowed) == 0) return true;
    }
    return false;
}

void removeField(lua_State* L, int table, const char* name) {
    lua_pushnil(L);
    lua_setfield(L, table, name);
}

void removeLibrary(lua_State* L, const char* name) {
    lua_pushnil(L);
    lua_setglobal(L, name);
    lua_getglobal(L, "package");
    lua_getfield(L, -1, "loaded");
    removeField(L, lua_gettop(L), name);
    lua_pop(L, 2);
}

void keepOnlyAllowedOs(lua_State* L) {
    lua_getglobal(L, "os");
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        return;
    }
    const int os = lua_gettop(L);
    lua_pushnil(L);
    while (lua_next(L, os) != 0) {
        lua_pop(L, 1);
        // Assigning nil to a present field is allowed during the traversal.
        if (lua_type(L, -1) == LUA_TSTRING && !isAllowedOsFunction(lua_tostring(L, -1))) {
            lua_pushvalue(L, -1);
            lua_pushnil(L);
            lua_rawset(L, os);
        }
    }
    lua_pop(L, 1);
}

int sandboxRequire(lua_State* L) {
    const char* name = luaL_checkstring(L, 1);
    if (std::strcmp(name, "pelx04") != 0) {
        return luaL_error(L, "require of '%s' is not allowed in the sandbox", name);
    }
    lua_pushvalue(L, lua_upvalueindex(1));
    return 1;
}

int refusedExit(lua_State* L) {
    return luaL_error(L,
                      "os.exit is not allowed: it would end the run as if it had succeeded, without "
                      "writing the output; raise an error with error() to stop the run");
}

struct ChunkReader {
    const char* text;
    std::size_t size;
    bool done;
};

const char* readWholeChunk(lua_State*, void* data, std::size_t* size) {
    ChunkReader* reader = static_cast<ChunkReader*>(data);
    if (reader->done) {
        *size = 0;
        return nullptr;
    }
    reader->done = true;
    *size = reader->size;
    return reader->text;
}

InstructionBudget* findInstructionBudget(lua_State* L) {
    lua_pushlightuserdata(L, &instructionBudgetKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    InstructionBudget* budget = static_cast<InstructionBudget*>(lua_touserdata(L, -1));
    lua_pop(L, 1);
    return budget;
}

int hookStep(long remaining) { return remaining > INT_MAX ? INT_MAX : static_cast<int>(remaining); }

void countInstructions(lua_State* L, lua_Debug*) {
    InstructionBudget* budget = findInstructionBudget(L);
    // Without a budget (it could not be stored) the hook was armed with the
    // whole limit, so its first call means the limit is reached.
    long limit = lua_gethookcount(L);
    if (budget != nullptr) {
        if (budget->limit <= 0) return;
        limit = budget->limit;
        budget->remaining -= lua_gethookcount(L);
        if (budget->remaining > 0) {
            lua_sethook(L, countInstructions, LUA_MASKCOUNT, hookStep(budget->remaining));
            return;
        }
    }
    // From now on every instruction of this thread fails, so a script that
    // catches the error with pcall cannot go on looping.
    lua_sethook(L, countInstructions, LUA_MASKCOUNT, 1);
    char message[80];
    std::snprintf(message, sizeof message, "instruction limit of %ld per frame reached", limit);
    luaL_where(L, 0);
    lua_pushstring(L, message);
    lua_concat(L, 2);
    lua_error(L);
}

int storeInstructionBudget(lua_State* L) {
    const long limit = *static_cast<const long*>(lua_touserdata(L, 1));
    InstructionBudget* budget = findInstructionBudget(L);
    if (budget == nullptr) {
        lua_pushlightuserdata(L, &instructionBudgetKey);
        budget = static_cast<InstructionBudget*>(lua_newuserdata(L, sizeof(InstructionBudget)));
        lua_rawset(L, LUA_REGISTRYINDEX);
    }
    budget->limit = limit;
    budget->remaining = limit;
    return 0;
}

}  // namespace

void* budgetedAlloc(void* ud, void* ptr, std::size_t osize, std::size_t nsize) {
    MemoryBudget* budget = static_cast<MemoryBudget*>(ud);
    if (nsize == 0) {
        std::free(ptr);
        budget->used -= osize;
        return nullptr;
    }
    // Lua passes the old size of a new block as 0 in 5.1, but not always
    // elsewhere; a null ptr owns nothing.
    const std::size_t owned = ptr == nullptr ? 0 : osize;
    if (nsize > owned && budget->limit != 0 && nsize - owned > budget->limit - budget->used) {
        return nullptr;
    }
    void* grown = std::realloc(ptr, nsize);
    if (grown == nullptr) {
        // Lua assumes a shrink always succeeds; the old block still serves.
        if (nsize <= owned) return ptr;
        return nullptr;
    }
    budget->used = budget->used - owned + nsize;
    return grown;
}

void restrictToSandbox(lua_State* L) {
    removeLibrary(L, "io");
    removeLibrary(L, "debug");
    keepOnlyAllowedOs(L);
    // newproxy: a userdata's __gc runs with hooks off, beyond the instruction limit.
    for (const char* name : {"load", "loadstring", "loadfile", "dofile", "newproxy"}) {
        lua_pushnil(L);
        lua_setglobal(L, name);
    }
    lua_getglobal(L, "string");
    if (lua_istable(L, -1)) removeField(L, lua_gettop(L), "dump");
    lua_pop(L, 1);

    lua_getglobal(L, "package");
    const int package = lua_gettop(L);
    removeField(L, package, "loadlib");
    lua_newtable(L);
    lua_setfield(L, package, "loaders");
    lua_newtable(L);
    lua_setfield(L, package, "preload");
    lua_getfield(L, package, "loaded");
    lua_getfield(L, -1, "pelx04");
    lua_pushcclosure(L, sandboxRequire, 1);
    lua_setglobal(L, "require");
    lua_pop(L, 2);
}

int loadScriptChunk(lua_State* L, const char* text, std::size_t size, const char* chunkName) {
    // A first line such as "#!/usr/bin/env pelx04-run" is dropped, its newline
    // kept so that line numbers stay right.
    if (size > 0 && text[0] == '#') {
        const void* newline = std::memchr(text, '\n', size);
        const std::size_t skipped = newline == nullptr ? size : static_cast<std::size_t>(
                                                                    static_cast<const char*>(newline) - text);
        text += skipped;
        size -= skipped;
    }
    // lua_load takes any text whose first byte is the escape as bytecode.
    if (size > 0 && text[0] == '\033') {
        lua_pushfstring(L, "%s: precompiled chunks are not accepted; give the script's source text",
                        chunkName[0] == '@' || chunkName[0] == '=' ? chunkName + 1 : chunkName);
        return LUA_ERRSYNTAX;
    }
    ChunkReader reader{text, size, false};
    return lua_load(L, readWholeChunk, &reader, chunkName);
}

void armInstructionLimit(lua_State* L, long maxInstructions) {
    if (maxInstructions <= 0) {
        lua_sethook(L, nullptr, 0, 0);
        InstructionBudget* budget = findInstructionBudget(L);
        if (budget != nullptr) budget->limit = 0;
        return;
    }
    // The budget lives in a userdata; creating it may run out of memory, so
    // that happens in a protected call of its own.
    long limit = maxInstructions;
    if (lua_cpcall(L, storeInstructionBudget, &limit) != 0) lua_pop(L, 1);
    lua_sethook(L, countInstructions, LUA_MASKCOUNT, hookStep(maxInstructions));
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
