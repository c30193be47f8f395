#!/bin/bash
# GIF fixtures for the GIF codec tests, made with ImageMagick, each with a raw
# RGBA dump of what ImageMagick decodes (animations: one dump per frame, as
# ImageMagick composes them).
set -euo pipefail
out="$1"
rm -rf "$out"
mkdir -p "$out"
cd "$out"
export MAGICK_THREAD_LIMIT=1
# 37 x 23: odd sizes exercise row padding and partial bytes.
base="rose: -resize 37x23! +repage +dither"
convert $base -colors 200 pal8.gif
convert $base -colors 12 pal4.gif
convert $base -colors 4 pal2.gif
convert $base -monochrome pal1.gif
convert $base -colors 60 gif87:gif87.gif
convert pal8.gif -interlace GIF inter.gif
convert rose: -resize 5x4! +dither -colors 8 -interlace GIF inter4.gif
convert rose: -resize 7x13! +dither -colors 8 -interlace GIF inter13.gif
# Every one of 256 grey levels: index 255 is a real colour.
convert -size 3x256 gradient:black-white -rotate 90 -colorspace gray +dither -colors 256 grey256.gif
# Transparent pixels in a palette image.
convert $base -colors 40 -fill red -draw "rectangle 3,3 12,9" -transparent red trans.gif
# An animation on a 40 x 30 screen: frame 1 is disposed to the background,
# frame 2 to the previous picture, frame 3 stays.
convert -size 40x30 xc:skyblue -fill navy -draw "rectangle 0,0 9,29" -transparent navy f0.png
convert -size 40x30 xc:orange -fill navy -draw "rectangle 10,5 29,14" -transparent navy f1.png
convert -size 12x9 xc:green -fill navy -draw "rectangle 3,3 5,5" -transparent navy -repage 12x9+20+15 f2.png
convert -size 8x6 xc:yellow -repage 8x6+3+20 f3.png
convert -size 5x5 xc:purple -repage 5x5+30+2 f4.png
# One global table for all frames, with a transparent entry.
convert -size 6x1 xc:none -fill skyblue -draw "point 1,0" -fill orange -draw "point 2,0" \
    -fill green -draw "point 3,0" -fill yellow -draw "point 4,0" -fill purple -draw "point 5,0" pal.png
convert -dispose None -delay 10 f0.png -dispose Background f1.png -dispose Previous f2.png \
    -dispose None f3.png f4.png -remap pal.png -set page 40x30 anim.gif
rm f?.png pal.png
for f in *.gif; do
    n="${f%.gif}"
    case "$n" in
    anim) convert "$f" -coalesce -depth 8 +adjoin "rgba:$n-%d.rgba" ;;
    *)    convert "$f" -depth 8 "rgba:$n.rgba" ;;
    esac
done
touch .complete
