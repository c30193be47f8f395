#!/usr/bin/env python3
"""Draws the program's icons and cursor and packs them with icotool.

    make_icons.py OUTDIR

Every picture is rendered here from simple shapes (signed distances,
supersampled for smooth edges) straight into 32-bit RGBA PNGs, one per
size, so small sizes are drawn for their own pixel grid instead of being
shrunk from a large picture. icotool packs the PNGs into OUTDIR/*.ico and
OUTDIR/eyedropper.cur; ImageMagick's montage lays them all out in
OUTDIR/contact-sheet.png for a look by eye. Nothing here is committed.
"""
import math
import os
import struct
import subprocess
import sys
import zlib
from concurrent.futures import ProcessPoolExecutor

# ---------------------------------------------------------------- shapes
# Each shape is a function (x, y) -> signed distance in unit coordinates
# (0..1 across the picture, y down); negative inside.


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def ring(cx, cy, r, half_width):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) - half_width


def box(x0, y0, x1, y1, radius=0.0):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hw, hh = (x1 - x0) / 2 - radius, (y1 - y0) / 2 - radius

    def d(x, y):
        qx, qy = abs(x - cx) - hw, abs(y - cy) - hh
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - radius
    return d


def capsule(ax, ay, bx, by, r):
    vx, vy = bx - ax, by - ay
    vv = vx * vx + vy * vy

    def d(x, y):
        t = ((x - ax) * vx + (y - ay) * vy) / vv if vv else 0.0
        t = min(max(t, 0.0), 1.0)
        return math.hypot(x - ax - t * vx, y - ay - t * vy) - r
    return d


def triangle(p0, p1, p2):
    # Sign-only is enough for coverage; edges come out of the supersampling.
    pts = (p0, p1, p2)
    area = (p1[0] - p0[0]) * (p2[1] - p0[1]) - (p1[1] - p0[1]) * (p2[0] - p0[0])
    s = 1.0 if area > 0 else -1.0

    def d(x, y):
        worst = -1.0
        for i in range(3):
            ax, ay = pts[i]
            bx, by = pts[(i + 1) % 3]
            ex, ey = bx - ax, by - ay
            cross = (ex * (y - ay) - ey * (x - ax)) * s
            worst = max(worst, -cross / math.hypot(ex, ey))
        return worst
    return d


def intersect(a, b):
    return lambda x, y: max(a(x, y), b(x, y))


def subtract(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


def outline(shape, half_width):
    return lambda x, y: abs(shape(x, y)) - half_width


def mix(c0, c1, t):
    return tuple(a + (b - a) * t for a, b in zip(c0, c1))


def smoothstep(e0, e1, v):
    t = min(max((v - e0) / (e1 - e0), 0.0), 1.0)
    return t * t * (3 - 2 * t)


# ---------------------------------------------------------------- the Earth
# Land as a handful of elliptical blobs in (longitude, latitude) degrees,
# merged as a metaball field so the coasts look organic rather than round.
LAND = [
    (20, 8, 22, 30), (25, -22, 14, 16), (10, 48, 26, 10), (70, 45, 45, 18),
    (100, 60, 50, 12), (80, 22, 12, 12), (105, 25, 20, 14), (135, -25, 18, 12),
    (-100, 45, 30, 18), (-95, 20, 10, 10), (-60, -15, 16, 24), (-70, -40, 8, 14),
    (-45, 72, 18, 10), (120, 0, 14, 6),
]
SUN = (-0.55, 0.55, 0.63)      # towards the upper left and the viewer
_len = math.sqrt(sum(c * c for c in SUN))
SUN = tuple(c / _len for c in SUN)
HALF = (SUN[0], SUN[1], SUN[2] + 1.0)
_len = math.sqrt(sum(c * c for c in HALF))
HALF = tuple(c / _len for c in HALF)
TILT = math.radians(20)


def land_at(lon, lat):
    field = 0.0
    for l0, b0, rl, rb in LAND:
        dl = (lon - l0 + 180) % 360 - 180
        q = (dl / rl) ** 2 + ((lat - b0) / rb) ** 2
        if q < 4:
            field += (1 - q / 4) ** 2
    return field > 0.42


def globe(cx, cy, r, spin_deg, px):
    """Shaded sphere: day side lit from the upper left, night side dark
    blue, a glint on the sea, an atmosphere rim and a thin dark edge so the
    disc reads on light and dark backgrounds alike."""
    spin = math.radians(spin_deg)
    edge = 0.9 * px / r

    def shade(x, y):
        dx, dy = (x - cx) / r, (y - cy) / r
        d2 = dx * dx + dy * dy
        if d2 > 1:
            return None
        nz = math.sqrt(1 - d2)
        nx, ny = dx, -dy
        # Earth axis tilted towards the viewer's upper right.
        ty = ny * math.cos(TILT) - nx * math.sin(TILT)
        tx = nx * math.cos(TILT) + ny * math.sin(TILT)
        lat = math.degrees(math.asin(max(-1.0, min(1.0, ty))))
        lon = math.degrees(math.atan2(tx, nz) + spin)
        lon = (lon + 180) % 360 - 180
        land = land_at(lon, lat)
        polar = abs(lat) > 70
        if polar:
            base = (235, 242, 250)
        elif land:
            base = mix((70, 165, 60), (160, 150, 80), smoothstep(10, 35, 35 - abs(abs(lat) - 25)))
        else:
            base = mix((40, 140, 225), (15, 70, 175), 1 - nz)
        light = nx * SUN[0] + ny * SUN[1] + nz * SUN[2]
        day = smoothstep(-0.2, 0.25, light)
        lit = tuple(min(255.0, c * (0.45 + 0.75 * max(light, 0.0))) for c in base)
        if not land and not polar:
            h = max(nx * HALF[0] + ny * HALF[1] + nz * HALF[2], 0.0)
            glint = 150 * h ** 60
            lit = tuple(min(255.0, c + glint) for c in lit)
        night = mix((6, 14, 45), tuple(c * 0.18 for c in base), 0.5)
        if land and not polar and (int(lon * 3) * 7 + int(lat * 3) * 13) % 11 == 0:
            night = (200, 170, 80)     # a few city lights
        col = mix(night, lit, day)
        rim = (1 - nz) ** 3 * smoothstep(-0.3, 0.4, light)
        col = mix(col, (150, 215, 255), min(rim * 0.9, 1.0))
        if math.sqrt(d2) > 1 - edge:
            col = tuple(c * 0.55 for c in col)
        return col + (255.0,)
    return shade


# ---------------------------------------------------------------- pictures
# Each picture: size -> list of layers (shape, colour or colour function),
# painted back to front.

def earth_icon(spin=-15):
    def layers(px):
        g = globe(0.5, 0.5, 0.47, spin, px)
        return [(circle(0.5, 0.5, 0.47), g)]
    return layers


def badged(colour, glyph):
    def layers(px):
        g = globe(0.43, 0.43, 0.41, -15, px)
        bx, by, br = 0.73, 0.73, 0.25
        out = [(circle(0.43, 0.43, 0.41), g),
               (circle(bx, by, br + max(0.05, 1.2 * px)), (255, 255, 255, 255)),
               (circle(bx, by, br), colour)]
        white = (255, 255, 255, 255)
        if glyph == "i":
            out += [(circle(bx, by - 0.12, 0.045), white),
                    (capsule(bx, by - 0.03, bx, by + 0.13, 0.04), white)]
        elif glyph == "down":
            out += [(capsule(bx, by - 0.15, bx, by + 0.02, 0.045), white),
                    (triangle((bx - 0.13, by - 0.01), (bx + 0.13, by - 0.01), (bx, by + 0.15)), white)]
        elif glyph == "x":
            k = 0.1
            out += [(capsule(bx - k, by - k, bx + k, by + k, 0.042), white),
                    (capsule(bx - k, by + k, bx + k, by - k, 0.042), white)]
        return out
    return layers


def progress_icon(k):
    """Twelve steps: the Earth turns a twelfth further each step while a ring
    fills clockwise from the top; the twelfth in progress is drawn pale."""
    def layers(px):
        g = globe(0.5, 0.5, 0.31, -15 + 30 * k, px)
        r_mid, half = 0.43, 0.07
        gap = 0.0 if px > 1 / 30 else 0.9 * px / r_mid   # gaps only where they show

        def ring_colour(x, y):
            a = math.atan2(x - 0.5, -(y - 0.5)) % (2 * math.pi)
            seg_f = a / (2 * math.pi) * 12
            seg = int(seg_f)
            if gap and min(seg_f - seg, seg + 1 - seg_f) * (2 * math.pi / 12) < gap / 2:
                return (0, 0, 0, 0)
            if seg < k:
                return (255, 160, 20, 255)
            if seg == k:
                return (255, 232, 150, 255)
            return (40, 45, 60, 140)
        return [(ring(0.5, 0.5, r_mid, half), ring_colour),
                (outline(ring(0.5, 0.5, r_mid, half), 0.5 * px), (20, 20, 30, 110)),
                (circle(0.5, 0.5, 0.31), g)]
    return layers


DARK = (45, 55, 75, 255)


def caption_icon(px):
    s = lambda v: round(v / px) * px
    x0, y0, x1, y1 = s(0.06), s(0.12), s(0.94), s(0.88)
    bar = s(0.40)
    return [(box(x0, y0, x1, y1, 0.06), DARK),
            (box(x0 + px, y0 + px, x1 - px, y1 - px, 0.05), (250, 250, 252, 255)),
            (box(x0 + px, y0 + px, x1 - px, bar, 0.05),
             lambda x, y: mix((90, 160, 245), (30, 90, 200), (y - y0) / (bar - y0)) + (255,)),
            (box(s(0.66), s(0.19), s(0.84), s(0.33), 0.02), (255, 255, 255, 255)),
            (box(x0 + px, s(0.5), s(0.7), s(0.5) + max(px, 0.06), 0.0), (170, 178, 195, 255)),
            (box(x0 + px, s(0.64), s(0.56), s(0.64) + max(px, 0.06), 0.0), (170, 178, 195, 255))]


def color_icon(px):
    e = 0.6 * px
    out = []
    for cx, cy, col in ((0.5, 0.31, (235, 45, 45, 215)), (0.31, 0.65, (40, 185, 60, 215)),
                        (0.69, 0.65, (40, 95, 235, 215))):
        out.append((circle(cx, cy, 0.27 + e), (30, 30, 40, 200)))
        out.append((circle(cx, cy, 0.27), col))
    return out


def font_icon(px):
    ink = (25, 35, 90, 255)
    w = max(0.085, 0.8 * px)
    return [(capsule(0.17, 0.88, 0.5, 0.1, w), ink),
            (capsule(0.5, 0.1, 0.83, 0.88, w), ink),
            (capsule(0.3, 0.62, 0.7, 0.62, w * 0.75), ink),
            (capsule(0.06, 0.93, 0.28, 0.93, 0.035), (220, 40, 40, 255)),
            (capsule(0.72, 0.93, 0.94, 0.93, 0.035), (220, 40, 40, 255))]


def lock_icon(px):
    shackle = intersect(ring(0.5, 0.4, 0.21, 0.065), box(0.0, 0.0, 1.0, 0.5))
    legs = lambda x, y: min(shackle(x, y), box(0.225, 0.39, 0.355, 0.55)(x, y),
                            box(0.645, 0.39, 0.775, 0.55)(x, y))
    body = box(0.14, 0.46, 0.86, 0.94, 0.07)
    return [(lambda x, y: legs(x, y) - 0.7 * px, DARK),
            (legs, (175, 182, 195, 255)),
            (lambda x, y: body(x, y) - 0.7 * px, (110, 75, 10, 255)),
            (body, lambda x, y: mix((255, 215, 80), (215, 150, 20), (y - 0.46) / 0.48) + (255,)),
            (circle(0.5, 0.65, 0.075), (70, 45, 5, 255)),
            (box(0.47, 0.66, 0.53, 0.82, 0.01), (70, 45, 5, 255))]


def pin_icon(px):
    red, dark = (225, 40, 40, 255), (120, 10, 10, 255)
    o = 0.7 * px
    head = capsule(0.46, 0.54, 0.68, 0.32, 0.105)
    base = capsule(0.27, 0.45, 0.55, 0.73, 0.06)
    cap = capsule(0.58, 0.14, 0.86, 0.42, 0.085)
    return [(capsule(0.4, 0.6, 0.1, 0.9, 0.035 + o), (60, 60, 70, 255)),
            (capsule(0.4, 0.6, 0.1, 0.9, 0.03), (200, 205, 215, 255)),
            (lambda x, y: min(head(x, y), base(x, y), cap(x, y)) - o, dark),
            (base, red), (head, red), (cap, (240, 70, 70, 255)),
            (capsule(0.63, 0.22, 0.74, 0.17, 0.03), (255, 180, 180, 255))]


def taskbar_icon(px):
    s = lambda v: round(v / px) * px
    x0, y0, x1, y1 = s(0.04), s(0.12), s(0.96), s(0.88)
    bar = s(0.64)
    return [(box(x0, y0, x1, y1, 0.04), DARK),
            (box(x0 + px, y0 + px, x1 - px, y1 - px, 0.03),
             lambda x, y: mix((185, 225, 255), (90, 160, 230), (y - y0) / (y1 - y0)) + (255,)),
            (box(x0 + px, bar, x1 - px, y1 - px, 0.0), (35, 45, 65, 255)),
            (box(s(0.12), bar + s(0.06), s(0.24), y1 - s(0.06), 0.02), (90, 210, 90, 255)),
            (box(s(0.3), bar + s(0.06), s(0.62), y1 - s(0.06), 0.02), (130, 185, 255, 255)),
            (box(s(0.66), bar + s(0.06), s(0.84), y1 - s(0.06), 0.02), (95, 110, 140, 255))]


def transparency_icon(px):
    s = lambda v: round(v / px) * px
    x0, y0, x1, y1 = s(0.06), s(0.06), s(0.7), s(0.7)
    cell = (x1 - x0) / 4

    def checks(x, y):
        odd = (int((x - x0) / cell) + int((y - y0) / cell)) % 2
        return (255, 255, 255, 255) if odd else (175, 178, 185, 255)
    fx0, fy0, fx1, fy1 = s(0.3), s(0.3), s(0.94), s(0.94)
    return [(box(x0, y0, x1, y1), (90, 95, 105, 255)),
            (box(x0 + px, y0 + px, x1 - px, y1 - px), checks),
            (box(fx0, fy0, fx1, fy1, 0.03), (20, 60, 150, 255)),
            (box(fx0 + px, fy0 + px, fx1 - px, fy1 - px, 0.02),
             lambda x, y: (40, 110, 230, 60 + 195 * (x - fx0) / (fx1 - fx0)))]


def ring_bold_icon(px):
    return [(ring(0.5, 0.5, 0.43, 0.05), (35, 35, 40, 255)),
            (ring(0.5, 0.5, 0.35, 0.035), (255, 255, 255, 240))]


def ring_thin_icon(px):
    hw = max(0.025, 0.5 * px)
    gloss = subtract(circle(0.5, 0.5, 0.41), circle(0.56, 0.58, 0.4))
    return [(ring(0.5, 0.5, 0.45, hw), (50, 50, 60, 220)),
            (gloss, (255, 255, 255, 130))]


def eyedropper(px):
    o = 1.2 * px
    black, white = (0, 0, 0, 255), (255, 255, 255, 255)
    tube = capsule(0.09, 0.91, 0.6, 0.4, 0.055)
    collar = capsule(0.5, 0.3, 0.7, 0.5, 0.055)
    bulb = capsule(0.68, 0.32, 0.84, 0.16, 0.1)
    return [(lambda x, y: min(tube(x, y), collar(x, y), bulb(x, y)) - o, black),
            (tube, white),
            (capsule(0.09, 0.91, 0.3, 0.7, 0.03), (60, 140, 230, 255)),
            (collar, (120, 125, 135, 255)),
            (bulb, (50, 60, 95, 255)),
            (capsule(0.72, 0.22, 0.78, 0.16, 0.025), (140, 150, 190, 255))]


# ---------------------------------------------------------------- buttons
# The dialogs' small buttons.
def plus_icon(px):
    shape = lambda x, y: min(capsule(0.22, 0.5, 0.78, 0.5, 0.1)(x, y),
                             capsule(0.5, 0.22, 0.5, 0.78, 0.1)(x, y))
    return [(lambda x, y: shape(x, y) - 0.7 * px, (15, 90, 35, 255)),
            (shape, (40, 170, 70, 255))]


def minus_icon(px):
    shape = capsule(0.22, 0.5, 0.78, 0.5, 0.1)
    return [(lambda x, y: shape(x, y) - 0.7 * px, (110, 15, 15, 255)),
            (shape, (215, 45, 45, 255))]


def arrow_icon(up):
    def layers(px):
        f = (lambda y: y) if up else (lambda y: 1.0 - y)
        shape = lambda x, y: min(
            triangle((0.5, f(0.12)), (0.16, f(0.52)), (0.84, f(0.52)))(x, y),
            box(0.36, min(f(0.5), f(0.88)), 0.64, max(f(0.5), f(0.88)), 0.02)(x, y))
        return [(lambda x, y: shape(x, y) - 0.7 * px, (15, 60, 150, 255)),
                (shape, (50, 120, 230, 255))]
    return layers


ICON_SIZES = [16, 24, 32, 48]
TRAY_SIZES = [16, 24, 32, 48, 64]   # the tray asks for 64 x 64
RING_SIZES = [16, 22, 24, 32, 48]   # value items measure 22 x 22

# name, sizes, picture
ICONS = [("program", TRAY_SIZES + [256], earth_icon()),
         ("message", ICON_SIZES, badged((35, 110, 225, 255), "i")),
         ("setup", ICON_SIZES, badged((40, 165, 60, 255), "down")),
         ("uninstall", ICON_SIZES, badged((215, 45, 45, 255), "x")),
         ("caption", ICON_SIZES, caption_icon),
         ("color", ICON_SIZES, color_icon),
         ("font", ICON_SIZES, font_icon),
         ("lock", ICON_SIZES, lock_icon),
         ("ontop", ICON_SIZES, pin_icon),
         ("taskbar", ICON_SIZES, taskbar_icon),
         ("transparency", ICON_SIZES, transparency_icon),
         ("ring-bold", RING_SIZES, ring_bold_icon),
         ("ring-thin", RING_SIZES, ring_thin_icon)]
ICONS += [("progress%02d" % k, TRAY_SIZES, progress_icon(k)) for k in range(12)]
ICONS += [("btn-add", ICON_SIZES, plus_icon),
          ("btn-remove", ICON_SIZES, minus_icon),
          ("btn-up", ICON_SIZES, arrow_icon(True)),
          ("btn-down", ICON_SIZES, arrow_icon(False))]
CURSOR_SIZE, CURSOR_HOTSPOT = 32, (2, 29)   # the dropper's tip


# ---------------------------------------------------------------- raster
def render(layers_of, size):
    px = 1.0 / size
    layers = layers_of(px)
    n = 2 if size > 64 else 4
    out = bytearray()
    for j in range(size):
        out.append(0)   # PNG filter byte
        for i in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sj in range(n):
                for si in range(n):
                    x = (i + (si + 0.5) / n) * px
                    y = (j + (sj + 0.5) / n) * px
                    r = g = b = a = 0.0
                    for shape, colour in layers:
                        if shape(x, y) >= 0:
                            continue
                        c = colour(x, y) if callable(colour) else colour
                        if c is None:
                            continue
                        ca = c[3] / 255.0
                        r = c[0] * ca + r * (1 - ca)
                        g = c[1] * ca + g * (1 - ca)
                        b = c[2] * ca + b * (1 - ca)
                        a = ca + a * (1 - ca)
                    acc[0] += r; acc[1] += g; acc[2] += b; acc[3] += a
            a = acc[3] / (n * n)
            if a <= 0:
                out += b"\0\0\0\0"
                continue
            out += bytes(min(255, int(acc[c] / (n * n) / a + 0.5)) for c in range(3))
            out.append(min(255, int(a * 255 + 0.5)))
    return bytes(out)


def write_png(path, size, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(rows, 9)))
        f.write(chunk(b"IEND", b""))


def job(args):
    out, name, size = args
    picture = dict((n, p) for n, _, p in ICONS).get(name, eyedropper)
    path = os.path.join(out, "png", "%s-%d.png" % (name, size))
    write_png(path, size, render(picture, size))
    return path


def main():
    out = sys.argv[1]
    os.makedirs(os.path.join(out, "png"), exist_ok=True)
    jobs = [(out, name, s) for name, sizes, _ in ICONS for s in sizes]
    jobs.append((out, "eyedropper", CURSOR_SIZE))
    with ProcessPoolExecutor() as pool:
        paths = list(pool.map(job, jobs))
    png = lambda name, s: os.path.join(out, "png", "%s-%d.png" % (name, s))
    for name, sizes, _ in ICONS:
        cmd = ["icotool", "-c", "-o", os.path.join(out, name + ".ico")]
        for s in sizes:
            # The 256 picture is stored as PNG, as the system expects at that size.
            cmd += ["-r", png(name, s)] if s >= 256 else [png(name, s)]
        subprocess.run(cmd, check=True)
    subprocess.run(["icotool", "-c", "--cursor", "-X", str(CURSOR_HOTSPOT[0]),
                    "-Y", str(CURSOR_HOTSPOT[1]), "-o", os.path.join(out, "eyedropper.cur"),
                    png("eyedropper", CURSOR_SIZE)], check=True)
    # Contact sheet: one row per picture with all its sizes side by side, on a
    # mid grey so that light and dark edges both show; a copy at three times
    # the size (square pixels) shows the small sizes' pixels.
    cmd = ["convert", "-background", "#8a909a"]
    for name, sizes, _ in ICONS + [("eyedropper", [CURSOR_SIZE], None)]:
        cmd += ["("] + [png(name, s) for s in sizes if s < 256]
        cmd += ["-bordercolor", "#8a909a", "-border", "4", "+append", ")"]
    cmd += ["-gravity", "west", "-append", os.path.join(out, "contact-sheet.png")]
    subprocess.run(cmd, check=True)
    subprocess.run(["convert", os.path.join(out, "contact-sheet.png"), "-filter", "point",
                    "-resize", "300%", os.path.join(out, "contact-sheet-x3.png")], check=True)
    with open(os.path.join(out, ".complete"), "w") as f:
        f.write("\n".join(paths) + "\n")


if __name__ == "__main__":
    main()
