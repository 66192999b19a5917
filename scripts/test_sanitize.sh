#!/bin/sh
# Builds the library and its tests with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-sanitize/ and runs the whole C++ and Lua
# suite there; any report aborts the test that triggered it.
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
scripts/deps.sh build test media
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELX04_SANITIZE=ON >/dev/null
cmake --build build-sanitize -j"$jobs"
ctest --test-dir build-sanitize -j"$jobs" --output-on-failure
