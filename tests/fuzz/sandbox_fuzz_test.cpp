// libFuzzer target: Lua snippets generated from the input run in the sandboxed
// state a --sandbox script gets, on Lua 5.1 built from its sources with the
// sanitizers (the system's library hides Lua's own faults from them). The
// snippets call every function the sandbox keeps with hostile arguments
// (NaN, infinities, huge, negative, wrongly typed), nest calls and tables,
// run coroutines and match patterns. Findings: a crash or sanitizer report,
// more Lua heap than the budget, more VM instructions than the budget
// (counted by the VM itself, apart from the sandbox's hook), or a pattern
// function of the sandbox that gives other results than Lua's own on the same
// arguments (tests/lua/pattern_compare.lua).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <lua.hpp>

#include "lua_sandbox.hpp"

extern "C" int luaopen_pelx04(lua_State* L);
// Every instruction the VM dispatches, in any thread (the build counts them).
extern "C" unsigned long pelx04FuzzDispatched;

namespace {

constexpr long instructionLimit = 10000;
// Small, so that a call that fills it, repeated in a loop, stays quick.
constexpr std::size_t memoryLimit = 2u << 20;

// Upvalue captures that a closure instruction reads are counted as well, so
// the count may pass the limit by a little without the budget failing.
constexpr unsigned long dispatchSlack = instructionLimit;

// Every function the sandboxed state offers, as "name" or "library.name";
// filled once from the state itself, so a function the sandbox keeps is never
// missed.
std::vector<std::string> functions;

const char* const values[] = {
    "0/0", "1/0", "-1/0", "-0", "0", "1", "-1", "0.5", "-2.5", "2^31", "-2^31", "2^31-1", "2^32", "2^53", "2^63",
    "-2^63", "1e308", "-1e308", "2^-1074", "255", "256", "1e9", "-1e9", "7999", "8000", "nil", "true", "false", "''",
    "'a'", "'%'", "'%d'", "'%s%s%s'", "'%99d'", "'%-5.3f'", "'*t'", "'!%c'", "'n'", "'k'", "'v'", "'count'",
    "'step'", "'collect'", "'stop'", "'restart'", "'setpause'", "'pelx04'", "'string'", "'0x10'", "' 12 '", "'1e500'",
    "('x'):rep(40)", "{}", "{1, 2, 3}", "{n = 1, [0] = 0, [-1] = 1, [0/0 ~= 0/0 and 1 or 2] = 3}", "string", "_G",
    "setmetatable({}, {__index = function(t, k) return k end, __len = function() return 2^31 end})",
    "setmetatable({}, {__tostring = function() return {} end, __lt = function() return true end})",
    "function(...) return ... end", "print", "coroutine.create(function(...) coroutine.yield(...) end)",
    "coroutine.running()", "v1", "v2", "v3", "t",
};
constexpr int valueCount = sizeof values / sizeof values[0];

const char* const patternAtoms[] = {
    "a", ".", "%a", "%d", "[%w_]", "[^a]", "[a-]", "a?", "a*", "a+", "a-", ".-", "(", ")", "()", "%1", "%b()", "%f[%w]",
    "^", "$", "%", "[", "]", "[%]]", "%z", "\\0",
};
constexpr int patternAtomCount = sizeof patternAtoms / sizeof patternAtoms[0];

// What the differential calls match and replace: short, so that Lua's own
// matcher, which nothing bounds, stays quick on them.
const char* const subjectBytes[] = {"a", "a", "b", "(", ")", "%", "]", "-", " ", "1", "A", "\\233", "\\0", "x"};
constexpr int subjectByteCount = sizeof subjectBytes / sizeof subjectBytes[0];
const char* const replacements[] = {
    "'%0'", "'<%1>'", "'%2%'", "'%'", "'x'", "7", "{}", "{a = 'A', [1] = false}", "function(...) return ... end",
    "function() return {} end", "string.upper",
};
constexpr int replacementCount = sizeof replacements / sizeof replacements[0];
const char* const comparedFunctions[] = {"find", "match", "gmatch", "gsub"};

// The first difference a snippet's differ() calls found.
std::string difference;

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    unsigned byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    bool exhausted() const { return pos_ >= size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

class SnippetWriter {
public:
    explicit SnippetWriter(Reader& in) : in_(in) {}

    std::string write() {
        text_ = "local v1, v2, v3 = 1, 'a', {}\nlocal t = {}\n";
        for (int statements = 0; statements < 12 && !in_.exhausted(); ++statements) statement(0);
        return text_;
    }

private:
    void value(int depth) {
        const unsigned kind = in_.byte();
        if (kind < 200 || depth > 3) {
            text_ += values[kind % valueCount];
        } else if (kind < 220) {
            call(depth + 1, false);
        } else if (kind < 240) {
            // Nested tables and parentheses, 120 levels at most, and fewer
            // inside: the parser takes 200 in all.
            const unsigned levels = in_.byte() % (depth == 0 ? 60 : 6) + 1;
            for (unsigned i = 0; i < levels; ++i) text_ += "{(";
            value(depth + 1);
            for (unsigned i = 0; i < levels; ++i) text_ += ")}";
        } else {
            text_ += "'";
            pattern(in_.byte() % 3 + 1);
            text_ += "'";
        }
    }

    // Few items over short strings (40 bytes at most): the sandbox's matcher
    // pays its steps from the budget, but the differential runs Lua's own too.
    void pattern(unsigned items) {
        for (unsigned i = 0; i < items; ++i) text_ += patternAtoms[in_.byte() % patternAtomCount];
    }

    // differ('gsub', subject, pattern, ...): the sandbox's function against
    // Lua's own.
    void differ(int depth) {
        const unsigned function = in_.byte() % 4;
        text_ += std::string("differ('") + comparedFunctions[function] + "', '";
        const unsigned length = in_.byte() % 13;
        for (unsigned i = 0; i < length; ++i) text_ += subjectBytes[in_.byte() % subjectByteCount];
        text_ += "', '";
        pattern(in_.byte() % 4 + 1);
        text_ += "'";
        if (function == 3) {
            text_ += std::string(", ") + replacements[in_.byte() % replacementCount];
        }
        if (function != 2 && in_.byte() % 2 == 0) {
            text_ += ", ";
            value(depth + 3);
        }
        text_ += ")";
    }

    // pcall(f, args): an error stops the call, not the snippet.
    void call(int depth, bool assign) {
        const std::string& name = functions[in_.byte() % functions.size()];
        if (assign) text_ += "v" + std::to_string(in_.byte() % 3 + 1) + " = ";
        text_ += "select(2, pcall(" + name;
        const unsigned count = in_.byte() % 5;
        for (unsigned i = 0; i < count; ++i) {
            text_ += ", ";
            value(depth);
        }
        text_ += "))";
    }

    void statement(int depth) {
        const unsigned kind = in_.byte() % (depth > 2 ? 2 : 9);
        switch (kind) {
        case 0:
        case 1:
            call(depth, true);
            break;
        case 2: {
            // A deep pattern that matches at once: depth around the limit, no
            // backtracking; in a loop, until its steps use up the budget.
            const unsigned items = in_.byte() * 8 + in_.byte() % 8;
            const char* const deep[] = {"a?", "a*", "a-", "(a)", "[a]?"};
            const char* item = deep[in_.byte() % 5];
            const bool gsub = in_.byte() % 2 == 0;
            text_ += "pcall(string." + std::string(gsub ? "gsub" : "find") + ", ('a'):rep(" + std::to_string(items) +
                     "), ('" + item + "'):rep(" + std::to_string(items) + "), " + (gsub ? "'%0')" : "1)");
            break;
        }
        case 3:
            text_ += "pcall(function() for i = 1, " + std::string(values[in_.byte() % valueCount]) + " do ";
            statement(depth + 1);
            text_ += " end end)";
            break;
        case 4:
            text_ += "v1 = coroutine.wrap(function(...) ";
            statement(depth + 1);
            text_ += " coroutine.yield(...) ";
            statement(depth + 1);
            text_ += " end) pcall(v1, ";
            value(depth);
            text_ += ") pcall(v1) pcall(v1)";
            break;
        case 5:
            text_ += "t[#t + 1] = function(...) ";
            statement(depth + 1);
            text_ += " return ... end pcall(t[#t], ";
            value(depth);
            text_ += ")";
            break;
        case 6:
            if (depth > 0) break;
            text_ += "pcall(string.rep, ";
            value(depth);
            text_ += ", ";
            value(depth);
            text_ += ")";
            break;
        case 7:
            differ(depth);
            break;
        default:
            if (depth > 0) break;
            text_ += "pcall(function() local s = ";
            value(depth);
            text_ += " return s:" + std::string(in_.byte() % 2 ? "gsub('" : "find('");
            pattern(in_.byte() % 3 + 1);
            text_ += "', ";
            value(depth);
            text_ += ") end)";
            break;
        }
        text_ += "\n";
    }

    Reader& in_;
    std::string text_;
};

pelx04host::MemoryBudget budget{memoryLimit, 0};
std::size_t peakUsed = 0;

void* countingAlloc(void* ud, void* ptr, std::size_t osize, std::size_t nsize) {
    void* result = pelx04host::budgetedAlloc(ud, ptr, osize, nsize);
    if (budget.used > peakUsed) peakUsed = budget.used;
    return result;
}

int ignorePrint(lua_State*) { return 0; }

char compareKey;

// differ(name, ...): compare(name, ...) from tests/lua/pattern_compare.lua,
// which keeps the library's own functions; a difference is a finding.
int differ(lua_State* L) {
    lua_pushlightuserdata(L, &compareKey);
    lua_rawget(L, LUA_REGISTRYINDEX);
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, 1);
    if (lua_isstring(L, -1) && difference.empty()) difference = lua_tostring(L, -1);
    return 0;
}

void copyPatternFunctions(lua_State* L) {
    lua_newtable(L);
    lua_getglobal(L, "string");
    for (const char* name : comparedFunctions) {
        lua_getfield(L, -1, name);
        lua_setfield(L, -3, name);
    }
    lua_pop(L, 1);
}

int setUpSandbox(lua_State* L) {
    luaL_openlibs(L);
    lua_getglobal(L, "package");
    lua_getfield(L, -1, "preload");
    lua_pushcfunction(L, luaopen_pelx04);
    lua_setfield(L, -2, "pelx04");
    lua_pop(L, 2);
    lua_getglobal(L, "require");
    lua_pushstring(L, "pelx04");
    lua_call(L, 1, 0);
    lua_pushlightuserdata(L, &compareKey);
    if (luaL_loadfile(L, PELX04_PATTERN_COMPARE) != 0) lua_error(L);
    copyPatternFunctions(L);
    pelx04host::restrictToSandbox(L);
    copyPatternFunctions(L);
    lua_call(L, 2, 1);
    lua_rawset(L, LUA_REGISTRYINDEX);
    lua_pushcfunction(L, differ);
    lua_setglobal(L, "differ");
    pelx04host::refuseOsExit(L);
    lua_pushcfunction(L, ignorePrint);
    lua_setglobal(L, "print");
    return 0;
}

void collectFunctions(lua_State* L, int table, const std::string& prefix, int depth) {
    lua_pushnil(L);
    while (lua_next(L, table) != 0) {
        if (lua_type(L, -2) == LUA_TSTRING) {
            const std::string name = prefix + lua_tostring(L, -2);
            if (lua_type(L, -1) == LUA_TFUNCTION) functions.push_back(name);
            if (lua_type(L, -1) == LUA_TTABLE && depth == 0 && name != "_G" && name != "package") {
                collectFunctions(L, lua_gettop(L), name + ".", 1);
            }
        }
        lua_pop(L, 1);
    }
}

[[noreturn]] void finding(const std::string& what, const std::string& snippet) {
    std::fprintf(stderr, "sandbox_fuzz: %s\n--- snippet\n%s\n---\n", what.c_str(), snippet.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    lua_State* L = lua_newstate(pelx04host::budgetedAlloc, &budget);
    if (L == nullptr || lua_cpcall(L, setUpSandbox, nullptr) != 0) std::abort();
    lua_pushvalue(L, LUA_GLOBALSINDEX);
    collectFunctions(L, lua_gettop(L), "", 0);
    lua_close(L);
    if (functions.size() < 100) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in(data, size);
    const std::string snippet = SnippetWriter(in).write();
    // To read what an input found: SANDBOX_FUZZ_PRINT=1 sandbox_fuzz ARTIFACT
    if (std::getenv("SANDBOX_FUZZ_PRINT") != nullptr) std::fprintf(stderr, "%s\n", snippet.c_str());
    budget.used = 0;
    peakUsed = 0;
    difference.clear();
    lua_State* L = lua_newstate(countingAlloc, &budget);
    if (L == nullptr) std::abort();
    if (lua_cpcall(L, setUpSandbox, nullptr) != 0) finding("the sandbox could not be set up", snippet);
    if (pelx04host::loadScriptChunk(L, snippet.data(), snippet.size(), "=snippet") != 0) {
        finding(std::string("the snippet does not compile: ") + lua_tostring(L, -1), snippet);
    }
    // As the hosts run a frame: armed inside a protected call, then the script.
    const unsigned long dispatchedBefore = pelx04FuzzDispatched;
    pelx04host::armInstructionLimit(L, instructionLimit);
    lua_pcall(L, 0, 0, 0);
    pelx04host::armInstructionLimit(L, 0);
    const unsigned long dispatched = pelx04FuzzDispatched - dispatchedBefore;
    lua_close(L);
    if (dispatched > instructionLimit + dispatchSlack) {
        finding("ran " + std::to_string(dispatched) + " instructions, past the limit of " +
                    std::to_string(instructionLimit),
                snippet);
    }
    if (peakUsed > memoryLimit) finding("used " + std::to_string(peakUsed) + " bytes of Lua heap", snippet);
    if (!difference.empty()) finding("a pattern function differs from Lua's own: " + difference, snippet);
    return 0;
}
