#!/bin/sh
# Checks a cross-built pelx04.dll: its export table holds luaopen_pelx04 alone;
# it imports from KERNEL32, msvcrt and lua51.dll and nothing else; and the
# lua51.dll functions it imports are exactly those listed in lua51.def, which
# must also cover every Lua function the compiled objects call (a function
# missing from the .def would otherwise only show as a link error).
# Usage: dll_tables_test.sh TRIPLET BUILD_DIR DEF_FILE
set -eu
triplet="$1"; build="$2"; def="$3"
dll="$build/lua/pelx04.dll"
passed=0; failed=0
check() {
  if [ "$2" = "$3" ]; then passed=$((passed + 1)); else
    failed=$((failed + 1)); printf 'FAIL %s %s\n  got:  %s\n  want: %s\n' "$triplet" "$1" "$2" "$3"; fi
}
words() { tr -s ' \n' '\n\n' | sed '/^$/d' | sort -u | tr '\n' ' ' | sed 's/ $//'; }

listed=$(sed -n '/^EXPORTS/,$p' "$def" | sed '1d; s/;.*//' | words)
called=$(find "$build/src" -name '*.obj' -o -name '*.a' | xargs "$triplet-nm" -u 2>/dev/null |
  awk '$1 == "U" {print $2}' | sed 's/^__imp_//; s/^_//' | grep -E '^luaL?_' | words)
check "Lua functions the objects call vs lua51.def" "$called" "$listed"

tables=$("$triplet-objdump" -p "$dll")
dlls=$(printf '%s\n' "$tables" | awk '/DLL Name:/ {print tolower($3)}' | words)
check "imported DLLs" "$dlls" "kernel32.dll lua51.dll msvcrt.dll"
imported=$(printf '%s\n' "$tables" |
  awk '/DLL Name:/ {inlua = (tolower($3) == "lua51.dll"); next} inlua && NF == 3 && $2 ~ /^[0-9]+$/ {print $3} inlua && NF == 0 {inlua = 0}' |
  words)
check "functions imported from lua51.dll vs lua51.def" "$imported" "$listed"
exports=$(printf '%s\n' "$tables" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  awk '/^\t\[/ {print $NF}' | words)
check "exports" "$exports" "luaopen_pelx04"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
