#!/usr/bin/env bash
# Renders the fixed-size program icons from the SVG. Run after changing the SVG and commit the
# PNGs: the build then needs no SVG renderer. Needs rsvg-convert (Debian: librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/hicolor"

id=org.quellpost.Quellpost
for size in 16 32 48 256; do
  mkdir -p "${size}x${size}/apps"
  rsvg-convert --width "$size" --height "$size" --output "${size}x${size}/apps/$id.png" "scalable/apps/$id.svg"
done
