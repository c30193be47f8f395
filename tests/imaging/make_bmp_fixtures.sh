#!/bin/bash
# Makes the BMP and ICO fixtures with ImageMagick and icoutils, each with a
# raw dump of its pixels made by the same tools (RGB or RGBA, top row first).
set -euo pipefail
out="$1"
rm -rf "$out"
mkdir -p "$out"
cd "$out"

# An odd width exercises row padding at every depth.
convert -seed 7 -size 37x23 plasma:fractal src.ppm

convert src.ppm -monochrome -compress None bmp3:b1.bmp
convert src.ppm -colors 16 -compress None bmp3:b4.bmp
convert src.ppm -colors 200 -compress None bmp3:b8.bmp
convert src.ppm -colors 200 -compress RLE bmp3:r8.bmp
convert src.ppm -type TrueColor bmp3:b24.bmp
convert src.ppm bmp:v5.bmp
convert src.ppm bmp2:core.bmp
convert src.ppm -define bmp:subtype=RGB565 bmp:b16.bmp
convert src.ppm -define bmp:subtype=RGB555 bmp:b16x.bmp
convert src.ppm -alpha set -channel A -evaluate set 50% +channel -define bmp3:alpha=true bmp3:b32.bmp
convert src.ppm -alpha set -channel A -evaluate set 50% +channel bmp:b32f.bmp

# The tools write no RLE4, v4 or top-down files; derive them from theirs.
# ImageMagick reads them back for the raw dumps, so it stays the judge.
python3 - <<'EOF'
import struct

def load(name):
    return bytearray(open(name, 'rb').read())

def rle4(bmp):
    off = struct.unpack_from('<I', bmp, 10)[0]
    w, h = struct.unpack_from('<ii', bmp, 18)
    stride = (w * 4 + 31) // 32 * 4
    data = bytearray()
    for y in range(h):
        row = bmp[off + y * stride: off + (y + 1) * stride]
        px = [(row[i // 2] >> (4 if i % 2 == 0 else 0)) & 15 for i in range(w)]
        i = 0
        while i < w:
            n = 1
            while i + n < w and n < 255 and px[i + n] == px[i]:
                n += 1
            if n >= 3 or w - i < 3:
                data += bytes([n, px[i] << 4 | px[i]])
                i += n
            else:   # an absolute run of 3 to 7 pixels
                n = min(7, w - i)
                chunk = px[i:i + n] + [0]
                data += bytes([0, n])
                data += bytes(chunk[k] << 4 | chunk[k + 1] for k in range(0, n, 2))
                if ((n + 1) // 2) % 2:
                    data += b'\0'
                i += n
        data += b'\0\0'
    data += b'\0\1'
    head = bmp[:off]
    struct.pack_into('<I', head, 30, 2)
    struct.pack_into('<I', head, 34, len(data))
    struct.pack_into('<I', head, 2, len(head) + len(data))
    return head + data

def v4(bmp):
    # A 124-byte header without its last 16 bytes is a 108-byte one.
    out = bmp[:14] + bmp[14:14 + 108] + bmp[14 + 124:]
    struct.pack_into('<I', out, 14, 108)
    struct.pack_into('<I', out, 10, struct.unpack_from('<I', bmp, 10)[0] - 16)
    struct.pack_into('<I', out, 2, len(out))
    return out

def topdown(bmp):
    off = struct.unpack_from('<I', bmp, 10)[0]
    w, h = struct.unpack_from('<ii', bmp, 18)
    bits = struct.unpack_from('<H', bmp, 28)[0]
    stride = (w * bits + 31) // 32 * 4
    rows = [bmp[off + y * stride: off + (y + 1) * stride] for y in range(h)]
    out = bmp[:off] + b''.join(reversed(rows))
    struct.pack_into('<i', out, 22, -h)
    return out

def bare(bmp):
    return bmp[14:]

open('r4.bmp', 'wb').write(rle4(load('b4.bmp')))
open('v4.bmp', 'wb').write(v4(load('v5.bmp')))
open('td24.bmp', 'wb').write(topdown(load('b24.bmp')))
open('td8.bmp', 'wb').write(topdown(load('b8.bmp')))
open('bare8.dib', 'wb').write(bare(load('b8.bmp')))
EOF

for f in *.bmp; do
    convert "$f" -depth 8 "rgb:${f%.bmp}.rgb"
done
cp b8.rgb bare8.rgb

# Icons of several sizes and depths; the last entry is stored as PNG.
convert -seed 9 -size 20x20 plasma: -colors 2 png8:i1.png
convert -seed 3 -size 16x16 plasma: -colors 15 \( +clone -fill white -colorize 100 -fill black \
    -draw 'rectangle 0,0 3,15' \) -alpha off -compose copy_opacity -composite png8:i4.png
convert -seed 4 -size 32x32 plasma: -colors 200 png8:i8.png
convert -seed 6 -size 24x24 plasma: \( +clone -fill white -colorize 100 -fill black \
    -draw 'rectangle 0,0 7,23' \) -alpha off -compose copy_opacity -composite png32:i24.png
convert -seed 5 -size 48x48 plasma: \( -size 48x48 gradient:white-black \) -alpha off \
    -compose copy_opacity -composite png32:i32.png
convert -seed 8 -size 256x256 plasma: png24:i256.png
icotool -c -o set.ico i1.png i4.png i8.png i24.png i32.png -r i256.png
for i in 1 2 3 4 5 6; do
    icotool -x -i $i -o "x$i.png" set.ico
    convert "x$i.png" -depth 8 "rgba:set$i.rgba"
done
icotool -l set.ico > set.list
touch .complete
