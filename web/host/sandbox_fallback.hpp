// A stand-in with the interface of tools/lua_sandbox.hpp, used until the
// shared sandbox is built here: the same names, so switching is one include.
#pragma once

#include <cstddef>

struct lua_State;

namespace pelx04run {

struct MemoryBudget {
    std::size_t limit;
    std::size_t used;
};

void* budgetedAlloc(void* ud, void* ptr, std::size_t osize, std::size_t nsize);
void restrictToSandbox(lua_State* L);
int loadScriptChunk(lua_State* L, const char* text, std::size_t size, const char* chunkName);
void armInstructionLimit(lua_State* L, long maxInstructions);
void refuseOsExit(lua_State* L);

}  // namespace pelx04run
