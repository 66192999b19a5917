// The script host every program shares (the frame runner, the playground page
// and the frei0r plugin): one Lua 5.1 state with pelx04 loaded and a script
// loaded once, then run once per frame. All frames go through the same state,
// so scripts keep their globals from frame to frame. What a script sees is
// set up here and nowhere else.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <lua.hpp>

namespace pelx04host {

// The limits --sandbox applies when no --max-instructions or --max-memory is
// given: a billion instructions is several seconds of pure Lua per frame, far
// more than a filter script needs, and a gibibyte holds a few 8K frames copied
// into Lua tables.
constexpr long sandboxDefaultMaxInstructions = 1000000000L;
constexpr std::size_t sandboxDefaultMaxMemoryBytes = std::size_t{1} << 30;

// The largest script file read, as the page's Open script... takes.
constexpr std::size_t maxScriptBytes = std::size_t{1} << 20;

struct ScriptOptions {
    // Where pelx04 comes from: a module file loaded by its full path (never
    // from package.cpath), as any host loads it; or, when openModule is set,
    // the library linked into the program and registered in package.preload.
    std::string modulePath;
    lua_CFunction openModule = nullptr;
    // Read and loaded by openScriptHost; empty when the program hands over the
    // text itself (loadScriptText), as the page does.
    std::string scriptPath;
    // Set when the program has read scriptPath itself (readScriptFile), as
    // the plugin does before it takes its lock: then scriptText is loaded.
    bool scriptTextRead = false;
    std::string scriptText;
    // Programs with a command line set the global `arg` = {[0] = script path,
    // these...} and pass them as the script's `...`; the others get an empty
    // `arg`.
    bool hasCommandLine = false;
    std::vector<std::string> scriptArgs;
    bool sandbox = false;
    // The pattern functions pay for their matching from maxInstructions
    // (boundPatternWork in bounded_patterns.hpp); the sandbox implies it.
    bool boundPatternWork = false;
    std::size_t maxMemoryBytes = 0;       // 0: no limit
    long maxInstructions = 0;             // per frame; 0: no limit
    // Where print writes, when not to standard output (the page collects it).
    void (*printWriter)(const char* text, std::size_t size) = nullptr;
    // print, io.write and io.stdout write to standard error: in a program
    // whose standard output may be its media stream.
    bool outputToStderr = false;
    // Errors start with "frame INDEX at T s: "; the page, which shows one
    // picture at a time, leaves it out.
    bool framePlaceInErrors = true;
};

// Reads a script file: a regular file of at most maxScriptBytes, opened
// without blocking, so that a FIFO, a device (/dev/zero, /dev/stdin) or a
// huge file is refused at once with a message naming it.
bool readScriptFile(const std::string& path, std::string& text, std::string& error);

// Opens a state with the standard libraries, makes pelx04 loadable and loads
// it, applies the sandbox when asked, refuses os.exit, sets `arg` and loads
// the script (when scriptPath is set) without running it. Null with `error`
// set (file and line for a syntax error) on failure.
lua_State* openScriptHost(const ScriptOptions& options, std::string& error);

// Replaces the script with `text`, compiled under `name` (messages read
// "NAME:LINE: ..."). Globals, the value table and the picture store stay.
bool loadScriptText(lua_State* L, const char* text, std::size_t size, const char* name, std::string& error);

// Sets the global `frame` = {data, width, height, index, time, row(y)} and runs
// the script once, with the script arguments as its `...`. The pixels must
// stay mapped until the state is closed, since a script may keep frame.data.
// A time that is negative, infinite or NaN is unknown (raw frames): frame.time
// is then nil. On failure `error` reads "frame INDEX at T s: FILE:LINE:
// message" (no "at T s" for an unknown time; no place at all when
// framePlaceInErrors is off) and carries a traceback.
bool runScript(lua_State* L, unsigned char* pixels, int width, int height, long index, double time,
               std::string& error);

// Replaces the script's arguments from the next frame on: the global `arg`
// (made afresh, as openScriptHost makes it) and the script's `...`. For a
// program whose values change while it runs (the plugin's, from its host).
bool setScriptArgs(lua_State* L, const std::vector<std::string>& args, std::string& error);

void closeScriptHost(lua_State* L);

// "frame INDEX at T s: " (no "at T s" for an unknown time): how every error
// of a frame starts, for a program's own errors too.
std::string framePlace(long index, double time);

}  // namespace pelx04host
