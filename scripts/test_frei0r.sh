#!/bin/sh
# The frei0r plugin inside the real hosts: Debian's ffmpeg, gst-launch-1.0 and
# melt run build/frei0r-1/pelx04.so on lossless frames of random BGRA words
# (alpha included) with a value from the host as arg[1], and every frame must
# equal the frame runner's given the same value after --, word for word; at a
# width ffmpeg 5.1 pads (333) its filter must refuse with a clear message
# instead. Then frame.time in seconds everywhere, each on_error, the sandbox,
# what must not hang or end a host (a filter sent past the frame, script paths
# that are not small plain files, an endless loop, slices), many instances and
# a corrected on_error, two GStreamer instances on two threads, and the
# plugin's exports; last, projects saved by Kdenlive and Shotcut rendered by
# melt and opened by the editors under Xvfb (tests/editors/). Work files go to
# build/frei0r-test/.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
passed=0
failed=0
result() {
  if [ "$1" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL $2"; fi
}

scripts/deps.sh build media hosts
work="$root/build/frei0r-test"
rm -rf "$work"
mkdir -p "$work"
{ cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build -j2 --target pelx04-run pelx04_frei0r; } \
  >"$work/build.log" 2>&1 || { tail -n 30 "$work/build.log"; echo "0 passed, 1 failed"; exit 1; }
plugin="$root/build/frei0r-1/pelx04.so"
runner="$root/build/bin/pelx04-run"
[ -f "$plugin" ] || { echo "no plugin built (is frei0r.h there?)"; echo "0 passed, 1 failed"; exit 1; }
# Only our plugin's folder, and a registry of GStreamer's own for this run.
export FREI0R_PATH="$root/build/frei0r-1"
export GST_REGISTRY="$work/gst-registry.bin"
frames=5
height=240

# --- The plugin's interface.
rc=0
[ "$(nm -D --defined-only "$plugin" | awk '{print $3}' | sort | tr '\n' ' ')" = \
  "f0r_construct f0r_deinit f0r_destruct f0r_get_param_info f0r_get_param_value f0r_get_plugin_info f0r_init f0r_set_param_value f0r_update " ] ||
  rc=1
result $rc "the plugin exports the f0r_* functions alone"
rc=0; readelf -d "$plugin" | grep -q 'NEEDED.*\[liblua5\.1\.so\.0\]' || rc=$?
result $rc "the plugin links liblua5.1.so.0"

# The script every host runs: a hue turn that changes with the frame and with
# arg[1] (value1 in the plugin, whose other values are 0; the word after -- in
# the runner), alpha kept, and a print, which must reach standard error and
# never the frames.
value=0.1
cat >"$work/hue.lua" <<'EOF'
print(string.format("time %d %.3f", frame.index, frame.time or -1))
assert(#arg == 1 or arg[8] == "0")
pelx04.mirtHSV(frame.data, frame.width, frame.height, (120 + 3 * frame.index + 360 * tonumber(arg[1])) % 360, 0, 0)
EOF

# Random words, the clip made from them, and the runner's frames for them.
make_input() {
  head -c $(($1 * height * 4 * frames)) /dev/urandom >"$work/in_$1.raw"
  timeout -k 5 60 ffmpeg -nostdin -loglevel error -y -f rawvideo -pix_fmt bgra -s "$1x$height" -r 25 -i "$work/in_$1.raw" \
    -c:v ffv1 "$work/in_$1.mkv"
  timeout -k 5 60 "$runner" --raw "$1x$height" "$work/hue.lua" -- $value <"$work/in_$1.raw" >"$work/runner_$1.raw" \
    2>/dev/null
}

run_ffmpeg() {  # WIDTH FILTER-ARGS OUT: frames to standard output, as a pipe would take them
  timeout -k 5 60 ffmpeg -nostdin -loglevel error -y -i "$work/in_$1.mkv" -vf "frei0r=pelx04:$2" \
    -f rawvideo -pix_fmt bgra - >"$3" 2>"$3.err"
}

run_gst() {  # WIDTH OUT
  timeout -k 5 60 gst-launch-1.0 -q filesrc location="$work/in_$1.raw" ! \
    rawvideoparse width="$1" height=$height format=bgra framerate=25/1 ! videoconvert ! \
    frei0r-filter-pelx04 script="$work/hue.lua" value1=$value ! videoconvert ! video/x-raw,format=BGRA ! \
    filesink location="$2" >"$2.err" 2>&1
}

run_melt() {  # WIDTH OUT PARAMETER; melt repeats the last frame, so the first frames are compared
  timeout -k 5 60 melt -quiet "$work/in_$1.mkv" -filter frei0r.pelx04 "$3=$work/hue.lua" value1=$value \
    -consumer "avformat:$2.mkv" vcodec=ffv1 pix_fmt=bgra real_time=-1 >"$2.err" 2>&1 &&
    timeout -k 5 60 ffmpeg -nostdin -loglevel error -y -i "$2.mkv" -frames:v $frames -f rawvideo -pix_fmt bgra "$2"
}

times_in_seconds() {  # ERR: frame.time steps by 1/25 s
  for i in 1 2 3 4; do
    grep -q "^time $i $(awk "BEGIN { printf \"%.3f\", $i / 25 }")\$" "$1" || return 1
  done
}

same() { cmp -s "$1" "$2"; }

band_words() {  # FRAME: its band holds opaque red words, and white ones of the text, nothing else
  [ "$(head -c $band "$1" | od -An -v -tx4 -w4 | sort -u | tr -d ' \n')" = ffff0000ffffffff ]
}

stops_with() {  # FILTER-ARGS NAME PATTERN: ffmpeg at width 320 exits 1, PATTERN on its standard error
  status=0
  run_ffmpeg 320 "$1" "$work/$2.raw" || status=$?
  [ $status -eq 1 ] && grep -q "$3" "$work/$2.raw.err"
}

for width in 320 333; do
  make_input $width
  rc=0; run_gst $width "$work/gst_$width.raw" && same "$work/gst_$width.raw" "$work/runner_$width.raw" || rc=1
  result $rc "GStreamer after videoconvert at width $width: the runner's frames"
  # filename stands for script when set: the name MLT makes absolute in a project.
  parameter=script
  [ $width = 333 ] && parameter=filename
  rc=0
  run_melt $width "$work/melt_$width.raw" $parameter && same "$work/melt_$width.raw" "$work/runner_$width.raw" || rc=1
  result $rc "melt at width $width, the script as $parameter: the runner's frames"
done
rc=0; times_in_seconds "$work/gst_320.raw.err" && times_in_seconds "$work/melt_320.raw.err" || rc=1
result $rc "frame.time in seconds under GStreamer and melt"

rc=0; run_ffmpeg 320 "$work/hue.lua|n|mark|$value" "$work/ffmpeg_320.raw" && same "$work/ffmpeg_320.raw" "$work/runner_320.raw" || rc=1
result $rc "ffmpeg at width 320: the runner's frames, print on standard error"
rc=0; times_in_seconds "$work/ffmpeg_320.raw.err" || rc=1
result $rc "frame.time in seconds under ffmpeg (which passes milliseconds)"

# 333 pixels: ffmpeg 5.1 pads the rows. The error once, then marked frames.
band=$((320 * ((height + 11) / 12) * 4))
rc=0; run_ffmpeg 333 "$work/hue.lua" "$work/ffmpeg_333.raw" || rc=1
[ "$(grep -c 'pads each row' "$work/ffmpeg_333.raw.err")" = 1 ] || rc=1
result $rc "ffmpeg at width 333: refused once with the reason"

# on_error, on a script that fails at its third frame.
{ echo "if frame.index == 2 then error('boom') end"; cat "$work/hue.lua"; } >"$work/boom.lua"
frame_bytes=$((320 * height * 4))
frame_of() {  # FILE INDEX OUT
  dd if="$1" of="$3" bs=$frame_bytes skip="$2" count=1 status=none
}
rc=0; run_ffmpeg 320 "$work/boom.lua|n|mark|$value" "$work/mark.raw" || rc=1
[ "$(grep -c 'boom.lua:1: boom' "$work/mark.raw.err")" = 1 ] || rc=1
grep -q '^pelx04: frame 2 at 0.080 s: ' "$work/mark.raw.err" || rc=1
cmp -s -n $((2 * frame_bytes)) "$work/mark.raw" "$work/runner_320.raw" || rc=1
for i in 2 4; do
  frame_of "$work/mark.raw" $i "$work/mark_$i.raw"
  frame_of "$work/in_320.raw" $i "$work/in_$i.raw"
  band_words "$work/mark_$i.raw" || rc=1
  cmp -s -i $band "$work/mark_$i.raw" "$work/in_$i.raw" || rc=1
done
result $rc "on_error=mark: the error once, then the input under a red band with its text"
rc=0; run_ffmpeg 320 "$work/boom.lua|n|pass" "$work/pass.raw" || rc=1
for i in 2 4; do
  frame_of "$work/pass.raw" $i "$work/pass_$i.raw"
  same "$work/pass_$i.raw" "$work/in_$i.raw" || rc=1
done
result $rc "on_error=pass: the input unchanged"
rc=0; stops_with "$work/boom.lua|n|stop" stop 'boom.lua:1: boom' || rc=1
result $rc "on_error=stop: the message, then exit 1"

# The sandbox's rules hold inside the plugin; a missing script is an error.
echo "local f = io.open('/etc/hostname')" >"$work/io.lua"
rc=0; stops_with "$work/io.lua|y|stop" sandbox "attempt to index global 'io'" || rc=1
run_ffmpeg 320 "$work/io.lua|n|stop" "$work/trusted.raw" || rc=1
result $rc "sandbox=y refuses io; sandbox=n allows it"
rc=0; stops_with "$work/missing.lua|n|stop" missing "pelx04: frame 0 at 0.000 s: cannot open .*missing.lua" || rc=1
result $rc "a missing script stops the run with its name"

# A filter sent past the frame faults in the guard of the plugin's own copy,
# before it writes outside; the plugin gives up that Lua state and answers as
# on_error says, in every host.
echo 'pelx04.mirtRGB(frame.data, frame.width, frame.height * 3, 1, 1, 1, 0)' >"$work/runaway.lua"
past='a filter ran past the end of the frame'
rc=0; stops_with "$work/runaway.lua|n|stop" runaway "pelx04: frame 0 at 0.000 s: $past" || rc=1
run_ffmpeg 320 "$work/runaway.lua|y|pass" "$work/runaway_pass.raw" && same "$work/runaway_pass.raw" "$work/in_320.raw" || rc=1
[ "$(grep -c "$past" "$work/runaway_pass.raw.err")" = 1 ] || rc=1
timeout -k 5 60 gst-launch-1.0 -q filesrc location="$work/in_320.raw" ! \
  rawvideoparse width=320 height=$height format=bgra framerate=25/1 ! videoconvert ! \
  frei0r-filter-pelx04 script="$work/runaway.lua" sandbox=true on-error=pass ! fakesink >"$work/runaway_gst.err" 2>&1 || rc=1
timeout -k 5 60 melt -quiet "$work/in_320.mkv" -filter frei0r.pelx04 script="$work/runaway.lua" sandbox=1 on_error=pass \
  -consumer "avformat:$work/runaway_melt.mkv" vcodec=ffv1 real_time=-1 >"$work/runaway_melt.err" 2>&1 || rc=1
grep -q "$past" "$work/runaway_gst.err" && grep -q "$past" "$work/runaway_melt.err" || rc=1
result $rc "a filter sent past the frame: reported once, on_error answers, every host lives on"

# Script paths that are not a plain file of at most 1 MiB are refused at once,
# never read: a FIFO would block the host in open(), /dev/zero read without end.
mkfifo "$work/fifo.lua"
head -c 1048577 /dev/zero | tr '\0' ' ' >"$work/huge.lua"
rc=0
for script in fifo.lua /dev/zero huge.lua; do
  case $script in /*) path=$script ;; *) path=$work/$script ;; esac
  run_ffmpeg 320 "$path|n|pass" "$work/path.raw" && same "$work/path.raw" "$work/in_320.raw" || rc=1
  grep -q "not a regular file\|is not a script (larger than 1 MiB" "$work/path.raw.err" || rc=1
done
result $rc "a FIFO, a device and a script over 1 MiB: refused, the host goes on"

# Limits apply without the sandbox too: a loop ends at the instruction limit.
echo 'while true do end' >"$work/loop.lua"
rc=0; run_ffmpeg 320 "$work/loop.lua|n|pass" "$work/loop.raw" && same "$work/loop.raw" "$work/in_320.raw" || rc=1
grep -q 'instruction limit of 1000000000 per frame reached' "$work/loop.raw.err" || rc=1
result $rc "sandbox off: an endless loop stops at the instruction limit, on_error answers"
# So does a pattern that backtracks inside one library call.
echo 'local s = ("a"):rep(40); s:find(("a?"):rep(40) .. s)' >"$work/backtrack.lua"
rc=0; run_ffmpeg 320 "$work/backtrack.lua|n|pass" "$work/backtrack.raw" && same "$work/backtrack.raw" "$work/in_320.raw" || rc=1
grep -q 'instruction limit of 1000000000 per frame reached' "$work/backtrack.raw.err" || rc=1
result $rc "sandbox off: a backtracking pattern stops at the instruction limit, on_error answers"

# MLT's threads property (not 1) runs slices of a frame through one instance at
# once. The second call of the first frame finds it out: one slice of frame 0
# shows the script, then every frame is the input (on_error=pass), no bands.
rc=0
timeout -k 5 60 melt -quiet "$work/in_320.mkv" -filter frei0r.pelx04 script="$work/hue.lua" threads=2 on_error=pass \
  -consumer "avformat:$work/sliced.mkv" vcodec=ffv1 pix_fmt=bgra real_time=-1 >"$work/sliced.err" 2>&1 || rc=1
timeout -k 5 60 ffmpeg -nostdin -loglevel error -y -i "$work/sliced.mkv" -frames:v $frames -f rawvideo -pix_fmt bgra \
  "$work/sliced.raw" || rc=1
# Once per instance: melt makes two here (frame 0 once on one it throws away).
[ "$(grep -c 'into slices of 320x120 .*set threads=1 on the filter' "$work/sliced.err")" -le 2 ] || rc=1
grep -q 'pelx04: frame 1 at 0.000 s: the host cuts each frame into slices' "$work/sliced.err" || rc=1
cmp -s -i $frame_bytes "$work/sliced.raw" "$work/in_320.raw" || rc=1
result $rc "threads=2 under melt: the reason and the fix once, then whole input frames"

# Called directly, as an editor's MLT would over a long session: more
# instances than any fixed table of guarded frames, and an on_error corrected
# after its mistake was reported, which must bring the script back.
echo 'pelx04.mirtRGB(frame.data, frame.width, frame.height, 0, 255, 0, 0)' >"$work/green.lua"
rc=0
timeout -k 5 60 /usr/bin/python3 - "$plugin" "$work/green.lua" >"$work/direct.out" 2>"$work/direct.err" <<'EOF' || rc=1
import ctypes, sys
plugin = ctypes.CDLL(sys.argv[1])
plugin.f0r_construct.restype = ctypes.c_void_p
plugin.f0r_construct.argtypes = [ctypes.c_uint, ctypes.c_uint]
plugin.f0r_set_param_value.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int]
plugin.f0r_update.argtypes = [ctypes.c_void_p, ctypes.c_double, ctypes.c_void_p, ctypes.c_void_p]
words = 16 * 16
frame_in = (ctypes.c_uint32 * words)(*[0xFF102030] * words)
def instance(on_error):
    made = plugin.f0r_construct(16, 16)
    for index, text in ((0, sys.argv[2]), (2, on_error)):
        plugin.f0r_set_param_value(made, ctypes.byref(ctypes.c_char_p(text.encode())), index)
    return made
def green(made, time):  # did the script run on this frame?
    out = (ctypes.c_uint32 * words)()
    plugin.f0r_update(made, time, frame_in, out)
    return list(out) == [0xFF10FF30] * words
many = [instance("pass") for _ in range(300)]
print("instances", sum(green(made, 0) for made in many))
for wrong, right in (("Pass", "pass"), ("Stop", "stop")):
    made = instance(wrong)
    before = green(made, 0)
    plugin.f0r_set_param_value(made, ctypes.byref(ctypes.c_char_p(right.encode())), 2)
    print(wrong, before, green(made, 0.04))
EOF
[ "$(cat "$work/direct.out" | tr '\n' ' ')" = "instances 300 Pass False True Stop False True " ] || rc=1
[ "$(grep -c "on_error is 'Pass'" "$work/direct.err")" = 1 ] || rc=1
result $rc "300 instances in one process; a corrected on_error runs the script again"

# Two instances on two streaming threads (a queue starts each), one process.
branch="queue ! videoconvert ! frei0r-filter-pelx04 script=$work/hue.lua value1=$value ! videoconvert ! video/x-raw,format=BGRA"
rc=0
# shellcheck disable=SC2086
timeout -k 5 60 gst-launch-1.0 -q filesrc location="$work/in_320.raw" ! \
  rawvideoparse width=320 height=$height format=bgra framerate=25/1 ! tee name=split \
  split. ! $branch ! filesink location="$work/thread_a.raw" \
  split. ! $branch ! filesink location="$work/thread_b.raw" >"$work/threads.err" 2>&1 || rc=1
same "$work/thread_a.raw" "$work/runner_320.raw" && same "$work/thread_b.raw" "$work/runner_320.raw" || rc=1
result $rc "GStreamer: two instances on two threads, both exact"

# Kdenlive's and Shotcut's projects with the plugin, and the editors themselves.
. tests/editors/editors_test.sh

echo "frei0r: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
