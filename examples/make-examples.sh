#!/usr/bin/env bash
# Writes the example images of this folder with zandrel-mkimage.
#   examples/make-examples.sh [path/to/zandrel-mkimage] [output folder]
# Without arguments: build/bin/zandrel-mkimage, into this folder.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
mkimage="${1:-$here/../build/bin/zandrel-mkimage}"
out="${2:-$here}"

"$mkimage" --target varnix --name "VARNIX App" --description "VARNIX interface application" \
    --date "Dec 01 2026" --time "08:15:00" --revision 2.18 --size 16384 \
    -o "$out/varnix-app-2.18.hex"
"$mkimage" --target varnix --name "VARNIX App" --description "VARNIX application, next" \
    --date "Dec 09 2026" --time "17:40:00" --revision 3.0 --size 20480 \
    -o "$out/varnix-app-3.0.hex"
"$mkimage" --target varnix-hw2 --name "VARNIX App" --description "VARNIX hardware 2 application" \
    --date "Dec 01 2026" --time "08:20:00" --revision 2.18 --size 16384 \
    -o "$out/varnix-hw2-app-2.18.hex"
"$mkimage" --target canopen --name "CANopen App" --description "CANopen node application" \
    --date "Dec 02 2026" --time "10:00:00" --revision 1.6 --size 65536 \
    -o "$out/canopen-app-1.6.hex"
"$mkimage" --target canopen --name "CANopen App" --description "CANopen application, next" \
    --date "Dec 09 2026" --time "18:05:00" --revision 2.0 --size 131072 \
    -o "$out/canopen-app-2.0.hex"
"$mkimage" --target devicenet --name "DeviceNet App" --description "DeviceNet node application" \
    --date "Dec 03 2026" --time "09:30:00" --revision 1.6 --size 65536 \
    -o "$out/devicenet-app-1.6.hex"
