#!/usr/bin/env bash
# Renders the hand-drawn SVG artwork into the PNG files that the build embeds and installs.
# Run after editing icons/pulsewick.svg or splash.svg, and commit the PNGs: the build itself
# never needs a renderer. Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
command -v rsvg-convert >/dev/null || { echo "rsvg-convert not found (apt-get install librsvg2-bin)" >&2; exit 1; }

for size in 16 22 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" "$here/icons/pulsewick.svg" -o "$here/icons/pulsewick-$size.png"
done
rsvg-convert -w 520 -h 317 "$here/splash.svg" -o "$here/splash.png"
