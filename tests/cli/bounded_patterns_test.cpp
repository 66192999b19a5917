// The host's bounded pattern functions against Lua's own string library, on
// every pattern of a table against every subject of another, and a pattern
// that would backtrack for days stopped by the instruction limit.
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <lua.hpp>

#include "bounded_patterns.hpp"
#include "script_host.hpp"

namespace {

using namespace pelx04host;

// Run with compare(name, ...) from tests/lua/pattern_compare.lua; returns the
// first differences, one a line.
const char* const crossProduct = R"lua(
local compare = ...
local patterns = {
  '', 'a', 'ab', 'b', '.', '..', 'a.c', '%a', '%A', '%c', '%d+', '%D', '%l+', '%p', '%s*', '%S+', '%u', '%w+', '%W',
  '%x+', '%z', '%Z', '%.', '%%', '%]', '%(', '[abc]', '[^abc]', '[a-c]+', '[%a_][%w_]*', '[]]', '[^]]', '[a-]',
  '[-a]', '[%]x]', '[^%s]+', '[%d%-]+', '[a-%%]', '[\0-\31]', '[\128-\255]+', 'a*', 'a+', 'a-', 'a?', '.-', '.*',
  '.+b', 'a-b', 'a?a?a', '^a', '^', 'a$', '$', '^$', 'a$b', '^a*$', 'x^', '(a)', '(a*)', '(a)(b)', '((a)(b))', '()',
  '()a()', '(a*(.)%w(%s*))', '(.)%1', '(a+)%1', '()%1', '(a)%2', '%0', '(a', 'a)', '(()', '((a)', '%b()',
  '%b%%', '%b', '%bx', '%b))', '%f[%w]%w+', '%f[%W]', '%f[%a]', '%f[^%z]', '%fa', '%f', '[a', '[', '[^', '[%',
  '%', 'a%', '(.-)=(.-);', '%s*(.-)%s*$', '(%w+)=(%w+)', 'a\0b', 'a\0.', '\0', ('()'):rep(32), ('()'):rep(33),
  '%f[%d]%d+%f[%D]', 'x*$', '(h)(e)(l)(l)(o)( )(w)(o)(r)(l)', 5, '1',
}
local subjects = {
  '', 'a', 'aaa', 'ab', 'abc', 'aab', 'baaac', 'hello world', '  x = 1, y = 22  ', 'f(a(b)c)d', '((()))', ')(',
  'THE (quick) fox.', 'a\0b\0c', '%a%', 'x-y-z]', '\233t\233\n\t', '123abc456', 'key=val; k2=v2;', 12.5,
}
local inits = {1, 0, 2, -1, -3, 4, 100, -100, 0 / 0, 2 ^ 53}
local replacements = {
  '<%0>', '[%1|%2]', '%%', '%', 'x%9', '%a%-', 7,
  {a = 'A', b = false, ['1'] = 'one', [1] = 'first position'},
  function(...) return select('#', ...) .. ':' .. table.concat({...}, '|') end,
  function() return false end,
  function() return {} end,
}
local differences = {}
local function check(name, ...)
  local difference = compare(name, ...)
  if difference and #differences < 20 then differences[#differences + 1] = difference end
end
for _, p in ipairs(patterns) do
  for _, s in ipairs(subjects) do
    check('find', s, p)
    check('match', s, p)
    check('gmatch', s, p)
    for _, init in ipairs(inits) do
      check('find', s, p, init)
      check('find', s, p, init, true)
      check('match', s, p, init)
    end
    for _, replacement in ipairs(replacements) do check('gsub', s, p, replacement) end
    for _, count in ipairs({0, 1, 2, -1, 1 / 0}) do check('gsub', s, p, '-', count) end
  end
end
-- Arguments that are not strings, numbers, tables or functions.
for _, name in ipairs({'find', 'match', 'gmatch', 'gsub'}) do
  check(name)
  check(name, nil, 'a')
  check(name, 'a', nil)
  check(name, {}, 'a', 'b')
  check(name, 'a', 'a', true)
end
return table.concat(differences, '\n')
)lua";

void copyPatternFunctions(lua_State* L) {
    lua_newtable(L);
    lua_getglobal(L, "string");
    for (const char* name : {"find", "match", "gmatch", "gsub"}) {
        lua_getfield(L, -1, name);
        lua_setfield(L, -3, name);
    }
    lua_pop(L, 1);
}

int compareOnTheTable(lua_State* L) {
    luaL_openlibs(L);
    if (luaL_loadfile(L, PELX04_PATTERN_COMPARE) != 0) lua_error(L);
    copyPatternFunctions(L);
    boundPatternWork(L);
    copyPatternFunctions(L);
    lua_call(L, 2, 1);
    if (luaL_loadstring(L, crossProduct) != 0) lua_error(L);
    lua_insert(L, -2);
    lua_call(L, 1, 1);
    return 1;
}

TEST(BoundedPatterns, GiveWhatLuasOwnGive) {
    lua_State* L = luaL_newstate();
    ASSERT_NE(L, nullptr);
    lua_pushcfunction(L, compareOnTheTable);
    ASSERT_EQ(lua_pcall(L, 0, 1, 0), 0) << lua_tostring(L, -1);
    EXPECT_STREQ(lua_tostring(L, -1), "");
    lua_close(L);
}

// ("a?"):rep(40) .. ("a"):rep(40) on 40 a's: Lua's matcher tries some 2^40
// ways inside one call. Without the sandbox, the host's option alone bounds
// it; io stays.
TEST(BoundedPatterns, BacktrackingEndsAtTheInstructionLimit) {
    ScriptOptions options;
    options.modulePath = PELX04_MODULE_PATH;
    options.boundPatternWork = true;
    options.maxInstructions = 20000000;
    std::string error;
    lua_State* L = openScriptHost(options, error);
    ASSERT_NE(L, nullptr) << error;
    const std::string script =
        "assert(io.write and string.gfind == string.gmatch)\n"
        "local subject, pattern = ('a'):rep(40), ('a?'):rep(40) .. ('a'):rep(40)\n"
        "assert(not pcall(string.gsub, subject, pattern, '%0'))\n"
        "return subject:find(pattern)\n";
    ASSERT_TRUE(loadScriptText(L, script.data(), script.size(), "bomb.lua", error)) << error;
    std::vector<unsigned char> pixels(4, 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(runScript(L, pixels.data(), 1, 1, 0, 0, error));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_NE(error.find("bomb.lua:3: instruction limit of 20000000 per frame reached"), std::string::npos) << error;
    EXPECT_LT(seconds, 1.0);
    closeScriptHost(L);
}

}  // namespace
