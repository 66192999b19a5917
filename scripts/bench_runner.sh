#!/bin/sh
# The frame runner's own cost: whole processes, the runner with an empty
# script against ffmpeg doing the same work, A and B in turn (REPEAT pairs,
# default 5), on a 10 s 1280x720 and a 4 s 1920x1080 H.264 clip:
#   raw:  ffmpeg -i clip.mp4 -pix_fmt bgra -c:v rawvideo -f nut out.nut
#         pelx04-run empty.lua clip.mp4 -o out.nut --codec rawvideo
#   x264: ffmpeg -i clip.mp4 -vf format=bgra,format=yuv420p -c:v libx264 -crf 18 out.mp4
#         pelx04-run empty.lua clip.mp4 -o out.mp4 (libx264, CRF 18, yuv420p kept)
# and prints the medians of wall and CPU time (user + system) and their ratios;
# then a batch of eight 2 s 720p clips into x264, -j 1 against -j 2.
#   scripts/bench_runner.sh [REPEAT] [pairs|batch]   (both by default; BUILD_DIR=build,
#                                                     WORK=a folder on the disk to time writes there)
set -eu
cd "$(dirname "$0")/.."
repeat=${1:-5}
parts=${2:-pairs batch}
build=${BUILD_DIR:-build}
scripts/deps.sh build media
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target pelx04-run >/dev/null
runner=$(pwd)/$build/bin/pelx04-run
# In memory unless WORK says otherwise: the raw outputs are near 1 GB, and the disk is not what is timed.
work=$(mktemp -d -p "${WORK:-/dev/shm}" 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=1280x720:rate=25" -t 10 -c:v libx264 -pix_fmt yuv420p \
  -preset fast c720.mp4
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -t 4 -c:v libx264 -pix_fmt yuv420p \
  -preset fast c1080.mp4
printf 'local unused = 1\n' >empty.lua

cat >commands.sh <<EOF_COMMANDS
runner=$runner
EOF_COMMANDS
cat >>commands.sh <<'EOF_COMMANDS'
ffmpeg_raw() { ffmpeg -nostdin -v error -y -i "$1" -pix_fmt bgra -c:v rawvideo -f nut out.nut; rm out.nut; }
runner_raw() { "$runner" --quiet empty.lua "$1" -o out.nut --codec rawvideo; rm out.nut; }
ffmpeg_x264() {
  ffmpeg -nostdin -v error -y -i "$1" -vf format=bgra,format=yuv420p -c:v libx264 -crf 18 out.mp4; rm out.mp4
}
runner_x264() { "$runner" --quiet empty.lua "$1" -o out.mp4; rm out.mp4; }
EOF_COMMANDS

# seconds COMMAND CLIP: prints "wall cpu" (cpu: user + system of every process it ran).
seconds() {
  /usr/bin/time -f '%e %U %S' -o time.txt sh -c ". ./commands.sh; $1 $2"
  awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }' time.txt
}
# median COLUMN < times: the median of that column (1 wall, 2 cpu).
median() { awk -v c="$1" '{ print $c }' | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "machine: $(lscpu | sed -n 's/^Model name:[[:space:]]*//p'), $(nproc) cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "medians of $repeat pairs, A and B in turn, in seconds; every run as wall/cpu"
case "$parts" in *pairs*) clips="c720 c1080" ;; *) clips="" ;; esac
for clip in $clips; do
  for kind in raw x264; do
    : >"a.times"; : >"b.times"
    i=0
    while [ "$i" -lt "$repeat" ]; do
      seconds "ffmpeg_$kind" "$clip.mp4" >>a.times
      seconds "runner_$kind" "$clip.mp4" >>b.times
      i=$((i + 1))
    done
    for side in a b; do
      name=$([ "$side" = a ] && echo ffmpeg || echo runner)
      printf '%-5s %-4s %-6s wall %6.2f  cpu %6.2f   [%s]\n' "$clip" "$kind" "$name" "$(median 1 <$side.times)" \
        "$(median 2 <$side.times)" "$(tr ' \n' '/ ' <$side.times)"
    done
    ratio() { echo "scale=3; $(median "$1" <b.times) / $(median "$1" <a.times)" | bc; }
    echo "$clip $kind runner/ffmpeg: wall $(ratio 1), cpu $(ratio 2) (target <= 1.05)"
  done
done
case "$parts" in *batch*)
  mkdir clips
  for i in 1 2 3 4 5 6 7 8; do
    ffmpeg -nostdin -v error -ss "$i" -i c720.mp4 -t 2 -c:v libx264 -pix_fmt yuv420p -preset fast "clips/clip$i.mp4"
  done
  cat >>commands.sh <<'EOF_COMMANDS'
batch() { "$runner" --quiet -j "$1" empty.lua clips -o batch/ 2>/dev/null; rm -r batch; }
EOF_COMMANDS
  : >a.times; : >b.times
  i=0
  while [ "$i" -lt "$repeat" ]; do
    seconds batch 1 >>a.times
    seconds batch 2 >>b.times
    i=$((i + 1))
  done
  printf 'batch of 8  -j 1   wall %6.2f  cpu %6.2f   [%s]\n' "$(median 1 <a.times)" "$(median 2 <a.times)" "$(tr ' \n' '/ ' <a.times)"
  printf 'batch of 8  -j 2   wall %6.2f  cpu %6.2f   [%s]\n' "$(median 1 <b.times)" "$(median 2 <b.times)" "$(tr ' \n' '/ ' <b.times)"
  ;;
esac
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
