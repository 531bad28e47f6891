#!/bin/sh
# Draws the program's icon and its two pictures with ImageMagick:
#   searching.gif  animated magnifier sweeping over registry "keys" (played during a search)
#   idle.gif       the same scene at rest
#   klarner.ico    the program icon (16, 32 and 48 pixels)
# Run from anywhere; writes into the folder of this script. The results are committed.
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

scene() { # $1 = output, $2 = magnifier x offset
  convert -size 64x48 xc:'#f0f0f0' \
    -fill '#2f6db5' -draw 'rectangle 6,8 40,13' -draw 'rectangle 6,20 52,25' -draw 'rectangle 6,32 34,37' \
    -fill '#9bbbe0' -draw 'rectangle 44,8 56,13' -draw 'rectangle 38,32 56,37' \
    -stroke '#3a3a3a' -strokewidth 3 -fill none -draw "circle $(( $2 + 14 )),22 $(( $2 + 14 )),31" \
    -draw "line $(( $2 + 20 )),29 $(( $2 + 27 )),37" \
    "$1"
}

i=0
for x in 0 6 12 18 24 30 24 18 12 6; do
  scene "$tmp/f$i.png" "$x"
  i=$((i + 1))
done
convert -delay 12 -loop 0 "$tmp"/f0.png "$tmp"/f1.png "$tmp"/f2.png "$tmp"/f3.png "$tmp"/f4.png \
  "$tmp"/f5.png "$tmp"/f6.png "$tmp"/f7.png "$tmp"/f8.png "$tmp"/f9.png -layers Optimize searching.gif
scene idle.gif 0

convert -size 48x48 xc:none -fill '#2f6db5' -draw 'roundrectangle 2,2 45,45 8,8' \
  -stroke white -strokewidth 4 -fill none -draw 'circle 20,20 20,32' -draw 'line 28,28 40,40' \
  -define icon:auto-resize=48,32,16 klarner.ico
