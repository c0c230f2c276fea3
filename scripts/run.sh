#!/usr/bin/env bash
# Installs what is missing, builds Zandrel and starts it with the given arguments.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target zandrel
exec build/bin/zandrel "$@"
