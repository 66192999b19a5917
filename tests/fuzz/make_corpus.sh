#!/bin/bash
# Writes the seed corpus: one small input per function that reaches its pass
# with a real frame, plus inputs that reach each refusal. The byte layout is
# the one lua_calls_fuzz.cpp reads: function, argument count, fastest kernels
# allowed, then the arguments.
set -eu
cd "$(dirname "$0")/corpus"

# Argument kinds (first byte of each argument).
NUM=02   # hostile number by palette position
INT=03   # small signed integer (one byte, two's complement)
FULL=0b  # full userdata: size class, size bytes, metatable flag
LIGHT=0c # light userdata: null flag, size class, size bytes
FRAME=0d # buffer, width, height: width, height, light flag, pixels, fraction

# Palette positions of some hostile numbers.
NAN=00 INF=01 HALF=05 MINUS_ONE=08 TWO31=0c TWO32=12 BIG=16 N360=1d STORE_PLUS_ONE=21

# A 4 x 2 frame, full or light: opaque primaries, white, black, a mid colour,
# a transparent word and one with alpha below the fuzzer's transparency cut.
pixels="ff0000ff 00ff00ff 0000ffff ffffffff 00000000 1080f080 000000ff 40404010"
frame() { echo "$FRAME 04 02 $1 $pixels 00"; }

# seed NAME FUNCTION COUNT ARGUMENTS...: the fastest kernels allowed go
# between the count and the arguments (LEVEL, AVX2 unless set).
seed() {
  local name="$1" fn="$2" count="$3"; shift 3
  local hex
  hex=$(echo "$fn $count ${LEVEL:-02} $*" | tr -d ' ')
  printf "$(echo "$hex" | sed 's/../\\x&/g')" >"$name"
}

int() { printf '%s %02x' "$INT" $(( $1 & 255 )); }

seed daytime                    00 00
seed mirtRGB                    01 07 "$(frame 00)" "$(int 10)" "$(int -20)" "$(int 30)" "$(int 0)"
LEVEL=00 seed mirtRGB_portable  01 07 "$(frame 01)" "$(int -100)" "$(int 100)" "$(int 0)" "$(int 5)"
LEVEL=01 seed mirtHSV_sse2      05 06 "$(frame 01)" "$(int -30)" "$(int 20)" "$(int 20)"
seed mirtCVSave_write           02 03 "$(int 12)" "$(int 7)" "$(int 0)"
seed mirtCVSave_read            02 03 "$(int 12)" "$(int 0)" "$(int 1)"
seed mirtCVSave_outside         02 03 $NUM $N360 "$(int 7)" "$(int 1)"
seed mirtToneCurve              03 04 "$(frame 00)" "$(int 3)"
seed mirtToneCurveHSV           04 04 "$(frame 01)" "$(int 0)"
seed mirtHSV                    05 06 "$(frame 00)" "$(int 30)" "$(int 10)" "$(int -10)"
seed mirtHistgram               06 04 "$(frame 00)" "$(int 0)"
seed mirtYPbPr                  07 07 "$(frame 00)" "$(int 10)" "$(int 5)" "$(int -5)" "$(int 0)"
seed mirtGradation256           08 07 "$(frame 01)" "$(int 64)" "$(int 1)" "$(int 2)" "$(int 3)"
seed mirtMixPict0               09 03 "$(frame 00)"
seed mirtMixPict1               0a 04 "$(frame 00)" $NUM $HALF
seed mirtheitan                 0b 08 "$(frame 00)" "$(int 0)" "$(int 4)" "$(int 8)" "$(int 16)" "$(int 0)"
seed mirtRGB2GRA                0c 06 "$(frame 00)" "$(int 2)" "$(int 10)" "$(int 1)"
seed mirtRGB2CONV               0d 07 "$(frame 00)" "$(int 3)" "$(int 0)" "$(int 0)" "$(int 0)"
seed mirtGanma                  0e 07 "$(frame 00)" "$(int 100)" "$(int 120)" "$(int 100)" "$(int 80)"
seed mirtHsvHeitan              0f 07 "$(frame 01)" "$(int 0)" "$(int 8)" "$(int 8)" "$(int 30)"
seed mirtOgtoHsv                10 06 "$(frame 00)" "$(int 12)" "$(int 0)" "$(int 1)"
# Refusals: a full userdata smaller than the frame, a null light userdata, a
# light userdata under a NaN width, sides whose product passes 32 bits, and a
# frame one pixel larger than the picture store.
seed refuse_short_full          01 07 $FULL 02 02 00 $NUM $BIG $NUM $TWO31 "$(int 1)"
seed refuse_null_light          05 04 $LIGHT 00 $NUM $TWO31 "$(int 1)"
seed refuse_nan_width           0b 04 $LIGHT 01 02 10 $NUM $NAN $NUM $INF
seed refuse_wrapping_product    0e 03 $FULL 02 40 00 $NUM $TWO32 $NUM $MINUS_ONE
seed refuse_store_overflow      09 03 $FULL 05 01 00 $NUM $STORE_PLUS_ONE "$(int 1)"
