#!/bin/sh
# Builds the packages with scripts/package.sh and checks each one as its user
# gets it:
# - the .deb: installed with apt-get in CI (CI=true) or with --install, then
#   removed again, and nothing of it may be left; otherwise unpacked with
#   dpkg-deb -x, so a developer's own installed copy is never touched. Then
#   require "pelx04" from lua5.1 and luajit, the runner on the test card and
#   the frei0r plugin in ffmpeg, with no search path of ours set (an unpacked
#   copy is named by LUA_CPATH and FREI0R_PATH);
# - each Windows zip: unpacked, and the Lua suite run under wine against the
#   DLL inside it, with the host of the same width;
# - the source tarball: unpacked and built with scripts/run.sh, so nothing the
#   build needs is missing from it.
#   scripts/test_packages.sh [--install]
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
install=no
[ "${CI:-}" = "true" ] && install=yes
[ "${1:-}" = "--install" ] && install=yes
passed=0
failed=0
skipped=0
result() {
  if [ "$1" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL $2"; fi
}
lap=$(date +%s)
timed() {
  now=$(date +%s)
  echo "-- $1: $((now - lap)) s"
  lap=$now
}

scripts/package.sh || { echo "0 passed, 1 failed"; exit 1; }
timed "packages built"
version=$(sed -n 's/^project(pelx04 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
work="$root/build-package/check"
rm -rf "$work"
mkdir -p "$work"

rc=0; (cd dist && sha256sum --quiet -c SHA256SUMS) || rc=$?
result $rc "SHA256SUMS"

# --- The Debian package.
deb=$(ls dist/lua-pelx04_*.deb)
# Listed once: grep -q ends early, and dpkg-deb then reports its broken pipe.
dpkg-deb -c "$deb" >"$work/contents.txt"
rc=0; grep -q ' \./usr/share/man/man1/pelx04-run\.1\.gz$' "$work/contents.txt" || rc=$?
result $rc "man page in the package"
rc=0
for file in usr/share/kdenlive/effects/frei0r_pelx04.xml usr/share/shotcut/qml/filters/pelx04/meta.qml \
  usr/share/shotcut/qml/filters/pelx04/ui.qml; do
  grep -q " \./$file\$" "$work/contents.txt" || rc=1
done
result $rc "the editors' effect descriptions in the package"
prefix=""
if [ $install = yes ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  rc=0; DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "./$deb" >"$work/install.log" 2>&1 || rc=$?
  [ $rc -eq 0 ] || cat "$work/install.log"
  result $rc "apt-get install $deb"
  dpkg -L lua-pelx04 >"$work/files.txt"
  unset LUA_CPATH LUA_PATH LUA_INIT
else
  dpkg-deb -x "$deb" "$work/unpacked"
  prefix="$work/unpacked"
  multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
  export LUA_CPATH="$prefix/usr/lib/$multiarch/lua/5.1/?.so"
  unset LUA_PATH LUA_INIT
fi
for lua in lua5.1 luajit; do
  rc=0
  words=$($lua -e 'local p = require "pelx04"; local n = 0; for _ in pairs(p) do n = n + 1 end; io.write(n)') || rc=$?
  [ "$words" = 17 ] || rc=1
  result $rc "$lua requires the packaged pelx04 (${words:-no} functions)"
done
runner="$prefix/usr/bin/pelx04-run"
if "$runner" --version >"$work/version.txt" 2>&1; then
  rc=0; grep -q "$version" "$work/version.txt" || rc=$?
  result $rc "pelx04-run --version prints $version"
  rc=0; (cd "$work" && "$runner" "$root/examples/sepia.lua" -o "$work/card.png") || rc=$?
  [ -s "$work/card.png" ] || rc=1
  result $rc "the packaged pelx04-run filters the test card with the packaged module"
else
  # The runner before the CLI11 rewrite has no --version and looks for the
  # module in its build tree only.
  echo "SKIP the packaged pelx04-run: it has no --version and cannot find an installed module"
fi
# The packaged plugin where ffmpeg looks by itself once installed, equal to
# the packaged runner on two frames of ffmpeg's test picture.
scripts/deps.sh media
plugin_dir="$prefix/usr/lib/frei0r-1"
# The package's own files there: Debian's frei0r-plugins (which Shotcut
# depends on) may share the folder.
rc=0; [ "$(awk '{print $6}' "$work/contents.txt" | grep '^\./usr/lib/frei0r-1/.')" = ./usr/lib/frei0r-1/pelx04.so ] &&
  [ -f "$plugin_dir/pelx04.so" ] || rc=1
result $rc "the plugin alone in the package's /usr/lib/frei0r-1"
ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=s=320x240:r=25 -frames:v 2 -f rawvideo -pix_fmt bgra \
  "$work/card.raw"
rc=0
"$runner" --raw 320x240 "$root/examples/sepia.lua" <"$work/card.raw" >"$work/card_runner.raw" || rc=$?
if [ $install = yes ]; then unset FREI0R_PATH; else export FREI0R_PATH="$plugin_dir"; fi
timeout 60 ffmpeg -nostdin -loglevel error -f rawvideo -pix_fmt bgra -s 320x240 -i "$work/card.raw" \
  -vf "frei0r=pelx04:$root/examples/sepia.lua|n|stop" -f rawvideo -pix_fmt bgra "$work/card_plugin.raw" || rc=$?
cmp -s "$work/card_runner.raw" "$work/card_plugin.raw" || rc=1
result $rc "ffmpeg runs the packaged plugin, frames equal to the packaged runner's"
if [ $install = yes ]; then
  rc=0; DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq lua-pelx04 >"$work/purge.log" 2>&1 || rc=$?
  dpkg-query -W -f='${Status}' lua-pelx04 2>/dev/null | grep -q "ok installed" && rc=1
  while read -r path; do
    if [ -e "$path" ] && [ ! -d "$path" ]; then echo "left behind: $path"; rc=1; fi
  done <"$work/files.txt"
  [ -e /usr/share/doc/lua-pelx04 ] && { echo "left behind: /usr/share/doc/lua-pelx04"; rc=1; }
  result $rc "apt-get purge leaves nothing of the package"
fi
timed "Debian package checked"

# --- The Windows zips, under wine with hosts of each width.
scripts/deps.sh build windows
. tests/windows/wine_hosts.sh
for arch in x64 x86; do
  rc=0; windows_lua_build $arch || rc=$?
  result $rc "Windows Lua ($arch)"
done
wine_start x64 x86
for arch in x64 x86; do
  name="pelx04-$version-windows-$arch"
  unzip -q "dist/$name.zip" -d "$work/zip-$arch"
  for file in pelx04.dll LICENSE README-windows.txt examples/sepia.lua; do
    rc=0; [ -s "$work/zip-$arch/$name/$file" ] || rc=1
    result $rc "$name.zip holds $file"
  done
  wine_lua_suite $arch "$work/zip-$arch/$name" "$work/wine-$arch" "wine $arch, $name.zip:"
done
timed "Windows zips checked"

# --- The source tarball builds on its own.
mkdir -p "$work/source"
tar -xzf "dist/pelx04-$version.tar.gz" -C "$work/source"
rc=0; png=$(cd "$work/source/pelx04-$version" && scripts/run.sh 2>"$work/run.log") || rc=$?
if [ $rc -ne 0 ] || [ ! -s "$work/source/pelx04-$version/$png" ]; then rc=1; tail -n 20 "$work/run.log"; fi
result $rc "pelx04-$version.tar.gz builds with scripts/run.sh"
timed "source tarball checked"

echo "packages: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
