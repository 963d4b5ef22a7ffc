#!/usr/bin/env bash
# Draws the version window's picture: a white chess knight (U+265E from DejaVu Sans) on a dark
# blue ground, 80 x 80, saved as a baseline colour JPEG in resources/pictures/knight.jpg.
# Needs ImageMagick and fonts-dejavu-core.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
[ -r "$font" ] || { echo "missing $font (fonts-dejavu-core)" >&2; exit 1; }
convert -size 80x80 xc:'#0b1f5c' \
    -font "$font" -pointsize 66 -fill white -gravity center -annotate +0+2 $'\u265e' \
    -strip -interlace none -sampling-factor 4:2:0 -type TrueColor -quality 90 \
    "jpeg:$root/resources/pictures/knight.jpg"
