#!/bin/sh
# Makes docs/gallery.png: the test card and the effect of each of the sixteen
# pixel functions on it, each labelled. Every tile is made by pelx04-run from
# scripts/make_gallery_tiles.lua; pelx04-gallery lays them out.
#   scripts/make_gallery.sh [OUTPUT]     (BUILD_DIR=build by default)
set -eu
cd "$(dirname "$0")/.."
output=${1:-docs/gallery.png}
build=${BUILD_DIR:-build}

if [ ! -x "$build/bin/pelx04-run" ] || [ ! -x "$build/bin/pelx04-gallery" ]; then
  scripts/deps.sh build media
  [ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j2 --target pelx04-run pelx04-gallery >/dev/null

tiles=$(mktemp -d)
trap 'rm -rf "$tiles"' EXIT

# name|label: the label says what the tile shows.
list='card|test card (no filter)
mirtRGB|mirtRGB +60 0 -60 0
mirtCVSave|mirtCVSave: S-curve read back
mirtToneCurve|mirtToneCurve: S-curve on RGB
mirtToneCurveHSV|mirtToneCurveHSV: blues +150
mirtHSV|mirtHSV 180 +40 -30
mirtHistgram|mirtHistgram: brightness, sqrt
mirtYPbPr|mirtYPbPr -20 +40 -40 0
mirtGradation256|mirtGradation256 64: 85 64 40
mirtMixPict0|mirtMixPict0: low band kept
mirtMixPict1|mirtMixPict1 0.5 grey/card
mirtheitan|mirtheitan step 64
mirtRGB2GRA|mirtRGB2GRA mode 5 (BT.709)
mirtRGB2CONV|mirtRGB2CONV mode 1 (GBR)
mirtGanma|mirtGanma 2.2 1.0 0.45
mirtHsvHeitan|mirtHsvHeitan 32 64 64 0
mirtOgtoHsv|mirtOgtoHsv 6 hue bands'

set --
tiles_file="$(pwd)/scripts/make_gallery_tiles.lua"
while IFS='|' read -r name label; do
  printf 'TILE = "%s"\ndofile("%s")\n' "$name" "$tiles_file" >"$tiles/$name.lua"
  "$build/bin/pelx04-run" "$tiles/$name.lua" -o "$tiles/$name.png"
  set -- "$@" "$tiles/$name.png" "$label"
done <<EOF_LIST
$list
EOF_LIST

"$build/bin/pelx04-gallery" "$output" 4 384 "pelx04: the test card and the 16 pixel functions" "$@"
echo "$output ($(wc -c <"$output") bytes)"
