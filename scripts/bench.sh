#!/bin/sh
# Builds the benchmark program (Release, in build-bench/) and runs it at each
# instruction-set level, printing Google Benchmark's lines and then a summary
# table of times and ratios per level. Extra arguments go to the program, e.g.
#   scripts/bench.sh --benchmark_filter='mirtGanma|floor|cv/'
# PELX04_BENCH_LEVELS picks the levels (default: "avx512 avx2 sse2 portable"; a level
# above what the CPU has runs at the CPU's own).
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh build bench
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DPELX04_BUILD_BENCH=ON \
  -DPELX04_BUILD_TESTS=OFF -DPELX04_BUILD_TOOLS=OFF >/dev/null
cmake --build build-bench -j"$(nproc 2>/dev/null || echo 2)" --target pelx04_bench
echo "machine: $(lscpu | sed -n 's/^Model name:[[:space:]]*//p'), $(nproc) cores"
for level in ${PELX04_BENCH_LEVELS:-avx512 avx2 sse2 portable}; do
  build-bench/bin/pelx04_bench --level="$level" "$@"
done
