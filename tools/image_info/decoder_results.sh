#!/usr/bin/env bash
# Runs image-info over every test image and writes one results file per decoder family
# (by file extension): file, size, result, file format, size and formats as decoded, and the
# SHA-256 of the --pixels output. Compared with the checked-in files, its diff shows every
# change of behaviour. To accept a change, run it with the source folder as OUT:
#   decoder_results.sh build/test/tools/image_info/image-info build/test/tools/image_info/images texture/testdata/results
# usage: decoder_results.sh IMAGE_INFO IMAGES OUT
set -euo pipefail
tool="$1"
images="$2"
out="$3"
mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
field() { sed -n "s/^  \"$1\": \"\{0,1\}\([^\",]*\)\"\{0,1\},\{0,1\}$/\1/p" "$2"; }
for family in bmp tga ppm pfm hdr dds jpg png; do
  {
    echo "file,size,result,file_format,width,height,depth,mip_levels,faces,format,decoded_format,pixels_sha256"
    for file in "$images"/*."$family"; do
      [ -e "$file" ] || continue
      "$tool" "$file" --pixels "$work/pixels" > "$work/json" || true
      if [ "$(field result "$work/json")" = "0x00000000" ]; then
        hash="$(sha256sum < "$work/pixels" | cut -d' ' -f1)"
      else
        hash="-"
      fi
      rm -f "$work/pixels"
      echo "$(basename "$file"),$(stat -c %s "$file"),$(field result "$work/json"),$(field file_format "$work/json"),$(field width "$work/json"),$(field height "$work/json"),$(field depth "$work/json"),$(field mip_levels "$work/json"),$(field faces "$work/json"),$(field format "$work/json"),$(field decoded_format "$work/json"),$hash"
    done
  } > "$out/$family.csv"
done
