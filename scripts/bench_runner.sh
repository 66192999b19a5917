#!/bin/sh
# Times the frame runner on a 1920 x 1080 H.264 clip against ffmpeg, each
# command REPEAT times (default 5) in turn, and prints the median wall times:
#   1. an empty script, H.264 in, raw BGRA out (--codec rawvideo, NUT), against
#      ffmpeg doing the same transcode alone;
#   2. mirtHSV, H.264 in and out (libx264, CRF 18, yuv420p, preset medium),
#      against the three-process pipe: ffmpeg | pelx04-run --raw | ffmpeg.
#   scripts/bench_runner.sh [REPEAT]       (BUILD_DIR=build by default)
set -eu
cd "$(dirname "$0")/.."
repeat=${1:-5}
build=${BUILD_DIR:-build}
scripts/deps.sh build media
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target pelx04-run >/dev/null
runner=$(pwd)/$build/bin/pelx04-run
# In memory when /dev/shm exists: the raw outputs are 800 MB each, and the disk is not what is timed.
work=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -t 4 -c:v libx264 -pix_fmt yuv420p \
  -preset fast clip.mp4
printf 'local unused = 1\n' >empty.lua
printf 'pelx04.mirtHSV(frame.data, frame.width, frame.height, 120, 10, -10)\n' >hsv.lua

ffmpeg_raw() { ffmpeg -nostdin -v error -y -i clip.mp4 -c:v rawvideo -pix_fmt bgra ffmpeg.nut; rm ffmpeg.nut; }
runner_raw() { "$runner" --quiet empty.lua clip.mp4 -o runner.nut --codec rawvideo; rm runner.nut; }
pipe_hsv() {
  ffmpeg -nostdin -v error -i clip.mp4 -f rawvideo -pix_fmt bgra - |
    "$runner" --quiet --raw 1920x1080 hsv.lua |
    ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt bgra -s 1920x1080 -r 25 -i - -c:v libx264 -crf 18 \
      -preset medium -pix_fmt yuv420p pipe.mp4
}
runner_hsv() { "$runner" --quiet hsv.lua clip.mp4 -o runner.mp4 --crf 18 --opt preset=medium; }

seconds() { start=$(date +%s.%N); "$@"; end=$(date +%s.%N); echo "$end - $start" | bc; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

for name in ffmpeg_raw runner_raw pipe_hsv runner_hsv; do : >"$name.times"; done
i=0
while [ "$i" -lt "$repeat" ]; do
  for name in ffmpeg_raw runner_raw pipe_hsv runner_hsv; do seconds "$name" >>"$name.times"; done
  i=$((i + 1))
done
echo "machine: $(lscpu | sed -n 's/^Model name:[[:space:]]*//p'), $(nproc) cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "clip: 1920x1080 H.264 yuv420p, 100 frames at 25 fps; median of $repeat runs (seconds), every run:"
for name in ffmpeg_raw runner_raw pipe_hsv runner_hsv; do
  printf '%-11s %s   [%s]\n' "$name" "$(median <"$name.times")" "$(tr '\n' ' ' <"$name.times")"
done
raw_ratio=$(echo "scale=3; $(median <runner_raw.times) / $(median <ffmpeg_raw.times)" | bc)
hsv_ratio=$(echo "scale=3; $(median <runner_hsv.times) / $(median <pipe_hsv.times)" | bc)
echo "runner_raw / ffmpeg_raw = $raw_ratio (target <= 1.15); runner_hsv / pipe_hsv = $hsv_ratio (target < 1)"
