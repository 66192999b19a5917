// Every function here that calls the Lua API may be unwound by a Lua error
// (longjmp), so none holds an object with a destructor.
#include "lua_sandbox.hpp"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <lua.hpp>

#include "bounded_patterns.hpp"

namespace pelx04host {

// Every thread's hook prepays the next stretch of instructions from one
// shared count before it runs them, so the sum over all threads never passes
// the limit, however many coroutines run a little each. A thread's first
// stretch is short, so that one which ends early wastes little of the budget;
// each next one doubles, so that a long loop calls the hook rarely.
struct InstructionBudget {
    long limit;
    long remaining;
    double arming;  // raised at each arming; a thread armed in an earlier one is armed again
};

namespace {

// Registry keys: the instruction budget shared by the state's threads, and a
// weak table of the threads that budget has armed (thread -> arming).
char instructionBudgetKey;
char armedThreadsKey;

constexpr int firstStretch = 100;
constexpr int longestStretch = 12800;

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

void countInstructions(lua_State* L, lua_Debug*);

InstructionBudget* findInstructionBudget(lua_State* L) {
    lua_pushlightuserdata(L, &instructionBudgetKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    InstructionBudget* budget = static_cast<InstructionBudget*>(lua_touserdata(L, -1));
    lua_pop(L, 1);
    return budget;
}

// Prepays the next `wanted` instructions of L (fewer if fewer are left) and
// sets its hook to fire after them; with none left, on the next instruction.
void prepayStretch(lua_State* L, InstructionBudget* budget, int wanted) {
    const int stretch = budget->remaining < wanted ? static_cast<int>(budget->remaining) : wanted;
    budget->remaining -= stretch;
    lua_sethook(L, countInstructions, LUA_MASKCOUNT, stretch > 0 ? stretch : 1);
}

// Raises the limit's error, placed at the function `level` up the stack.
int reachLimit(lua_State* L, long limit, int level) {
    // From now on every instruction of this thread fails, so a script that
    // catches the error with pcall cannot go on looping.
    lua_sethook(L, countInstructions, LUA_MASKCOUNT, 1);
    char message[80];
    std::snprintf(message, sizeof message, "instruction limit of %ld per frame reached", limit);
    luaL_where(L, level);
    lua_pushstring(L, message);
    lua_concat(L, 2);
    return lua_error(L);
}

void countInstructions(lua_State* L, lua_Debug*) {
    InstructionBudget* budget = findInstructionBudget(L);
    if (budget != nullptr && budget->limit <= 0) {
        lua_sethook(L, nullptr, 0, 0);
        return;
    }
    // Without a budget (it could not be stored) the hook was armed with the
    // whole limit, so its first call means the limit is reached.
    long limit = lua_gethookcount(L);
    if (budget != nullptr) {
        limit = budget->limit;
        if (budget->remaining > 0) {
            const int ran = lua_gethookcount(L);
            prepayStretch(L, budget, ran < longestStretch / 2 ? 2 * ran : longestStretch);
            return;
        }
    }
    reachLimit(L, limit, 0);
}

// Arms the coroutine at `index` on the budget before it runs, unless the
// current arming already did.
void armCoroutine(lua_State* L, int index) {
    lua_State* thread = lua_tothread(L, index);
    InstructionBudget* budget = findInstructionBudget(L);
    if (thread == nullptr || budget == nullptr || budget->limit <= 0) return;
    lua_pushvalue(L, index);
    lua_pushlightuserdata(L, &armedThreadsKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (!lua_istable(L, -1)) {
        lua_pop(L, 2);
        return;
    }
    lua_pushvalue(L, -2);
    lua_rawget(L, -2);
    const bool armed = lua_tonumber(L, -1) == budget->arming;
    lua_pop(L, 1);
    if (!armed) {
        lua_pushvalue(L, -2);
        lua_pushnumber(L, budget->arming);
        lua_rawset(L, -3);
        prepayStretch(thread, budget, firstStretch);
    }
    lua_pop(L, 2);
}

// coroutine.resume: the library's own, with the coroutine armed first.
int armedResume(lua_State* L) {
    armCoroutine(L, 1);
    return lua_tocfunction(L, lua_upvalueindex(1))(L);
}

// What coroutine.wrap returns: the library's own resuming function (upvalue
// 2), which finds its coroutine in upvalue 1, as in the closure it came from.
int armedWrapped(lua_State* L) {
    armCoroutine(L, lua_upvalueindex(1));
    return lua_tocfunction(L, lua_upvalueindex(2))(L);
}

// coroutine.wrap: the library's own, its result re-made around armedWrapped.
int armedWrap(lua_State* L) {
    lua_tocfunction(L, lua_upvalueindex(1))(L);
    if (lua_tocfunction(L, -1) == nullptr || lua_getupvalue(L, -1, 1) == nullptr) return 1;
    lua_pushcfunction(L, lua_tocfunction(L, -2));
    lua_pushcclosure(L, armedWrapped, 2);
    return 1;
}

// Replaces table.name by a closure of `wrapper` over the library's own C
// function (upvalue 1) and `flag` (upvalue 2). The wrapper calls the library's
// function directly, in its own call, so argument errors still name the
// function the script called; that works because those functions use no
// upvalues, so a field that is already wrapped is left alone.
void wrapField(lua_State* L, int table, const char* name, lua_CFunction wrapper, bool flag) {
    lua_getfield(L, table, name);
    if (lua_tocfunction(L, -1) == nullptr || lua_tocfunction(L, -1) == wrapper) {
        lua_pop(L, 1);
        return;
    }
    lua_pushboolean(L, flag);
    lua_pushcclosure(L, wrapper, 2);
    lua_setfield(L, table, name);
}

// Coroutines resume through armedResume and armedWrap, which arm them on the
// shared budget: one created before the limit was armed, or in an earlier
// frame, is armed again when it next runs. The sandbox installs them at once,
// so that no function made by the library's own wrap is left to escape.
void countCoroutines(lua_State* L) {
    lua_pushlightuserdata(L, &armedThreadsKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    const bool made = lua_istable(L, -1);
    lua_pop(L, 1);
    if (!made) {
        lua_pushlightuserdata(L, &armedThreadsKey);
        lua_newtable(L);
        lua_createtable(L, 0, 1);
        lua_pushliteral(L, "k");
        lua_setfield(L, -2, "__mode");
        lua_setmetatable(L, -2);
        lua_rawset(L, LUA_REGISTRYINDEX);
    }
    lua_getglobal(L, "coroutine");
    if (lua_istable(L, -1)) {
        wrapField(L, lua_gettop(L), "resume", armedResume, false);
        wrapField(L, lua_gettop(L), "wrap", armedWrap, false);
    }
    lua_pop(L, 1);
}

int storeInstructionBudget(lua_State* L) {
    const long limit = *static_cast<const long*>(lua_touserdata(L, 1));
    InstructionBudget* budget = findInstructionBudget(L);
    if (budget == nullptr) {
        countCoroutines(L);
        lua_pushlightuserdata(L, &instructionBudgetKey);
        budget = static_cast<InstructionBudget*>(lua_newuserdata(L, sizeof(InstructionBudget)));
        budget->arming = 0;
        lua_rawset(L, LUA_REGISTRYINDEX);
    }
    budget->limit = limit;
    budget->remaining = limit;
    budget->arming += 1;
    return 0;
}

// unpack as Lua's, with the count formed without overflow (Lua's own wraps it
// and writes past the stack) and refused past what the stack can take.
double unpackIndex(lua_State* L, int argument, double absent) {
    const double value = luaL_optnumber(L, argument, absent);
    return value != value ? 0 : std::trunc(value);
}

int checkedUnpack(lua_State* L) {
    luaL_checktype(L, 1, LUA_TTABLE);
    const double first = unpackIndex(L, 2, 1);
    const double last = unpackIndex(L, 3, static_cast<double>(lua_objlen(L, 1)));
    if (first > last) return 0;
    const double count = last - first + 1;
    if (!(count <= INT_MAX) || !lua_checkstack(L, static_cast<int>(count))) {
        return luaL_error(L, "too many results to unpack");
    }
    const int values = static_cast<int>(count);
    for (int k = 0; k < values; ++k) {
        lua_pushnumber(L, first + k);
        lua_rawget(L, 1);
    }
    return values;
}

// string.rep: Lua's own adds the string n times, even an empty one (2^31
// rounds of nothing, beyond the instruction count), and its count n-- wraps
// for n = -2^31.
int checkedRep(lua_State* L) {
    std::size_t length = 0;
    luaL_checklstring(L, 1, &length);
    const double times = luaL_checknumber(L, 2);
    if (!(times >= 1) || length == 0) {
        lua_pushliteral(L, "");
        return 1;
    }
    if (times * static_cast<double>(length) >= INT_MAX) return luaL_error(L, "resulting string too large");
    lua_pushinteger(L, static_cast<lua_Integer>(times));
    lua_replace(L, 2);
    return lua_tocfunction(L, lua_upvalueindex(1))(L);
}

// table.insert(t, pos, v): Lua's own moves t[pos..#t] up one by one, so a
// position of -2^31 (or one past the int range, which wraps to it) means 2^31
// moves inside one call, beyond the instruction count.
int checkedInsert(lua_State* L) {
    if (lua_gettop(L) == 3) {
        const double position = luaL_checknumber(L, 2);
        luaL_argcheck(L, position >= 1 && position <= INT_MAX, 2, "position out of bounds");
    }
    return lua_tocfunction(L, lua_upvalueindex(1))(L);
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
    if (lua_istable(L, -1)) {
        removeField(L, lua_gettop(L), "dump");
        wrapField(L, lua_gettop(L), "rep", checkedRep, false);
    }
    lua_pop(L, 1);
    boundPatternWork(L);
    lua_getglobal(L, "table");
    if (lua_istable(L, -1)) wrapField(L, lua_gettop(L), "insert", checkedInsert, false);
    lua_pop(L, 1);
    lua_pushcfunction(L, checkedUnpack);
    lua_setglobal(L, "unpack");
    countCoroutines(L);

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
    InstructionBudget* budget = nullptr;
    if (lua_cpcall(L, storeInstructionBudget, &limit) != 0) {
        lua_pop(L, 1);
    } else {
        budget = findInstructionBudget(L);
    }
    if (budget != nullptr) {
        prepayStretch(L, budget, firstStretch);
    } else {
        lua_sethook(L, countInstructions, LUA_MASKCOUNT, maxInstructions > INT_MAX ? INT_MAX : static_cast<int>(maxInstructions));
    }
}

InstructionBudget* armedInstructionBudget(lua_State* L) {
    InstructionBudget* budget = findInstructionBudget(L);
    return budget != nullptr && budget->limit > 0 ? budget : nullptr;
}

long takeInstructions(InstructionBudget* budget) {
    if (budget == nullptr) return LONG_MAX;
    const long taken = budget->remaining;
    budget->remaining = 0;
    return taken;
}

void returnInstructions(InstructionBudget* budget, long unused) {
    if (budget != nullptr) budget->remaining += unused;
}

int instructionLimitReached(lua_State* L) {
    InstructionBudget* budget = findInstructionBudget(L);
    const long limit = budget != nullptr ? budget->limit : 0;
    if (budget != nullptr) budget->remaining = 0;
    return reachLimit(L, limit, 1);
}

void refuseOsExit(lua_State* L) {
    lua_getglobal(L, "os");
    if (lua_istable(L, -1)) {
        lua_pushcfunction(L, refusedExit);
        lua_setfield(L, -2, "exit");
    }
    lua_pop(L, 1);
}

}  // namespace pelx04host
