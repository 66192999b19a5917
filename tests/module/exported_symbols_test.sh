#!/bin/sh
# The module exports luaopen_pelx04 and nothing else, links no Lua library (the
# interpreter that loads it supplies the Lua symbols), and calls exactly the
# Lua functions that the Windows import list names.
set -eu
module="$1"
def="$(dirname "$0")/../../src/lua/lua51.def"
passed=0

exports=$(nm -D --defined-only "$module" | awk '{print $3}')
if [ "$exports" != "luaopen_pelx04" ]; then
  echo "unexpected exports:"; echo "$exports"; exit 1
fi
passed=$((passed + 1))

if readelf -d "$module" | grep NEEDED | grep -Ei 'lua|jit'; then
  echo "the module links a Lua library"; exit 1
fi
passed=$((passed + 1))

called=$(nm -D --undefined-only "$module" | awk '{print $2}' | grep -E '^lua(L)?_' | sort)
listed=$(sed -n '/^EXPORTS/,$p' "$def" | grep -E '^lua(L)?_' | sort)
if [ "$called" != "$listed" ]; then
  echo "Lua functions called:"; echo "$called"; echo "listed in lua51.def:"; echo "$listed"; exit 1
fi
passed=$((passed + 1))

echo "$passed passed, 0 failed"
