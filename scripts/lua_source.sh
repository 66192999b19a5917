#!/bin/sh
# Fetches Debian's lua5.1 source package into DIR (once) and prints the path of
# its src/ folder. Adds deb-src entries for this release only when apt has none.
# Usage: scripts/lua_source.sh DIR
set -eu
[ $# -eq 1 ] || { echo "usage: $0 DIR" >&2; exit 2; }
dir="$1"
found=$(ls -d "$dir"/lua5.1-*/src 2>/dev/null | head -n 1 || true)
if [ -n "$found" ] && [ -f "$found/lua.c" ]; then echo "$found"; exit 0; fi

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
# Other checkouts may be installing at the same time: take scripts/deps.sh's
# lock, and let apt wait for its own.
exec 9>"${TMPDIR:-/tmp}/pelx04-deps.lock"
flock 9
if ! apt-get source --print-uris lua5.1 >/dev/null 2>&1; then
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  echo "adding deb-src entries for $codename" >&2
  printf '%s\n' "# Debian source packages: pelx04's Windows tests and playground build Lua 5.1 from them." \
    "Types: deb-src" "URIs: http://deb.debian.org/debian" "Suites: $codename $codename-updates" \
    "Components: main" "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" |
    $sudo tee /etc/apt/sources.list.d/pelx04-deb-src.sources >/dev/null
  # A broken index elsewhere (an i386 one in the middle of a mirror sync) fails
  # the update as a whole: the source fetch below decides.
  $sudo apt-get -o DPkg::Lock::Timeout=900 update -qq ||
    echo "warning: apt-get update failed; fetching from the indexes apt has" >&2
fi
rm -rf "$dir" && mkdir -p "$dir"
(cd "$dir" && apt-get source -qq lua5.1 >/dev/null 2>&1) || { echo "apt-get source lua5.1 failed" >&2; exit 1; }
ls -d "$dir"/lua5.1-*/src | head -n 1
