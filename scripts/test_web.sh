#!/bin/sh
# The playground page: builds it (scripts/playground.sh), then runs the
# fast-path exactness tests on the vector engine's kernels under Node, checks
# both WebAssembly engines word for word against the native frame runner
# (tests/web/exactness_test.mjs) and drives the real page in headless Chromium
# (tests/web/page_test.py). The runner comes from build/ (scripts/test.sh's
# first stage builds it), or is built there. Test output and the page's
# screenshot go to build-web/test-out/.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
out="$root/build-web/test-out"
passed=0
failed=0
result() {
  if [ "$1" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL $2"; fi
}

scripts/deps.sh build test video web
scripts/playground.sh >/dev/null
runner="$root/build/bin/pelx04-run"
if [ ! -x "$runner" ]; then
  echo "-- building the frame runner" >&2
  { cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build -j2 --target pelx04-run; } \
    >"$root/build-web/runner-build.log" 2>&1 || { tail -n 30 "$root/build-web/runner-build.log"; exit 1; }
fi
rm -rf "$out"
mkdir -p "$out"

# The vector engine's kernels against the literal passes, as the native
# fast paths are tested (tests/unit/fast_path_*_test.cpp, built for WebAssembly).
echo "-- building the fast-path tests for WebAssembly" >&2
rc=0
NODE_PATH=/usr/share/nodejs cmake --build build-web/wasm-simd -j2 --target pelx04_wasm_fast_path_tests \
  >"$root/build-web/wasm-tests-build.log" 2>&1 || { rc=$?; tail -n 30 "$root/build-web/wasm-tests-build.log"; }
[ $rc -eq 0 ] && { timeout 400 node --no-experimental-fetch build-web/wasm-simd/wasm/pelx04_wasm_fast_path_tests.js \
  --gtest_brief=1 >"$out/fast_path.log" 2>&1 || { rc=$?; grep -v '^var Module' "$out/fast_path.log" | tail -n 30; }; }
result $rc "the vector engine's fast paths against the literal passes"

for engine in pelx04 pelx04-simd; do
  rc=0
  timeout 300 node --no-experimental-fetch tests/web/exactness_test.mjs "$root/build-web/site/$engine.js" "$runner" \
    "$out/exactness-$engine" || rc=$?
  result $rc "WebAssembly ($engine.js) against the native runner"
done

rc=0
timeout 300 /usr/bin/python3 tests/web/page_test.py "$root/build-web/site" "$runner" "$out/page" || rc=$?
result $rc "the page in Chromium"
echo "screenshot: $out/page/playground.png"

echo "web: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
