#!/bin/sh
# Builds pelx04.dll for 64- and 32-bit Windows with mingw-w64 (the CMake
# presets mingw-x64 and mingw-x86) and tests both:
# - export table, imported DLLs, lua51.dll imports vs lua51.def;
# - the 32-bit DLL: no x87 arithmetic in the library's code;
# - each DLL under wine (64- or 32-bit), with a Windows Lua 5.1 of the same
#   width built here from Debian's lua5.1 sources: the whole Lua test suite, and
#   the frames of tests/windows/frames_compare.lua compared word for word with
#   the Linux build run by lua5.1, once as mingw starts programs and once with
#   the x87 unit at 53-bit precision, as a host built by another compiler sets it.
# Everything goes to build-windows/ and the presets' build-mingw-*/.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
passed=0
failed=0
skipped=0
result() {
  if [ "$1" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL $2"; fi
}
. tests/windows/wine_hosts.sh
work=$windows_work

scripts/deps.sh build windows
mkdir -p "$work"

# --- The DLLs. The .def check runs on the compiled objects before the link, so
# a Lua function missing from lua51.def is named rather than failing the link.
for arch in x64 x86; do
  case $arch in x64) triplet=x86_64-w64-mingw32 ;; x86) triplet=i686-w64-mingw32 ;; esac
  echo "-- building pelx04.dll ($arch)"
  log="$work/build-mingw-$arch.log"
  built=0
  { cmake --preset "mingw-$arch" && cmake --build --preset "mingw-$arch" --target pelx04_lua; } >"$log" 2>&1 || built=1
  [ $built -ne 0 ] || cmake --build --preset "mingw-$arch" >>"$log" 2>&1 || built=1
  [ $built -eq 0 ] || tail -n 30 "$log"
  result $built "mingw-$arch build"
  rc=0; tests/windows/dll_tables_test.sh "$triplet" "$root/build-mingw-$arch" src/lua/lua51.def || rc=$?
  result $rc "DLL tables ($arch)"
  rc=0; windows_lua_build $arch || rc=$?
  result $rc "Windows Lua ($arch)"
done
rc=0; tests/windows/no_x87_test.sh "$root/build-mingw-x86" || rc=$?
result $rc "no x87 arithmetic (x86)"

# --- The Linux build the frames are compared with, run once for both DLLs.
linux="$work/linux"
echo "-- building the Linux module"
{ cmake -S . -B "$linux" -DCMAKE_BUILD_TYPE=Release -DPELX04_BUILD_TESTS=OFF -DPELX04_BUILD_TOOLS=OFF &&
  cmake --build "$linux" -j2 --target pelx04; } >"$work/build-linux.log" 2>&1 || tail -n 30 "$work/build-linux.log"
cc -O2 -shared -fPIC -I/usr/include/lua5.1 -o "$linux/lua/pixbuf.so" tests/lua/pixbuf.c
out="$work/out"
mkdir -p "$out"
linuxrc=0
LUA_CPATH="$linux/lua/?.so" LUA_PATH="" lua5.1 tests/windows/frames_compare.lua >"$out/frames-linux.txt" || linuxrc=$?

wine_start x64 x86
for arch in x64 x86; do
  dlldir="$root/build-mingw-$arch/lua"
  if [ ! -f "$dlldir/pelx04.dll" ] || [ ! -f "$work/win-$arch/lua.exe" ]; then
    result 1 "no $arch DLL or host to run"
    continue
  fi
  wine_lua_suite $arch "$dlldir" "$out/$arch" "wine $arch"
  for host in lua lua-x87-53; do
    if ! wine_can_run $arch; then
      skipped=$((skipped + 1))
      continue
    fi
    rc=$linuxrc
    LUA_CPATH="$(windows_path "$dlldir")\\?.dll;$(windows_path "$work/win-$arch")\\?.dll" LUA_PATH="" \
      wine $arch "$work/win-$arch/$host.exe" "$(windows_path "$root/tests/windows/frames_compare.lua")" \
      >"$out/frames-$arch-$host.raw" 2>&1 || rc=$?
    tr -d '\r' <"$out/frames-$arch-$host.raw" >"$out/frames-$arch-$host.txt"
    lines=$(wc -l <"$out/frames-linux.txt")
    if [ "$rc" -eq 0 ] && [ "$lines" -gt 100 ] && cmp -s "$out/frames-linux.txt" "$out/frames-$arch-$host.txt"; then
      echo "frames ($arch $host.exe): $lines calls, same words as Linux"
    else
      rc=1
      diff "$out/frames-linux.txt" "$out/frames-$arch-$host.txt" | head -20 || true
    fi
    result $rc "frames Linux vs $arch $host.exe"
  done
done

echo "windows: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
