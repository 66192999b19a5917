#!/bin/sh
# The module exports luaopen_pelx04 and nothing else, and links no Lua library:
# the interpreter that loads it supplies the Lua symbols.
set -eu
module="$1"
exports=$(nm -D --defined-only "$module" | awk '{print $3}')
if [ "$exports" != "luaopen_pelx04" ]; then
  echo "unexpected exports:"; echo "$exports"; exit 1
fi
if readelf -d "$module" | grep NEEDED | grep -Ei 'lua|jit'; then
  echo "the module links a Lua library"; exit 1
fi
echo "1 passed, 0 failed"
