"""Writes the sources of the data-maintenance test into a folder: a small
city-light "vtd" (8 by 4 grey pixels in two 4 by 4 PNG tiles) and two text
files; the build then packs them with the host's zip."""
import struct
import sys
import zlib


def png_grey(side, seed):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    rows = b"".join(b"\0" + bytes((seed + 7 * x + 3 * y) & 255 for x in range(side))
                    for y in range(side))
    header = struct.pack(">IIBBBBB", side, side, 8, 0, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows))
            + chunk(b"IEND", b""))


def vtd_chunk(key, index, data):
    return struct.pack("<HHHHI", key, 2, index, 0, len(data)) + data


def main(folder):
    urban = 2
    vtd = vtd_chunk(0, 7, struct.pack("<III", urban, 8, 4))
    vtd += vtd_chunk(urban, 1, png_grey(4, 10)) + vtd_chunk(urban, 2, png_grey(4, 90))
    with open(folder + "/Lights.vtd", "wb") as f:
        f.write(vtd)
    with open(folder + "/a.txt", "w") as f:
        f.write("first entry payload AAAAAAAAAAAAAAAA")
    with open(folder + "/b.txt", "w") as f:
        f.write("second entry payload")


main(sys.argv[1])
