#!/bin/sh
# Installs the Debian packages that the named parts of the work need, when they
# are missing. Usage: scripts/deps.sh GROUP...
set -eu

packages_of() {
  case "$1" in
    build)   echo "cmake make g++ pkg-config binutils lua5.1 luajit liblua5.1-0-dev libstb-dev" ;;
    test)    echo "libgtest-dev googletest" ;;
    # dpkg-dev: apt-get source unpacks Lua's sources for the sandbox's fuzzer.
    fuzz)    echo "clang libclang-rt-14-dev dpkg-dev" ;;
    # The frame runner: FFmpeg's libraries and the ffmpeg program its tests use.
    media|video) echo "ffmpeg libavformat-dev libavcodec-dev libswscale-dev libavutil-dev libcli11-dev pkg-config" ;;
    windows) echo "g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 wine wine64 wine32:i386 dpkg-dev" ;;
    rocks)   echo "luarocks" ;;
    # The frei0r plugin: its header, and the three hosts that load it.
    hosts)   echo "frei0r-plugins-dev ffmpeg gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav melt" ;;
    # Everything debian/control's Build-Depends lists, and the tools that make
    # and check the packages.
    package) echo "debhelper dpkg-dev fakeroot lintian help2man zip unzip git libgtest-dev libavformat-dev libavcodec-dev libswscale-dev libavutil-dev libcli11-dev frei0r-plugins-dev" ;;
    # A one-node cluster scheduler for the batch stage; nothing starts its daemons.
    slurm)   echo "slurmctld slurmd slurm-client munge" ;;
    bench)   echo "libbenchmark-dev libopencv-dev" ;;
    # The aarch64 cross build of the library (cmake --preset aarch64).
    cross)   echo "g++-aarch64-linux-gnu liblua5.1-0-dev" ;;
    web)     echo "emscripten nodejs chromium chromium-driver python3-selenium dpkg-dev libstb-dev" ;;
    # The editors, opened under Xvfb by the frei0r stage (a session bus for
    # Kdenlive), and what scripts/editor_screenshots.sh drives them with.
    editors) echo "kdenlive shotcut xvfb dbus-daemon" ;;
    screenshots) echo "imagemagick xdotool" ;;
    *) echo "unknown group: $1" >&2; exit 2 ;;
  esac
}

missing_packages() {
  missing=""
  for group in "$@"; do
    for package in $(packages_of "$group"); do
      if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
        missing="$missing $package"
      fi
    done
    # Debian's nodejs comes without npm, another build of it with npm inside:
    # the npm package only where no npm is there yet.
    if [ "$group" = web ] && ! command -v npm >/dev/null 2>&1; then missing="$missing npm"; fi
  done
}

missing_packages "$@"
[ -z "$missing" ] && exit 0
# Builds in two checkouts of one machine may both get here; apt and dpkg take
# one install at a time, so the second waits, then installs what is still missing.
exec 9>"${TMPDIR:-/tmp}/pelx04-deps.lock"
flock 9
missing_packages "$@"
[ -z "$missing" ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "installing:$missing" >&2
export DEBIAN_FRONTEND=noninteractive
# The 32-bit wine runs the 32-bit DLL; its packages come from the i386 architecture.
case "$missing" in
  *:i386*)
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386 ;;
esac
apt_get() { $sudo apt-get -o DPkg::Lock::Timeout=900 "$@"; }
# A registry may serve one index at the wrong size for hours (a mirror in the
# middle of a sync), and a retry fails the same way: the install decides.
apt_get update -qq || echo "warning: apt-get update failed; installing from the indexes apt has" >&2
# The i386 packages go in a call of their own: their libraries must match the
# amd64 versions, and where the i386 index is the one missing they cannot be
# installed at all. Nothing but the 32-bit runs needs them, and those runs are
# skipped, naming this cause, where they are not there.
native="" foreign=""
for package in $missing; do
  case "$package" in *:i386) foreign="$foreign $package" ;; *) native="$native $package" ;; esac
done
if [ -n "$native" ]; then
  # shellcheck disable=SC2086
  apt_get install -y -qq --no-install-recommends $native >/dev/null
fi
if [ -n "$foreign" ]; then
  # shellcheck disable=SC2086
  if ! apt_get install -y -qq --no-install-recommends $foreign >/dev/null; then
    echo "warning: could not install$foreign (apt's message is above); the 32-bit runs will be skipped" >&2
  fi
fi
