# Sourced by scripts/test_frei0r.sh (its result, $work, $runner and
# FREI0R_PATH): the plugin as Kdenlive 22.12 and Shotcut 22.12 save it. Each
# project here is the editor's own file (named properties, value1 keyframed,
# the script beside the project as "values.lua"), copied with its clip into a
# folder and rendered by melt from another working directory, then copied again
# to another place and rendered there: every frame must equal the runner's
# given the value the script printed for it. Then each editor opens its project
# under Xvfb and must run the script with nothing said against the effect.
projects="$root/tests/editors"
frames_of() {  # MKV RAW: the first 50 frames as BGRA words
  timeout -k 5 60 ffmpeg -nostdin -loglevel error -y -i "$1" -frames:v 50 -f rawvideo -pix_fmt bgra "$2"
}
frame_size=$((640 * 360 * 4))

# FOLDER PROJECT: melt from / renders the project in FOLDER; each frame must be
# the runner's frame with the value printed for its time.
renders_as_runner() {
  (cd / && timeout -k 5 60 melt -quiet "$1/$2" out=49 \
    -consumer "avformat:$1/out.mkv" vcodec=ffv1 pix_fmt=bgra an=1 real_time=-1 2>"$1/melt.err") &&
    frames_of "$1/out.mkv" "$1/out.raw" || return 1
  : >"$1/runner.raw"
  for k in $(seq 0 49); do
    value=$(awk -v t="$(awk "BEGIN { printf \"%.3f\", $k / 25 }")" '$1 == "value" && $2 == t { v = $3 } END { print v }' \
      "$1/melt.err")
    [ -n "$value" ] || return 1
    dd if="$work/editors_clip.raw" bs=$frame_size skip="$k" count=1 status=none |
      timeout -k 5 60 "$runner" --raw 640x360 "$1/values.lua" -- "$value" 2>/dev/null >>"$1/runner.raw" || return 1
  done
  # value1 is keyframed: the frames saw more than one value.
  [ "$(awk '$1 == "value" { print $3 }' "$1/melt.err" | sort -u | wc -l)" -gt 1 ] || return 1
  cmp -s "$1/out.raw" "$1/runner.raw"
}

timeout -k 5 60 ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=s=640x360:r=25 -frames:v 50 -pix_fmt bgra \
  -c:v ffv1 "$work/editors_clip.mkv" && frames_of "$work/editors_clip.mkv" "$work/editors_clip.raw"
for editor in kdenlive shotcut; do
  project=$(cd "$projects" && ls $editor.*)
  folder="$work/$editor/project"
  mkdir -p "$folder"
  cp "$projects/$project" "$projects/values.lua" "$folder/"
  cp "$work/editors_clip.mkv" "$folder/clip.mkv"
  # Kdenlive writes the project's folder into the file as root, and MLT takes
  # it over the file's own folder; Kdenlive writes it anew when it opens a
  # moved project, as this does. Shotcut writes none.
  sed -i "s|root=\"[^\"]*\"|root=\"$folder\"|" "$folder/$project"
  # The clip is made here, not the one Kdenlive hashed: without its hash,
  # Kdenlive takes it as it is instead of asking to reload it.
  sed -i '/kdenlive:file_hash\|kdenlive:file_size/d' "$folder/$project"
  rc=0; renders_as_runner "$folder" "$project" || rc=1
  result $rc "a $editor project rendered by melt from another folder: the runner's frames for each frame's value"
  moved="$work/$editor/moved/elsewhere"
  mkdir -p "$moved"
  mv "$folder"/* "$moved/"
  sed -i "s|root=\"[^\"]*\"|root=\"$moved\"|" "$moved/$project"
  rc=0; renders_as_runner "$moved" "$project" || rc=1
  result $rc "the $editor project moved to another folder renders the same way"
done

# Each editor opens its moved project: the script runs (its first value line
# in the log) within a minute, and the log says nothing against the effect.
scripts/deps.sh editors
session="$work/session"
. tests/editors/session.sh
rc=0; session_start || rc=1
result $rc "Xvfb and a session bus for the editors"
for editor in kdenlive shotcut; do
  project=$(cd "$projects" && ls $editor.*)
  log="$work/$editor/editor.log"
  rc=0
  editor_start $editor "$log" "$work/$editor/moved/elsewhere/$project"
  editor_wait "$log" '^value ' 60 || rc=1
  # Each editor's word that it took our description.
  ours='Setting parameter  "filename"'
  [ $editor = shotcut ] && ours='added filter "Lua Script (pelx04)"'
  grep -qa "$ours" "$log" || rc=1
  editor_stop
  grep -ai 'pelx04' "$log" | grep -v 'Setting parameter' | grep -i 'warn\|unknown\|error\|cannot\|fail' && rc=1
  grep -a 'Unknown type' "$log" && rc=1
  result $rc "$editor opens its project and runs the script, with no warning about the effect"
done
session_stop
