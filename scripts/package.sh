#!/usr/bin/env bash
# Builds Zandrel for release and makes its Debian package, zandrel_<version>_<arch>.deb, in
# the project's folder. Install it with: sudo apt-get install ./zandrel_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

# dpkg-shlibdeps (dpkg-dev) and file find the package's dependencies.
scripts/install-deps.sh dpkg-dev file
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DZANDREL_BUILD_TESTS=OFF -DZANDREL_BUILD_BENCH=OFF
cmake --build build-package
(cd build-package && cpack -G DEB)
cp build-package/zandrel_*.deb .
ls -l zandrel_*.deb
