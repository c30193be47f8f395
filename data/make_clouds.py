#!/usr/bin/env python3
"""Writes a seamless 2:1 grey cloud picture as a binary PGM.

Fractal value noise is sampled on the unit sphere, so the picture joins at
the date line and has no seam or pinch at the poles. Pure python, so it is
made small and enlarged afterwards.

usage: make_clouds.py OUT.pgm [WIDTH]
"""
import math
import sys


def lattice(ix, iy, iz, seed):
    # Integer hash to [0, 1): deterministic, so every build makes the same picture.
    h = (ix * 374761393 + iy * 668265263 + iz * 2147483647 + seed * 144665) & 0xFFFFFFFF
    h = ((h ^ (h >> 13)) * 1274126177) & 0xFFFFFFFF
    return ((h ^ (h >> 16)) & 0xFFFF) / 65536.0


def smooth(t):
    return t * t * (3 - 2 * t)


def value_noise(x, y, z, seed):
    ix, iy, iz = math.floor(x), math.floor(y), math.floor(z)
    fx, fy, fz = smooth(x - ix), smooth(y - iy), smooth(z - iz)
    total = 0.0
    for dz in (0, 1):
        wz = fz if dz else 1 - fz
        for dy in (0, 1):
            wy = fy if dy else 1 - fy
            for dx in (0, 1):
                wx = fx if dx else 1 - fx
                total += wx * wy * wz * lattice(ix + dx, iy + dy, iz + dz, seed)
    return total


def clouds(width):
    height = width // 2
    octaves = 6
    rows = []
    for row in range(height):
        lat = math.pi / 2 - (row + 0.5) * math.pi / height
        out = bytearray(width)
        for col in range(width):
            lon = (col + 0.5) * 2 * math.pi / width - math.pi
            x = math.cos(lat) * math.cos(lon)
            y = math.cos(lat) * math.sin(lon)
            z = math.sin(lat)
            v, amp, freq, norm = 0.0, 1.0, 5.0, 0.0
            for o in range(octaves):
                v += amp * value_noise(x * freq, y * freq, z * freq, o)
                norm += amp
                amp *= 0.55
                freq *= 2.0
            v /= norm
            # Clear sky below a threshold, then a soft ramp to full cover.
            c = max(0.0, (v - 0.47) / 0.2)
            out[col] = int(255 * min(1.0, c) ** 0.8)
        rows.append(bytes(out))
    return width, height, b"".join(rows)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    width = int(sys.argv[2]) if len(sys.argv) > 2 else 512
    w, h, pixels = clouds(width)
    with open(sys.argv[1], "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (w, h))
        f.write(pixels)


if __name__ == "__main__":
    main()
