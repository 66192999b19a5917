#!/bin/sh
# Makes docs/kdenlive-panel.png and docs/shotcut-panel.png: each editor opens
# the test's project with examples/sliders.lua beside it, under Xvfb, the clip
# is selected so the effect's panel shows, and the screen is taken. Clicks go
# to where the 22.12 layouts put the clip and the panels; look at the pictures
# before committing them. Work files go to build/editor-screenshots/.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/deps.sh build hosts editors screenshots
work="$root/build/editor-screenshots"
rm -rf "$work"
mkdir -p "$work/project"
cmake --build build -j2 --target pelx04_frei0r >/dev/null
export FREI0R_PATH="$root/build/frei0r-1:/usr/lib/frei0r-1"
ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=s=640x360:r=25 -frames:v 50 -pix_fmt bgra -c:v ffv1 \
  "$work/project/clip.mkv"
cp examples/sliders.lua "$work/project/"
for project in kdenlive.kdenlive shotcut.mlt; do
  sed -e "s|root=\"[^\"]*\"|root=\"$work/project\"|" -e '/kdenlive:file_hash\|kdenlive:file_size/d' \
    -e 's|>values.lua<|>sliders.lua<|' "tests/editors/$project" >"$work/project/$project"
done
session="$work/session"
. tests/editors/session.sh
session_start
trap 'editor_stop; session_stop' EXIT

shoot() {  # OUT CROP: the screen, cropped to the editor's window
  sleep 3
  import -window root -crop "$2" +repage "$1"
  echo "wrote $1"
}

editor_start kdenlive "$work/kdenlive.log" "$work/project/kdenlive.kdenlive"
editor_wait "$work/kdenlive.log" 'frei0r.pelx04' 60
sleep 8
editor_window_full Kdenlive
sleep 3
# The clip at the start of track V1, then the effect stack beside the monitors.
xdotool mousemove 181 628 click 1
sleep 1
xdotool mousemove 1363 952 click 1
shoot docs/kdenlive-panel.png 1600x1000+0+0
editor_stop

editor_start shotcut "$work/shotcut.log" "$work/project/shotcut.mlt"
editor_wait "$work/shotcut.log" 'frei0r.pelx04' 60 || :
sleep 8
editor_window_full Shotcut
sleep 3
# The clip on V1, then the Filters tab.
xdotool mousemove 165 858 click 1
sleep 1
xdotool mousemove 103 708 click 1
sleep 1
xdotool mousemove 700 960
shoot docs/shotcut-panel.png 1600x1000+0+0
