#!/usr/bin/env bash
# A product folder with a link inside, for the files test: "C:\Program Files\kltlinkfix Suite"
# holds a file and "shared", a link to C:\kltlinkfix-target, which holds keep.txt.
set -euo pipefail
drive="${WINEPREFIX:-$1/wineprefix}/drive_c"
product="$drive/Program Files/kltlinkfix Suite"
rm -rf "$product" "$drive/kltlinkfix-target"
mkdir -p "$product" "$drive/kltlinkfix-target"
printf 'keep\n' > "$drive/kltlinkfix-target/keep.txt"
printf 'MZ' > "$product/inner.dll"
ln -s ../../kltlinkfix-target "$product/shared"
