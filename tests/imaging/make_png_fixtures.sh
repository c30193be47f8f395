#!/bin/bash
# PNG fixtures for the PNG codec tests, made with ImageMagick, each with a raw
# RGBA dump of what ImageMagick decodes (16-bit files: 16-bit big-endian dump).
set -euo pipefail
out="$1"
rm -rf "$out"
mkdir -p "$out"
cd "$out"
export MAGICK_THREAD_LIMIT=1
# 37 x 23: odd sizes exercise row padding and partial bytes.
base="rose: -resize 37x23! +repage"
alpha="-alpha set -channel A -fx (i+j)/(w+h) +channel"
make() {   # name, arguments...
    local name="$1"; shift
    convert $base "$@" "png:$name.png"
}
make grey8    -colorspace gray -define png:color-type=0 -define png:bit-depth=8
make grey1    -colorspace gray +dither -monochrome -define png:color-type=0 -define png:bit-depth=1
make grey2    -colorspace gray -depth 2 -define png:color-type=0 -define png:bit-depth=2
make grey4    -colorspace gray -depth 4 -define png:color-type=0 -define png:bit-depth=4
make greyalpha -colorspace gray -depth 8 $alpha -define png:color-type=4 -define png:bit-depth=8
make greyalpha16 -colorspace gray -depth 16 -blur 0x1.2 $alpha -define png:color-type=4 -define png:bit-depth=16
make rgb      -define png:color-type=2
make rgba     $alpha -define png:color-type=6
make rgb16    -depth 16 -blur 0x1.2 -define png:color-type=2 -define png:bit-depth=16
make grey16   -depth 16 -colorspace gray -blur 0x1.2 -define png:color-type=0 -define png:bit-depth=16
make rgbinter -interlace PNG -define png:color-type=2
make grey2inter -colorspace gray -depth 2 -interlace PNG -define png:color-type=0 -define png:bit-depth=2
make rgb16inter -depth 16 -blur 0x1.2 -interlace PNG -define png:color-type=2 -define png:bit-depth=16
make pal8     +dither -colors 40 -define png:color-type=3 -define png:bit-depth=8
make pal4     +dither -colors 12 -define png:color-type=3 -define png:bit-depth=4
nobkgd="-define png:exclude-chunk=bKGD"   # else ImageMagick refuses low depths
make pal2     +dither -colors 4 -define png:color-type=3 -define png:bit-depth=2 $nobkgd
make pal1     +dither -colors 2 -define png:color-type=3 -define png:bit-depth=1 $nobkgd
# Palettes with alpha: several tRNS entries, and one (binary transparency).
convert $base -alpha set -channel A -fx "(i<13&&j<10)?((i%3)/2):1" +channel png32:alpha.tmp
convert png:alpha.tmp +dither -colors 30 -type PaletteAlpha png:paltrns.png
convert png:alpha.tmp +dither -colors 30 png8:paltrns1.png
rm alpha.tmp
make grey2trns -colorspace gray -depth 2 -fill black -draw "rectangle 0,0 5,5" -transparent black \
    -define png:color-type=0 -define png:bit-depth=2
for f in *.png; do
    n="${f%.png}"
    case "$n" in
    *16*) convert "$f" -depth 16 -endian MSB "rgba:$n.rgba16" ;;
    *)    convert "$f" -depth 8 "rgba:$n.rgba" ;;
    esac
done
pngcheck -q *.png
touch .complete
