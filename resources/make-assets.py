#!/usr/bin/env python3
"""Regenerate Strudex's graphic assets and desktop-integration files.

Writes, next to this script:
  icons/strudex-{16,...,512}.png      application icon (RGBA, transparent background) in every size
                                      of the hicolor icon theme; 32, 48, 128 and 256 are also built in
  strudex.ico                         the four icon sizes as PNG-compressed ICO entries
  HAND-M.CUR                          32x32 pointing-hand cursor (classic BMP DIB entry)
  strudex.desktop                     freedesktop menu entry
  strudex.qrc                         Qt resource file for the PNG icons

Pure Python 3 (zlib + struct only); the output is deterministic.
Usage:  python3 resources/make-assets.py
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ICON_SIZES = (32, 48, 128, 256)
# The sizes the menus of desktop environments look for in the hicolor theme.
THEME_SIZES = (16, 22, 24, 32, 48, 64, 128, 256, 512)


# --------------------------------------------------------------------------- PNG writer

def png_bytes(w, h, rgba):
    """Encode w*h straight-alpha RGBA bytes as a PNG file."""
    def chunk(tag, data):
        return (struct.pack('>I', len(data)) + tag + data
                + struct.pack('>I', zlib.crc32(tag + data) & 0xFFFFFFFF))
    stride = w * 4
    raw = b''.join(b'\x00' + bytes(rgba[y * stride:(y + 1) * stride]) for y in range(h))
    return (b'\x89PNG\r\n\x1a\n'
            + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw, 9))
            + chunk(b'IEND', b''))


# --------------------------------------------------------------------------- signed distance shapes
# Every shape is a function (x, y) -> signed distance in pixels, negative inside.
# Coverage is derived from the distance, which gives smooth anti-aliased edges.

def rrect(x0, y0, x1, y1, r=0.0):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r
    def f(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        return math.hypot(max(qx, 0.0), max(qy, 0.0)) + min(max(qx, qy), 0.0) - r
    return f


def ellipse(cx, cy, rx, ry):
    def f(x, y):
        px, py = (x - cx) / rx, (y - cy) / ry
        k0 = math.hypot(px, py)
        k1 = math.hypot(px / rx, py / ry)
        return k0 * (k0 - 1.0) / k1 if k1 else -min(rx, ry)
    return f


def capsule(ax, ay, bx, by, r):
    ex, ey = bx - ax, by - ay
    ll = ex * ex + ey * ey or 1.0
    def f(x, y):
        t = max(0.0, min(1.0, ((x - ax) * ex + (y - ay) * ey) / ll))
        return math.hypot(x - ax - ex * t, y - ay - ey * t) - r
    return f


def polygon(pts):
    def f(x, y):
        d = (x - pts[0][0]) ** 2 + (y - pts[0][1]) ** 2
        s, j = 1.0, len(pts) - 1
        for i, (ax, ay) in enumerate(pts):
            bx, by = pts[j]
            ex, ey, wx, wy = bx - ax, by - ay, x - ax, y - ay
            t = max(0.0, min(1.0, (wx * ex + wy * ey) / (ex * ex + ey * ey)))
            d = min(d, (wx - ex * t) ** 2 + (wy - ey * t) ** 2)
            c = (y >= ay, y < by, ex * wy > ey * wx)
            if all(c) or not any(c):
                s = -s
            j = i
        return s * math.sqrt(d)
    return f


union = lambda *fs: lambda x, y: min(f(x, y) for f in fs)
intersect = lambda *fs: lambda x, y: max(f(x, y) for f in fs)
grow = lambda f, d: lambda x, y: f(x, y) - d             # d > 0 enlarges, d < 0 shrinks
stroke = lambda f, w: lambda x, y: abs(f(x, y)) - w / 2  # band of width w along the outline
below = lambda y0: lambda x, y: y0 - y                   # half-plane y > y0


def mix(a, b, t):
    return tuple(p + (q - p) * t for p, q in zip(a, b))


def hexc(s, alpha=1.0):
    return (int(s[0:2], 16) / 255, int(s[2:4], 16) / 255, int(s[4:6], 16) / 255, alpha)


class Canvas:
    """Premultiplied RGBA float canvas composited with 'source over'."""

    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(w * h)]

    def fill(self, sdf, color, bbox=None, soft=1.0, dx=0.0, dy=0.0):
        x0, y0, x1, y1 = bbox or (0, 0, self.w, self.h)
        m = int(soft) + 2                 # the soft edge reaches soft/2 beyond the shape
        for y in range(max(0, int(y0 + dy) - m), min(self.h, int(y1 + dy) + m + 1)):
            for x in range(max(0, int(x0 + dx) - m), min(self.w, int(x1 + dx) + m + 1)):
                cov = 0.5 - sdf(x + 0.5 - dx, y + 0.5 - dy) / soft
                if cov <= 0.0:
                    continue
                c = color(x + 0.5, y + 0.5) if callable(color) else color
                a = min(cov, 1.0) * c[3]
                p = self.px[y * self.w + x]
                for i in range(3):
                    p[i] = c[i] * a + p[i] * (1.0 - a)
                p[3] = a + p[3] * (1.0 - a)

    def rgba(self):
        out = bytearray()
        for r, g, b, a in self.px:
            if a <= 0.0:
                out += b'\0\0\0\0'
            else:
                out += bytes(min(255, int(v / a * 255 + 0.5)) for v in (r, g, b))
                out.append(min(255, int(a * 255 + 0.5)))
        return out


# --------------------------------------------------------------------------- application icon

BLUE_DARK, BLUE_MID, BLUE_LIGHT = hexc('0f4c69'), hexc('2283a8'), hexc('45a9cb')
BLUE_SHADE = hexc('185f82')
TOP_LIGHT, TOP_DARK = hexc('a6e0f0'), hexc('6cc0dc')
TEAL = hexc('15998f')
PAGE, PAGE_EDGE, FOLD = hexc('ffffff'), hexc('8fa3b0'), hexc('dbe5eb')
LINE = hexc('9aabb6')


def draw_icon(size):
    """Database cylinder with a structure-report page in front; designed on a 256 grid."""
    c = Canvas(size, size)
    u = size / 256.0
    small = size < 64
    w = max(1.0, 4.0 * u)                 # outline width in pixels
    S = lambda *v: [a * u for a in v]     # design units -> pixels

    # Cylinder: a body (rectangle + bottom cap), a lighter top face and two band arcs.
    cx, rx, ry = S(100, 78, 24)
    top, bot = S(52, 196)
    x0, x1 = cx - rx, cx + rx
    body = union(rrect(x0, top, x1, bot), ellipse(cx, top, rx, ry), ellipse(cx, bot, rx, ry))
    bbox = (x0, top - ry, x1, bot + ry)

    def body_color(x, y):
        t = (x - x0) / (x1 - x0)
        if t < 0.28:
            return mix(BLUE_MID, BLUE_LIGHT, t / 0.28)
        return mix(BLUE_LIGHT, BLUE_SHADE, (t - 0.28) / 0.72)

    c.fill(body, BLUE_DARK, bbox)
    inner = grow(body, -w)
    c.fill(inner, body_color, bbox)
    for frac in ((1 / 3, 2 / 3) if not small else (0.5,)):
        by = top + (bot - top) * frac
        arc = intersect(stroke(ellipse(cx, by, rx, ry), w), below(by), inner)
        c.fill(arc, BLUE_DARK, bbox)
        if not small:                     # thin highlight under each band
            glow = intersect(stroke(ellipse(cx, by + 1.6 * w, rx, ry), w * 0.8), below(by), inner)
            c.fill(glow, hexc('ffffff', 0.18), bbox)
    c.fill(ellipse(cx, top, rx, ry), BLUE_DARK, bbox)
    c.fill(grow(ellipse(cx, top, rx, ry), -w),
           lambda x, y: mix(TOP_LIGHT, TOP_DARK, (x - x0) / (x1 - x0)), bbox)

    # Page with a folded top-right corner, dropping a soft shadow on the cylinder.
    if small:
        p0, q0, p1, q1, fold = S(114, 86, 244, 246, 40)
    else:
        p0, q0, p1, q1, fold = S(122, 94, 238, 242, 34)
    cut = lambda x, y: ((x - (p1 - fold)) - (y - q0)) / math.sqrt(2)
    page = intersect(rrect(p0, q0, p1, q1, max(1.0, 6 * u)), cut)
    pbox = (p0, q0, p1, q1)
    c.fill(page, (0, 0, 0, 0.30), pbox, soft=max(1.5, 10 * u), dx=3 * u, dy=5 * u)
    c.fill(page, PAGE_EDGE, pbox)
    c.fill(grow(page, -w), PAGE, pbox)
    tri = polygon([(p1 - fold, q0), (p1 - fold, q0 + fold), (p1, q0 + fold)])
    c.fill(grow(tri, w / 2), PAGE_EDGE, pbox)
    c.fill(grow(tri, -w / 2), FOLD, pbox)

    # "Field lines": a teal table-name bar, then field rows (bullet + grey bar).
    left, right = p0 + 2.5 * w + 8 * u, p1 - 2.5 * w - 6 * u
    px = lambda v: float(round(v))        # snap to whole pixels for crisp lines
    if small:
        th = max(2.0, px(14 * u))
        rows = [(px(q0 + 28 * u), left, right - fold + 2 * w, TEAL, False)]
        rows += [(px(q0 + (72 + 44 * i) * u), left, right - (0, 40)[i] * u, LINE, False)
                 for i in range(2)]
    else:
        th = px(12 * u)
        rows = [(px(q0 + 24 * u), left, right - fold + w, TEAL, False)]
        rows += [(px(q0 + (52 + 24 * i) * u), left, right - (0, 22, 8, 30)[i] * u, LINE, True)
                 for i in range(4)]
    for y, a, b, col, bullet in rows:
        a, b = px(a), px(b)
        if bullet:
            c.fill(rrect(a, y, a + th, y + th, 2 * u), TEAL, (a, y, a + th, y + th))
            a += th + px(6 * u)
        c.fill(rrect(a, y, b, y + th, th / 2 if not small else 0), col, (a, y, b, y + th))
    return c.rgba()


# --------------------------------------------------------------------------- ICO container

def ico_bytes(pngs):
    """ICO with PNG-compressed entries; pngs is a list of (size, png data)."""
    head = struct.pack('<HHH', 0, 1, len(pngs))
    offset = 6 + 16 * len(pngs)
    entries, blobs = b'', b''
    for size, data in pngs:
        dim = 0 if size >= 256 else size
        entries += struct.pack('<BBBBHHII', dim, dim, 0, 0, 1, 32, len(data), offset)
        blobs += data
        offset += len(data)
    return head + entries + blobs


# --------------------------------------------------------------------------- hand cursor

CUR = 32
TRANSPARENT, BLACK, WHITE = 0, 1, 2


def draw_hand():
    """Pointing hand (index finger up): white fill, 1-pixel black outline; crisp pixels."""
    grid = [[TRANSPARENT] * CUR for _ in range(CUR)]

    def mask(f):
        return {(x, y) for y in range(CUR) for x in range(CUR) if f(x + 0.5, y + 0.5) <= 0}

    def dilate(m):
        return {(x + dx, y + dy) for x, y in m
                for dx, dy in ((0, 0), (1, 0), (-1, 0), (0, 1), (0, -1))
                if 0 <= x + dx < CUR and 0 <= y + dy < CUR}

    def paint(m, v):
        for x, y in m:
            grid[y][x] = v

    index = mask(capsule(11.5, 3.5, 11.5, 17, 2.6))
    fingers = [mask(capsule(27.0, 14.6, 27.0, 20, 2.2)),      # little finger
               mask(capsule(22.5, 12.6, 22.5, 20, 2.5)),      # ring finger
               mask(capsule(17.5, 11.6, 17.5, 20, 2.5))]      # middle finger
    thumb = mask(capsule(4.0, 15.4, 11.5, 24.5, 2.4))
    palm = mask(union(rrect(9, 17, 29.4, 26, 3.5), rrect(11, 22, 27, 30, 1)))
    for part in fingers + [index]:          # back to front, each with its own outline
        paint(dilate(part), BLACK)
        paint(part, WHITE)
    paint(palm, WHITE)                      # hides finger outlines inside the palm
    crease = {(x, y) for x, y in dilate(thumb) - thumb if y <= 22 and (x, y) in palm}
    paint(thumb, WHITE)
    paint(crease, BLACK)                    # short line where the thumb meets the palm
    shape = set().union(index, thumb, palm, *fingers)
    paint(dilate(shape) - shape, BLACK)     # one clean silhouette outline
    tip_y = min(y for y in range(CUR) if any(grid[y]))
    tip_x = [x for x in range(CUR) if grid[tip_y][x]]
    return grid, (tip_x[len(tip_x) // 2], tip_y)


def cur_bytes(grid, hotspot):
    """Single-image .CUR: BITMAPINFOHEADER, 32-bit BGRA XOR bitmap, 1-bit AND mask."""
    n = len(grid)
    colors = {TRANSPARENT: b'\0\0\0\0', BLACK: b'\0\0\0\xff', WHITE: b'\xff\xff\xff\xff'}
    xor = b''.join(colors[v] for row in reversed(grid) for v in row)
    row_bytes = ((n + 31) // 32) * 4
    and_mask = b''
    for row in reversed(grid):
        bits = 0
        for x, v in enumerate(row):
            if v == TRANSPARENT:
                bits |= 1 << (row_bytes * 8 - 1 - x)
        and_mask += bits.to_bytes(row_bytes, 'big')
    dib = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, 32, 0, len(xor) + len(and_mask),
                      0, 0, 0, 0) + xor + and_mask
    head = struct.pack('<HHH', 0, 2, 1)
    entry = struct.pack('<BBBBHHII', n, n, 0, 0, hotspot[0], hotspot[1], len(dib), 6 + 16)
    return head + entry + dib


def read_cur(data):
    """Parse a .CUR back; returns (width, height, hotspot, grid) for checking."""
    reserved, kind, count = struct.unpack_from('<HHH', data, 0)
    assert (reserved, kind, count) == (0, 2, 1), 'not a single-image cursor'
    w, h, _, _, hx, hy, size, off = struct.unpack_from('<BBBBHHII', data, 6)
    hdr = struct.unpack_from('<IiiHHIIiiII', data, off)
    assert hdr[0] == 40 and hdr[1] == w and hdr[2] == 2 * h and hdr[4] == 32
    assert off + size == len(data)
    pix = data[off + 40:off + 40 + w * h * 4]
    grid = [[pix[((h - 1 - y) * w + x) * 4 + 3] for x in range(w)] for y in range(h)]
    return w, h, (hx, hy), grid


# --------------------------------------------------------------------------- text files

DESKTOP = """\
[Desktop Entry]
Type=Application
Name=Strudex
GenericName=Access Database Structure Exporter
Comment=Document the structure of Microsoft Access databases (.mdb, .accdb)
Exec=strudex
Icon=strudex
Terminal=false
Categories=Office;Database;
Keywords=Access;MDB;ACCDB;database;schema;structure;tables;fields;
"""


def qrc_text():
    files = ''.join('        <file alias="icons/strudex-%d.png">icons/strudex-%d.png</file>\n'
                    % (s, s) for s in ICON_SIZES)
    return ('<!DOCTYPE RCC>\n<RCC version="1.0">\n    <qresource prefix="/">\n'
            + files + '    </qresource>\n</RCC>\n')


def write(name, data):
    path = os.path.join(HERE, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as fh:
        fh.write(data.encode() if isinstance(data, str) else data)
    print('wrote', os.path.relpath(path, HERE))


def main():
    pngs = []
    for size in THEME_SIZES:
        data = png_bytes(size, size, draw_icon(size))
        write('icons/strudex-%d.png' % size, data)
        if size in ICON_SIZES:
            pngs.append((size, data))
    write('strudex.ico', ico_bytes(pngs))

    grid, hotspot = draw_hand()
    cur = cur_bytes(grid, hotspot)
    w, h, hs, alpha = read_cur(cur)
    assert (w, h) == (CUR, CUR) and hs == hotspot and alpha[hs[1]][hs[0]] == 255
    write('HAND-M.CUR', cur)
    print('cursor %dx%d, hotspot %d,%d' % (w, h, hs[0], hs[1]))

    write('strudex.desktop', DESKTOP)
    write('strudex.qrc', qrc_text())


if __name__ == '__main__':
    main()
