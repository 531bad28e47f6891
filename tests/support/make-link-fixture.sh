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
# Links a test swaps in by renaming them (a Windows program under Wine cannot make one): each
# points to C:\kltswap-decoy, which stands for System32 and must never lose a file.
rm -rf "$drive/kltswap" "$drive/kltswap-decoy"
mkdir -p "$drive/kltswap" "$drive/kltswap-decoy"
for name in victim.dll busy.dll a0.dll; do printf 'decoy\n' > "$drive/kltswap-decoy/$name"; done
# Absolute targets: a link renamed into another folder still leads to the decoy.
decoy="$(cd "$drive/kltswap-decoy" && pwd)"
for n in 1 2 3 4; do ln -s "$decoy" "$drive/kltswap/link$n"; done
