# Windows Lua 5.1 hosts under wine, shared by scripts/test_windows.sh and
# scripts/test_packages.sh (sourced, with the checkout as the current folder).
# Both scripts use one build/ folder, build-windows/, so the Lua sources, the
# hosts and the wine prefix are made once:
#   build-windows/lua-src/   Debian's lua5.1 sources
#   build-windows/win-x64/   lua.exe, lua51.dll, lua-x87-53.exe, pixbuf.dll (64-bit)
#   build-windows/win-x86/   the same, 32-bit
#   build-windows/wine/      the prefix; one server runs both 64- and 32-bit programs

windows_work="$(pwd)/build-windows"

# Debian's Lua 5.1 sources (fetched once). Sets luasrc.
windows_lua_source() {
  luasrc=$(scripts/lua_source.sh "$windows_work/lua-src")
}

# The host for ARCH (x64 or x86) in build-windows/win-ARCH: the upstream
# sources compiled as the upstream mingw target does, a lua.exe that starts
# with the x87 unit at 53-bit precision, and the test-only pixbuf module.
windows_lua_build() {
  arch=$1
  case $arch in x64) cc=x86_64-w64-mingw32-gcc-win32 ;; x86) cc=i686-w64-mingw32-gcc-win32 ;; esac
  win="$windows_work/win-$arch"
  mkdir -p "$win"
  cflags="-O2 -std=gnu99 -DLUA_BUILD_AS_DLL"
  if [ ! -f "$win/lua.exe" ] || [ ! -f "$win/lua-x87-53.exe" ] || [ ! -f "$win/pixbuf.dll" ]; then
    windows_lua_source || return 1
    echo "-- building the $arch Windows Lua from $luasrc"
    core="lapi lcode ldebug ldo ldump lfunc lgc llex lmem lobject lopcodes lparser lstate lstring ltable ltm lundump lvm lzio"
    libs="lauxlib lbaselib ldblib liolib lmathlib loslib ltablib lstrlib loadlib linit"
    sources=""
    for name in $core $libs; do sources="$sources $luasrc/$name.c"; done
    # shellcheck disable=SC2086
    $cc $cflags -shared -static-libgcc -o "$win/lua51.dll" $sources -Wl,--out-implib,"$win/liblua51.dll.a" &&
    $cc $cflags -static-libgcc -o "$win/lua.exe" "$luasrc/lua.c" "$win/liblua51.dll.a" &&
    $cc $cflags -Dmain=luaMain -c "$luasrc/lua.c" -o "$win/lua-main.o" &&
    $cc -O2 -static-libgcc -o "$win/lua-x87-53.exe" tests/windows/host_x87_53.c "$win/lua-main.o" "$win/liblua51.dll.a" &&
    $cc $cflags -shared -static-libgcc -I"$luasrc" -o "$win/pixbuf.dll" tests/lua/pixbuf.c "$win/liblua51.dll.a" ||
      return 1
  fi
}

# Whether ARCH's programs can run here, found once, after the packages are
# installed, and the reason printed the first time a 32-bit run is left out.
# Two causes: scripts/deps.sh could not install wine32:i386 (a registry whose
# i386 index is broken), or the x86-64 kernel is built without 32-bit support,
# where the 32-bit wine loader fails with "Exec format error".
wine_runs_x86=""
wine_can_run() {
  [ "$1" = x86 ] || return 0
  if [ -z "$wine_runs_x86" ]; then
    wine_runs_x86=no
    if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "ok installed"; then
      echo "x86: skipped: wine32:i386 is not installed (scripts/deps.sh could not install it; apt's message is above)"
    elif ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
      echo "x86: skipped: this machine's kernel cannot run 32-bit programs"
    else
      wine_runs_x86=yes
    fi
  fi
  [ "$wine_runs_x86" = yes ]
}

# wine headless and quiet, in the prefix of its own; its server alone is
# stopped on exit. One server for the prefix, kept up until the end: a client
# that starts while the previous client's server is shutting down loses its
# connection. The 64-bit server runs the 32-bit programs too.
wine_start() {
  wineserver=/usr/lib/wine/wineserver64
  export WINEPREFIX="$windows_work/wine" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY LUA_INIT
  trap '"$wineserver" -k 2>/dev/null || true' EXIT
  echo "-- starting wine (a new prefix takes a while)"
  mkdir -p "$WINEPREFIX"
  "$wineserver" -k 2>/dev/null || true
  "$wineserver" -p
  for arch in "$@"; do
    wine_can_run $arch || continue
    wine $arch "$windows_work/win-$arch/lua.exe" -e "io.write('')" >/dev/null 2>&1 || true
  done
}

windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

# Runs ARCH's Windows program with that width's loader. Not through
# /usr/bin/wine: once the 32-bit wine is installed, it starts every program with
# the 32-bit loader first, which a kernel without 32-bit support cannot execute.
wine() {
  case $1 in x64) loader=/usr/lib/wine/wine64 ;; x86) loader=/usr/lib/wine/wine ;; esac
  shift
  "$loader" "$@"
}

# The whole Lua suite of tests/lua under the ARCH host, with pelx04.dll from
# DLLDIR; one line per script, logs in OUTDIR. Counts into passed and failed,
# or into skipped where ARCH's programs cannot run here.
wine_lua_suite() {
  arch=$1 dlldir=$2 outdir=$3 label=$4
  win="$windows_work/win-$arch"
  mkdir -p "$outdir"
  for script in tests/lua/*_test.lua; do
    name=$(basename "$script" .lua)
    if ! wine_can_run "$arch"; then
      skipped=$((skipped + 1))
      continue
    fi
    rc=0
    LUA_CPATH="$(windows_path "$dlldir")\\?.dll;$(windows_path "$win")\\?.dll" \
      LUA_PATH="$(windows_path "$(pwd)/tests/lua")\\?.lua" \
      wine "$arch" "$win/lua.exe" "$(windows_path "$(pwd)/$script")" >"$outdir/$name.txt" 2>&1 || rc=$?
    tr -d '\r' <"$outdir/$name.txt" >"$outdir/$name.log"
    summary=$(tail -n 1 "$outdir/$name.log")
    echo "$label $name: $summary"
    if [ $rc -ne 0 ] || ! echo "$summary" | grep -Eq '^[0-9]+ passed, 0 failed$'; then
      grep -v '^[0-9]* passed' "$outdir/$name.log" | head -20
      rc=1
    fi
    result $rc "$label $name"
  done
}
