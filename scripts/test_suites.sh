#!/bin/sh
# The C++ and Lua suites (lua5.1 and luajit) and the frame runner's tests, on a
# Release build in build/. Stops at the first step that fails: a failed install,
# configure or build must not go on to test whatever build/ held before.
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
scripts/deps.sh build test media
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPELX04_BUILD_TESTS=ON -DPELX04_BUILD_TOOLS=ON >/dev/null
cmake --build build -j"$jobs"
# --no-tests=error: a build that configured no tests is not a pass.
ctest --test-dir build -j"$jobs" --output-on-failure --timeout 300 --no-tests=error
