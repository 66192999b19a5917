// The runner's Lua side: one Lua 5.1 state with pelx04 loaded and the user's
// script loaded once, then run once per frame. All frames go through the same
// state, so scripts keep their globals from frame to frame.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct lua_State;

namespace pelx04run {

// The limits --sandbox applies when no --max-instructions or --max-memory is
// given: a billion instructions is several seconds of pure Lua per frame, far
// more than a filter script needs, and a gibibyte holds a few 8K frames copied
// into Lua tables.
constexpr long sandboxDefaultMaxInstructions = 1000000000L;
constexpr std::size_t sandboxDefaultMaxMemoryBytes = std::size_t{1} << 30;

struct ScriptOptions {
    std::string modulePath;               // full path of pelx04.so; loaded by path, never from package.cpath
    std::string scriptPath;
    std::vector<std::string> scriptArgs;  // global `arg`: arg[0] = script path, arg[1..n] = these
    bool sandbox = false;
    std::size_t maxMemoryBytes = 0;       // 0: no limit
    long maxInstructions = 0;             // per frame; 0: no limit
};

// Opens a state with the standard libraries, loads the module by its path,
// applies the sandbox when asked, refuses os.exit, sets `arg` and loads the
// script without running it. Null with `error` set (file and line for a
// syntax error) on failure.
lua_State* openScriptHost(const ScriptOptions& options, std::string& error);

// Sets the global `frame` = {data, width, height, index, time, row(y)} and runs
// the script once, with the script arguments as its `...`. The pixels must
// stay mapped until the state is closed, since a script may keep frame.data.
// A time that is negative or NaN is unknown (raw frames): frame.time is then
// nil. On failure `error` reads "frame INDEX at T s: FILE:LINE: message" (no
// "at T s" for an unknown time) and carries a traceback.
bool runScript(lua_State* L, unsigned char* pixels, int width, int height, long index, double time,
               std::string& error);

void closeScriptHost(lua_State* L);

}  // namespace pelx04run
