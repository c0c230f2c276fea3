#!/usr/bin/env bash
# Reads the same 8 MiB image (32-byte records) with our HEX reader and with srec_cat, and
# prints how long ours takes as a share of srec_cat's time. Target: 0.5 or less.
# Usage: bench/compare-hex-reader.sh [build-dir]   (default: build-bench, an optimised build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZANDREL_BUILD_BENCH=ON \
    -DZANDREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target hex_reader_bench >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
hex=$work/image.hex
srec_cat -generate 0 0x800000 -random -o "$hex" -intel -obs=32

ours_ms=$(ZANDREL_BENCH_HEX=$hex "$build"/bin/hex_reader_bench --benchmark_format=csv 2>/dev/null |
    awk -F, '/BM_ReadHexFile/ { print $3 }')

best_ns=
for _ in 1 2 3 4 5; do
    start=$(date +%s%N)
    srec_cat "$hex" -intel -o /dev/null -binary
    t=$(( $(date +%s%N) - start ))
    if [ -z "$best_ns" ] || [ "$t" -lt "$best_ns" ]; then best_ns=$t; fi
done
srec_ms=$(awk -v ns="$best_ns" 'BEGIN { printf "%.1f", ns / 1e6 }')

echo "file:      $(stat -c %s "$hex") bytes"
echo "ours:      ${ours_ms} ms"
echo "srec_cat:  ${srec_ms} ms (best of 5)"
awk -v o="$ours_ms" -v s="$srec_ms" 'BEGIN { printf "ratio:     %.2f (target <= 0.50)\n", o / s }'
