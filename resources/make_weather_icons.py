#!/usr/bin/env python3
"""Draws the weather icons of the city labels and packs them with icotool.

    make_weather_icons.py OUTDIR

A label draws the icons of a weather condition on top of each other in one
square, so every icon is one layer of a small scene: the sun or moon up
left (1, 2) or small up right (3, 4), clouds in the upper half (10-13 fair,
20-23 rain, 30-33 thunder), and what falls in the lower third (drizzle,
rain, sleet, snow, freezing rain, hail, the lightning bolt). The icons
100-107 stand alone (ash, dust, mist, haze, hurricane, smoke, tornado,
wind) and 999 marks missing data. Each lands in OUTDIR/weather-N.ico at
16, 24, 32 and 48 pixels, and OUTDIR/weather-sheet.png shows every
condition of the label table as the labels stack it, day and night.
"""
import math
import os
import subprocess
import sys
from concurrent.futures import ProcessPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_icons import (box, capsule, circle, intersect, render, ring,  # noqa: E402
                        subtract, triangle, write_png)

SIZES = [16, 24, 32, 48]


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def cloud(cx, cy, w):
    """A cloud of width w centred at (cx, cy): three puffs on a flat base."""
    h = w * 0.5
    return union(circle(cx - w * 0.22, cy + h * 0.05, w * 0.22),
                 circle(cx + w * 0.08, cy - h * 0.22, w * 0.28),
                 circle(cx + w * 0.3, cy + h * 0.1, w * 0.19),
                 box(cx - w * 0.44, cy + h * 0.02, cx + w * 0.49, cy + h * 0.48, h * 0.45))


def edged(shape, fill, edge, px, width=1.0):
    """The shape filled, with an edge of about one pixel so it stands out
    on light and dark label boxes alike."""
    grow = max(width * px, 0.02)
    return [(lambda x, y: shape(x, y) - grow, edge), (shape, fill)]


def sun(cx, cy, r, px):
    rays = []
    for k in range(8):
        a = k * math.pi / 4
        rays.append(capsule(cx + math.cos(a) * r * 1.35, cy + math.sin(a) * r * 1.35,
                            cx + math.cos(a) * r * 1.8, cy + math.sin(a) * r * 1.8,
                            max(r * 0.13, 0.6 * px)))
    gold, rim = (255, 200, 30, 255), (200, 110, 0, 255)
    return [(union(*rays), (255, 170, 20, 255))] + edged(circle(cx, cy, r), gold, rim, px)


def moon(cx, cy, r, px):
    shape = subtract(circle(cx, cy, r), circle(cx + r * 0.55, cy - r * 0.35, r * 0.8))
    return edged(shape, (245, 240, 200, 255), (120, 120, 90, 255), px)


WHITE = (250, 250, 252, 255)
LIGHT = (222, 226, 232, 255)
GREY = (165, 170, 180, 255)
DARK = (105, 110, 122, 255)
STORM = (85, 80, 105, 255)
EDGE = (60, 64, 75, 255)


def cloud_layer(cx, cy, w, fill):
    return lambda px: edged(cloud(cx, cy, w), fill, EDGE, px)


def drops(points, length, fill, px):
    """Slanted streaks, top at each point."""
    shapes = [capsule(x, y, x - length * 0.3, y + length, max(0.035, 0.7 * px))
              for x, y in points]
    return [(union(*shapes), fill)]


def dots(points, r, fill, px):
    return edged(union(*(circle(x, y, max(r, 0.8 * px)) for x, y in points)), fill, EDGE, px)


def flakes(points, r, px):
    out = []
    for x, y in points:
        arms = [capsule(x - math.cos(a) * r, y - math.sin(a) * r,
                        x + math.cos(a) * r, y + math.sin(a) * r, max(r * 0.2, 0.55 * px))
                for a in (math.pi / 2, math.pi / 6, -math.pi / 6)]
        shape = union(*arms)
        out += edged(shape, WHITE, (70, 110, 170, 255), px, 0.8)
    return out


RAIN = (40, 110, 230, 255)
ICY = (120, 200, 240, 255)

ROW1, ROW2 = 0.66, 0.8   # tops of the lower and upper lines of what falls


def bolt(px):
    shape = union(triangle((0.56, 0.46), (0.38, 0.74), (0.52, 0.72)),
                  triangle((0.52, 0.66), (0.62, 0.64), (0.44, 0.97)))
    return edged(shape, (255, 225, 40, 255), (150, 90, 0, 255), px)


def mist(px):
    bands = union(*(capsule(0.15 + k * 0.05, 0.3 + k * 0.18, 0.85 - k * 0.04, 0.3 + k * 0.18,
                            max(0.045, 0.7 * px)) for k in range(4)))
    return [(lambda x, y: bands(x, y) - max(0.025, px), (110, 115, 125, 255)),
            (bands, (200, 205, 212, 255))]


def haze(px):
    return sun(0.5, 0.42, 0.2, px) + [
        (union(*(capsule(0.12, y, 0.88, y, max(0.035, 0.6 * px)) for y in (0.5, 0.66, 0.82))),
         (215, 180, 120, 230))]


def dust(px):
    sand = (205, 160, 90, 255)
    waves = union(*(capsule(0.12 + 0.1 * (k % 2), 0.3 + 0.2 * k, 0.82 + 0.06 * (k % 2),
                            0.3 + 0.2 * k, max(0.04, 0.7 * px)) for k in range(3)))
    grains = union(*(circle(x, y, max(0.035, 0.7 * px))
                     for x, y in ((0.25, 0.2), (0.7, 0.42), (0.4, 0.58), (0.8, 0.78))))
    return edged(union(waves, grains), sand, (120, 80, 30, 255), px)


def ash(px):
    mountain = triangle((0.1, 0.92), (0.9, 0.92), (0.5, 0.5))
    crater = box(0.42, 0.45, 0.58, 0.56)
    plume = union(circle(0.45, 0.32, 0.14), circle(0.62, 0.22, 0.12), circle(0.35, 0.16, 0.1))
    return (edged(subtract(mountain, crater), (120, 85, 60, 255), (60, 40, 30, 255), px) +
            edged(plume, (90, 90, 95, 255), (40, 40, 45, 255), px))


def hurricane(px):
    arms = []
    for k in range(2):
        a0 = k * math.pi
        arms.append(lambda x, y, a0=a0: arm(x, y, a0))
    core = ring(0.5, 0.5, 0.16, max(0.05, 0.8 * px))

    def arm(x, y, a0):
        # A quarter spiral from the ring outwards.
        best = 9.0
        for i in range(16):
            t = i / 15
            a = a0 + t * math.pi * 0.75
            r = 0.16 + t * 0.26
            best = min(best, math.hypot(x - 0.5 - math.cos(a) * r, y - 0.5 - math.sin(a) * r))
        return best - max(0.05, 0.8 * px)
    shape = union(core, *arms)
    return edged(shape, (220, 60, 50, 255), (110, 20, 20, 255), px)


def smoke(px):
    stack = box(0.18, 0.6, 0.34, 0.95)
    puffs = union(circle(0.3, 0.48, 0.1), circle(0.45, 0.34, 0.13), circle(0.65, 0.22, 0.16))
    return (edged(stack, (150, 70, 50, 255), (70, 30, 20, 255), px) +
            edged(puffs, (150, 150, 155, 255), (80, 80, 85, 255), px))


def tornado(px):
    rows = union(*(capsule(0.5 - w + k * 0.03, 0.14 + k * 0.15, 0.5 + w + k * 0.03,
                           0.14 + k * 0.15, max(0.045, 0.7 * px))
                   for k, w in enumerate((0.36, 0.28, 0.2, 0.13, 0.07, 0.02))))
    return edged(rows, (150, 150, 160, 255), (60, 60, 70, 255), px)


def wind(px):
    lines = union(capsule(0.1, 0.3, 0.7, 0.3, max(0.04, 0.7 * px)),
                  capsule(0.1, 0.5, 0.85, 0.5, max(0.04, 0.7 * px)),
                  capsule(0.1, 0.7, 0.6, 0.7, max(0.04, 0.7 * px)),
                  intersect(ring(0.7, 0.2, 0.1, max(0.04, 0.7 * px)), box(0.7, 0.0, 1.0, 0.3)),
                  intersect(ring(0.6, 0.8, 0.1, max(0.04, 0.7 * px)), box(0.6, 0.7, 1.0, 1.0)))
    return edged(lines, (90, 160, 200, 255), (30, 70, 100, 255), px)


def not_available(px):
    w = max(0.06, 0.9 * px)
    sign = union(ring(0.5, 0.5, 0.36, w), capsule(0.26, 0.26, 0.74, 0.74, w))
    return edged(sign, (170, 170, 175, 255), (70, 70, 75, 255), px)


def freezing(px):
    return (drops([(0.3, ROW1), (0.55, ROW1), (0.8, ROW1)], 0.16, ICY, px) +
            edged(capsule(0.18, 0.93, 0.82, 0.93, max(0.03, 0.6 * px)), ICY, EDGE, px))


def hail(px):
    return dots([(0.3, 0.7), (0.58, 0.66), (0.45, 0.88), (0.75, 0.86)], 0.07, WHITE, px)


# icon number -> layers(px)
ICONS = {
    1: lambda px: sun(0.4, 0.38, 0.2, px),
    2: lambda px: moon(0.4, 0.38, 0.22, px),
    3: lambda px: sun(0.8, 0.18, 0.1, px),
    4: lambda px: moon(0.8, 0.18, 0.12, px),
    10: cloud_layer(0.66, 0.6, 0.5, WHITE),
    11: cloud_layer(0.36, 0.68, 0.5, LIGHT),
    12: cloud_layer(0.56, 0.76, 0.6, GREY),
    13: cloud_layer(0.46, 0.38, 0.74, DARK),
    20: cloud_layer(0.42, 0.32, 0.62, LIGHT),
    21: cloud_layer(0.62, 0.26, 0.52, GREY),
    22: cloud_layer(0.5, 0.42, 0.76, GREY),
    23: cloud_layer(0.46, 0.44, 0.66, DARK),
    30: cloud_layer(0.42, 0.3, 0.62, GREY),
    31: cloud_layer(0.62, 0.24, 0.52, DARK),
    32: cloud_layer(0.5, 0.4, 0.76, DARK),
    33: cloud_layer(0.46, 0.42, 0.66, STORM),
    35: bolt,
    40: lambda px: dots([(0.35, 0.78), (0.65, 0.78)], 0.045, RAIN, px),
    41: lambda px: dots([(0.25, 0.74), (0.5, 0.86), (0.75, 0.74)], 0.045, RAIN, px),
    42: lambda px: dots([(0.2, 0.72), (0.45, 0.72), (0.7, 0.72), (0.33, 0.9),
                         (0.58, 0.9), (0.83, 0.9)], 0.045, RAIN, px),
    50: lambda px: drops([(0.4, ROW1), (0.7, ROW1)], 0.2, RAIN, px),
    51: lambda px: drops([(0.3, ROW1), (0.55, ROW1), (0.8, ROW1), (0.45, ROW2)], 0.16, RAIN, px),
    52: lambda px: drops([(0.25, ROW1), (0.45, ROW1), (0.65, ROW1), (0.85, ROW1),
                          (0.35, ROW2), (0.6, ROW2), (0.85, ROW2)], 0.14, RAIN, px),
    60: lambda px: drops([(0.35, ROW1)], 0.2, RAIN, px) + flakes([(0.68, 0.78)], 0.1, px),
    61: lambda px: (drops([(0.25, ROW1), (0.6, ROW1)], 0.18, RAIN, px) +
                    flakes([(0.45, 0.86), (0.8, 0.82)], 0.09, px)),
    70: lambda px: flakes([(0.5, 0.8)], 0.12, px),
    71: lambda px: flakes([(0.3, 0.78), (0.7, 0.78)], 0.11, px),
    72: lambda px: flakes([(0.2, 0.74), (0.5, 0.74), (0.8, 0.74), (0.35, 0.9), (0.65, 0.9)],
                          0.09, px),
    81: freezing,
    91: hail,
    100: ash,
    101: dust,
    102: mist,
    103: haze,
    104: hurricane,
    105: smoke,
    106: tornado,
    107: wind,
    999: not_available,
}

# The label table's icon rows, as they are stacked: a few for the sheet.
SHEET_ROWS = [
    [1], [1, 10], [1, 10, 11], [1, 10, 11, 12], [10, 11, 12, 13], [3, 20, 22, 50],
    [20, 21, 22, 51], [20, 21, 22, 23, 52], [20, 21, 22, 81], [30, 31, 32, 33, 52, 35],
    [30, 32, 40, 35], [20, 21, 22, 23, 42], [3, 20, 22, 23, 72], [20, 22, 70],
    [20, 21, 22, 61], [3, 20, 22, 60], [30, 31, 32, 91], [102], [103], [101], [100],
    [104], [105], [106], [107], [999],
]


def job(args):
    out, number, size = args
    path = os.path.join(out, "wpng", "w%d-%d.png" % (number, size))
    write_png(path, size, render(ICONS[number], size))
    return path


def main():
    out = sys.argv[1]
    os.makedirs(os.path.join(out, "wpng"), exist_ok=True)
    jobs = [(out, n, s) for n in ICONS for s in SIZES]
    with ProcessPoolExecutor() as pool:
        list(pool.map(job, jobs))
    png = lambda n, s: os.path.join(out, "wpng", "w%d-%d.png" % (n, s))
    for n in ICONS:
        subprocess.run(["icotool", "-c", "-o", os.path.join(out, "weather-%d.ico" % n)] +
                       [png(n, s) for s in SIZES], check=True)
    # The sheet: every sample row stacked as a label stacks it, at 48 and
    # 16 pixels, by day and (sun and moon swapped) by night, on the label's
    # default dark box colour.
    night = {1: 2, 3: 4}
    tiles = []
    for k, row in enumerate(SHEET_ROWS):
        for size in (48, 16):
            for is_night in (False, True):
                tile = os.path.join(out, "wpng", "sheet-%d-%d-%d.png" % (k, size, is_night))
                cmd = ["convert", "-size", "%dx%d" % (size, size), "xc:#203040"]
                for n in row:
                    cmd += [png(night.get(n, n) if is_night else n, size), "-composite"]
                subprocess.run(cmd + [tile], check=True)
                tiles.append(tile)
    subprocess.run(["montage"] + tiles + ["-tile", "8x", "-geometry", "+4+4", "-background",
                                          "#8a909a", os.path.join(out, "weather-sheet.png")],
                   check=True)


if __name__ == "__main__":
    main()
