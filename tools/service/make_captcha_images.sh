#!/usr/bin/env bash
# Regenerates the security-code pictures the stand-in serves (run once; the
# results are kept beside this script). Needs ImageMagick. Baseline (SOF0),
# no metadata, so any JPEG decoder reads them with default settings.
set -euo pipefail
cd "$(dirname "$0")"
for size in 130x50 200x70 100x30; do
  w=${size%x*}
  h=${size#*x}
  pt=$((h * 3 / 5))
  convert -size "$size" gradient:'#f4f0d8-#c8d8f0' \
    -fill '#303060' -font DejaVu-Sans-Bold -pointsize "$pt" -gravity center \
    -annotate 8x8+0+0 '4821' -swirl 25 \
    -stroke '#806040' -draw "line 0,$((h / 3)) $w,$((h * 2 / 3))" \
    -strip -interlace none -sampling-factor 2x2 -quality 80 \
    "captcha_${size}.jpg"
done
