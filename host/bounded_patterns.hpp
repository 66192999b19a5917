// The string library's pattern functions with their work bounded: Lua's own
// matcher recurses without a depth limit and backtracks inside one call,
// where the instruction count cannot see it, so that a pattern of 80 items
// such as ("a?"):rep(40) .. ("a"):rep(40) runs for days on 40 bytes.
#pragma once

struct lua_State;

namespace pelx04host {

// Replaces string.find, match, gmatch (and its old name gfind, where Lua has
// it) and gsub, and so the string methods, which are the same functions, with
// functions that give what Lua 5.1's give (results, captures, gmatch's
// iteration, gsub's replacement strings, tables and functions, errors and
// their messages), with two differences:
// - a pattern of more than 1000 repetition, optional and capture items is
//   refused before it is matched: "pattern 'a?a?...' (N bytes) is too complex:
//   ...", since the matcher recurses once per item, as Lua's does, and would
//   overflow the C stack;
// - every step of the work (reading the pattern, an item tried, a character
//   scanned, a plain find's comparison, a replacement and its string's
//   bytes) is paid from the instruction budget that armInstructionLimit arms:
//   past it, the call raises the instruction limit's own error. Without a
//   limit armed, nothing is counted.
// Call inside a protected call, after luaL_openlibs; calling it again changes
// nothing.
void boundPatternWork(lua_State* L);

}  // namespace pelx04host
