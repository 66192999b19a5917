#!/bin/sh
# Builds everything and runs every test: the C++ and Lua suites (lua5.1 and
# luajit), the same suites under AddressSanitizer and UndefinedBehaviorSanitizer,
# the fuzzer, the Windows DLLs under wine, the luarocks install, the release
# packages, the playground page (WebAssembly against native, and the page in
# Chromium), the frei0r plugin inside ffmpeg, GStreamer and melt, and batches
# submitted to a one-node Slurm cluster.
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
passed=0
failed=0

stage() {
  name="$1"; shift
  echo "== $name"
  started=$(date +%s)
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "== $name FAILED"; fi
  echo "== $name: $(($(date +%s) - started)) s"
}

suite() {
  scripts/deps.sh build test media
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPELX04_BUILD_TESTS=ON -DPELX04_BUILD_TOOLS=ON >/dev/null
  cmake --build build -j"$jobs"
  ctest --test-dir build -j"$jobs" --output-on-failure --timeout 300
}

stage "tests" suite
for extra in sanitize fuzz windows rocks packages web frei0r slurm; do
  [ -x "scripts/test_$extra.sh" ] && stage "$extra" "scripts/test_$extra.sh"
done

echo "stages: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
