#!/bin/sh
# The frame runner on media files, one case per call, with small clips made by
# ffmpeg's lavfi sources and read back with ffprobe:
#   media_test.sh CASE RUNNER LUA MODULE_DIR TEST_DIR WORKDIR
set -eu
case_name=$1 runner=$2 lua=$3 module_dir=$4 test_dir=$5 work=$6
rm -rf "$work"
mkdir -p "$work"
cd "$work"

fail() { echo "FAIL $case_name: $*" >&2; exit 1; }
ff() { ffmpeg -nostdin -v error -y "$@"; }
probe() { ffprobe -v error "$@"; }
# frame_times FILE: the video frames' presentation times, one per line.
frame_times() { ffprobe -v error -select_streams v -show_entries frame=pts_time -of csv=p=0 "$1" | cut -d, -f1 | grep .; }
printf 'local unused = 1\n' >empty.lua

case "$case_name" in
ffv1_round_trip)
  # Lossless in and out: the decoded output must be exactly the library
  # applied directly (by lua5.1) to the decoded input frames.
  cat >fx.lua <<'LUA'
local f, p = frame, pelx04
if f.index == 0 then p.mirtMixPict0(f.data, f.width, f.height) end
p.mirtHSV(f.data, f.width, f.height, 36 * f.index, 0, 0)
p.mirtRGB2GRA(f.row(f.height / 2), f.width, f.height / 2, 6, 0, 0)
if f.index > 0 then p.mirtMixPict1(f.data, f.width, f.height, 0.5) end
LUA
  ff -f lavfi -i "testsrc2=size=96x64:rate=10,format=bgra" -frames:v 6 -c:v ffv1 in.mkv
  "$runner" --quiet fx.lua in.mkv -o out.mkv --codec ffv1
  [ "$(probe -show_entries stream=pix_fmt -of csv=p=0 out.mkv)" = bgra ] || fail "ffv1 output is not bgra"
  ff -i in.mkv -f rawvideo -pix_fmt bgra source.raw
  ff -i out.mkv -f rawvideo -pix_fmt bgra runner.raw
  LD_PRELOAD="${PELX04_LUA_PRELOAD:-}" LUA_CPATH="$module_dir/?.so" "$lua" "$test_dir/direct_frames.lua" fx.lua 96 64 \
    <source.raw >direct.raw
  cmp -s source.raw direct.raw && fail "the script changed nothing"
  cmp -s runner.raw direct.raw || fail "runner frames differ from the library applied directly"
  ;;

streams_kept)
  # H.264 BT.709 with a rotation, AAC and subtitles: an empty script keeps the
  # frame count, every timestamp, the tags, the rotation and the audio packets.
  printf '1\n00:00:00,000 --> 00:00:00,500\nhello\n' >sub.srt
  ff -f lavfi -i "testsrc2=size=128x96:rate=25" -f lavfi -i "sine=frequency=440:sample_rate=48000" -i sub.srt \
    -t 1 -map 0 -map 1 -map 2 -c:v libx264 -pix_fmt yuv420p -colorspace bt709 -color_primaries bt709 \
    -color_trc bt709 -color_range tv -c:a aac -c:s mov_text made.mp4
  ff -i made.mp4 -map 0 -c copy -metadata:s:v:0 rotate=90 in.mp4
  cat >time.lua <<'LUA'
assert(frame.time == frame.index / 25, "frame.time " .. tostring(frame.time) .. " at " .. frame.index)
LUA
  "$runner" --quiet time.lua in.mp4 -o out.mp4
  for file in in.mp4 out.mp4; do
    frame_times "$file" >"$file.times"
    probe -select_streams v -show_entries stream=pix_fmt,color_space,color_primaries,color_transfer,color_range:stream_side_data=rotation \
      -of compact "$file" >"$file.tags"
    ff -i "$file" -map 0:a -c copy -f md5 "$file.audio"
    probe -show_entries stream=codec_type -of csv=p=0 "$file" | sort | tr '\n' ' ' >"$file.streams"
  done
  [ "$(wc -l <in.mp4.times)" -ge 25 ] || fail "the input has $(wc -l <in.mp4.times) frames"
  cmp -s in.mp4.times out.mp4.times || fail "frame times: $(tr '\n' ' ' <out.mp4.times)"
  cmp -s in.mp4.tags out.mp4.tags || fail "tags: $(cat out.mp4.tags), not $(cat in.mp4.tags)"
  grep -q "rotation=90" out.mp4.tags || fail "rotation lost: $(cat out.mp4.tags)"
  cmp -s in.mp4.audio out.mp4.audio || fail "audio packets changed"
  cmp -s in.mp4.streams out.mp4.streams || fail "streams: $(cat out.mp4.streams)"
  # A container that cannot hold the subtitles says it dropped them.
  "$runner" --quiet empty.lua in.mp4 -o quiet.webm --frames 2
  "$runner" empty.lua in.mp4 -o out.webm --frames 2 2>err.txt
  grep -q "dropped stream #2 (subtitle, mov_text)" err.txt || fail "no note of the dropped stream: $(cat err.txt)"
  ;;

vfr_kept)
  # Frames 3..5 come half a second late: the output keeps the gap.
  ff -f lavfi -i "testsrc2=size=64x48:rate=10" -frames:v 6 -vf "setpts='N/10/TB+if(gte(N,3),0.5/TB,0)'" \
    -fps_mode passthrough -c:v libx264 in.mkv
  "$runner" --quiet empty.lua in.mkv -o out.mkv
  frame_times in.mkv >in.times
  frame_times out.mkv >out.times
  [ "$(tr '\n' ' ' <in.times)" = "0.000000 0.100000 0.200000 0.800000 0.900000 1.000000 " ] || fail "input times"
  cmp -s in.times out.times || fail "times: $(tr '\n' ' ' <out.times)"
  # Times that go back (a remux that made every pts from the dts) are made to
  # increase, as ffmpeg does: every frame is kept, in order.
  ff -f lavfi -i "testsrc2=size=64x48:rate=25" -frames:v 30 -c:v libx264 -bf 3 bframes.mp4
  ff -i bframes.mp4 -c copy -bsf:v setts=pts=DTS backwards.mp4
  "$runner" --quiet empty.lua backwards.mp4 -o forwards.mp4 2>err.txt || fail "times going back: $(cat err.txt)"
  frame_times forwards.mp4 >forwards.times
  sort -n -u forwards.times | cmp -s - forwards.times || fail "times: $(tr '\n' ' ' <forwards.times)"
  [ "$(wc -l <forwards.times)" -eq "$(probe -count_frames -show_entries stream=nb_read_frames -of csv=p=0 backwards.mp4)" ] ||
    fail "$(wc -l <forwards.times) frames kept"
  ;;

range)
  # --start, --duration and --frames, with frame.time counted from the start.
  ff -f lavfi -i "testsrc2=size=64x48:rate=25" -t 2 -c:v libx264 in.mp4
  printf 'print(string.format("%%d %%.2f", frame.index, frame.time))\n' >say.lua
  "$runner" --quiet say.lua in.mp4 -o part.mkv --start 0.4 --duration 0.4 >said.txt
  [ "$(head -n 1 said.txt)" = "0 0.00" ] && [ "$(tail -n 1 said.txt)" = "9 0.36" ] || fail "range: $(cat said.txt)"
  [ "$(probe -count_frames -show_entries stream=nb_read_frames -of csv=p=0 part.mkv)" = 10 ] || fail "range frames"
  # Repeated --opt, each taking one value, before SCRIPT.
  "$runner" --opt preset=ultrafast --opt tune=film --quiet empty.lua in.mp4 -o three.mkv --frames 3
  [ "$(probe -count_frames -show_entries stream=nb_read_frames -of csv=p=0 three.mkv)" = 3 ] || fail "--frames"
  # AVI's default MPEG-4 cannot count in 1/90000: it counts in frames instead,
  # and the first try's complaint is not shown.
  ff -i in.mp4 -frames:v 4 -c copy -video_track_timescale 90000 -f mov in90.mov
  "$runner" --quiet empty.lua in90.mov -o four.avi 2>err.txt
  [ ! -s err.txt ] || fail "avi: $(cat err.txt)"
  [ "$(probe -count_frames -show_entries stream=codec_name,nb_read_frames -of csv=p=0 four.avi)" = mpeg4,4 ] ||
    fail "avi: $(probe -show_entries stream=codec_name,nb_read_frames -count_frames -of csv=p=0 four.avi)"
  # One image out of a video needs --frames 1, as with ffmpeg; nothing is left behind.
  mkdir still && "$runner" --quiet empty.lua in.mp4 -o still/one.png --frames 1
  if "$runner" --quiet empty.lua in.mp4 -o still/many.png 2>err.txt; then fail "many frames into one image"; fi
  [ "$(ls still)" = one.png ] || fail "left in still/: $(ls still)"
  # A sequence pattern writes one image per frame.
  mkdir seq && "$runner" --quiet empty.lua in.mp4 -o seq/f_%03d.png --frames 3
  [ "$(ls seq | tr '\n' ' ')" = "f_001.png f_002.png f_003.png " ] || fail "sequence: $(ls seq)"
  "$runner" --quiet empty.lua seq/f_%03d.png -o seq.mkv
  [ "$(probe -count_frames -show_entries stream=nb_read_frames -of csv=p=0 seq.mkv)" = 3 ] || fail "sequence in"
  # A % that is no frame number leaves one file, with all its protections.
  cp still/one.png "still/keep 50%.png"
  if "$runner" --quiet empty.lua in.mp4 -o "still/keep 50%.png" 2>err.txt; then fail "many frames into '50%'"; fi
  cmp -s still/one.png "still/keep 50%.png" || fail "'keep 50%.png' was overwritten"
  "$runner" --quiet empty.lua in.mp4 -o "still/50%%_%d.png" --frames 1
  [ "$(ls still | tr '\n' ' ')" = "50%_1.png keep 50%.png one.png " ] || fail "left in still/: $(ls still)"
  # An output that names the input's files is refused before anything is
  # touched: f_%d and f_%03d name the same files from 100 on.
  mkdir many && ff -f lavfi -i "testsrc2=size=16x16:rate=25" -frames:v 101 many/f_%03d.png
  md5sum many/* >many.sums
  for out in many/f_%03d.png many/f_%d.png many/f_001.png; do
    status=0
    "$runner" --quiet empty.lua many/f_%03d.png -o "$out" 2>err.txt || status=$?
    [ "$status" -eq 2 ] && grep -q "input file" err.txt || fail "-o $out: exit $status: $(cat err.txt)"
  done
  md5sum -c --quiet many.sums || fail "the input sequence changed"
  [ "$(ls many | wc -l)" -eq 101 ] || fail "files added to the input's folder"
  ;;

truncated_video)
  # A cut mp4 keeps the frames decoded up to the cut, with a warning, as ffmpeg does.
  ff -f lavfi -i "testsrc2=size=160x120:rate=25" -frames:v 50 -c:v libx264 -movflags +faststart whole.mp4
  head -c $(($(wc -c <whole.mp4) * 2 / 3)) whole.mp4 >cut.mp4
  "$runner" --quiet empty.lua cut.mp4 -o out.mkv 2>err.txt || fail "exit $?: $(cat err.txt)"
  grep -q "warning: 'cut.mp4'.*frames that could be decoded were kept" err.txt || fail "no warning: $(cat err.txt)"
  frames=$(probe -count_frames -show_entries stream=nb_read_frames -of csv=p=0 out.mkv)
  [ "$frames" -gt 10 ] && [ "$frames" -lt 50 ] || fail "$frames frames kept"
  # A cut Matroska file has no frame count but says how long it was.
  ff -i whole.mp4 -c copy whole.mkv
  head -c $(($(wc -c <whole.mkv) * 2 / 3)) whole.mkv >cut.mkv
  "$runner" --quiet empty.lua cut.mkv -o out2.mkv 2>err.txt || fail "exit $?: $(cat err.txt)"
  grep -q "warning: 'cut.mkv' ended at .* of its 2.000 s" err.txt || fail "no warning: $(cat err.txt)"
  "$runner" --quiet empty.lua whole.mkv -o out3.mkv 2>err.txt
  ! grep -q "warning" err.txt || fail "whole file: $(cat err.txt)"
  # Frames that an edit list hides (a copy cut between key frames) are no damage.
  ff -ss 0.1 -i whole.mp4 -c copy trimmed.mp4
  "$runner" --quiet empty.lua trimmed.mp4 -o out4.mkv 2>err.txt
  ! grep -q "warning" err.txt || fail "edit list: $(cat err.txt)"
  [ "$(probe -count_frames -show_entries stream=nb_read_frames -of csv=p=0 out4.mkv)" = 47 ] || fail "edit list frames"
  ;;

interrupted)
  # SIGTERM or SIGINT mid-run, or a reader that goes away: the run stops at
  # once and leaves nothing at OUTPUT.
  ff -f lavfi -i "testsrc2=size=160x120:rate=25" -frames:v 200 -c:v libx264 clip.mp4
  printf 'local t = os.clock() while os.clock() - t < 0.02 do end\n' >slow.lua
  mkdir out
  # Every signal that ends a process, sent once the temporary exists, in a
  # folder made for it. Under a sanitizer, SIGSEGV ends in the sanitizer's
  # own report and exit.
  for entry in TERM=15 INT=2 HUP=1 QUIT=3 USR1=10 USR2=12 ALRM=14 XCPU=24 XFSZ=25 SEGV=11; do
    signal=${entry%=*} number=${entry#*=}
    # A background job of sh starts with SIGINT and SIGQUIT ignored; a user's
    # Ctrl-C and Ctrl-\ are not.
    env --default-signal "$runner" --quiet slow.lua clip.mp4 -o out/new/o.mkv 2>err.txt &
    pid=$!
    tries=0
    until [ -n "$(ls -A out/new 2>/dev/null)" ]; do
      tries=$((tries + 1))
      [ "$tries" -lt 3000 ] || fail "SIG$signal: no temporary appeared"
      kill -0 "$pid" 2>/dev/null || fail "SIG$signal: the runner ended first: $(cat err.txt)"
      sleep 0.01
    done
    kill -"$signal" "$pid"
    status=0
    wait "$pid" || status=$?
    if [ "$signal" = SEGV ] && grep -q "Sanitizer" err.txt; then
      [ "$status" -ne 0 ] || fail "SIGSEGV: exit 0"
    else
      [ "$status" -eq $((128 + number)) ] || fail "SIG$signal: exit $status: $(cat err.txt)"
    fi
    [ -z "$(ls -A out)" ] || fail "SIG$signal left $(ls -A out)"
  done
  mkfifo pipe.mkv
  head -c 1000 pipe.mkv >/dev/null &
  status=0
  "$runner" --quiet slow.lua clip.mp4 -o pipe.mkv 2>err.txt || status=$?
  [ "$status" -eq 1 ] && grep -q "Broken pipe" err.txt || fail "closed pipe: exit $status: $(cat err.txt)"
  ;;

refusals)
  # Each refusal: exit 1 (2 for a usage error), a message, and nothing left in out/.
  ff -f lavfi -i "testsrc2=size=160x120" -frames:v 1 whole.jpg
  "$lua" "$test_dir/hostile_stills.lua" .
  head -c $(($(wc -c <whole.jpg) * 2 / 3)) whole.jpg >cut.jpg
  ff -f lavfi -i "testsrc2=size=160x120" -frames:v 1 whole.png
  head -c $(($(wc -c <whole.png) / 2)) whole.png >cut.png
  ff -f lavfi -i "testsrc2=size=160x120" -frames:v 1 -c:v targa -rle 1 whole.tga
  head -c $(($(wc -c <whole.tga) / 2)) whole.tga >cut.tga
  ff -f lavfi -i "testsrc2=size=160x120" -frames:v 1 whole.bmp
  head -c $(($(wc -c <whole.bmp) / 2)) whole.bmp >cut.bmp
  ff -f lavfi -i "testsrc2=size=160x120:rate=25" -frames:v 2 -c:v libx264 clip.mp4
  mkdir out
  while IFS='|' read -r code wanted args; do
    status=0
    # shellcheck disable=SC2086
    "$runner" --quiet empty.lua $args >/dev/null 2>err.txt || status=$?
    [ "$status" -eq "$code" ] || fail "'$args' exited $status, not $code: $(cat err.txt)"
    grep -qF -- "$wanted" err.txt || fail "'$args' said '$(cat err.txt)', not '$wanted'"
    if grep -qE "Sanitizer|runtime error:" err.txt; then fail "'$args': $(cat err.txt)"; fi
    [ -z "$(ls -A out)" ] || fail "'$args' left $(ls -A out)"
  done <<'TABLE'
1|has no picture that can be read|width0.bmp -o out/a.png
1|is damaged or cut short|header.tga -o out/a.png
1|is damaged or cut short|short.bmp -o out/a.png
1|is damaged or cut short|huffman.jpg -o out/a.png
1|past the limit of 1000000 pixels|rle_bomb.tga -o out/a.png --max-pixels 1000000
1|past the limit of 19199 pixels|whole.png -o out/a.png --max-pixels 19199
1|past the limit of 19199 pixels|clip.mp4 -o out/a.mp4 --max-pixels 19199
1|cut short|cut.png -o out/a.png
1|is damaged or cut short|cut.tga -o out/a.png
1|is damaged or cut short|cut.bmp -o out/a.png
1|not a video or image file the runner reads|empty.lua -o out/a.png
1|is damaged or cut short|cut.jpg -o out/a.png
1|cannot tell a container|clip.mp4 -o out/a.unknown
1|cannot tell a container from the extension of 'out/.mkv'|clip.mp4 -o out/.mkv
1|does not write hls files|clip.mp4 -o out/hls/a.m3u8
1|does not write dash files|clip.mp4 -o out/a.mpd
1|a wav file, which holds no video|clip.mp4 -o out/a.wav
1|no video encoder named 'nosuch'|clip.mp4 -o out/a.mp4 --codec nosuch
1|no video encoder named 'nosuch'|clip.mp4 -o out/new/folders/a.mp4 --codec nosuch
1|has no option 'nosuch'|clip.mp4 -o out/a.mp4 --opt nosuch=1
1|gave no frames after --start|clip.mp4 -o out/a.mp4 --start 5
1|--start 1.000 s is past the end of 'whole.png'|whole.png -o out/a.png --start 1
2|a video needs -o OUTPUT|clip.mp4
2|--frames: expected 1 or more|clip.mp4 -o out/a.mp4 --frames 0
2|--max-memory: a size cannot be negative|clip.mp4 -o out/a.mp4 --sandbox --max-memory -1
TABLE
  ;;

batch)
  # A folder of clips as a batch, two jobs at once. The script's result
  # depends on the library state it finds (a frame count kept in the value
  # table), so a job that shared a process with another would differ from a
  # single run of its input.
  cat >count.lua <<'LUA'
local p, f = pelx04, frame
local seen = tonumber(p.mirtCVSave(0, 0, 1))
p.mirtCVSave(0, seen + 1, 0)
p.mirtRGB(f.data, f.width, f.height, 40 * seen, 0, 0, 0)
LUA
  mkdir clips other
  ff -f lavfi -i "testsrc2=size=64x48:rate=10,format=bgra" -frames:v 3 -c:v ffv1 clips/a.mkv
  ff -f lavfi -i "testsrc2=size=64x48:rate=10" -frames:v 4 -c:v libx264 -f mp4 clips/b.m4v
  ff -f lavfi -i "testsrc2=size=48x32:rate=10" -frames:v 2 -c:v ffv1 clips/c.nut
  cp clips/a.mkv other/a.mkv
  echo notes >clips/notes.txt
  printf 'not media' >broken.mp4
  "$runner" --quiet count.lua clips/a.mkv -o single/a.mkv --codec ffv1
  "$runner" --quiet count.lua clips/b.m4v -o single/b.mkv --codec ffv1
  "$runner" --quiet count.lua clips/c.nut -o single/c.nut --codec ffv1
  "$runner" -j 2 count.lua clips -o batch/ --codec ffv1 2>err.txt || fail "batch: $(cat err.txt)"
  grep -q "ignored 1 files .*: clips/notes.txt" err.txt || fail "ignored files not named: $(cat err.txt)"
  grep -q "3 done, 0 failed, 0 skipped" err.txt || fail "summary: $(cat err.txt)"
  [ "$(ls batch | tr '\n' ' ')" = "a.mkv b.mkv c.nut " ] || fail "outputs: $(ls -A batch)"
  for name in a.mkv b.mkv c.nut; do
    [ "$(ff -i "batch/$name" -f framemd5 -)" = "$(ff -i "single/$name" -f framemd5 -)" ] ||
      fail "$name differs from a single run"
  done
  # Existing outputs are skipped; a failed job fails the batch, the others still run.
  rm batch/b.mkv
  status=0
  "$runner" count.lua clips/a.mkv broken.mp4 clips/b.m4v -o batch --codec ffv1 2>err.txt || status=$?
  [ "$status" -eq 1 ] || fail "a failed job: exit $status: $(cat err.txt)"
  grep -q "1 done, 1 failed, 1 skipped" err.txt && grep -q "failed broken.mp4: .*not a video or image file" err.txt ||
    fail "summary: $(cat err.txt)"
  [ "$(ff -i batch/b.mkv -f framemd5 -)" = "$(ff -i single/b.mkv -f framemd5 -)" ] || fail "b.mkv after resuming"
  # A job that faults on its frame's guard fails with the guard's message, said once in each place.
  printf 'pelx04.mirtRGB(frame.data, frame.width, frame.height * 3, 1, 1, 1, 0)\n' >past.lua
  status=0
  "$runner" -qj2 past.lua clips/a.mkv clips/c.nut -o past/ --frames 1 2>err.txt || status=$?
  [ "$status" -eq 1 ] && grep -q "failed clips/c.nut: frame 0: a filter ran past the end of the frame" err.txt &&
    [ "$(grep -c "ran past" err.txt)" -eq 4 ] || fail "a guard fault: exit $status: $(cat err.txt)"
  # A cluster's array task: the Nth input of a list, with the same names and skips.
  printf 'clips/a.mkv\n\nclips/b.m4v\nclips/c.nut\n' >list.txt
  "$runner" --quiet count.lua --list list.txt --index 2 -o task/ --codec ffv1
  [ "$(ls task)" = b.mkv ] && [ "$(ff -i task/b.mkv -f framemd5 -)" = "$(ff -i single/b.mkv -f framemd5 -)" ] || fail "--index 2 wrote $(ls task)"
  "$runner" --quiet count.lua --list list.txt --index 2 -o task/ 2>err.txt && grep -q "skipped clips/b.m4v" err.txt ||
    fail "--index of an existing output: $(cat err.txt)"
  # A byte-order mark and CRLF line ends, in a list of 100,000 lines.
  printf '\357\273\277clips/a.mkv\r\nclips/c.nut\r\n' >bom.txt
  "$runner" --quiet count.lua --list bom.txt --index 1 -o bom/ --codec ffv1 || fail "a list with a byte-order mark"
  awk 'BEGIN { for (i = 1; i < 100000; i++) printf "missing/%d.mkv\r\n", i; printf "clips/c.nut\r\n" }' >long.txt
  "$runner" --quiet count.lua --list long.txt --index 100000 -o long/ --codec ffv1 || fail "the last of 100,000 lines"
  [ "$(ls bom long)" = "$(printf 'bom:\na.mkv\n\nlong:\nc.nut')" ] || fail "lists wrote $(ls bom long)"
  # A batch into its own folder resumes: its earlier outputs are no inputs.
  mkdir same && cp clips/b.m4v same/a.m4v && cp clips/b.m4v same/b.m4v
  "$runner" --quiet count.lua same -o same/ --codec ffv1 2>err.txt && grep -q "2 done" err.txt ||
    fail "into same/: $(cat err.txt)"
  "$runner" --quiet count.lua same -o same/ 2>err.txt && grep -q "0 done, 0 failed, 2 skipped" err.txt ||
    fail "into same/ again: $(cat err.txt)"
  # Names a shell or an argument list could misread, as inputs and outputs.
  mkdir odd
  cp clips/a.mkv "odd/-lead.mkv" && cp clips/c.nut "odd/it's \$(x) \"q\".nut" && cp clips/a.mkv "odd/new
line.mkv"
  "$runner" --quiet count.lua odd -o odd_out/ --codec ffv1 2>err.txt || fail "odd names: $(cat err.txt)"
  [ "$(ls odd)" = "$(ls odd_out)" ] || fail "odd names gave $(ls odd_out)"
  # A file-size limit fails the job that reaches it and no other, and leaves no temporary.
  mkdir limited && cp clips/c.nut limited/small.nut
  ff -f lavfi -i "testsrc2=size=320x240:rate=10,format=bgra" -frames:v 10 -c:v ffv1 limited/big.mkv
  status=0
  sh -c 'ulimit -f 200 && exec "$@"' sh "$runner" --quiet count.lua limited -o limited_out/ --codec ffv1 2>err.txt ||
    status=$?
  [ "$status" -eq 1 ] && grep -q "1 done, 1 failed" err.txt &&
    grep -q "failed limited/big.mkv: killed by signal 25" err.txt || fail "ulimit -f: exit $status: $(cat err.txt)"
  [ "$(ls -A limited_out)" = small.nut ] || fail "ulimit -f left $(ls -A limited_out)"
  # --check plans and checks and runs nothing.
  "$runner" --check count.lua clips/a.mkv clips/b.m4v -o checked/ >plan.txt || fail "--check"
  [ "$(cat plan.txt)" = "$(printf 'clips/a.mkv -> checked/a.mkv\nclips/b.m4v -> checked/b.mkv')" ] && [ ! -e checked ] ||
    fail "--check: $(cat plan.txt)"
  printf 'clips/a.mkv\0x/other.mp4\n' >nul.txt
  printf 'clips/a.mkv\nclips/gone.mkv\n' >gone.txt
  # Refused before anything runs: exit 2, nothing written.
  while IFS='|' read -r wanted args; do
    status=0
    # shellcheck disable=SC2086
    "$runner" --quiet count.lua $args >/dev/null 2>err.txt || status=$?
    [ "$status" -eq 2 ] && grep -qF -- "$wanted" err.txt || fail "'$args': exit $status, '$(cat err.txt)'"
    [ ! -e refused ] || fail "'$args' wrote $(ls -A refused)"
  done <<'TABLE'
several inputs need -o naming a folder|clips/a.mkv clips/c.nut
several inputs need -o naming a folder|clips -o refused
would both be written to 'refused/a.mkv'|clips/a.mkv other/a.mkv -o refused/
would replace the input 'clips/a.mkv'|clips/a.mkv clips/c.nut -o clips
would replace the input 'broken.mp4'|broken.mp4 clips/a.mkv -o ./
--index needs --list|clips/a.mkv -o refused/ --index 1
holds 3 inputs|--list list.txt --index 4 -o refused/
--list takes the place of INPUT|clips/a.mkv --list list.txt -o refused/
line 1 of the list 'nul.txt' holds a NUL byte|--list nul.txt -o refused/
would replace the input 'same/a.mkv'|same -o same/ --overwrite
cannot read the input 'clips/gone.mkv'|--check --list gone.txt -o refused/
TABLE
  expect_check() {
    status=0
    "$runner" --check "$@" -o refused/ >/dev/null 2>err.txt || status=$?
    [ "$status" -eq 2 ] && [ ! -e refused ] || fail "--check $*: exit $status, '$(cat err.txt)'"
  }
  expect_check nothere.lua clips
  printf 'local = 1\n' >syntax.lua
  expect_check syntax.lua clips
  ;;

submit)
  # pelx04-submit with a stand-in sbatch that records its words, one a line,
  # and runs each task of the array in turn, as Slurm would.
  submit=$(dirname "$runner")/pelx04-submit
  mkdir bin clips other
  cat >bin/sbatch <<'SH'
#!/bin/sh
for word in "$@"; do printf '%s\n' "$word"; done >sbatch.txt
last=$(printf '%s\n' "$@" | sed -n 's/^--array=1-//p')
for job; do :; done
for task in $(seq 1 "$last"); do SLURM_ARRAY_TASK_ID=$task sh "$job" || exit; done
SH
  chmod +x bin/sbatch
  ff -f lavfi -i "testsrc2=size=64x48:rate=10,format=bgra" -frames:v 2 -c:v ffv1 "clips/it's \$(touch pwned).mkv"
  cp "clips/it's \$(touch pwned).mkv" clips/b.nut
  cp clips/b.nut other/b.nut
  cat >"fx 'q' \$(x).lua" <<'LUA'
assert(arg[1] == [[a "b" it's $(touch pwned)]], arg[1])
LUA
  PATH=$(pwd)/bin:$PATH "$submit" "--comment=it's \$(touch pwned)" "fx 'q' \$(x).lua" "out 'o' \$(x)" clips/* \
    -- --quiet --codec ffv1 -- "a \"b\" it's \$(touch pwned)" >submit.txt 2>&1 || fail "submitted: $(cat submit.txt)"
  grep -qx -- "--comment=it's \$(touch pwned)" sbatch.txt && grep -qx -- "--array=1-2" sbatch.txt ||
    fail "$(cat sbatch.txt)"
  [ "$(ls "out 'o' \$(x)")" = "$(ls clips)" ] && [ ! -e pwned ] || fail "wrote $(ls -A "out 'o' \$(x)")"
  rm sbatch.txt
  # Refused before anything is written or submitted: exit 2 and a message.
  expect_refused() {
    wanted=$1; shift
    status=0
    PATH=${search:-$(pwd)/bin:$PATH} "$submit" "$@" >/dev/null 2>err.txt || status=$?
    [ "$status" -eq 2 ] && grep -qF -- "$wanted" err.txt || fail "'$*': exit $status, '$(cat err.txt)'"
    [ ! -e refused ] && [ ! -e sbatch.txt ] || fail "'$*' wrote $(ls -A refused) $(cat sbatch.txt 2>/dev/null)"
  }
  printf 'local unused = 1\n' >ok.lua
  while IFS='|' read -r wanted args; do
    # shellcheck disable=SC2086
    expect_refused "$wanted" $args
  done <<'TABLE'
would both be written to|ok.lua refused clips/b.nut other/b.nut
nothere.lua: No such file|nothere.lua refused clips/b.nut
cannot read the input|ok.lua refused clips/nothere.mkv
--crf|ok.lua refused clips/b.nut -- --crf 99
is a folder|ok.lua refused clips
TABLE
  expect_refused "a list cannot hold the name" ok.lua refused "clips/new
line.mkv" clips/b.nut
  search=/nonexistent expect_refused "no sbatch found" ok.lua refused clips/b.nut
  ;;

batch_interrupted)
  # SIGINT stops the whole batch and leaves no partial output; run again, the
  # batch resumes where it stopped.
  mkdir clips
  for name in a b c d; do ff -f lavfi -i "testsrc2=size=64x48:rate=25" -frames:v 25 -c:v libx264 "clips/$name.mp4"; done
  printf 'local t = os.clock() while os.clock() - t < 0.02 do end\n' >slow.lua
  env --default-signal=INT "$runner" --quiet -j 1 slow.lua clips -o out/ 2>err.txt &
  pid=$!
  tries=0
  until ls -A out 2>/dev/null | grep -q '\.part$'; do
    tries=$((tries + 1))
    [ "$tries" -lt 600 ] || fail "no temporary output appeared: $(cat err.txt)"
    sleep 0.1
  done
  kill -INT "$pid"
  status=0
  wait "$pid" || status=$?
  [ "$status" -gt 128 ] || fail "exit $status after SIGINT: $(cat err.txt)"
  ! ls -A out | grep -q '\.part$' || fail "SIGINT left $(ls -A out)"
  grep -q "not run: interrupted" err.txt || fail "no summary: $(cat err.txt)"
  finished=$(ls out | wc -l)
  "$runner" --quiet slow.lua clips -o out/ 2>err.txt || fail "resumed: $(cat err.txt)"
  grep -q "$((4 - finished)) done, 0 failed, $finished skipped" err.txt || fail "resumed: $(cat err.txt)"
  [ "$(ls -A out | tr '\n' ' ')" = "a.mp4 b.mp4 c.mp4 d.mp4 " ] || fail "outputs: $(ls -A out)"
  # Whatever signal ends the batch ends its jobs, which leave no temporary:
  # passed on to them, SIGTERM for the others, and the jobs' own parent-death
  # signal when the batch cannot act (SIGKILL).
  # Jobs of 10 s, which must end at once.
  alive() { state=$(ps -o stat= -p "$1") && case "$state" in Z*) return 1 ;; esac; }
  printf 'local t = os.clock() while os.clock() - t < 0.4 do end\n' >slower.lua
  for entry in QUIT=3 USR1=10 USR2=12 ALRM=14 XCPU=24 KILL=9; do
    signal=${entry%=*} number=${entry#*=}
    env --default-signal "$runner" --quiet -j 2 slower.lua clips -o "by_$signal/" 2>err.txt &
    pid=$!
    tries=0
    until ls -A "by_$signal" 2>/dev/null | grep -q '\.part$'; do
      tries=$((tries + 1))
      [ "$tries" -lt 600 ] || fail "SIG$signal: no temporary output appeared: $(cat err.txt)"
      sleep 0.1
    done
    jobs=$(ps -o pid= --ppid "$pid")
    kill -"$signal" "$pid"
    status=0
    wait "$pid" || status=$?
    [ "$status" -eq $((128 + number)) ] || fail "SIG$signal: exit $status: $(cat err.txt)"
    for job in $jobs; do
      tries=0
      while alive "$job"; do
        tries=$((tries + 1))
        [ "$tries" -lt 50 ] || { kill "$job"; fail "SIG$signal: job $job still running"; }
        sleep 0.1
      done
    done
    ! ls -A "by_$signal" 2>/dev/null | grep -q '\.part$' || fail "SIG$signal left $(ls -A "by_$signal")"
  done
  ;;

*) fail "unknown case" ;;
esac
echo "ok $case_name"
