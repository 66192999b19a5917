#!/bin/sh
# Builds the playground page into build-web/site/, a folder that any static
# file host can serve: Lua 5.1 and pelx04 compiled to WebAssembly, the page
# and its editor bundled from the npm packages pinned in web/package-lock.json.
# With --serve, then serves that folder on 127.0.0.1 and prints the address.
# Usage: scripts/playground.sh [--serve [PORT]]
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
work="$root/build-web"
site="$work/site"
serve=0
port=8004
case "${1:-}" in
  "") ;;
  --serve) serve=1; [ $# -ge 2 ] && port="$2" ;;
  -h|--help) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  *) echo "usage: $0 [--serve [PORT]]" >&2; exit 2 ;;
esac

scripts/deps.sh build web
# emcc's optimiser needs Debian's JavaScript modules (acorn); the cache stays
# Debian's prebuilt one, since an empty EM_CACHE rebuilds the system libraries.
export NODE_PATH=/usr/share/nodejs
unset EM_CACHE

luasrc=$(scripts/lua_source.sh "$work/lua-src")
include="$work/lua-include"
mkdir -p "$include"
cp "$luasrc/lua.h" "$luasrc/luaconf.h" "$luasrc/lualib.h" "$luasrc/lauxlib.h" "$luasrc/../etc/lua.hpp" "$include/"
# Debian's luaconf.h names the multiarch folder of C modules; the page loads none.
echo '#define DEB_HOST_MULTIARCH "wasm32-emscripten"' >"$include/lua5.1-deb-multiarch.h"

# Two engines: scalar (build-web/wasm) for any browser, and one with 128-bit
# vectors (build-web/wasm-simd) that the page loads where the browser has them.
build_engine() { # FOLDER VECTORS
  echo "-- building the WebAssembly engine in $1" >&2
  emcmake cmake -S . -B "$work/$1" -DCMAKE_BUILD_TYPE=Release -DPELX04_BUILD_TESTS=OFF -DPELX04_BUILD_TOOLS=OFF \
    -DPELX04_WASM_SIMD128="$2" -DLUA_INCLUDE_DIR="$include" -DPELX04_LUA_SOURCE_DIR="$luasrc" \
    >"$work/$1-configure.log" 2>&1 || { tail -n 30 "$work/$1-configure.log" >&2; exit 1; }
  cmake --build "$work/$1" -j2 --target pelx04_web >"$work/$1-build.log" 2>&1 ||
    { tail -n 40 "$work/$1-build.log" >&2; exit 1; }
}
build_engine wasm OFF
build_engine wasm-simd ON

echo "-- bundling the page" >&2
npmdir="$work/npm"
mkdir -p "$npmdir"
cp web/package.json web/package-lock.json "$npmdir/"
if ! cmp -s web/package-lock.json "$npmdir/node_modules/.package-lock.json.pelx04" 2>/dev/null; then
  (cd "$npmdir" && npm ci --no-audit --no-fund --loglevel=error) >&2
  cp web/package-lock.json "$npmdir/node_modules/.package-lock.json.pelx04"
fi
rm -rf "$site.new"
mkdir -p "$site.new"
NODE_PATH="$npmdir/node_modules" node web/build/bundle.mjs "$root" "$npmdir/node_modules" "$site.new" >&2
cp "$work/wasm/wasm/pelx04.js" "$work/wasm/wasm/pelx04.wasm" "$work/wasm-simd/wasm/pelx04-simd.js" \
  "$work/wasm-simd/wasm/pelx04-simd.wasm" "$site.new/"
rm -rf "$site"
mv "$site.new" "$site"
echo "$site"

if [ $serve -eq 1 ]; then
  echo "serving $site at http://127.0.0.1:$port/ (Ctrl+C stops)" >&2
  exec /usr/bin/python3 -m http.server "$port" --bind 127.0.0.1 --directory "$site"
fi
