#!/bin/sh
# Builds pelx04.dll for 64- and 32-bit Windows with mingw-w64 (the CMake
# presets mingw-x64 and mingw-x86) and tests them:
# - both DLLs: export table, imported DLLs, lua51.dll imports vs lua51.def;
# - the 32-bit DLL: no x87 arithmetic in the library's code. This machine's
#   kernel cannot run 32-bit programs, so that DLL is checked at build time only;
# - the 64-bit DLL under wine, with a Windows Lua 5.1 (lua.exe, lua51.dll) built
#   here from Debian's lua5.1 sources: the whole Lua test suite, and the frames
#   of tests/windows/frames_compare.lua compared word for word with the Linux
#   build run by lua5.1.
# Everything goes to build-windows/ and the presets' build-mingw-*/.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
work="$root/build-windows"
passed=0
failed=0
note() { echo "-- $*"; }
result() {
  if [ "$1" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL $2"; fi
}

scripts/deps.sh build windows
mkdir -p "$work"

# --- Debian's Lua 5.1 sources, with deb-src entries added only if missing.
luasrc=$(ls -d "$work"/lua-src/lua5.1-*/src 2>/dev/null | head -n 1 || true)
if [ -z "$luasrc" ] || [ ! -f "$luasrc/lua.c" ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  if ! apt-get source --print-uris lua5.1 >/dev/null 2>&1; then
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    note "adding deb-src entries for $codename"
    printf '%s\n' "# Debian source packages: pelx04's Windows tests build Lua 5.1 from them." \
      "Types: deb-src" "URIs: http://deb.debian.org/debian" "Suites: $codename $codename-updates" \
      "Components: main" "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" |
      $sudo tee /etc/apt/sources.list.d/pelx04-deb-src.sources >/dev/null
    $sudo apt-get update -qq
  fi
  rm -rf "$work/lua-src" && mkdir -p "$work/lua-src"
  (cd "$work/lua-src" && apt-get source -qq lua5.1 >/dev/null 2>&1) || { echo "apt-get source lua5.1 failed"; exit 1; }
  luasrc=$(ls -d "$work"/lua-src/lua5.1-*/src | head -n 1)
fi

# --- The DLLs. The .def check runs on the compiled objects before the link, so
# a Lua function missing from lua51.def is named rather than failing the link.
for arch in x64 x86; do
  case $arch in x64) triplet=x86_64-w64-mingw32 ;; x86) triplet=i686-w64-mingw32 ;; esac
  note "building pelx04.dll ($arch)"
  log="$work/build-mingw-$arch.log"
  built=0
  { cmake --preset "mingw-$arch" && cmake --build --preset "mingw-$arch" --target pelx04_lua; } >"$log" 2>&1 || built=1
  [ $built -ne 0 ] || cmake --build --preset "mingw-$arch" >>"$log" 2>&1 || built=1
  [ $built -eq 0 ] || tail -n 30 "$log"
  result $built "mingw-$arch build"
  rc=0; tests/windows/dll_tables_test.sh "$triplet" "$root/build-mingw-$arch" src/lua/lua51.def || rc=$?
  result $rc "DLL tables ($arch)"
done
rc=0; tests/windows/no_x87_test.sh "$root/build-mingw-x86" || rc=$?
result $rc "no x87 arithmetic (x86)"
[ -f "$root/build-mingw-x64/lua/pelx04.dll" ] || { echo "no 64-bit DLL to run"; echo "$passed passed, $failed failed"; exit 1; }

# --- Windows Lua 5.1 (64-bit): the upstream sources compiled as the upstream
# mingw target does, plus the test-only pixbuf module.
win="$work/win64"
mkdir -p "$win"
cc64=x86_64-w64-mingw32-gcc-win32
cflags="-O2 -std=gnu99 -DLUA_BUILD_AS_DLL"
if [ ! -f "$win/lua.exe" ] || [ ! -f "$win/lua-x87-53.exe" ]; then
  note "building lua.exe and lua51.dll from $luasrc"
  core="lapi lcode ldebug ldo ldump lfunc lgc llex lmem lobject lopcodes lparser lstate lstring ltable ltm lundump lvm lzio"
  libs="lauxlib lbaselib ldblib liolib lmathlib loslib ltablib lstrlib loadlib linit"
  sources=""
  for name in $core $libs; do sources="$sources $luasrc/$name.c"; done
  # shellcheck disable=SC2086
  $cc64 $cflags -shared -static-libgcc -o "$win/lua51.dll" $sources -Wl,--out-implib,"$win/liblua51.dll.a"
  # shellcheck disable=SC2086
  $cc64 $cflags -static-libgcc -o "$win/lua.exe" "$luasrc/lua.c" "$win/liblua51.dll.a"
  # shellcheck disable=SC2086
  $cc64 $cflags -Dmain=luaMain -c "$luasrc/lua.c" -o "$win/lua-main.o"
  $cc64 -O2 -static-libgcc -o "$win/lua-x87-53.exe" tests/windows/host_x87_53.c "$win/lua-main.o" "$win/liblua51.dll.a"
fi
# shellcheck disable=SC2086
$cc64 $cflags -shared -static-libgcc -I"$luasrc" -o "$win/pixbuf.dll" tests/lua/pixbuf.c "$win/liblua51.dll.a"
cp "$root/build-mingw-x64/lua/pelx04.dll" "$win/"

# --- The Linux build the frames are compared with.
linux="$work/linux"
note "building the Linux module"
{ cmake -S . -B "$linux" -DCMAKE_BUILD_TYPE=Release -DPELX04_BUILD_TESTS=OFF -DPELX04_BUILD_TOOLS=OFF &&
  cmake --build "$linux" -j2 --target pelx04; } >"$work/build-linux.log" 2>&1 || tail -n 30 "$work/build-linux.log"
cc -O2 -shared -fPIC -I/usr/include/lua5.1 -o "$linux/lua/pixbuf.so" tests/lua/pixbuf.c

# --- wine: headless, quiet, in a prefix of its own; its server alone is stopped.
wine=/usr/lib/wine/wine64
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
export WINEPREFIX="$work/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY LUA_INIT
trap '"$wineserver" -k 2>/dev/null || true' EXIT
windows() { printf 'Z:%s' "$1" | tr / '\\'; }
note "starting wine (a new prefix takes a while)"
# One server for this prefix, kept up until the end: a client that starts
# while the previous client's server is shutting down loses its connection.
mkdir -p "$WINEPREFIX"
"$wineserver" -k 2>/dev/null || true
"$wineserver" -p
"$wine" "$win/lua.exe" -e "io.write('')" >/dev/null 2>&1 || true

out="$work/out"
mkdir -p "$out"
for script in tests/lua/*_test.lua; do
  name=$(basename "$script" .lua)
  rc=0
  LUA_CPATH="$(windows "$win")\\?.dll" LUA_PATH="$(windows "$root/tests/lua")\\?.lua" \
    "$wine" "$win/lua.exe" "$(windows "$root/$script")" >"$out/$name.txt" 2>&1 || rc=$?
  tr -d '\r' <"$out/$name.txt" >"$out/$name.log"
  summary=$(tail -n 1 "$out/$name.log")
  echo "wine lua.exe $name: $summary"
  if [ $rc -ne 0 ] || ! echo "$summary" | grep -Eq '^[0-9]+ passed, 0 failed$'; then
    grep -v '^[0-9]* passed' "$out/$name.log" | head -20
    rc=1
  fi
  result $rc "wine $name"
done

note "comparing frames: Linux lua5.1 against wine lua.exe"
linuxrc=0
LUA_CPATH="$linux/lua/?.so" LUA_PATH="" lua5.1 tests/windows/frames_compare.lua >"$out/frames-linux.txt" || linuxrc=$?
for host in lua lua-x87-53; do
  rc=$linuxrc
  LUA_CPATH="$(windows "$win")\\?.dll" LUA_PATH="" \
    "$wine" "$win/$host.exe" "$(windows "$root/tests/windows/frames_compare.lua")" >"$out/frames-$host.raw" 2>&1 || rc=$?
  tr -d '\r' <"$out/frames-$host.raw" >"$out/frames-$host.txt"
  lines=$(wc -l <"$out/frames-linux.txt")
  if [ "$rc" -eq 0 ] && [ "$lines" -gt 100 ] && cmp -s "$out/frames-linux.txt" "$out/frames-$host.txt"; then
    echo "frames ($host.exe): $lines calls, same words as Linux"
  else
    rc=1
    diff "$out/frames-linux.txt" "$out/frames-$host.txt" | head -20 || true
  fi
  result $rc "frames Linux vs $host.exe"
done

echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
