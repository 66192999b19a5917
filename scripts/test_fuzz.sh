#!/bin/sh
# Builds the libFuzzer target with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/, and fuzzes every Lua function
# from the committed seed corpus for FUZZ_SECONDS (120 by default). Any crash,
# sanitizer report, Lua error or broken return convention fails the run; the
# input that caused it is left in build-fuzz/.
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
seconds="${FUZZ_SECONDS:-120}"
scripts/deps.sh build fuzz
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELX04_FUZZ=ON \
  -DPELX04_BUILD_TOOLS=OFF -DPELX04_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"$jobs" --target lua_calls_fuzz
# New inputs go to the scratch corpus, never into the committed seeds.
mkdir -p build-fuzz/corpus
build-fuzz/bin/lua_calls_fuzz -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
  -artifact_prefix=build-fuzz/ build-fuzz/corpus tests/fuzz/corpus
