#!/bin/sh
# A 10-frame clip from ffmpeg's testsrc, piped through pelx04-run and back into
# ffmpeg (lossless FFV1), must decode to exactly the frames that the library
# gives when lua5.1 applies the same script directly.
#   ffmpeg_pipe_test.sh RUNNER LUA MODULE_DIR TEST_DIR WORKDIR
set -eu
runner=$1 lua=$2 module_dir=$3 test_dir=$4 work=$5
command -v ffmpeg >/dev/null 2>&1 || { echo "ffmpeg not installed: skipped"; exit 77; }
rm -rf "$work"
mkdir -p "$work"
cd "$work"

fail() { echo "FAIL ffmpeg_pipe: $*" >&2; exit 1; }
size=160x120
make_clip() { ffmpeg -nostdin -v error -f lavfi -i "testsrc=size=$size:rate=10" -frames:v 10 -f rawvideo -pix_fmt bgra -; }

# Uses the frame index, the picture store across frames and a band of rows.
cat >fx.lua <<'LUA'
local f, p = frame, pelx04
if f.index == 0 then p.mirtMixPict0(f.data, f.width, f.height) end
p.mirtHSV(f.data, f.width, f.height, 36 * f.index, 0, 0)
p.mirtRGB2GRA(f.row(f.height / 2), f.width, f.height / 2, 6, 0, 0)
if f.index > 0 then p.mirtMixPict1(f.data, f.width, f.height, 0.5) end
LUA

make_clip | "$runner" --raw "$size" --quiet fx.lua |
  ffmpeg -v error -f rawvideo -pix_fmt bgra -s "$size" -i - -c:v ffv1 -y out.mkv
ffmpeg -nostdin -v error -i out.mkv -f rawvideo -pix_fmt bgra - >piped.raw

make_clip >source.raw
LD_PRELOAD="${PELX04_LUA_PRELOAD:-}" LUA_CPATH="$module_dir/?.so" "$lua" "$test_dir/direct_frames.lua" fx.lua 160 120 <source.raw >direct.raw

[ "$(wc -c <direct.raw)" -eq $((160 * 120 * 4 * 10)) ] || fail "direct run made $(wc -c <direct.raw) bytes"
cmp -s source.raw direct.raw && fail "the script changed nothing"
[ "$(md5sum <piped.raw)" = "$(md5sum <direct.raw)" ] || fail "piped frames differ from the library applied directly"
echo "ok ffmpeg_pipe"
