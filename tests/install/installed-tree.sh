#!/usr/bin/env bash
# installed-tree.sh CMAKE BUILD_DIR PREFIX DRIVER_DIR DATA_DIR MAN_DIR
# Installs the build into a temporary DESTDIR, checks that every file is where the desktop
# and the programs look for it, and runs the installed zandrel-flash on the simulated CANopen
# network with no ZANDREL_* variable: it must find its drivers from its own place. With the
# driver folder moved away, the same command must fail, so the drivers came from there.
set -euo pipefail
cmake=$1 build=$2 prefix=$3 driverdir=$4 datadir=$5 mandir=$6

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

DESTDIR="$scratch/root" "$cmake" --install "$build" >"$scratch/install.log" ||
    { cat "$scratch/install.log"; fail "cmake --install"; }
root="$scratch/root$prefix"

for file in bin/zandrel bin/zandrel-flash bin/zandrel-nodesim bin/zandrel-mkimage \
    "$driverdir/libVARNIX.so" "$driverdir/libQVX_COPN.so" "$driverdir/libQVX_DNET.so" \
    "$datadir/applications/zandrel.desktop" \
    "$datadir/icons/hicolor/scalable/apps/zandrel.svg" \
    "$mandir/man1/zandrel-flash.1" "$datadir/doc/zandrel/examples/canopen-app-2.0.hex"; do
    [ -f "$root/$file" ] || fail "$file is not installed"
done
for program in zandrel zandrel-flash zandrel-nodesim zandrel-mkimage; do
    [ -x "$root/bin/$program" ] || fail "$program is not executable"
done
grep -qx "Exec=zandrel" "$root/$datadir/applications/zandrel.desktop" ||
    fail "the desktop entry does not start zandrel"
grep -qx "Icon=zandrel" "$root/$datadir/applications/zandrel.desktop" ||
    fail "the desktop entry does not name the icon"

# A clean environment: nothing of the build, its own settings and data folders.
run() {
    env -i PATH=/usr/bin:/bin HOME="$scratch/home" QT_QPA_PLATFORM=offscreen \
        XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data" \
        XDG_CACHE_HOME="$scratch/cache" "$@"
}

for program in zandrel zandrel-flash zandrel-nodesim zandrel-mkimage; do
    run "$root/bin/$program" --help >"$scratch/help" 2>&1 || fail "$program --help"
    grep -q "usage: $program" "$scratch/help" || fail "$program --help shows no usage"
done

run "$root/bin/zandrel-flash" list --bus c --interface sim --yes >"$scratch/list" 2>&1 ||
    { cat "$scratch/list"; fail "the installed zandrel-flash could not list the nodes"; }
grep -q "^Node ID" "$scratch/list" || { cat "$scratch/list"; fail "no node table"; }
grep -q "Simulated I/O Node" "$scratch/list" || { cat "$scratch/list"; fail "node 3 missing"; }

mv "$root/$driverdir" "$scratch/drivers-away"
if run "$root/bin/zandrel-flash" list --bus c --interface sim --yes >"$scratch/list" 2>&1; then
    cat "$scratch/list"
    fail "zandrel-flash listed nodes without its driver folder: it took drivers from elsewhere"
fi
echo "installed tree: every file in place; zandrel-flash found its drivers in $driverdir"
