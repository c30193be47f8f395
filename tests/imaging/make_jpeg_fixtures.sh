#!/bin/bash
# JPEG and EXIF fixtures made by real tools, with djpeg's own decodes as
# pixel references. Usage: make_jpeg_fixtures.sh OUTDIR
set -euo pipefail
out="$1"
rm -rf "$out"
mkdir -p "$out" "$out/enc"
cd "$out"

# A busy 37x23 picture: odd sizes exercise padding and chroma edges.
convert -seed 3 -size 37x23 gradient:red-blue +noise Uniform -swirl 60 -depth 8 rgb.ppm
cjpeg -quality 85 rgb.ppm > rgb.jpg
djpeg -dct int rgb.jpg > rgb_ref.ppm
djpeg -dct int -scale 1/2 rgb.jpg > rgb_half_ref.ppm
cjpeg -quality 85 -progressive rgb.ppm > progressive.jpg
cjpeg -quality 85 -grayscale rgb.ppm > gray.jpg
djpeg -dct int gray.jpg > gray_ref.pgm
convert rgb.ppm -colorspace CMYK -quality 90 cmyk.jpg

# JFIF densities.
cp rgb.jpg dens_cm.jpg
exiftool -q -overwrite_original -JFIF:ResolutionUnit=cm -JFIF:XResolution=28 \
    -JFIF:YResolution=28 dens_cm.jpg
cp rgb.jpg dens_none.jpg
exiftool -q -overwrite_original -JFIF:ResolutionUnit=none -JFIF:XResolution=1 \
    -JFIF:YResolution=2 dens_none.jpg

# EXIF in both byte orders, with a thumbnail in the second directory.
convert -size 8x8 xc:gray thumb.jpg
for order in II MM; do
    cp rgb.jpg "exif_$order.jpg"
    exiftool -q -overwrite_original -ExifByteOrder="$order" -Make=Acme -Model="Cam 9" \
        -DateTimeOriginal="2024:05:06 07:08:09" -Orientation#=6 -FNumber=2.8 \
        -ExposureTime=1/125 -ISO=200 -FocalLength=35 -XResolution=300 -YResolution=150 \
        -ResolutionUnit=inches -ExifIFD:Flash#=1 -UserComment=Hello -ExposureProgram#=2 \
        -MeteringMode#=5 "-ThumbnailImage<=thumb.jpg" "exif_$order.jpg"
done
stat -c %s thumb.jpg > thumb.size
touch .complete
