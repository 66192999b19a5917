// What a script may reach: the restrictions of --sandbox, its instruction and
// memory limits, and the refusal of os.exit. It needs Lua 5.1 and the C++
// standard library only, so the playground page builds it into WebAssembly.
#pragma once

#include <cstddef>

struct lua_State;

namespace pelx04host {

// The budget of one Lua state's heap. limit 0: no limit. Memory that the
// module or the host allocates for itself (frames, the picture store) is not
// counted: the limit is on what a script makes.
struct MemoryBudget {
    std::size_t limit;
    std::size_t used;
};

// lua_Alloc for lua_newstate(budgetedAlloc, &budget): refuses (returns null) a
// growth past the limit, so Lua raises "not enough memory". A shrink never fails.
void* budgetedAlloc(void* ud, void* ptr, std::size_t osize, std::size_t nsize);

// Call after luaL_openlibs, once package.loaded.pelx04 and the global pelx04
// are set, inside a protected call. Removes io, debug, os except
// clock/date/time/difftime, load, loadstring, loadfile, dofile, newproxy, string.dump,
// package.loadlib and the package loaders; `require` becomes one that returns
// the loaded pelx04 for "pelx04" and raises
// "require of 'NAME' is not allowed in the sandbox" for anything else.
// `unpack` becomes one whose count cannot overflow; the pattern functions
// are bounded (boundPatternWork); string.rep and table.insert refuse what
// would loop 2^31 times in one call.
void restrictToSandbox(lua_State* L);

// Loads a script's text as a chunk (lua_load), refusing a precompiled chunk
// with a clear message: Lua 5.1 does not verify bytecode, so a crafted chunk
// reads and writes wherever it likes. A first line starting with '#' is
// skipped (kept as an empty line), as the lua command does. Returns
// lua_load's status; on failure the message is on the stack.
int loadScriptChunk(lua_State* L, const char* text, std::size_t size, const char* chunkName);

// After maxInstructions VM instructions from now, counted over every thread
// of the state, raises "instruction limit of N per frame reached" (a count
// hook). The first arming makes coroutine.resume and coroutine.wrap arm each
// coroutine on the same budget before it runs, whenever it was created. 0
// removes the hook. The host re-arms it before every frame, inside the
// protected call that runs the script. Time spent inside one library call is
// not counted, except where the call pays for it itself (below).
void armInstructionLimit(lua_State* L, long maxInstructions);

// For a library function whose work the count hook cannot see (the steps of a
// pattern match): the budget armed on L's state, or null when no limit is
// armed. The function takes what is left of it (LONG_MAX for null), spends
// some, and returns the rest before it runs any Lua code or raises an error;
// with nothing left it calls instructionLimitReached, which raises the limit's
// own error at the line that called the function.
struct InstructionBudget;
InstructionBudget* armedInstructionBudget(lua_State* L);
long takeInstructions(InstructionBudget* budget);
void returnInstructions(InstructionBudget* budget, long unused);
int instructionLimitReached(lua_State* L);

// Replaces os.exit (sandboxed or not) with a function that raises
// "os.exit is not allowed: ...": a script that ends the process would
// otherwise turn into a run reported as success with no output.
void refuseOsExit(lua_State* L);

}  // namespace pelx04host
