// The page's side of the shared script host: always sandboxed, limits that
// stop a runaway script before the page's time limit has to stop the worker,
// and print collected into a buffer the page shows.
#include "script_state.hpp"

#include <cstring>
#include <string>

#include <lua.hpp>

#include "script_host.hpp"

extern "C" int luaopen_pelx04(lua_State* L);

namespace pelx04web {
namespace {

// A script's own Lua memory; frames and the picture store are not counted.
constexpr std::size_t luaMemoryLimit = 64u << 20;
// Generous for a script that fills tables; it stops an endless loop with a
// Lua error, before the page's time limit has to stop the worker.
constexpr long instructionLimit = 200000000;
constexpr std::size_t outputLimit = 64u << 10;

std::string message;
std::string loadedText;
bool textLoaded = false;
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

}  // namespace

lua_State* openScriptState(const char*& error) {
    pelx04host::ScriptOptions options;
    options.openModule = luaopen_pelx04;
    options.sandbox = true;
    options.maxMemoryBytes = luaMemoryLimit;
    options.maxInstructions = instructionLimit;
    options.printWriter = appendOutput;
    options.framePlaceInErrors = false;
    lua_State* L = pelx04host::openScriptHost(options, message);
    if (L == nullptr) error = "cannot set up the Lua state";
    return L;
}

bool runScriptOnFrame(lua_State* L, const char* text, std::size_t size, unsigned char* pixels, int width,
                      int height, double index, double time) {
    // Compiled again only when the text changes.
    if (!textLoaded || loadedText.size() != size || std::memcmp(loadedText.data(), text, size) != 0) {
        loadedText.assign(text, size);
        textLoaded = pelx04host::loadScriptText(L, text, size, "script", message);
        if (!textLoaded) return false;
    }
    return pelx04host::runScript(L, pixels, width, height, static_cast<long>(index), time, message);
}

const char* scriptMessage() { return message.c_str(); }

const char* scriptOutput() { return output; }

void clearScriptOutput() {
    outputSize = 0;
    outputCut = false;
    output[0] = '\0';
}

}  // namespace pelx04web
