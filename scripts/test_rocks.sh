#!/bin/sh
# Installs the module with a plain `luarocks make` at the top of this checkout
# (it finds pelx04-VERSION-1.rockspec there) into a throwaway tree, then
# requires the installed copy from lua5.1, with only that tree on
# package.cpath, and runs a filter through it.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh build rocks
tree=$(mktemp -d)
trap 'rm -rf "$tree" build.luarocks' EXIT
rm -rf build.luarocks
{ luarocks --lua-version 5.1 lint ./*.rockspec &&
  luarocks --lua-version 5.1 make --tree "$tree"; } >"$tree/make.log" 2>&1 || {
  cat "$tree/make.log"; echo "0 passed, 1 failed"; exit 1; }
module=$(find "$tree" -name 'pelx04.so' -path '*/lib/lua/5.1/*')
[ -n "$module" ] || { cat "$tree/make.log"; echo "no pelx04.so in the tree"; echo "0 passed, 1 failed"; exit 1; }
echo "installed: ${module#"$tree"/}"
licence=$(find "$tree" -path '*/pelx04/*/doc/LICENSE')
[ -n "$licence" ] || { echo "no LICENSE in the rock's doc folder"; echo "0 passed, 1 failed"; exit 1; }
# The test-only buffer module goes beside it, so the path names the tree alone.
cc -O2 -shared -fPIC -I/usr/include/lua5.1 -o "$(dirname "$module")/pixbuf.so" tests/lua/pixbuf.c
LUA_CPATH="$tree/lib/lua/5.1/?.so" LUA_PATH="" lua5.1 -e '
  local pelx04 = require "pelx04"
  local pixbuf = require "pixbuf"
  local passed, failed = 0, 0
  local function check(name, ok)
    if ok then passed = passed + 1 else failed = failed + 1; print("FAIL " .. name) end
  end
  local n = 0
  for _ in pairs(pelx04) do n = n + 1 end
  check("seventeen functions", n == 17)
  check("daytime", type(pelx04.daytime()) == "string")
  -- 0xFF102030 with red +10, green -20, blue +300 (clamped); a transparent word stays.
  local buffer = pixbuf.fromTable({0xFF102030, 0x00102030})
  local result = pelx04.mirtRGB(buffer, 2, 1, 10, -20, 300, 0)
  check("mirtRGB returns the buffer", result == buffer)
  local words = pixbuf.toTable(buffer, 2)
  check("mirtRGB rewrites the visible word", words[1] == 0xFF1A0CFF)
  check("mirtRGB keeps the transparent word", words[2] == 0x00102030)
  print(passed .. " passed, " .. failed .. " failed")
  os.exit(failed == 0 and 0 or 1)
'
