#!/usr/bin/env bash
# Standard updates one after another through the program's windows, the real driver
# libraries and their embedded simulated networks, on a bus that loses every 100th frame:
# 50 per bus. Prints, per bus, updates, successes, failures and successes with differing
# content (which must be 0).
# Usage: bench/field-soak.sh [build-dir] [canopen|devicenet|both] [updates] [lose_every]
#        (default: build-bench, an optimised build; both; 50; 100)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZANDREL_BUILD_BENCH=ON \
    -DZANDREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target field_soak >/dev/null
"$build"/bin/field_soak "${2:-both}" "${3:-50}" "${4:-100}"
