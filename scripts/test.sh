#!/usr/bin/env bash
# Installs what is missing, builds the program and its tests twice (plainly, and under
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs the whole suite in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
(cd build && ctest -j2 --output-on-failure)

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZANDREL_SANITIZE=ON
cmake --build build-asan
cd build-asan && ctest -j2 --output-on-failure
