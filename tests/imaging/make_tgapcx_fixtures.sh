#!/bin/bash
# TGA and PCX fixtures for the codec tests, made with ImageMagick, each with a
# raw RGB dump (top row first) of what ImageMagick decodes from it. Variants
# the tool does not write (16-bit pixels, runs across rows, origin twins,
# 16-bit colour maps, bit planes) are derived from its files by the script
# below, and ImageMagick still makes their dumps.
set -euo pipefail
out="$1"
rm -rf "$out"
mkdir -p "$out"
cd "$out"
export MAGICK_THREAD_LIMIT=1
# 37 x 23: odd sizes exercise odd bytes per line and partial bytes.
base="rose: -resize 37x23! +repage"
alpha="-alpha set -channel A -fx (i+j)/(w+h) +channel"
convert -size 2x1 xc:black xc:white +append bw.gif

convert $base tga:t24.tga
convert $base -orient TopLeft tga:t24tl.tga
convert $base -compress RLE tga:t24r.tga
convert $base $alpha tga:t32.tga
convert $base $alpha -compress RLE tga:t32r.tga
convert $base +dither -colors 40 -type palette tga:t8.tga
convert $base +dither -colors 40 -type palette -compress RLE tga:t8r.tga
convert $base -colorspace gray tga:g8.tga
convert $base -colorspace gray -compress RLE tga:g8r.tga
# Flat areas, so that runs are long and cross the row ends.
convert $base -posterize 3 -type TrueColor tga:tp24.tga

convert $base +dither -remap bw.gif pcx:p1.pcx
convert $base +dither -colors 40 pcx:p8.pcx
convert $base +dither -colors 16 pcx:p16.pcx
convert $base -type TrueColor pcx:p24.pcx
convert $base $alpha pcx:p32.pcx
rm bw.gif

python3 - <<'EOF'
import struct

def load(name):
    return bytearray(open(name, 'rb').read())

def tga_parts(t):
    idlen, maptype, itype = t[0], t[1], t[2]
    first, maplen, entry = struct.unpack_from('<HHB', t, 3)
    w, h, depth, desc = struct.unpack_from('<HHBB', t, 12)
    at = 18 + idlen
    cmap = t[at:at + maplen * entry // 8]
    at += len(cmap)
    return w, h, depth, desc, cmap, t[at:at + w * h * depth // 8]

def tga_header(itype, w, h, depth, desc=0, maptype=0, maplen=0, entry=0):
    return struct.pack('<BBBHHBHHHHBB', 0, maptype, itype, 0, maplen, entry, 0, 0, w, h, depth, desc)

def rle_all(pixels, size):   # one stream of packets, runs crossing the row ends
    px = [bytes(pixels[i:i + size]) for i in range(0, len(pixels), size)]
    data, i = bytearray(), 0
    while i < len(px):
        n = 1
        while i + n < len(px) and n < 128 and px[i + n] == px[i]:
            n += 1
        if n >= 2:
            data += bytes([127 + n]) + px[i]
            i += n
            continue
        j = i + 1
        while j < len(px) and j - i < 128 and not (j + 1 < len(px) and px[j + 1] == px[j]):
            j += 1
        data += bytes([j - i - 1]) + b''.join(px[i:j])
        i = j
    return data

def to16(pixels):   # blue, green, red bytes to 5-5-5 words
    out = bytearray()
    for i in range(0, len(pixels), 3):
        b, g, r = pixels[i], pixels[i + 1], pixels[i + 2]
        out += struct.pack('<H', (r >> 3) << 10 | (g >> 3) << 5 | b >> 3)
    return out

w, h, depth, desc, cmap, px = tga_parts(load('t24.tga'))
open('t16.tga', 'wb').write(tga_header(2, w, h, 16) + to16(px))
open('t16r.tga', 'wb').write(tga_header(10, w, h, 16) + rle_all(to16(px), 2))

w, h, depth, desc, cmap, px = tga_parts(load('tp24.tga'))
open('tp24x.tga', 'wb').write(tga_header(10, w, h, 24) + rle_all(px, 3))
open('tp16x.tga', 'wb').write(tga_header(10, w, h, 16) + rle_all(to16(px), 2))
mirrored = b''.join(px[y * w * 3 + (w - 1 - x) * 3:][:3] for y in range(h) for x in range(w))
open('tp24rtl.tga', 'wb').write(tga_header(2, w, h, 24, 0x10) + mirrored)
flipped = b''.join(px[y * w * 3:(y + 1) * w * 3] for y in reversed(range(h)))
open('tp24tb.tga', 'wb').write(tga_header(2, w, h, 24, 0x20) + flipped)

# A colour map of 16-bit entries.
w, h, depth, desc, cmap, px = tga_parts(load('t8.tga'))
n = len(cmap) // 3
open('t8m16.tga', 'wb').write(tga_header(1, w, h, 8, 0, 1, n, 16) + to16(cmap) + px)

# 16 colours as four bit planes, from the tool's one-plane 8-bit file.
def pcx_unpack(p, total):
    data, at = bytearray(), 128
    while len(data) < total:
        c = p[at]; at += 1
        if c >= 0xC0:
            data += bytes([p[at]]) * (c & 0x3F); at += 1
        else:
            data.append(c)
    return data, at

def pcx_pack(line):
    out, i = bytearray(), 0
    while i < len(line):
        n = 1
        while i + n < len(line) and n < 63 and line[i + n] == line[i]:
            n += 1
        if n > 1 or line[i] >= 0xC0:
            out += bytes([0xC0 | n, line[i]])
        else:
            out.append(line[i])
        i += n
    return out

p = load('p16.pcx')
xmin, ymin, xmax, ymax = struct.unpack_from('<HHHH', p, 4)
w, h, bpl = xmax - xmin + 1, ymax - ymin + 1, struct.unpack_from('<H', p, 66)[0]
data, at = pcx_unpack(p, bpl * h)
palette = p[at + 1:at + 1 + 48]
obpl = ((w + 7) // 8 + 1) & ~1
head = bytearray(p[:128])
head[3] = 1
head[16:64] = palette
head[65] = 4
struct.pack_into('<H', head, 66, obpl)
body = bytearray()
for y in range(h):
    row = data[y * bpl:y * bpl + w]
    for plane in range(4):
        line = bytearray(obpl)
        for x in range(w):
            if row[x] >> plane & 1:
                line[x >> 3] |= 0x80 >> (x & 7)
        body += pcx_pack(line)
open('p4.pcx', 'wb').write(head + body)
EOF

# ImageMagick writes its TGA rows top row first whatever the origin bit says,
# and places rows by the origin only when asked to orient the picture.
for f in *.tga *.pcx; do
    convert "$f" -auto-orient -alpha off -depth 8 "rgb:${f%.*}.rgb"
done
touch .complete
