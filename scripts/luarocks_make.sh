#!/bin/sh
# Builds and installs pelx04 with `luarocks make` from this checkout. LuaRocks
# wants its package file under the name pelx04-<version>.rockspec, so the one
# in packaging/ is copied under that name into build-rocks/ first; the build
# itself runs here, at the top of the checkout.
#   scripts/luarocks_make.sh [LUAROCKS MAKE OPTIONS]   e.g. --tree "$HOME/.luarocks"
set -eu
cd "$(dirname "$0")/.."
project=$(sed -n 's/^project(pelx04 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
version="$project-1"
if ! grep -q "^version = \"$version\"$" packaging/luarocks.lua; then
  echo "packaging/luarocks.lua does not carry the project's version $version" >&2
  exit 1
fi
mkdir -p build-rocks
package="build-rocks/pelx04-$version.rockspec"
cp packaging/luarocks.lua "$package"
luarocks --lua-version 5.1 lint "$package"
exec luarocks --lua-version 5.1 make "$@" "$package"
