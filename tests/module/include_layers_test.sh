#!/bin/sh
# The library is built bottom up: core/ under everything, the subsystems over
# it, and lua/ alone on top. Each folder of src/ may include only the folders
# listed for it below, and nothing under lua/ may see the Lua headers, so a
# kernel stays testable and benchmarkable without Lua. A folder that is not in
# the list fails too: a new subsystem has to say where it stands.
# Over the library, the programs: the script host (host/) and the frames,
# test card and PNG encoding (images/) stand alone; the runner (tools/) and
# the page (web/host/) stand on both, the frei0r plugin (plugins/frei0r/) on
# the host. None includes from another program's folder or from the library's
# sources, and none compiles another's files: each links the targets below it.
set -eu
src="$(dirname "$0")/../../src"
failed=0

allowed() {
  case "$1" in
    core)    echo "core" ;;
    color)   echo "core color" ;;
    filters) echo "core color filters" ;;
    curves)  echo "core color filters curves" ;;
    store)   echo "core store" ;;
    lua)     echo "core color filters curves store lua" ;;
    *)       echo "" ;;
  esac
}

for dir in "$src"/*/; do
  layer=$(basename "$dir")
  ok=$(allowed "$layer")
  if [ -z "$ok" ]; then
    echo "src/$layer: not a known layer (add it to $(basename "$0"))"; continue
  fi
  for file in $(find "$dir" -name '*.cpp' -o -name '*.hpp' -o -name '*.h' -o -name '*.c'); do
    grep -oE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"][^>"]+[>"]' "$file" |
      sed -E 's/.*[<"]([^>"]+)[>"]/\1/' | while read -r target; do
        case "$target" in
          lua.hpp|lua.h|lauxlib.h|lualib.h|luaconf.h)
            [ "$layer" = lua ] || echo "${file#"$src"/}: includes <$target> below the Lua layer" ;;
          */*)
            folder=${target%%/*}
            case " $ok " in *" $folder "*) ;; *) echo "${file#"$src"/}: includes $target" ;; esac ;;
        esac
      done
  done
done >"${TMPDIR:-/tmp}/include_layers.$$"

# Programs include headers by name; each name must come from its own folder
# or the ones it stands on.
root="$src/.."
program_folders() {
  case "$1" in
    host)           echo "host" ;;
    images)         echo "images" ;;
    tools)          echo "tools host images" ;;
    web/host)       echo "web/host host images" ;;
    plugins/frei0r) echo "plugins/frei0r host" ;;
  esac
}
for program in host images tools web/host plugins/frei0r; do
  [ -d "$root/$program" ] || continue
  for file in "$root/$program"/*.cpp "$root/$program"/*.hpp; do
    [ -f "$file" ] || continue
    grep -oE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]+"' "$file" |
      sed -E 's/.*"([^"]+)"/\1/' | while read -r target; do
        found=no
        for folder in $(program_folders "$program"); do
          [ -f "$root/$folder/$target" ] && found=yes
        done
        [ "$found" = yes ] || echo "$program/$(basename "$file"): includes \"$target\" from outside $(program_folders "$program")"
      done
  done
done >>"${TMPDIR:-/tmp}/include_layers.$$"
# A program's CMakeLists.txt names its own sources only: a path into another
# folder of the checkout (tests/ aside: the page's build also runs the
# library's fast-path tests) or a parent folder is a file compiled twice.
for folder in src host images tools web plugins/frei0r; do
  lists="$root/$folder/CMakeLists.txt"
  [ -f "$lists" ] || continue
  grep -v '^[[:space:]]*#' "$lists" | grep -oE '\$\{(PROJECT|CMAKE)_SOURCE_DIR\}/[A-Za-z0-9_.]+|\.\./[^ )]*' |
    while read -r reference; do
      case "$reference" in
        *_SOURCE_DIR}/tests|*_SOURCE_DIR}/cmake) ;;
        *) echo "$folder/CMakeLists.txt: compiles or includes $reference" ;;
      esac
    done
done >>"${TMPDIR:-/tmp}/include_layers.$$"
crossings=$(wc -l <"${TMPDIR:-/tmp}/include_layers.$$")
cat "${TMPDIR:-/tmp}/include_layers.$$"
rm -f "${TMPDIR:-/tmp}/include_layers.$$"
failed=$((failed + crossings))
if [ "$failed" -ne 0 ]; then echo "$failed include(s) cross a layer"; exit 1; fi
echo "include layers: clean"
