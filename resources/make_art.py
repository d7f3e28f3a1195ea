#!/usr/bin/env python3
"""Generate the installer artwork for Zelkor's Mods Pack.

Usage: python3 make_art.py OUTDIR

Writes watermark.bmp (920x450, 24 bpp), header.bmp (48x48, 8 bpp) and
app.ico (16/32 px at 4 and 8 bpp), and for scaled displays (120, 144 and 192
DPI) watermark_DPI.bmp and header_DPI.bmp drawn at that size: the watermark
only as wide as the column the exterior pages show of it, as tall as their
largest page.  Beside each BMP goes NAME.bmp.gz, the same file gzip-compressed,
which is the form the exe stores (a quarter of the bytes).  Shapes are signed
distance functions, so edges come out anti-aliased without supersampling.
Standard library only; the output is byte-for-byte deterministic.
"""
import gzip
import math
import os
import random
import struct
import sys

STEEL_HI, STEEL_LO = (0.90, 0.93, 0.96), (0.36, 0.42, 0.50)
PLATE_HI, PLATE_LO = (0.17, 0.25, 0.35), (0.06, 0.09, 0.14)
AMBER, AMBER_LO = (0.95, 0.66, 0.18), (0.74, 0.42, 0.08)
OUTLINE = (0.04, 0.06, 0.09)
GHOST = (0.55, 0.68, 0.82)


def clamp(v, lo=0.0, hi=1.0):
    return lo if v < lo else hi if v > hi else v


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


class Canvas:
    """RGBA float canvas (straight alpha); alpha 0 means transparent."""

    def __init__(self, w, h, alpha=1.0, scale=1.0):
        """SCALE maps the drawing's 96-DPI coordinates to pixels."""
        self.w, self.h, self.s = w, h, scale
        self.px = [[[1.0, 1.0, 1.0, alpha] for _ in range(w)]
                   for _ in range(h)]

    def fill(self, sdf, col, box=None, alpha=1.0, soft=1.0):
        """Paint where sdf < 0 (drawing units); soft widens the AA ramp."""
        k = self.s
        x0, y0, x1, y1 = [v * k for v in box] if box else (0, 0, self.w, self.h)
        for y in range(max(0, int(y0)), min(self.h, int(y1) + 1)):
            for x in range(max(0, int(x0)), min(self.w, int(x1) + 1)):
                ux, uy = (x + 0.5) / k, (y + 0.5) / k
                a = clamp(0.5 - sdf(ux, uy) * k / soft) * alpha
                if a <= 0.0:
                    continue
                c = col(ux, uy) if callable(col) else col
                p = self.px[y][x]
                p[3] = a + p[3] * (1.0 - a)
                for i in range(3):
                    p[i] += (c[i] - p[i]) * a / p[3]

    def rgb8(self, x, y):
        return tuple(int(clamp(v) * 255 + 0.5) for v in self.px[y][x][:3])


# --- signed distance primitives ------------------------------------------

def sd_circle(x, y, r):
    return math.hypot(x, y) - r


def sd_poly(x, y, v):
    """Exact signed distance to a simple polygon (negative inside)."""
    d, s, j = (x - v[0][0]) ** 2 + (y - v[0][1]) ** 2, 1.0, len(v) - 1
    for i in range(len(v)):
        ex, ey = v[j][0] - v[i][0], v[j][1] - v[i][1]
        wx, wy = x - v[i][0], y - v[i][1]
        t = clamp((wx * ex + wy * ey) / (ex * ex + ey * ey))
        d = min(d, (wx - ex * t) ** 2 + (wy - ey * t) ** 2)
        c = (y >= v[i][1], y < v[j][1], ex * wy > ey * wx)
        if all(c) or not any(c):
            s = -s
        j = i
    return s * math.sqrt(d)


def sd_gear(x, y, teeth, width=1.25):
    """Gear in unit space: body radius 0.80, tooth tips at 1.0."""
    r, step = math.hypot(x, y), 2 * math.pi / teeth
    a = math.atan2(y, x)
    a -= round(a / step) * step          # fold into the nearest tooth
    w = width / teeth
    tooth = sd_poly(r * math.cos(a), r * math.sin(a),
                    [(0.7, -w), (1.0, -w * 0.66), (1.0, w * 0.66), (0.7, w)])
    return min(r - 0.80, tooth)


def chevron(cx, cy, w, h, t):
    """Upward chevron polygon with its apex at (cx, cy - h)."""
    return [(cx - w, cy), (cx, cy - h), (cx + w, cy), (cx + w, cy + t),
            (cx, cy - h + t), (cx - w, cy + t)]


def shield(hw, top, bottom, n=10):
    """Heater shield: flat top, straight sides, curved point at the bottom."""
    side = [((1 - t * t) * hw, (1.24 * (1 - t) * t + t * t) * bottom)
            for t in (i / n for i in range(n + 1))]
    return [(-hw, top), (hw, top)] + side + [(-x, y) for x, y in side[-2::-1]]


# --- the emblem: steel gear ring, dark plate, shield with chevrons ---------

def emblem(cv, cx, cy, R, detail=2, shadow=0.45):
    """detail 2: full, 1: 32 px (one chevron), 0: 16 px (no shield)."""
    box = (cx - R - 4, cy - R - 4, cx + R + 6, cy + R + 6)

    def u(fn):  # unit-space sdf -> pixel-space sdf around the centre
        return lambda x, y: fn((x - cx) / R, (y - cy) / R) * R

    def steel(x, y):
        nx, ny = (x - cx) / R, (y - cy) / R
        t = 0.5 - 0.35 * ny - 0.15 * nx + 0.18 * math.cos(
            2 * math.atan2(ny, nx) + 1.2)
        return mix(STEEL_LO, STEEL_HI, clamp(t) * (1.0 if detail else 0.75))

    def vgrad(a, b, k=1.0):
        return lambda x, y: mix(a, b, clamp(0.5 + (y - cy) / R * k))

    gear = u(lambda x, y: sd_gear(x, y, 10 if detail else 8,
                                  1.25 if detail else 1.9))
    if shadow:
        off = R / 22
        cv.fill(lambda x, y: gear(x - off, y - off * 1.4), (0, 0, 0),
                box, alpha=shadow, soft=R / 12)
    if detail:   # at 16 px an outline only adds stray dots between teeth
        cv.fill(lambda x, y: gear(x, y) - 1.0, OUTLINE, box)
    cv.fill(gear, steel, box)
    hole = 0.64 if detail else 0.52      # thicker ring when tiny
    cv.fill(u(lambda x, y: sd_circle(x, y, hole)), OUTLINE, box)
    cv.fill(u(lambda x, y: sd_circle(x, y, hole - 1.4 / R)),
            vgrad(PLATE_HI, PLATE_LO), box)
    if detail == 0:
        big = chevron(0, 0.26, 0.4, 0.42, 0.3)
        cv.fill(u(lambda x, y: sd_poly(x, y, big)), AMBER, box)
        return
    if detail == 2:   # faint highlight along the ring's upper rim
        cv.fill(u(lambda x, y: abs(sd_circle(x, y, 0.76)) - 0.012),
                (1, 1, 1), (cx - R, cy - R, cx + R, cy), alpha=0.35)
    sh = shield(0.36, -0.44, 0.47)
    cv.fill(u(lambda x, y: sd_poly(x, y, sh) - 0.05), STEEL_HI, box)
    cv.fill(u(lambda x, y: sd_poly(x, y, sh)),
            vgrad((0.33, 0.48, 0.64), (0.13, 0.21, 0.31), 1.1), box)
    marks = [(-0.06, 0.24, 0.12), (0.18, 0.24, 0.12)] if detail == 2 \
        else [(0.1, 0.30, 0.22)]
    for oy, w, th in marks:
        pts = chevron(0, oy, w, w * 0.85, th)
        cv.fill(u(lambda x, y, p=pts: sd_poly(x, y, p)),
                vgrad(AMBER, AMBER_LO), box)


def rivet(cv, x0, y0, r):
    box = (x0 - r - 2, y0 - r - 2, x0 + r + 3, y0 + r + 3)
    cv.fill(lambda x, y: sd_circle(x - x0 - 0.8, y - y0 - 1.0, r), (0, 0, 0),
            box, alpha=0.5, soft=1.5)
    cv.fill(lambda x, y: sd_circle(x - x0, y - y0, r),
            lambda x, y: mix(STEEL_HI, STEEL_LO,
                             clamp(0.5 + (x - x0 + y - y0) / (2.2 * r))), box)


# --- the three images --------------------------------------------------------

def brushed_background(cv, seen_h=314):
    """Steel-blue gradient with horizontal brushing, glow and sheen."""
    rnd = random.Random(1944)
    for py in range(cv.h):
        y = py / cv.s
        base = mix((0.21, 0.28, 0.37), (0.05, 0.08, 0.12),
                   clamp(y / seen_h) ** 0.9)
        row = rnd.gauss(0, 1)
        knots = [rnd.gauss(0, 1) for _ in range(int(cv.w / cv.s) // 40 + 2)]
        for px in range(cv.w):
            x = px / cv.s
            k, f = int(x // 40), x % 40 / 40.0
            streak = knots[k] + (knots[k + 1] - knots[k]) * f
            v = 0.010 * row + 0.008 * streak + 0.006 * (rnd.random() - 0.5)
            v += 0.10 * math.exp(-((x - 82) ** 2 + (y - 112) ** 2) / 5200)
            v += 0.025 * math.exp(-((x * 0.6 + y - 150) / 70.0) ** 2)
            cv.px[py][px] = [c + v for c in base] + [1.0]


def watermark(scale=1.0):
    """Wine shows only the top-left 164 px, so the emblem lives there; scaled, only
    that column is drawn."""
    cv = Canvas(920, 450) if scale == 1.0 else \
        Canvas(round(164 * scale), round(450 * scale), scale=scale)
    brushed_background(cv)
    # a large faint gear behind the part only wide displays get to see
    wide = (180, 30, 920, 450)
    cv.fill(lambda x, y: abs(sd_gear((x - 560) / 260, (y - 300) / 260, 14)
                             * 260 + 18) - 10, GHOST, wide, alpha=0.05)
    cv.fill(lambda x, y: abs(sd_circle(x - 560, y - 300, 120)) - 6,
            GHOST, wide, alpha=0.04)
    emblem(cv, 82, 112, 56)
    for i, cy in enumerate((206, 228, 250)):   # marching chevrons, fading
        pts = chevron(82, cy, 26, 14, 5)
        cv.fill(lambda x, y, p=pts: sd_poly(x, y, p), AMBER,
                (50, cy - 20, 115, cy + 10), alpha=0.55 - 0.17 * i)
    # full-width hazard band between steel edges, rivet rows top and bottom
    band = lambda x, y: abs(y - 283) - 7
    cv.fill(band, (0.05, 0.06, 0.08), (0, 275, 920, 291))
    cv.fill(lambda x, y: max(abs((x + y) / 1.4142 % 14 - 7) - 3.5, band(x, y)),
            AMBER_LO, (0, 275, 920, 291), alpha=0.8)
    for yy, col in ((274, STEEL_HI), (291, STEEL_LO)):
        cv.fill(lambda x, y, yy=yy: abs(y - yy - 0.5) - 1.0, col,
                (0, yy - 2, 920, yy + 2), alpha=0.7)
    for rx in range(14, 920, 30):
        rivet(cv, rx, 302, 2.6)
        rivet(cv, rx, 10, 2.2)
    return cv


def header(scale=1.0):
    cv = Canvas(round(48 * scale), round(48 * scale), scale=scale)
    emblem(cv, 24, 23.5, 21.5, detail=2, shadow=0.30)
    return cv


def icon(size):
    cv = Canvas(size, size, alpha=0.0)
    emblem(cv, size / 2, size / 2, size / 2 - 0.5,
           detail=0 if size <= 16 else 1, shadow=0)
    return cv


# --- palettes --------------------------------------------------------------

def median_cut(colors, n):
    """Reduce a set of RGB tuples to at most n representative colours."""
    def spread(b, i):
        return max(c[i] for c in b) - min(c[i] for c in b)
    boxes = [sorted(set(colors))]
    while len(boxes) < n:
        big = max(boxes, key=lambda b: max(spread(b, i) for i in range(3)))
        ch = max(range(3), key=lambda i: spread(big, i))
        if spread(big, ch) == 0:
            break
        big.sort(key=lambda c: c[ch])
        boxes.remove(big)
        boxes += [big[:len(big) // 2], big[len(big) // 2:]]
    return [tuple(sum(c[i] for c in b) // len(b) for i in range(3))
            for b in boxes]


def quantize(cv, ncolors, mask=None):
    """Return (palette, index rows); index 0 is black, used under the mask."""
    pix = [[cv.rgb8(x, y) for x in range(cv.w)] for y in range(cv.h)]
    hidden = lambda x, y: mask is not None and mask[y][x]
    pal = [(0, 0, 0)] + median_cut([pix[y][x] for y in range(cv.h)
                                    for x in range(cv.w) if not hidden(x, y)],
                                   ncolors - 1)
    cache = {}

    def nearest(c):
        if c not in cache:
            cache[c] = min(range(len(pal)), key=lambda i: sum(
                (pal[i][k] - c[k]) ** 2 for k in range(3)))
        return cache[c]
    rows = [[0 if hidden(x, y) else nearest(pix[y][x]) for x in range(cv.w)]
            for y in range(cv.h)]
    return pal + [(0, 0, 0)] * (ncolors - len(pal)), rows


# --- file writers ----------------------------------------------------------

def pack_rows(rows, bpp):
    """Pack rows bottom-up, each padded to a 4-byte boundary.  For 24 bpp a
    row holds (r, g, b) tuples, otherwise palette indices or mask bits."""
    out = bytearray()
    for row in reversed(rows):
        if bpp == 24:
            line = bytearray(v for r, g, b in row for v in (b, g, r))
        else:
            line, acc, bits = bytearray(), 0, 0
            for v in row:
                acc, bits = (acc << bpp) | v, bits + bpp
                if bits == 8:
                    line.append(acc)
                    acc = bits = 0
            if bits:
                line.append(acc << (8 - bits))
        out += line + b"\0" * (-len(line) % 4)
    return bytes(out)


def info_header(w, h, bpp, image_size, colors=0):
    return struct.pack("<IiiHHIIiiII", 40, w, h, 1, bpp, 0, image_size,
                       2835, 2835, colors, 0)


def palette_bytes(pal):
    return b"".join(bytes((b, g, r, 0)) for r, g, b in pal)


def write_bmp(path, cv, bpp):
    """Writes PATH and its compressed copy PATH.gz."""
    if bpp == 24:
        pal, data = b"", pack_rows([[cv.rgb8(x, y) for x in range(cv.w)]
                                    for y in range(cv.h)], 24)
    else:
        colors, rows = quantize(cv, 1 << bpp)
        pal, data = palette_bytes(colors), pack_rows(rows, bpp)
    body = info_header(cv.w, cv.h, bpp, len(data), len(pal) // 4) + pal
    bmp = b"BM" + struct.pack("<IHHI", 14 + len(body) + len(data), 0, 0,
                              14 + len(body)) + body + data
    with open(path, "wb") as f:
        f.write(bmp)
    # No time stamp in the gzip header, so a rebuild gives the same bytes.
    with open(path + ".gz", "wb") as f:
        f.write(gzip.compress(bmp, compresslevel=9, mtime=0))


def icon_image(cv, bpp):
    """Classic icon entry: double-height header, palette, XOR and AND masks."""
    mask = [[int(cv.px[y][x][3] < 0.5) for x in range(cv.w)]
            for y in range(cv.h)]
    pal, rows = quantize(cv, 1 << bpp, mask)
    xor, andm = pack_rows(rows, bpp), pack_rows(mask, 1)
    return (info_header(cv.w, cv.h * 2, bpp, len(xor) + len(andm))
            + palette_bytes(pal) + xor + andm)


def write_ico(path, images):
    """images: list of (size, bpp, entry data)."""
    offset = 6 + 16 * len(images)
    head = struct.pack("<HHH", 0, 1, len(images))
    for size, bpp, data in images:
        head += struct.pack("<BBBBHHII", size, size, 16 if bpp == 4 else 0, 0,
                            1, bpp, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(head + b"".join(d for _, _, d in images))


SCALED_DPIS = (120, 144, 192)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_art.py OUTDIR")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_bmp(os.path.join(out, "watermark.bmp"), watermark(), 24)
    write_bmp(os.path.join(out, "header.bmp"), header(), 8)
    for dpi in SCALED_DPIS:
        write_bmp(os.path.join(out, f"watermark_{dpi}.bmp"), watermark(dpi / 96), 24)
        write_bmp(os.path.join(out, f"header_{dpi}.bmp"), header(dpi / 96), 8)
    icons = {s: icon(s) for s in (16, 32)}
    entries = [(s, b, icon_image(icons[s], b))
               for b in (4, 8) for s in (16, 32)]
    write_ico(os.path.join(out, "app.ico"), entries)


if __name__ == "__main__":
    main()
