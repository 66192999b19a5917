// Every function here that calls the Lua API may be unwound by a Lua error
// (longjmp), so none holds an object with a destructor. Arguments are read
// with the same calls, in the same order, as Lua's own string library, so
// that conversions and argument errors are the same.
#include "bounded_patterns.hpp"

#include <cctype>
#include <cstring>

#include <lua.hpp>

#include "lua_sandbox.hpp"
#include "pattern_matcher.hpp"

namespace pelx04host {
namespace {

// The matcher recurses once per repetition, optional or capture item, as
// Lua's own does. A level takes 88 to 160 bytes of C stack on x86-64 (one
// frame for '?' and captures, two for '*', '+' and '-'; gcc and clang at -O2),
// so this many stay under 160 KB, a sixth of the 1 MB a worker or render
// thread may have.
constexpr int maxPatternItems = 1000;

// What makes find match a pattern rather than search for the text itself.
const char* const patternSpecials = "^$*+?.([%-";

// The work besides matching, in steps that take about as long as an
// instruction: reading the pattern through (find's search for special
// characters, the count of its depth), a replacement (a call of the function,
// a look-up in the table) and each byte of a replacement string, expanded.
constexpr std::size_t patternBytesPerStep = 4;
constexpr long stepsPerReplacement = 8;
constexpr long stepsPerReplacementByte = 2;

// A match whose steps are paid from the frame's instruction budget: taken
// when an attempt starts and given back when it ends, so that no Lua code
// (a replacement function, an __index) runs while the budget is held.
struct PaidMatch {
    PatternMatch match;
    InstructionBudget* budget;
};

void startMatch(lua_State* L, PaidMatch& paid, const char* subject, std::size_t size) {
    paid.match.subject = subject;
    paid.match.subjectEnd = subject + size;
    paid.match.steps = 0;
    paid.match.error = PatternError::none;
    paid.match.level = 0;
    paid.budget = armedInstructionBudget(L);
}

const char* matchAt(PaidMatch& paid, const char* at, const char* pattern) {
    paid.match.level = 0;
    paid.match.steps = takeInstructions(paid.budget);
    const char* end = matchPattern(paid.match, at, pattern);
    returnInstructions(paid.budget, paid.match.steps);
    return end;
}

// Pays `steps` from the budget, or raises the instruction limit's error.
void pay(lua_State* L, InstructionBudget* budget, long steps) {
    const long left = takeInstructions(budget);
    if (left < steps) {
        instructionLimitReached(L);
        return;
    }
    returnInstructions(budget, left - steps);
}

int raiseMatchError(lua_State* L, const PatternMatch& match) {
    if (match.error == PatternError::outOfSteps) return instructionLimitReached(L);
    return luaL_error(L, "%s", patternErrorMessage(match.error));
}

// The pattern is argument 2.
void payForPattern(lua_State* L, InstructionBudget* budget) {
    pay(L, budget, 1 + static_cast<long>(lua_objlen(L, 2) / patternBytesPerStep));
}

void refuseDeepPattern(lua_State* L, const char* pattern) {
    const int depth = patternDepth(pattern);
    if (depth <= maxPatternItems) return;
    const std::size_t length = std::strlen(pattern);
    lua_pushlstring(L, pattern, length > 40 ? 40 : length);
    luaL_error(L, "pattern '%s%s' (%d bytes) is too complex: %d repetition, optional and capture items, more than the "
                  "%d allowed",
               lua_tostring(L, -1), length > 40 ? "..." : "", static_cast<int>(lua_objlen(L, 2)), depth,
               maxPatternItems);
}

// Capture `index`, or the whole match [start, end) for index 0 of a pattern
// without captures.
void pushCapture(lua_State* L, const PatternMatch& match, int index, const char* start, const char* end) {
    if (index >= match.level) {
        if (index != 0) luaL_error(L, "invalid capture index");
        lua_pushlstring(L, start, static_cast<std::size_t>(end - start));
        return;
    }
    const PatternCapture& capture = match.captures[index];
    if (capture.length == captureOpen) luaL_error(L, "unfinished capture");
    if (capture.length == capturePosition) {
        lua_pushinteger(L, capture.start - match.subject + 1);
    } else {
        lua_pushlstring(L, capture.start, static_cast<std::size_t>(capture.length));
    }
}

// All captures; the whole match when there are none and `start` is given.
int pushCaptures(lua_State* L, const PatternMatch& match, const char* start, const char* end) {
    const int count = match.level == 0 && start != nullptr ? 1 : match.level;
    luaL_checkstack(L, count, "too many captures");
    for (int index = 0; index < count; ++index) pushCapture(L, match, index, start, end);
    return count;
}

// Where find and match start: init counts from 1, or back from the end when
// negative, and is clamped to the subject.
std::size_t startOffset(lua_Integer init, std::size_t size) {
    if (init < 0) init += static_cast<lua_Integer>(size) + 1;
    if (init <= 0) return 0;
    const std::size_t offset = static_cast<std::size_t>(init - 1);
    return offset > size ? size : offset;
}

int findOrMatch(lua_State* L, bool find) {
    std::size_t size = 0;
    std::size_t patternSize = 0;
    const char* subject = luaL_checklstring(L, 1, &size);
    const char* pattern = luaL_checklstring(L, 2, &patternSize);
    const std::size_t start = startOffset(luaL_optinteger(L, 3, 1), size);
    PaidMatch paid;
    startMatch(L, paid, subject, size);
    payForPattern(L, paid.budget);
    // A plain search takes the whole argument, zero bytes included; a pattern
    // ends at its first zero byte.
    if (find && (lua_toboolean(L, 4) || std::strpbrk(pattern, patternSpecials) == nullptr)) {
        paid.match.steps = takeInstructions(paid.budget);
        const char* found = findPlain(paid.match, subject + start, pattern, patternSize);
        returnInstructions(paid.budget, paid.match.steps);
        if (found != nullptr) {
            lua_pushinteger(L, found - subject + 1);
            lua_pushinteger(L, static_cast<lua_Integer>(static_cast<std::size_t>(found - subject) + patternSize));
            return 2;
        }
        if (paid.match.error != PatternError::none) return raiseMatchError(L, paid.match);
        lua_pushnil(L);
        return 1;
    }
    refuseDeepPattern(L, pattern);
    const bool anchored = *pattern == '^';
    if (anchored) ++pattern;
    for (const char* at = subject + start;; ++at) {
        const char* end = matchAt(paid, at, pattern);
        if (end != nullptr) {
            if (!find) return pushCaptures(L, paid.match, at, end);
            lua_pushinteger(L, at - subject + 1);
            lua_pushinteger(L, end - subject);
            return pushCaptures(L, paid.match, nullptr, nullptr) + 2;
        }
        if (paid.match.error != PatternError::none) return raiseMatchError(L, paid.match);
        if (anchored || at == paid.match.subjectEnd) break;
    }
    lua_pushnil(L);
    return 1;
}

int boundedFind(lua_State* L) { return findOrMatch(L, true); }

int boundedMatch(lua_State* L) { return findOrMatch(L, false); }

// The iterator gmatch returns: subject, pattern and the offset to go on from
// are its upvalues. '^' is an ordinary character here, as in Lua 5.1.
int gmatchNext(lua_State* L) {
    std::size_t size = 0;
    const char* subject = lua_tolstring(L, lua_upvalueindex(1), &size);
    const char* pattern = lua_tostring(L, lua_upvalueindex(2));
    PaidMatch paid;
    startMatch(L, paid, subject, size);
    for (std::size_t offset = static_cast<std::size_t>(lua_tointeger(L, lua_upvalueindex(3))); offset <= size;
         ++offset) {
        const char* at = subject + offset;
        const char* end = matchAt(paid, at, pattern);
        if (end != nullptr) {
            // After an empty match the next one starts a character later.
            lua_pushinteger(L, end - subject + (end == at ? 1 : 0));
            lua_replace(L, lua_upvalueindex(3));
            return pushCaptures(L, paid.match, at, end);
        }
        if (paid.match.error != PatternError::none) return raiseMatchError(L, paid.match);
    }
    return 0;
}

int boundedGmatch(lua_State* L) {
    luaL_checkstring(L, 1);
    const char* pattern = luaL_checkstring(L, 2);
    payForPattern(L, armedInstructionBudget(L));
    refuseDeepPattern(L, pattern);
    lua_settop(L, 2);
    lua_pushinteger(L, 0);
    lua_pushcclosure(L, gmatchNext, 3);
    return 1;
}

// A replacement string (argument 3): %0 is the match, %1 to %9 the captures,
// % before anything else that character. A last lone '%' adds the zero byte
// that ends every Lua string, as Lua's gsub does.
void addReplacementString(lua_State* L, const PaidMatch& paid, luaL_Buffer* buffer, const char* start,
                          const char* end) {
    std::size_t length = 0;
    const char* text = lua_tolstring(L, 3, &length);
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] != '%') {
            luaL_addchar(buffer, text[i]);
            continue;
        }
        const char escaped = text[++i];
        if (std::isdigit(static_cast<unsigned char>(escaped)) == 0) {
            luaL_addchar(buffer, escaped);
        } else if (escaped == '0') {
            luaL_addlstring(buffer, start, static_cast<std::size_t>(end - start));
        } else {
            pushCapture(L, paid.match, escaped - '1', start, end);
            luaL_addvalue(buffer);
        }
    }
}

// What replaces the match [start, end): a string's expansion, or the value
// of the table at the first capture, or the function's result over all of
// them; nil or false keeps the match.
void addReplacement(lua_State* L, PaidMatch& paid, luaL_Buffer* buffer, const char* start, const char* end) {
    const int type = lua_type(L, 3);
    std::size_t length = 0;
    if (type == LUA_TNUMBER || type == LUA_TSTRING) lua_tolstring(L, 3, &length);
    pay(L, paid.budget, stepsPerReplacement + stepsPerReplacementByte * static_cast<long>(length));
    switch (type) {
    case LUA_TNUMBER:
    case LUA_TSTRING:
        addReplacementString(L, paid, buffer, start, end);
        return;
    case LUA_TFUNCTION: {
        lua_pushvalue(L, 3);
        const int count = pushCaptures(L, paid.match, start, end);
        lua_call(L, count, 1);
        break;
    }
    default:
        pushCapture(L, paid.match, 0, start, end);
        lua_gettable(L, 3);
        break;
    }
    if (!lua_toboolean(L, -1)) {
        lua_pop(L, 1);
        lua_pushlstring(L, start, static_cast<std::size_t>(end - start));
    } else if (!lua_isstring(L, -1)) {
        luaL_error(L, "invalid replacement value (a %s)", luaL_typename(L, -1));
    }
    luaL_addvalue(buffer);
}

int boundedGsub(lua_State* L) {
    std::size_t size = 0;
    const char* subject = luaL_checklstring(L, 1, &size);
    const char* pattern = luaL_checkstring(L, 2);
    const int replacement = lua_type(L, 3);
    const int maxReplacements = static_cast<int>(luaL_optinteger(L, 4, static_cast<lua_Integer>(size) + 1));
    luaL_argcheck(L,
                  replacement == LUA_TNUMBER || replacement == LUA_TSTRING || replacement == LUA_TFUNCTION ||
                      replacement == LUA_TTABLE,
                  3, "string/function/table expected");
    PaidMatch paid;
    startMatch(L, paid, subject, size);
    payForPattern(L, paid.budget);
    refuseDeepPattern(L, pattern);
    const bool anchored = *pattern == '^';
    if (anchored) ++pattern;
    luaL_Buffer buffer;
    luaL_buffinit(L, &buffer);
    const char* at = subject;
    int count = 0;
    while (count < maxReplacements) {
        const char* end = matchAt(paid, at, pattern);
        if (paid.match.error != PatternError::none) return raiseMatchError(L, paid.match);
        if (end != nullptr) {
            ++count;
            addReplacement(L, paid, &buffer, at, end);
        }
        // After an empty match (or none) the next character is kept.
        if (end != nullptr && end > at) {
            at = end;
        } else if (at < paid.match.subjectEnd) {
            luaL_addchar(&buffer, *at++);
        } else {
            break;
        }
        if (anchored) break;
    }
    luaL_addlstring(&buffer, at, static_cast<std::size_t>(paid.match.subjectEnd - at));
    luaL_pushresult(&buffer);
    lua_pushinteger(L, count);
    return 2;
}

}  // namespace

void boundPatternWork(lua_State* L) {
    lua_getglobal(L, "string");
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        return;
    }
    const int string = lua_gettop(L);
    const struct {
        const char* name;
        lua_CFunction function;
    } bounded[] = {{"find", boundedFind}, {"match", boundedMatch}, {"gmatch", boundedGmatch}, {"gsub", boundedGsub}};
    for (const auto& entry : bounded) {
        lua_pushcfunction(L, entry.function);
        lua_setfield(L, string, entry.name);
    }
    // gfind is gmatch under its old name, the same function.
    lua_getfield(L, string, "gfind");
    const bool hasGfind = !lua_isnil(L, -1);
    lua_pop(L, 1);
    if (hasGfind) {
        lua_getfield(L, string, "gmatch");
        lua_setfield(L, string, "gfind");
    }
    lua_pop(L, 1);
}

}  // namespace pelx04host
