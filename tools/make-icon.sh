#!/usr/bin/env bash
# Draws the program's icon: two business cards, the front one with a portrait and lines of text,
# on a dark blue rounded square (the blue of the version window's picture). Writes the scalable
# packaging/icons/example.olvemark.Tavrona.svg and the PNG sizes of the desktop's icon theme,
# packaging/icons/<N>/example.olvemark.Tavrona.png. Needs librsvg2-bin (rsvg-convert).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$root/packaging/icons
name=example.olvemark.Tavrona
command -v rsvg-convert >/dev/null || { echo "missing rsvg-convert (librsvg2-bin)" >&2; exit 1; }
mkdir -p "$out"
cat >"$out/$name.svg" <<'SVG'
<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">
  <rect x="8" y="8" width="240" height="240" rx="44" fill="#0b1f5c"/>
  <g transform="rotate(-12 128 128)">
    <rect x="44" y="58" width="176" height="112" rx="10" fill="#9fb3c8"/>
  </g>
  <rect x="28" y="92" width="192" height="120" rx="10" fill="#ffffff"/>
  <rect x="28" y="92" width="192" height="14" rx="7" fill="#d24b3c"/>
  <rect x="28" y="99" width="192" height="7" fill="#d24b3c"/>
  <circle cx="76" cy="140" r="17" fill="#3c5a80"/>
  <path d="M48 194 a28 26 0 0 1 56 0 z" fill="#3c5a80"/>
  <rect x="118" y="126" width="84" height="12" rx="4" fill="#0b1f5c"/>
  <rect x="118" y="150" width="70" height="8" rx="4" fill="#7f8fa4"/>
  <rect x="118" y="168" width="80" height="8" rx="4" fill="#7f8fa4"/>
  <rect x="118" y="186" width="56" height="8" rx="4" fill="#7f8fa4"/>
</svg>
SVG
for size in 16 24 32 48 64 128 256; do
    mkdir -p "$out/$size"
    rsvg-convert -w "$size" -h "$size" -o "$out/$size/$name.png" "$out/$name.svg"
done
