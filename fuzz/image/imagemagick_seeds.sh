#!/usr/bin/env bash
# Small seeds for the image fuzzer written by ImageMagick, one per format it writes.
# usage: imagemagick_seeds.sh CONVERT OUT
set -euo pipefail
convert="$1"
mkdir -p "$2"
cd "$2"
for target in bmp3:im.bmp tga:im.tga ppm:im.ppm pfm:im.pfm hdr:im.hdr dds:im.dds jpg:im.jpg PNG8:im.png; do
  "$convert" rose: -resize 9x6 "$target"
done
