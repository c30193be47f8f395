#!/usr/bin/env python3
"""Assembles a tiled "vtd" source file from square tile pictures.

The file is a run of chunks, each a 12-byte header (u16 key, u16 encoding,
u16 index, u16 unused, u32 data length, little-endian) and its data. The
first chunk (key 0) carries the u32 flags, width and height the map file's
trailer will get; then one chunk per tile, keyed by the low 16 bits of the
flags and numbered 1, 2, 3, ... image by image, row by row, left to right.

usage: make_vtd.py OUT FLAGS WIDTH HEIGHT REPEAT TILE...
  The tiles of one image are given in row order; REPEAT writes them that many
  times (twelve monthly images from a single picture). Tiles ending in .jpg
  are marked JPEG, anything else PNG.
"""
import struct
import sys

ENCODING_JPEG = 1
ENCODING_PNG = 2


def chunk(key, encoding, index, data):
    return struct.pack("<HHHHI", key, encoding, index, 0, len(data)) + data


def main():
    if len(sys.argv) < 7:
        sys.exit(__doc__)
    out, flags, width, height, repeat = sys.argv[1], *map(int, sys.argv[2:6])
    tiles = sys.argv[6:]
    key = flags & 0xFFFF
    index = 1
    with open(out + ".part", "wb") as f:
        f.write(chunk(0, 0, 0, struct.pack("<III", flags, width, height)))
        for _ in range(repeat):
            for path in tiles:
                with open(path, "rb") as t:
                    data = t.read()
                encoding = ENCODING_JPEG if path.lower().endswith(".jpg") else ENCODING_PNG
                f.write(chunk(key, encoding, index, data))
                index += 1
    # Renamed only when complete, so a broken run never looks finished.
    import os
    os.replace(out + ".part", out)


if __name__ == "__main__":
    main()
