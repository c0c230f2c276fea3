#!/usr/bin/env bash
# Installs what is missing, builds the program and its tests twice (plainly, and under
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs the whole suite in both builds;
# then a third time under ThreadSanitizer, the libraries and the tests where threads meet
# (bus, simulation, drivers, end-to-end updates). The benchmarks are not built here: bench/
# has their own scripts.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
jobs="$(nproc)"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZANDREL_BUILD_BENCH=OFF
cmake --build build
(cd build && ctest -j"$jobs" --output-on-failure)

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZANDREL_SANITIZE=ON
cmake --build build-asan
(cd build-asan && ctest -j"$jobs" --output-on-failure)

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZANDREL_TSAN=ON \
    -DZANDREL_BUILD_BENCH=OFF
cmake --build build-tsan
cd build-tsan && ctest -j"$jobs" --output-on-failure
