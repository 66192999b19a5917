// Lua errors unwind with longjmp: everything that may raise runs inside
// lua_cpcall in functions that hold no objects with destructors.
#include "script_state.hpp"

#include <cstdlib>
#include <cstring>

#include <lua.hpp>

#include "frame_table.hpp"
#include "lua_sandbox.hpp"

extern "C" int luaopen_pelx04(lua_State* L);

namespace pelx04web {
namespace {

// A script's own Lua memory; frames and the picture store are not counted.
constexpr std::size_t luaMemoryLimit = 64u << 20;
// Generous for a script that fills tables; it stops an endless loop with a
// Lua error, before the page's time limit has to stop the worker.
constexpr long instructionLimit = 200000000;
constexpr std::size_t outputLimit = 64u << 10;

pelx04run::MemoryBudget budget{luaMemoryLimit, 0};
char chunkKey;
char chunkTextKey;
char tracebackKey;

char* message = nullptr;
char output[outputLimit + 64];
std::size_t outputSize = 0;
bool outputCut = false;

void appendOutput(const char* text, std::size_t size) {
    if (outputCut) return;
    if (size > outputLimit - outputSize) {
        size = outputLimit - outputSize;
        outputCut = true;
    }
    std::memcpy(output + outputSize, text, size);
    outputSize += size;
    output[outputSize] = '\0';
    if (outputCut) {
        const char note[] = "\n... (output cut at 64 KiB)\n";
        std::memcpy(output + outputSize, note, sizeof note);
    }
}

// print as Lua's own: tostring of each argument, tabs between, a newline.
int collectPrint(lua_State* L) {
    const int count = lua_gettop(L);
    lua_getglobal(L, "tostring");
    for (int i = 1; i <= count; ++i) {
        lua_pushvalue(L, -1);
        lua_pushvalue(L, i);
        lua_call(L, 1, 1);
        std::size_t size = 0;
        const char* text = lua_tolstring(L, -1, &size);
        if (text == nullptr) return luaL_error(L, "'tostring' must return a string to 'print'");
        if (i > 1) appendOutput("\t", 1);
        appendOutput(text, size);
        lua_pop(L, 1);
    }
    appendOutput("\n", 1);
    return 0;
}

int setUpState(lua_State* L) {
    luaL_openlibs(L);
    lua_getglobal(L, "package");
    lua_getfield(L, -1, "preload");
    lua_pushcfunction(L, luaopen_pelx04);
    lua_setfield(L, -2, "pelx04");
    lua_pop(L, 2);
    lua_getglobal(L, "require");
    lua_pushstring(L, "pelx04");
    lua_call(L, 1, 0);

    lua_pushlightuserdata(L, &tracebackKey);
    lua_getglobal(L, "debug");
    lua_getfield(L, -1, "traceback");
    lua_remove(L, -2);
    lua_rawset(L, LUA_REGISTRYINDEX);

    pelx04run::restrictToSandbox(L);
    pelx04run::refuseOsExit(L);
    lua_pushcfunction(L, collectPrint);
    lua_setglobal(L, "print");
    return 0;
}

struct FrameCall {
    const char* text;
    std::size_t size;
    unsigned char* pixels;
    double width;
    double height;
    double index;
    double time;
};

void loadChunkIfChanged(lua_State* L, const FrameCall* call) {
    lua_pushlightuserdata(L, &chunkTextKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    std::size_t lastSize = 0;
    const char* last = lua_tolstring(L, -1, &lastSize);
    const bool same = last != nullptr && lastSize == call->size && std::memcmp(last, call->text, lastSize) == 0;
    lua_pop(L, 1);
    if (same) return;
    lua_pushlightuserdata(L, &chunkKey);
    if (pelx04run::loadScriptChunk(L, call->text, call->size, "=script") != 0) lua_error(L);
    lua_rawset(L, LUA_REGISTRYINDEX);
    lua_pushlightuserdata(L, &chunkTextKey);
    lua_pushlstring(L, call->text, call->size);
    lua_rawset(L, LUA_REGISTRYINDEX);
}

int runFrameStep(lua_State* L) {
    const FrameCall* call = static_cast<const FrameCall*>(lua_touserdata(L, 1));
    lua_settop(L, 0);
    loadChunkIfChanged(L, call);

    pelx04run::setFrameGlobal(L, call->pixels, call->width, call->height, call->index, call->time);

    lua_pushlightuserdata(L, &tracebackKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    lua_pushlightuserdata(L, &chunkKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    pelx04run::armInstructionLimit(L, instructionLimit);
    const int status = lua_pcall(L, 0, 0, 1);
    pelx04run::armInstructionLimit(L, 0);
    if (status != 0) lua_error(L);
    return 0;
}

// Lua 5.1 does not collect when an allocation fails, and its collector waits
// for the heap to double: under a fixed budget, garbage left by a run that ran
// out of memory (or one that just filled half the budget) would make every
// later run fail. Inside a protected call, since a __gc may raise an error.
int collectGarbage(lua_State* L) {
    lua_gc(L, LUA_GCCOLLECT, 0);
    return 0;
}

void collectIfNeeded(lua_State* L, bool failed) {
    if (failed || budget.used > budget.limit / 2) lua_cpcall(L, collectGarbage, nullptr);
    lua_settop(L, 0);
}

void keepMessage(lua_State* L, int status) {
    const char* text = lua_tostring(L, -1);
    if (text == nullptr) text = status == LUA_ERRMEM ? "not enough memory" : "script raised a non-string error";
    std::free(message);
    message = static_cast<char*>(std::malloc(std::strlen(text) + 1));
    if (message != nullptr) std::memcpy(message, text, std::strlen(text) + 1);
    lua_settop(L, 0);
}

}  // namespace

lua_State* openScriptState(const char*& error) {
    lua_State* L = lua_newstate(pelx04run::budgetedAlloc, &budget);
    if (L == nullptr) {
        error = "cannot create a Lua state (out of memory)";
        return nullptr;
    }
    const int status = lua_cpcall(L, setUpState, nullptr);
    if (status != 0) {
        keepMessage(L, status);
        lua_close(L);
        error = "cannot set up the Lua state";
        return nullptr;
    }
    return L;
}

bool runScriptOnFrame(lua_State* L, const char* text, std::size_t size, unsigned char* pixels, int width,
                      int height, double index, double time) {
    FrameCall call{text, size, pixels, static_cast<double>(width), static_cast<double>(height), index, time};
    const int status = lua_cpcall(L, runFrameStep, &call);
    if (status != 0) keepMessage(L, status);
    collectIfNeeded(L, status != 0);
    return status == 0;
}

const char* scriptMessage() { return message != nullptr ? message : "out of memory"; }

const char* scriptOutput() { return output; }

void clearScriptOutput() {
    outputSize = 0;
    outputCut = false;
    output[0] = '\0';
}

}  // namespace pelx04web
