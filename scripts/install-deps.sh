#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running Zandrel need, and any
# further ones named as arguments, when any is missing. Runs as root, or through sudo when it
# is available.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    qt6-serialbus-dev libqt6serialbus6
    libgtest-dev libbenchmark-dev fonts-dejavu-core
    srecord
    "$@"
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

# sudo resets the environment: the front end is named after it, in the command itself.
as_root=(env DEBIAN_FRONTEND=noninteractive)
[ "$(id -u)" -eq 0 ] || as_root=(sudo "${as_root[@]}")
echo "Installing: ${missing[*]}"
# The caller may have fetched the package lists just before (ZANDREL_APT_LISTS_FRESH=1).
[ "${ZANDREL_APT_LISTS_FRESH:-0}" = 1 ] || "${as_root[@]}" apt-get update
"${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
