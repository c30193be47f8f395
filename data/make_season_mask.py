#!/usr/bin/env python3
"""Writes the grey 864x216 season mask as a binary PGM.

Rows run from the north pole (top) to the south pole. The value says how
strongly the seasons show at that latitude: nothing across the tropics,
rising through the temperate bands to full strength towards the poles. The
mask is the same for every longitude.

usage: make_season_mask.py OUT.pgm
"""
import math
import sys

WIDTH, HEIGHT = 864, 216


def strength(lat_deg):
    a = abs(lat_deg)
    if a <= 23.5:
        return 0.0
    if a >= 66.5:
        return 1.0
    t = (a - 23.5) / (66.5 - 23.5)
    return t * t * (3 - 2 * t)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    rows = []
    for row in range(HEIGHT):
        lat = 90.0 - (row + 0.5) * 180.0 / HEIGHT
        rows.append(bytes([int(round(255 * strength(lat)))]) * WIDTH)
    with open(sys.argv[1], "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (WIDTH, HEIGHT))
        f.write(b"".join(rows))


if __name__ == "__main__":
    main()
