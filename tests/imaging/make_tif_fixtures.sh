#!/bin/bash
# TIFF fixtures for the TIFF codec tests, made with ImageMagick, each with a
# raw dump of what ImageMagick decodes (upright, as -auto-orient shows it):
# name.rgb (8-bit RGB), name.rgba (8-bit RGBA) or name.rgb16 (16-bit RGB,
# most significant byte first).
set -euo pipefail
out="$1"
rm -rf "$out"
mkdir -p "$out"
cd "$out"
export MAGICK_THREAD_LIMIT=1
# 37 x 23: odd sizes exercise row padding and partial bytes.
base="rose: -resize 37x23! +repage"
bilevel="-colorspace gray -threshold 45% -depth 1"
make() {   # name, arguments...
    local name="$1"; shift
    convert $base "$@" "tiff:$name.tif"
}
make bw_white   $bilevel -compress none -define quantum:polarity=min-is-white
make bw_black   $bilevel -compress none -define quantum:polarity=min-is-black
make bw_g4      $bilevel -compress group4
make grey2      -colorspace gray -depth 2 -compress none
make grey4      -colorspace gray -depth 4 -compress none
make grey8      -colorspace gray -depth 8 -compress none
make grey8_white -colorspace gray -depth 8 -compress none -define quantum:polarity=min-is-white
make pal4       +dither -colors 12 -type palette -compress none
make pal8       +dither -colors 40 -fill white -draw "point 0,0" -type palette -compress lzw
make rgb        -compress none
make rgba       -alpha set -channel A -fx "(i+j)/(w+h)" +channel -compress none
make rgb_lzw    -compress lzw
make rgb_zip    -compress zip
make grey_packbits -colorspace gray -compress rle
make rgb_jpeg   -compress jpeg -quality 92
make grey_jpeg  -colorspace gray -compress jpeg -quality 92
make rgb_tiled  -define tiff:tile-geometry=16x16 -compress lzw
make grey_tiled -colorspace gray -define tiff:tile-geometry=16x16 -compress none
make pal8_tiled +dither -colors 40 -type palette -define tiff:tile-geometry=16x16 -compress none
make grey16_tiled -colorspace gray -depth 16 -blur 0x1.2 -define tiff:tile-geometry=16x16 -compress none
make grey16     -colorspace gray -depth 16 -blur 0x1.2 -compress none
make rgb16      -depth 16 -blur 0x1.2 -compress none
make lab        -colorspace Lab -compress none
for o in 2 3 4 5 6 7 8; do
    names=(x TopLeft TopRight BottomRight BottomLeft LeftTop RightTop RightBottom LeftBottom)
    make grey_orient$o -colorspace gray -compress none -orient ${names[$o]}
done
make rgb_orient3 -compress none -orient BottomRight
make rgb_orient6 -compress none -orient RightTop
# 12 significant bits in 16-bit samples: brightest sample 0x0FFF.
python3 - <<'PY'
import struct
w, h = 37, 23
vals = [((x * 97 + y * 131) % 4096) for y in range(h) for x in range(w)]
vals[5] = 0x0FFF
open("g12.raw", "wb").write(struct.pack("<%dH" % len(vals), *vals))
PY
convert -size 37x23 -depth 16 -endian LSB gray:g12.raw -compress none tiff:grey12.tif
rm g12.raw
# Three pages of different sizes.
convert \( $base \) \( $base -resize 20x10! -negate \) \( $base -resize 15x31! -flip \) \
    -compress lzw tiff:multi.tif
for f in *.tif; do
    n="${f%.tif}"
    case "$n" in
    multi) for p in 0 1 2; do convert "multi.tif[$p]" -depth 8 "rgb:multi$p.rgb"; done ;;
    lab)   convert "$f" -colorspace sRGB -depth 8 "rgb:$n.rgb" ;;
    rgba)  convert "$f" -depth 8 "rgba:$n.rgba" ;;
    *16*|grey12) convert "$f" -auto-orient -depth 16 -endian MSB "rgb:$n.rgb16" ;;
    *)     convert "$f" -auto-orient -alpha off -depth 8 "rgb:$n.rgb" ;;
    esac
done
touch .complete
