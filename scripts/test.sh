#!/bin/sh
# Builds everything and runs every test: the C++ and Lua suites (lua5.1 and
# luajit), the same suites under AddressSanitizer and UndefinedBehaviorSanitizer,
# the fuzzer, the Windows DLLs under wine, the luarocks install, the release
# packages, the playground page (WebAssembly against native, and the page in
# Chromium), the frei0r plugin inside ffmpeg, GStreamer and melt, and batches
# submitted to a one-node Slurm cluster.
set -eu
cd "$(dirname "$0")/.."
passed=0
failed=0

# Each stage is a script of its own, run as its own process with set -e: a
# shell function called inside `if` runs with set -e off, so its failed
# install, configure or build would go on to the next step.
stage() {
  name="$1" script="scripts/test_$2.sh"
  echo "== $name"
  started=$(date +%s)
  if [ ! -x "$script" ]; then
    echo "== $name: $script is missing"
    rc=1
  else
    rc=0
    "$script" || rc=$?
  fi
  if [ "$rc" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "== $name FAILED"; fi
  echo "== $name: $(($(date +%s) - started)) s"
}

stage tests suites
for extra in sanitize fuzz windows rocks packages web frei0r slurm; do
  stage "$extra" "$extra"
done

echo "stages: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
