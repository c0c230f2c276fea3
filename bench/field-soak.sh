#!/usr/bin/env bash
# Standard updates one after another through the program's windows, the real driver
# libraries and their embedded simulated networks, one row per bus fault of the network
# file: every 100th frame lost (50 updates), and every 50th frame held 600 ms (past the 500 ms
# answer time-out) and 400 ms (within it), 20 updates each, as a held frame costs seconds. Prints, per bus and row, updates, successes, failures and
# successes with differing content (which must be 0).
# Usage: bench/field-soak.sh [build-dir] [canopen|devicenet|both] [updates] [fault ...]
#        (default: build-bench, an optimised build; both; the three rows above)
#        e.g. bench/field-soak.sh build-bench canopen 20 lose_every=37
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
bus=${2:-both}
updates=${3:-}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZANDREL_BUILD_BENCH=ON \
    -DZANDREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target field_soak >/dev/null
if [ $# -gt 3 ]; then
    "$build"/bin/field_soak "$bus" "${updates:-50}" "${@:4}"
    exit
fi
"$build"/bin/field_soak "$bus" "${updates:-50}" lose_every=100
"$build"/bin/field_soak "$bus" "${updates:-20}" delay_every=50 delay_ms=600
"$build"/bin/field_soak "$bus" "${updates:-20}" delay_every=50 delay_ms=400
