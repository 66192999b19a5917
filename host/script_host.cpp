// Lua errors unwind with longjmp, which skips C++ destructors. So everything
// that can raise one (loading libraries and the module, the script itself)
// runs inside lua_cpcall in functions that hold no objects with destructors,
// and the public functions, which may, call only API functions that cannot
// raise.
#include "script_host.hpp"

#include <cerrno>
#include <cfloat>
#include <cstdio>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <lua.hpp>

#include "bounded_patterns.hpp"
#include "frame_table.hpp"
#include "lua_sandbox.hpp"

namespace pelx04host {
namespace {

#ifdef _WIN32
constexpr int scriptOpenFlags = O_RDONLY | O_BINARY;
#else
// Non-blocking, so that opening a FIFO does not wait for a writer.
constexpr int scriptOpenFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
#endif

// Registry keys: the loaded chunk, the traceback function and the host's own
// state, kept where the script cannot reach or replace them.
char chunkKey;
char tracebackKey;
char hostKey;

// Lives as long as the state; the allocator's userdata is its budget.
struct HostState {
    MemoryBudget budget{0, 0};
    ScriptOptions options;
    std::string displayName;  // the script as messages name it: its path, or the name its text came with
    std::string chunkName;
    std::string scriptText;
    const char* loadText;  // what loadChunk compiles next
    std::size_t loadSize;
    void (*printWriter)(const char* text, std::size_t size);  // null: Lua's own print
};

struct FrameCall {
    const HostState* host;
    unsigned char* pixels;
    lua_Number width;
    lua_Number height;
    lua_Number index;
    lua_Number time;
    int scriptStatus;  // the script's own status; rethrowing it turns every error into a runtime one
};

HostState* hostOf(lua_State* L) {
    lua_pushlightuserdata(L, &hostKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    HostState* host = static_cast<HostState*>(lua_touserdata(L, -1));
    lua_pop(L, 1);
    return host;
}

void loadModuleByPath(lua_State* L, const char* modulePath) {
    lua_getglobal(L, "package");
    const int package = lua_gettop(L);
    lua_getfield(L, package, "loadlib");
    lua_pushstring(L, modulePath);
    lua_pushstring(L, "luaopen_pelx04");
    lua_call(L, 2, 2);
    if (lua_isnil(L, -2)) {
        luaL_error(L, "cannot load the pelx04 module %s: %s", modulePath, lua_tostring(L, -1));
    }
    lua_pop(L, 1);
    lua_pushstring(L, "pelx04");
    lua_call(L, 1, 1);
    // As require does: a module that returns nothing is what it left as its global.
    if (lua_isnil(L, -1)) {
        lua_pop(L, 1);
        lua_getglobal(L, "pelx04");
    }
    lua_getfield(L, package, "loaded");
    lua_pushvalue(L, -2);
    lua_setfield(L, -2, "pelx04");
    lua_settop(L, package - 1);
}

void loadLinkedModule(lua_State* L, lua_CFunction openModule) {
    lua_getglobal(L, "package");
    lua_getfield(L, -1, "preload");
    lua_pushcfunction(L, openModule);
    lua_setfield(L, -2, "pelx04");
    lua_pop(L, 2);
    lua_getglobal(L, "require");
    lua_pushstring(L, "pelx04");
    lua_call(L, 1, 0);
}

void writeToStderr(const char* text, std::size_t size) { std::fwrite(text, 1, size, stderr); }

// print as Lua's own (tostring of each argument, tabs between, a newline),
// handed to the program's writer.
int printToWriter(lua_State* L) {
    void (*write)(const char*, std::size_t) = hostOf(L)->printWriter;
    const int count = lua_gettop(L);
    lua_getglobal(L, "tostring");
    for (int i = 1; i <= count; ++i) {
        lua_pushvalue(L, -1);
        lua_pushvalue(L, i);
        lua_call(L, 1, 1);
        std::size_t size = 0;
        const char* text = lua_tolstring(L, -1, &size);
        if (text == nullptr) return luaL_error(L, "'tostring' must return a string to 'print'");
        if (i > 1) write("\t", 1);
        write(text, size);
        lua_pop(L, 1);
    }
    write("\n", 1);
    return 0;
}

// io.write and io.stdout go to standard error too.
void sendOutputToStderr(lua_State* L) {
    lua_getglobal(L, "io");
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        return;
    }
    const int io = lua_gettop(L);
    lua_getfield(L, io, "stderr");
    lua_setfield(L, io, "stdout");
    lua_getfield(L, io, "output");
    lua_getfield(L, io, "stderr");
    lua_call(L, 1, 0);
    lua_pop(L, 1);
}

void setArgTable(lua_State* L, const ScriptOptions& options) {
    if (!options.hasCommandLine) {
        lua_newtable(L);
        lua_setglobal(L, "arg");
        return;
    }
    lua_createtable(L, static_cast<int>(options.scriptArgs.size()), 1);
    lua_pushstring(L, options.scriptPath.c_str());
    lua_rawseti(L, -2, 0);
    int index = 1;
    for (const std::string& value : options.scriptArgs) {
        lua_pushlstring(L, value.data(), value.size());
        lua_rawseti(L, -2, index++);
    }
    lua_setglobal(L, "arg");
}

int setArgStep(lua_State* L) {
    const HostState* host = static_cast<const HostState*>(lua_touserdata(L, 1));
    setArgTable(L, host->options);
    return 0;
}

// Compiles host->loadText and keeps it as the chunk to run.
int loadChunk(lua_State* L) {
    const HostState* host = static_cast<const HostState*>(lua_touserdata(L, 1));
    lua_settop(L, 0);
    lua_pushlightuserdata(L, &chunkKey);
    const char* text = host->loadText;
    const std::size_t size = host->loadSize;
    // Scripts run unsandboxed are trusted code, precompiled or not.
    const int status = host->options.sandbox || (size > 0 && text[0] != '\033')
                           ? loadScriptChunk(L, text, size, host->chunkName.c_str())
                           : luaL_loadbuffer(L, text, size, host->chunkName.c_str());
    if (status != 0) lua_error(L);
    lua_rawset(L, LUA_REGISTRYINDEX);
    return 0;
}

int setUpHost(lua_State* L) {
    HostState* host = static_cast<HostState*>(lua_touserdata(L, 1));
    const ScriptOptions& options = host->options;
    lua_pushlightuserdata(L, &hostKey);
    lua_pushlightuserdata(L, host);
    lua_rawset(L, LUA_REGISTRYINDEX);

    luaL_openlibs(L);
    if (options.openModule != nullptr) {
        loadLinkedModule(L, options.openModule);
    } else {
        loadModuleByPath(L, options.modulePath.c_str());
    }

    lua_pushlightuserdata(L, &tracebackKey);
    lua_getglobal(L, "debug");
    lua_getfield(L, -1, "traceback");
    lua_remove(L, -2);
    lua_rawset(L, LUA_REGISTRYINDEX);

    if (options.outputToStderr) sendOutputToStderr(L);
    if (options.sandbox) restrictToSandbox(L);
    if (options.boundPatternWork) boundPatternWork(L);
    refuseOsExit(L);
    if (host->printWriter != nullptr) {
        lua_pushcfunction(L, printToWriter);
        lua_setglobal(L, "print");
    }
    setArgTable(L, options);
    if (!options.scriptPath.empty()) {
        lua_pushcfunction(L, loadChunk);
        lua_pushlightuserdata(L, host);
        lua_call(L, 1, 0);
    }
    return 0;
}

// Message handler: makes sure the message starts with the script's file and
// line (an error raised inside a library function carries none), then adds a
// traceback.
int describeError(lua_State* L) {
    if (!lua_isstring(L, 1)) return 1;
    lua_Debug ar;
    for (int level = 1; lua_getstack(L, level, &ar) != 0; ++level) {
        lua_getinfo(L, "Sl", &ar);
        if (ar.currentline <= 0) continue;
        const std::size_t sourceLength = std::strlen(ar.short_src);
        const char* message = lua_tostring(L, 1);
        if (std::strncmp(message, ar.short_src, sourceLength) != 0 || message[sourceLength] != ':') {
            lua_pushfstring(L, "%s:%d: ", ar.short_src, ar.currentline);
            lua_pushvalue(L, 1);
            lua_concat(L, 2);
            lua_replace(L, 1);
        }
        break;
    }
    lua_pushlightuserdata(L, &tracebackKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (!lua_isfunction(L, -1)) {
        lua_settop(L, 1);
        return 1;
    }
    lua_pushvalue(L, 1);
    lua_pushinteger(L, 2);
    lua_call(L, 2, 1);
    return 1;
}

int runFrameStep(lua_State* L) {
    FrameCall* call = static_cast<FrameCall*>(lua_touserdata(L, 1));
    const ScriptOptions& options = call->host->options;
    lua_settop(L, 0);
    setFrameGlobal(L, call->pixels, call->width, call->height, call->index, call->time);

    lua_pushcfunction(L, describeError);
    lua_pushlightuserdata(L, &chunkKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (!lua_isfunction(L, -1)) {
        call->scriptStatus = LUA_ERRRUN;
        lua_pushstring(L, "no script loaded");
        lua_error(L);
    }
    // The script's `...` are its arguments, as under the lua command.
    for (const std::string& value : options.scriptArgs) lua_pushlstring(L, value.data(), value.size());
    armInstructionLimit(L, options.maxInstructions);
    const int status = lua_pcall(L, static_cast<int>(options.scriptArgs.size()), 0, 1);
    armInstructionLimit(L, 0);
    call->scriptStatus = status;
    if (status != 0) lua_error(L);
    return 0;
}

// Takes the error object left by a failed protected call. Only a string is
// read as it is: converting a number could allocate, and so raise, outside
// any protected call.
void takeError(lua_State* L, const HostState* host, int status, std::string& error) {
    if (status == LUA_ERRMEM) {
        error = host->displayName + ": not enough memory";
        if (host->budget.limit != 0) {
            error += " (the script's memory limit is " + std::to_string(host->budget.limit) + " bytes)";
        }
    } else if (lua_type(L, -1) == LUA_TSTRING) {
        std::size_t length = 0;
        const char* message = lua_tolstring(L, -1, &length);
        error.assign(message, length);
    } else if (lua_type(L, -1) == LUA_TNUMBER) {
        char number[40];
        std::snprintf(number, sizeof number, "%.14g", lua_tonumber(L, -1));
        error = host->displayName + ": " + number;
    } else {
        error = host->displayName + ": the script raised a " + luaL_typename(L, -1) + " value as its error";
    }
    lua_settop(L, 0);
}

// Lua 5.1 does not collect when an allocation fails, and its collector waits
// for the heap to double: under a memory limit, garbage left by a frame that
// ran out of memory (or one that just filled half the budget) would make every
// later frame fail. Inside a protected call, since a __gc may raise an error.
int collectGarbage(lua_State* L) {
    lua_gc(L, LUA_GCCOLLECT, 0);
    return 0;
}

void collectIfNeeded(lua_State* L, const HostState* host, bool failed) {
    if (host->budget.limit != 0 && (failed || host->budget.used > host->budget.limit / 2)) {
        lua_cpcall(L, collectGarbage, nullptr);
    }
    lua_settop(L, 0);
}

bool isKnownTime(double time) { return time >= 0 && time <= DBL_MAX; }

std::string tooLarge(const std::string& path) {
    return path + " is not a script (larger than 1 MiB, " + std::to_string(maxScriptBytes) + " bytes)";
}

}  // namespace

bool readScriptFile(const std::string& path, std::string& text, std::string& error) {
    const int file = ::open(path.c_str(), scriptOpenFlags);
    if (file < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info;
    if (::fstat(file, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "cannot open " + path + ": not a regular file (a script is read from a file, not from a pipe, a "
                "device or a folder)";
        ::close(file);
        return false;
    }
    if (info.st_size > static_cast<off_t>(maxScriptBytes)) {
        error = tooLarge(path);
        ::close(file);
        return false;
    }
    // Read to the cap and one byte past it, for a file that grows meanwhile.
    text.resize(maxScriptBytes + 1);
    std::size_t got = 0;
    int readErrno = 0;
    while (got < text.size()) {
        const auto n = ::read(file, &text[got], static_cast<unsigned>(text.size() - got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) readErrno = errno;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(file);
    text.resize(got);
    if (readErrno != 0) {
        error = "cannot read " + path + ": " + std::strerror(readErrno);
        return false;
    }
    if (got > maxScriptBytes) {
        error = tooLarge(path);
        return false;
    }
    text.shrink_to_fit();
    return true;
}

std::string framePlace(long index, double time) {
    char place[96];
    if (isKnownTime(time)) {
        std::snprintf(place, sizeof place, "frame %ld at %.3f s: ", index, time);
    } else {
        std::snprintf(place, sizeof place, "frame %ld: ", index);
    }
    return place;
}

lua_State* openScriptHost(const ScriptOptions& options, std::string& error) {
    HostState* host = new HostState;
    host->options = options;
    host->budget.limit = options.maxMemoryBytes;
    host->displayName = options.scriptPath;
    host->chunkName = "@" + options.scriptPath;
    if (options.scriptTextRead) {
        host->scriptText = options.scriptText;
    } else if (!options.scriptPath.empty() && !readScriptFile(options.scriptPath, host->scriptText, error)) {
        delete host;
        return nullptr;
    }
    std::string().swap(host->options.scriptText);
    host->loadText = host->scriptText.data();
    host->loadSize = host->scriptText.size();
    host->printWriter = options.printWriter != nullptr ? options.printWriter
                        : options.outputToStderr       ? writeToStderr
                                                       : nullptr;
    lua_State* L = lua_newstate(budgetedAlloc, &host->budget);
    if (L == nullptr) {
        error = "cannot create a Lua state (out of memory)";
        delete host;
        return nullptr;
    }
    const int status = lua_cpcall(L, setUpHost, host);
    if (status != 0) {
        takeError(L, host, status, error);
        lua_close(L);
        delete host;
        return nullptr;
    }
    // The text is compiled; a script's memory is its own.
    std::string().swap(host->scriptText);
    return L;
}

bool loadScriptText(lua_State* L, const char* text, std::size_t size, const char* name, std::string& error) {
    HostState* host = hostOf(L);
    host->displayName = name;
    host->chunkName = std::string("=") + name;
    host->loadText = text;
    host->loadSize = size;
    const int status = lua_cpcall(L, loadChunk, host);
    if (status != 0) takeError(L, host, status, error);
    collectIfNeeded(L, host, status != 0);
    return status == 0;
}

bool runScript(lua_State* L, unsigned char* pixels, int width, int height, long index, double time,
               std::string& error) {
    const HostState* host = hostOf(L);
    if (!isKnownTime(time)) time = -1;
    FrameCall call{host, pixels, static_cast<lua_Number>(width), static_cast<lua_Number>(height),
                   static_cast<lua_Number>(index), time, 0};
    const int status = lua_cpcall(L, runFrameStep, &call);
    if (status != 0) {
        takeError(L, host, call.scriptStatus != 0 ? call.scriptStatus : status, error);
        if (host->options.framePlaceInErrors) error.insert(0, framePlace(index, time));
    }
    collectIfNeeded(L, host, status != 0);
    return status == 0;
}

bool setScriptArgs(lua_State* L, const std::vector<std::string>& args, std::string& error) {
    HostState* host = hostOf(L);
    host->options.scriptArgs = args;
    const int status = lua_cpcall(L, setArgStep, host);
    if (status != 0) takeError(L, host, status, error);
    lua_settop(L, 0);
    return status == 0;
}

void closeScriptHost(lua_State* L) {
    if (L == nullptr) return;
    HostState* host = hostOf(L);
    lua_close(L);
    delete host;
}

}  // namespace pelx04host
