#!/bin/sh
# The main job in one command: installs what the build needs, builds pelx04
# and the frame runner (Release, into build/), runs an example script on the
# built-in test card and prints the path of the PNG it wrote.
#   scripts/run.sh [EXAMPLE]      EXAMPLE defaults to examples/sepia.lua
set -eu
cd "$(dirname "$0")/.."
example=${1:-examples/sepia.lua}

scripts/deps.sh build media
# Tests are configured only where GoogleTest is installed (scripts/test.sh
# installs it); an existing build/ keeps its own settings.
tests=OFF
[ -f /usr/include/gtest/gtest.h ] && tests=ON
if [ -f build/CMakeCache.txt ]; then
  cmake -S . -B build >/dev/null
else
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPELX04_BUILD_TESTS=$tests >/dev/null
fi
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target pelx04 pelx04-run >/dev/null

output="out/$(basename "$example" .lua).png"
build/bin/pelx04-run "$example" -o "$output"
echo "$output"
