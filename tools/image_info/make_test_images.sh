#!/usr/bin/env bash
# Writes the decoder results' test images into OUT with Debian's image tools (ImageMagick's
# convert and netpbm), from ImageMagick's built-in 70x46 "rose:" picture, so the decoders
# meet files that real writers produce. A few variants are cut short on purpose.
# usage: make_test_images.sh OUT
set -euo pipefail
out="$1"
mkdir -p "$out"
cd "$out"
alpha_x=(-alpha set -channel A -fx "i/w" +channel)
alpha_y=(-alpha set -channel A -fx "j/h" +channel)

# bmp: ImageMagick's three header versions, palettes of 1, 4 and 8 bits, alpha; netpbm
convert rose: bmp3:rose24.bmp
convert rose: bmp2:rose24_v2.bmp
convert rose: "${alpha_x[@]}" bmp:rose32_alpha_v5.bmp
convert rose: -colors 200 -type Palette bmp3:rose8.bmp
convert rose: -colors 16 -type Palette bmp3:rose4.bmp
convert rose: -monochrome bmp3:rose1.bmp
convert rose: ppm:- | ppmtobmp 2>/dev/null > rose24_netpbm.bmp
head -c 4000 rose24.bmp > rose24_cut.bmp

# tga: true colour plain and run-length, alpha, grey, colour-mapped; netpbm
convert rose: tga:rose24.tga
convert rose: -compress RLE tga:rose24_rle.tga
convert rose: "${alpha_y[@]}" tga:rose32_alpha.tga
convert rose: -colorspace gray tga:rose_grey.tga
convert rose: -colors 64 -type Palette tga:rose8.tga
convert rose: ppm:- | ppmtotga -rgb 2>/dev/null > rose24_netpbm.tga
head -c 3000 rose24_rle.tga > rose24_rle_cut.tga

# ppm: raw and plain, 16-bit (refused for raw)
convert rose: ppm:rose.ppm
convert rose: -compress none ppm:rose_plain.ppm
convert rose: -depth 16 ppm:rose16.ppm
convert rose: -depth 16 -compress none ppm:rose16_plain.ppm
head -c 5000 rose.ppm > rose_cut.ppm

# pfm: ImageMagick and netpbm
convert rose: pfm:rose.pfm
convert rose: pam:- | pamtopfm 2>/dev/null > rose_netpbm.pfm

# hdr: ImageMagick's run-length scanlines
convert rose: hdr:rose.hdr
head -c 6000 rose.hdr > rose_cut.hdr

# dds: uncompressed with mip levels, DXT1, DXT5 with alpha
convert rose: -define dds:compression=none dds:rose.dds
convert rose: -define dds:compression=dxt1 dds:rose_dxt1.dds
convert rose: "${alpha_x[@]}" -define dds:compression=dxt5 dds:rose_dxt5.dds
convert rose: -define dds:compression=dxt1 -define dds:mipmaps=0 dds:rose_dxt1_one_level.dds
head -c 1000 rose_dxt1.dds > rose_dxt1_cut.dds

# jpeg: colour, grey, progressive, CMYK (refused), netpbm, cut short (refused)
convert rose: -quality 90 jpg:rose.jpg
convert rose: -colorspace gray jpg:rose_grey.jpg
convert rose: -interlace Plane jpg:rose_progressive.jpg
convert rose: -colorspace cmyk jpg:rose_cmyk.jpg
convert rose: ppm:- | pnmtojpeg 2>/dev/null > rose_netpbm.jpg
head -c 1500 rose.jpg > rose_cut.jpg

# png: RGB, palette, 16-bit RGB, RGBA of 8 and 16 bits, grey, interlaced, netpbm, cut short
convert rose: -strip png:rose.png
convert rose: -strip PNG8:rose_palette.png
convert rose: -strip PNG48:rose48.png
convert rose: -strip "${alpha_x[@]}" PNG32:rose32.png
convert rose: -strip "${alpha_x[@]}" PNG64:rose64.png
convert rose: -strip -colorspace gray png:rose_grey.png
convert rose: -strip -interlace PNG png:rose_interlaced.png
convert rose: ppm:- | pnmtopng 2>/dev/null > rose_netpbm.png
head -c 3000 rose.png > rose_cut.png
