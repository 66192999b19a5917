#!/bin/sh
# The 32-bit DLL must do its double arithmetic in SSE2, as every other build
# does: x87 arithmetic rounds to extended precision and would change results.
# Disassembles the library's own code (not the C runtime it links) and allows
# only the x87 instructions that cannot change a value: moving a double
# between memory and the x87 stack (the 32-bit ABI returns doubles in st(0)),
# exact integer conversions, and the control word that makes them truncate.
# Usage: no_x87_test.sh BUILD_DIR (a mingw-x86 build)
set -eu
build="$1"
objects=$(find "$build/src" -name '*.obj' -path '*pelx04*')
[ -n "$objects" ] || { echo "no objects under $build/src"; exit 1; }
# shellcheck disable=SC2086
listing=$(i686-w64-mingw32-objdump -d --no-show-raw-insn -C $objects)
functions=$(printf '%s\n' "$listing" | grep -c '^[0-9a-f]* <.*>:$' || true)
x87=$(printf '%s\n' "$listing" | awk '
  /^[0-9a-f]+ <.*>:$/ { fn = $0; next }
  /^ +[0-9a-f]+:\t/ {
    split($0, part, "\t"); insn = part[2]; split(insn, word, " "); op = word[1]
    if (op !~ /^f/ || op ~ /^(fldl|fstpl|fstl|fildl|fildll|fistpl|fistpll|fisttpl|fisttpll|fnstcw|fldcw|fstcw)$/) next
    if (insn ~ /^fstp +%st\(0\)$/) next
    print "  " insn "    in " fn
  }')
if [ "$functions" -lt 10 ]; then
  echo "FAIL only $functions functions disassembled"; echo "0 passed, 1 failed"; exit 1
fi
if [ -n "$x87" ]; then
  echo "FAIL x87 arithmetic in the 32-bit filters:"; printf '%s\n' "$x87" | head -40
  echo "0 passed, 1 failed"; exit 1
fi
echo "1 passed, 0 failed"
