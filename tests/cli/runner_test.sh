#!/bin/sh
# The frame runner end to end, one case per call:
#   runner_test.sh CASE RUNNER LUA WORKDIR
# Expected words are written out by hand here, never computed by the runner;
# ffmpeg makes the input images and reads the outputs back.
set -eu
case_name=$1 runner=$2 lua=$3 work=$4
root=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$work"
mkdir -p "$work"
cd "$work"

fail() { echo "FAIL $case_name: $*" >&2; exit 1; }

# A failure must be a clean one: a message, not a sanitizer report.
clean_failure() {
  if grep -qE "Sanitizer|runtime error:" err.txt; then fail "'$*' failed uncleanly: $(cat err.txt)"; fi
}

# expect_failure CODE WANTED_TEXT COMMAND...: exit CODE (2 for usage errors,
# 1 otherwise) with a message holding WANTED_TEXT.
expect_failure() {
  code=$1 wanted=$2; shift 2
  status=0
  "$@" >out.txt 2>err.txt || status=$?
  [ "$status" -eq "$code" ] || fail "'$*' exited $status, not $code: $(cat err.txt)"
  clean_failure "$@"
  grep -qF -- "$wanted" err.txt || fail "'$*' said '$(cat err.txt)', not '$wanted'"
}

# make_image OUT WIDTH HEIGHT AARRGGBB...: an image of these words, by ffmpeg.
make_image() {
  out=$1 w=$2 h=$3; shift 3
  "$lua" - "$@" <<'LUA' | ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt bgra -s "${w}x$h" -i - "$out"
    for _, w in ipairs(arg) do
      local v = tonumber(w, 16)
      io.write(string.char(v % 256, math.floor(v / 256) % 256, math.floor(v / 65536) % 256, math.floor(v / 16777216)))
    end
LUA
}

# dump_image IN: "WIDTH HEIGHT", then the pixels as words, one line per row.
dump_image() {
  ffprobe -v error -select_streams v -show_entries stream=width,height -of csv=p=0 "$1" | tr , ' '
  ffmpeg -nostdin -v error -i "$1" -f rawvideo -pix_fmt bgra - >dump.raw
  hex_words dump.raw | paste -d ' ' $(printf -- '- %.0s' $(seq "$(ffprobe -v error -select_streams v \
    -show_entries stream=width -of csv=p=0 "$1")"))
}

# raw_frames WIDTH HEIGHT COUNT [EXTRA_BYTES]: COUNT frames where pixel i of
# frame f is the bytes B=i, G=16f, R=200, A=255 (index 7 transparent), then
# EXTRA_BYTES bytes of a frame that never ends.
raw_frames() {
  "$lua" - "$@" <<'LUA'
    local w, h, n, extra = tonumber(arg[1]), tonumber(arg[2]), tonumber(arg[3]), tonumber(arg[4] or 0)
    local out = {}
    for f = 0, n - 1 do
      for i = 0, w * h - 1 do
        out[#out + 1] = string.char(i, 16 * f, 200, i == 7 and 0 or 255)
      end
    end
    out[#out + 1] = string.rep("\0", extra)
    io.write(table.concat(out))
LUA
}

# hex_words FILE: the file as little-endian words, AARRGGBB, one per line.
hex_words() {
  "$lua" - "$1" <<'LUA'
    local data = io.open(arg[1], "rb"):read("*a")
    for i = 1, #data - 3, 4 do
      local b, g, r, a = data:byte(i, i + 3)
      print(string.format("%02X%02X%02X%02X", a, r, g, b))
    end
LUA
}

case "$case_name" in
image_exact)
  # A 3x2 PNG with opaque, partly transparent and transparent pixels; the
  # whole frame is offset, then row 1 alone through frame.row.
  make_image in.png 3 2 FF102030 80F00830 00123456 FF808080 FF0000F0 01050505
  cat >fx.lua <<'LUA'
assert(frame.width == 3 and frame.height == 2 and frame.index == 0 and frame.time == 0, "frame fields")
assert(frame.row(2) == nil and frame.row(-1) == nil and frame.row(0 / 0) == nil, "rows outside the frame")
assert(frame.row(0) == frame.data, "row 0 is the first word")
assert(pelx04 == require("pelx04"))
pelx04.mirtRGB(frame.data, frame.width, frame.height, 16, -16, 0, 0)
pelx04.mirtRGB(frame.row(1), frame.width, 1, 0, 0, 100, 0)
LUA
  LUA_CPATH='/nonexistent/?.so' "$runner" fx.lua in.png -o result/out.png
  dump_image result/out.png >got.txt
  printf '%s\n' "3 2" "FF201030 80FF0030 00123456" "FF9070E4 FF1000FF 01150069" >want.txt
  cmp -s got.txt want.txt || fail "pixels: $(cat got.txt)"
  [ "$(ls result)" = out.png ] || fail "stray files: $(ls result)"
  ;;

image_formats)
  # BMP, TGA and TIFF in and out (alpha kept) exactly; JPEG is lossy, so only its size.
  printf 'pelx04.mirtRGB(frame.data, frame.width, frame.height, 1, 2, 3, 0)\n' >fx.lua
  for type in bmp tga tiff; do
    make_image "in.$type" 2 1 FF102030 80405060
    "$runner" fx.lua "in.$type" -o "$type.png"
    "$runner" fx.lua "$type.png" -o "out.$type"
    dump_image "out.$type" >got.txt
    printf '%s\n' "2 1" "FF122436 80425466" >want.txt
    cmp -s got.txt want.txt || fail "$type pixels: $(cat got.txt)"
  done
  make_image in.jpg 3 2 FF102030 FF102030 FF102030 FF102030 FF102030 FF102030
  "$runner" fx.lua in.jpg -o jpg.png
  dump_image jpg.png | head -n 1 | grep -qx "3 2" || fail "jpeg size"
  ;;

default_output)
  # Without INPUT the test card is used, and the PNG goes to out/<script>.png.
  cat >card_check.lua <<'LUA'
assert(frame.width == 1920 and frame.height == 1080 and frame.index == 0)
assert(frame.row(1079) ~= nil and frame.row(1080) == nil)
print("script output goes to stdout in image mode")
LUA
  "$runner" card_check.lua >stdout.txt
  grep -q "script output goes to stdout" stdout.txt || fail "script output missing"
  dump_image out/card_check.png >card.txt
  head -n 1 card.txt | grep -qx "1920 1080" || fail "card size"
  # The card holds partial and zero alpha as well as opaque pixels.
  tail -n 1 card.txt | tr ' ' '\n' | cut -c1-2 | sort -u >alphas.txt
  grep -qx 00 alphas.txt && grep -qx FF alphas.txt && grep -qx 80 alphas.txt || fail "card alpha"
  ;;

raw_pipe)
  # Three 4x2 frames; the script adds 10 x index to red (clamped) and, on row
  # 1 alone, 5 to blue. Transparent words pass unchanged.
  cat >fx.lua <<'LUA'
assert(frame.width == 4 and frame.height == 2)
pelx04.mirtRGB(frame.data, frame.width, frame.height, 30 * frame.index, 0, 0, 0)
pelx04.mirtRGB(frame.row(1), frame.width, 1, 0, 0, 5, 0)
LUA
  raw_frames 4 2 3 | "$runner" --raw 4x2 --quiet fx.lua >out.raw
  hex_words out.raw >got.txt
  : >want.txt
  for f in 0 1 2; do
    red=$(printf '%02X' $((200 + 30 * f > 255 ? 255 : 200 + 30 * f)))
    green=$(printf '%02X' $((16 * f)))
    for i in 0 1 2 3; do echo "FF$red${green}0$i" >>want.txt; done
    for blue in 09 0A 0B; do echo "FF$red$green$blue" >>want.txt; done
    echo "00C8${green}07" >>want.txt
  done
  cmp -s got.txt want.txt || { diff want.txt got.txt >&2; fail "raw words"; }
  ;;

raw_print_to_stderr)
  # Whatever the script prints must not land among the frames.
  printf 'print("frame", frame.index) io.write("written\\n")\n' >talk.lua
  raw_frames 4 2 2 | "$runner" --raw 4x2 talk.lua >out.raw 2>err.txt
  [ "$(wc -c <out.raw)" -eq 64 ] || fail "stdout holds $(wc -c <out.raw) bytes, not two frames"
  grep -q "frame.1" err.txt || fail "print output missing from stderr"
  raw_frames 4 2 2 >in.raw
  cmp -s in.raw out.raw || fail "frames changed"
  ;;

script_error)
  # A runtime error: file and line, non-zero exit, no output file at all.
  printf '%s\n' 'pelx04.mirtRGB(frame.data, frame.width, frame.height, 9, 9, 9, 0)' 'local t = nil' \
    'local x = t.field' >bad.lua
  mkdir result
  make_image in.png 1 1 FF000000
  expect_failure 1 "frame 0 at 0.000 s: bad.lua:3:" "$runner" bad.lua in.png -o result/out.png
  [ -z "$(ls result)" ] || fail "left behind: $(ls result)"
  # A syntax error is reported before any frame is read.
  printf 'local = 1\n' >syntax.lua
  expect_failure 1 "syntax.lua:1:" "$runner" syntax.lua -o result/out.png
  # An error object that is not a string still fails cleanly.
  printf 'error({})\n' >table_error.lua
  expect_failure 1 "table value" "$runner" table_error.lua -o result/out.png
  # os.exit would end the run as a success with no output.
  printf 'os.exit(0)\n' >exits.lua
  expect_failure 1 "os.exit is not allowed" "$runner" exits.lua -o result/out.png
  [ -z "$(ls result)" ] || fail "left behind: $(ls result)"
  # Faults inside Lua's own C code that used to take the process down: a
  # count that overflows in unpack, a pattern deep enough to overflow the stack.
  printf 'return unpack({}, -2^31, 2^31 - 1)\n' >unpack.lua
  expect_failure 1 "frame 0 at 0.000 s: unpack.lua:1: too many results to unpack" \
    "$runner" --sandbox unpack.lua in.png -o result/out.png
  printf 'local s = ("a"):rep(10)\nreturn s:find(("a?"):rep(1e6))\n' >pattern.lua
  expect_failure 1 "frame 0 at 0.000 s: pattern.lua:2: pattern 'a?a?a?" \
    "$runner" --sandbox pattern.lua in.png -o result/out.png
  # A short pattern that backtracks some 2^40 times inside one call.
  printf 'return ("a"):rep(40):find(("a?"):rep(40) .. ("a"):rep(40))\n' >backtrack.lua
  expect_failure 1 "frame 0 at 0.000 s: backtrack.lua:1: instruction limit of 100000000 per frame reached" \
    "$runner" --sandbox --max-instructions 100000000 backtrack.lua in.png -o result/out.png
  [ -z "$(ls -A result)" ] || fail "left behind: $(ls -A result)"
  # In raw mode the failing frame is named as well.
  printf 'if frame.index == 1 then error("second frame") end\n' >raw_bad.lua
  raw_frames 4 2 3 >in.raw
  expect_failure 1 "frame 1: raw_bad.lua:1: second frame" "$runner" --raw 4x2 raw_bad.lua <in.raw
  ;;

missing_files)
  printf 'local unused = 1\n' >ok.lua
  expect_failure 1 "cannot open no_such_script.lua" "$runner" no_such_script.lua
  # A script is a plain file of at most 1 MiB: a FIFO, a device or a folder is
  # refused at once (no waiting for a writer, no reading without end).
  mkfifo fifo.lua
  head -c 1048577 /dev/zero | tr '\0' ' ' >huge.lua
  for script in fifo.lua /dev/zero .; do
    expect_failure 1 "cannot open $script: not a regular file" timeout -k 5 20 "$runner" "$script" -o o.png
  done
  expect_failure 1 "huge.lua is not a script (larger than 1 MiB" timeout -k 5 20 "$runner" huge.lua -o o.png
  expect_failure 1 "cannot open 'no_such_image.png'" "$runner" ok.lua no_such_image.png -o o.png
  echo "not an image at all" >text.png
  expect_failure 1 "'text.png' has no picture that can be read" "$runner" ok.lua text.png -o o.png
  printf 'GIF89a\001\000\001\000\000\000\000;' >tiny.gif
  expect_failure 1 "not a video or image file the runner reads" "$runner" ok.lua tiny.gif -o o.png
  [ ! -e o.png ] || fail "output written for a failed input"
  [ ! -e out ] || fail "default output written"
  ;;

short_frame)
  # Two whole frames and 20 bytes of a third: the whole ones come out, then
  # a failure that says where the stream ended.
  printf 'local unused = 1\n' >ok.lua
  raw_frames 4 2 2 20 >in.raw
  expect_failure 1 "ended inside frame 2: 20 of 32 bytes" "$runner" --raw 4x2 --quiet ok.lua <in.raw
  [ "$(wc -c <out.txt)" -eq 64 ] || fail "whole frames not written"
  # An empty stream is no frames and no error.
  "$runner" --raw 4x2 ok.lua </dev/null >empty.raw || fail "empty input failed"
  [ ! -s empty.raw ] || fail "output from empty input"
  ;;

bad_sizes)
  printf 'local unused = 1\n' >ok.lua
  for size in 0x5 5x0 4x x4 -4x2 4x-2 +4x2 4x2x1 4:2 " 4x2" abc 4x2.5 65536x65536 99999999999x1; do
    expect_failure 2 "bad frame size" "$runner" --raw "$size" ok.lua </dev/null
  done
  # Past the pixel limit: refused before a byte is allocated.
  expect_failure 2 "past the limit of 67108864 pixels" "$runner" --raw 65535x65537 ok.lua </dev/null
  expect_failure 2 "past the limit of 100 pixels" "$runner" --raw 11x10 --max-pixels 100 ok.lua </dev/null
  ;;

usage)
  printf 'local unused = 1\n' >ok.lua
  expect_failure 2 "SCRIPT is required" "$runner"
  expect_failure 2 "frobnicate" "$runner" --frobnicate ok.lua
  expect_failure 2 "no INPUT or -o" "$runner" --raw 4x2 ok.lua extra.png
  expect_failure 2 "-o" "$runner" ok.lua -o
  expect_failure 2 "several inputs need -o naming a folder" "$runner" ok.lua a.png b.png
  expect_failure 2 "KEY=VALUE" "$runner" ok.lua --opt preset
  expect_failure 2 "--crf" "$runner" ok.lua --crf 99
  expect_failure 2 "bad --start" "$runner" ok.lua a.mp4 -o b.mp4 --start 1:2:3:4
  for index in 0 -1 abc 1.5 99999999999999999999; do
    expect_failure 2 "--index must be a whole number of 1 or more" "$runner" ok.lua --list l.txt --index "$index" -o o/
  done
  expect_failure 2 "--threads 100000 is refused: at most" "$runner" ok.lua --threads 100000
  expect_failure 2 "--check plans a batch" "$runner" --check ok.lua
  "$runner" --help | grep -q "frame = {data, width, height, index, time, row(y)}" || fail "help"
  # The manual's table of formats says what --help says, row for row.
  "$runner" --help | sed -n '/^Formats, by extension:$/,/^$/p' | grep '^  \.' | sed -E 's/^  //; s/ {2,}/|/g' >help.txt
  grep '^| `\.' "$root/docs/runner.md" | sed -E 's/`//g; s/^\| //; s/ \|$//; s/ \| /|/g' >doc.txt
  [ -s help.txt ] && diff help.txt doc.txt >/dev/null || fail "formats: --help and the manual differ: $(diff help.txt doc.txt)"
  "$runner" --version | grep -qx "pelx04-run [0-9.]*" || fail "version"
  ;;

*) fail "unknown case" ;;
esac
echo "ok $case_name"
