#!/bin/sh
# ffmpeg with the frei0r plugin against the frame runner, both running the same
# mirtHSV script on a 1920 x 1080 H.264 clip into raw BGRA (NUT), whole
# processes in turn, REPEAT times each (default 5); prints the medians of wall
# and CPU time and their ratio.
#   scripts/bench_frei0r.sh [REPEAT]   (BUILD_DIR=build by default)
set -eu
cd "$(dirname "$0")/.."
repeat=${1:-5}
names="plugin_hsv_raw runner_hsv_raw"
build=${BUILD_DIR:-build}
scripts/deps.sh build media hosts
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target pelx04-run pelx04_frei0r >/dev/null
runner=$(pwd)/$build/bin/pelx04-run
FREI0R_PATH="$(pwd)/$build/frei0r-1"
export FREI0R_PATH
# In memory when /dev/shm exists: the raw outputs are 800 MB each, and the disk is not what is timed.
work=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -t 4 -c:v libx264 -pix_fmt yuv420p \
  -preset fast clip.mp4
printf 'pelx04.mirtHSV(frame.data, frame.width, frame.height, 120, 10, -10)\n' >hsv.lua

cat >commands.sh <<EOF_COMMANDS
runner=$runner
EOF_COMMANDS
cat >>commands.sh <<'EOF_COMMANDS'
plugin_hsv_raw() {
  ffmpeg -nostdin -v error -y -i clip.mp4 -vf "frei0r=pelx04:$PWD/hsv.lua" -c:v rawvideo -pix_fmt bgra plugin.nut
  rm plugin.nut
}
runner_hsv_raw() { "$runner" --quiet hsv.lua clip.mp4 -o runner.nut --codec rawvideo; rm runner.nut; }
EOF_COMMANDS

# seconds NAME: appends "wall cpu" (cpu: user + system of every process it ran).
seconds() { /usr/bin/time -f '%e %U %S' -o time.txt sh -c ". ./commands.sh; $1"; awk '{ print $1, $2 + $3 }' time.txt; }
# median COLUMN < times: the median of that column (1 wall, 2 cpu).
median() { awk -v c="$1" '{ print $c }' | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

load=$(cut -d" " -f1-3 /proc/loadavg)
for name in $names; do : >"$name.times"; done
i=0
while [ "$i" -lt "$repeat" ]; do
  for name in $names; do seconds "$name" >>"$name.times"; done
  i=$((i + 1))
done
echo "machine: $(lscpu | sed -n 's/^Model name:[[:space:]]*//p'), $(nproc) cores; load before: $load"
echo "clip: 1920x1080 H.264 yuv420p, 100 frames at 25 fps; medians of $repeat runs in seconds; every run as wall/cpu:"
for name in $names; do
  printf '%-14s wall %6.2f  cpu %6.2f   [%s]\n' "$name" "$(median 1 <"$name.times")" "$(median 2 <"$name.times")" \
    "$(tr ' \n' '/ ' <"$name.times")"
done
ratio() { echo "scale=3; $(median "$1" <"$2.times") / $(median "$1" <"$3.times")" | bc; }
both() { [ -s "$1.times" ] && [ -s "$2.times" ]; }
if both plugin_hsv_raw runner_hsv_raw; then
  echo "plugin_hsv_raw / runner_hsv_raw: wall $(ratio 1 plugin_hsv_raw runner_hsv_raw), cpu $(ratio 2 plugin_hsv_raw runner_hsv_raw)"
fi
