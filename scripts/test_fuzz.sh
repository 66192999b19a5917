#!/bin/sh
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/, fuzzes every Lua function from the
# committed seed corpus for FUZZ_SECONDS (120 by default), generated scripts in
# the sandbox, on Lua built from Debian's sources with the sanitizers, for
# SANDBOX_FUZZ_SECONDS (60 by default), then the frame runner's input path
# from seeds that ffmpeg makes for MEDIA_FUZZ_SECONDS (60 by default). Any
# crash, sanitizer report, Lua error, broken return convention or script past
# the sandbox's budgets fails the run, except a known fault inside FFmpeg
# listed in tests/fuzz/ffmpeg_faults.supp; the input that caused it is left in
# build-fuzz/.
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
seconds="${FUZZ_SECONDS:-120}"
scripts/deps.sh build fuzz video
luasrc=$(scripts/lua_source.sh build-fuzz/lua-src)
luainclude=build-fuzz/lua-include
mkdir -p "$luainclude"
cp "$luasrc/lua.h" "$luasrc/luaconf.h" "$luasrc/lualib.h" "$luasrc/lauxlib.h" "$luasrc/../etc/lua.hpp" "$luainclude/"
# Debian's luaconf.h names the multiarch folder of C modules; the sandbox loads none.
echo '#define DEB_HOST_MULTIARCH "fuzz"' >"$luainclude/lua5.1-deb-multiarch.h"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELX04_FUZZ=ON \
  -DPELX04_BUILD_TOOLS=OFF -DPELX04_BUILD_TESTS=OFF -DPELX04_FUZZ_LUA_SOURCE_DIR="$(pwd)/$luasrc" \
  -DPELX04_FUZZ_LUA_INCLUDE_DIR="$(pwd)/$luainclude" >/dev/null
cmake --build build-fuzz -j"$jobs" --target lua_calls_fuzz media_input_fuzz sandbox_fuzz
# New inputs go to the scratch corpus, never into the committed seeds.
mkdir -p build-fuzz/corpus
build-fuzz/bin/lua_calls_fuzz -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
  -artifact_prefix=build-fuzz/ build-fuzz/corpus tests/fuzz/corpus

# Snippets come from the fuzzer's own bytes: no seeds to keep.
mkdir -p build-fuzz/sandbox-corpus
build-fuzz/bin/sandbox_fuzz -max_total_time="${SANDBOX_FUZZ_SECONDS:-60}" -timeout=30 -rss_limit_mb=2048 -max_len=512 \
  -len_control=0 -print_final_stats=1 -artifact_prefix=build-fuzz/sandbox- build-fuzz/sandbox-corpus

# The media input runs in fork mode so that a crash does not end it; each one
# is then replayed and judged against the list of FFmpeg's own faults.
media_seconds="${MEDIA_FUZZ_SECONDS:-60}"
tests/fuzz/make_media_seeds.sh build-fuzz/media-seeds
mkdir -p build-fuzz/media-corpus
rm -rf build-fuzz/media-artifacts
mkdir -p build-fuzz/media-artifacts
# A crash it went past still sets its exit status: such a run is judged by its
# artifacts below, and only a failure that left none fails here.
media_rc=0
build-fuzz/bin/media_input_fuzz -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
  -max_total_time="$media_seconds" -timeout=20 -rss_limit_mb=2048 -artifact_prefix=build-fuzz/media-artifacts/ \
  build-fuzz/media-corpus build-fuzz/media-seeds || media_rc=$?
if [ "$media_rc" -ne 0 ] && [ -z "$(ls build-fuzz/media-artifacts)" ]; then
  echo "media input fuzzer: exit $media_rc with no input left to judge" >&2
  exit 1
fi
grep -v -e '^#' -e '^$' tests/fuzz/ffmpeg_faults.supp > build-fuzz/ffmpeg_faults.txt
unknown=0
for artifact in build-fuzz/media-artifacts/*; do
  [ -e "$artifact" ] || continue
  replay=$(timeout 120 build-fuzz/bin/media_input_fuzz -timeout=20 -rss_limit_mb=2048 "$artifact" 2>&1 || true)
  known=$(printf '%s\n' "$replay" | grep -F -o -f build-fuzz/ffmpeg_faults.txt | head -n 1 || true)
  if [ -n "$known" ]; then
    echo "known FFmpeg fault, suppressed: $known ($artifact)"
  else
    printf '%s\n' "$replay" | tail -n 40
    echo "media input fuzzer: fault in $artifact" >&2
    unknown=$((unknown + 1))
  fi
done
[ "$unknown" -eq 0 ]
