#!/usr/bin/env python3
"""Writes the program's bitmaps into data/:

  grasstex.bmp   256x256, 24 bits: seamless grass for the ground
  robot.bmp      128x128, 8 bits with a colour table: painted metal panels
                 with seams and rivets, seamless (it tiles on the robot's body)
  robotface.bmp  64x64, 24 bits: the robot's face, a dark visor with two
                 glowing eyes above a grille in a metal frame

Standard library only and fixed seeds: every run writes the same bytes.

  gen_bitmaps.py --face FORMAT OUT   writes only the robot's face, as bmp,
                                     png or tga (the same pixels in each)
"""
import argparse
import math
import os
import random
import struct
import sys
import zlib

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data")


def clamp(v):
    return 0 if v < 0 else 255 if v > 255 else int(v + 0.5)


def smooth(t):
    return t * t * (3 - 2 * t)


def value_noise(rng, size, cells_x, cells_y):
    """Tileable value noise in [0, 1]: a lattice of random values that wraps
    around, smoothly interpolated. Rows are lists of floats, top row first."""
    lattice = [[rng.random() for _ in range(cells_x)] for _ in range(cells_y)]
    out = []
    for y in range(size):
        fy = y * cells_y / size
        iy = int(fy)
        ty = smooth(fy - iy)
        row0 = lattice[iy % cells_y]
        row1 = lattice[(iy + 1) % cells_y]
        line = []
        for x in range(size):
            fx = x * cells_x / size
            ix = int(fx)
            tx = smooth(fx - ix)
            x0 = ix % cells_x
            x1 = (ix + 1) % cells_x
            a = row0[x0] + (row0[x1] - row0[x0]) * tx
            b = row1[x0] + (row1[x1] - row1[x0]) * tx
            line.append(a + (b - a) * ty)
        out.append(line)
    return out


def fbm(rng, size, base_cells, octaves, stretch_x=1, stretch_y=1):
    """Several octaves of tileable value noise, each twice as fine and half as
    strong as the one before, scaled back to [0, 1]."""
    total = [[0.0] * size for _ in range(size)]
    weight = 1.0
    weights = 0.0
    cells = base_cells
    for _ in range(octaves):
        layer = value_noise(rng, size, max(1, cells // stretch_x), max(1, cells // stretch_y))
        for y in range(size):
            t = total[y]
            l = layer[y]
            for x in range(size):
                t[x] += l[x] * weight
        weights += weight
        weight *= 0.5
        cells = min(cells * 2, size)
    return [[v / weights for v in row] for row in total]


def write_bmp24(path, width, height, rows):
    """rows: top row first, each a list of (r, g, b)."""
    stride = (width * 3 + 3) // 4 * 4
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += bytes(stride - len(line))
        pixels += line
    offset = 14 + 40
    header = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


def write_png(path, width, height, rows):
    """rows: top row first, each a list of (r, g, b), or of (r, g, b, a)
    for a picture with an alpha channel. 8 bits a channel, one IDAT."""
    raw = b"".join(b"\0" + bytes(c for pixel in row for c in pixel) for row in rows)
    colour_type = 6 if len(rows[0][0]) == 4 else 2

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xffffffff))

    header = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def write_tga(path, width, height, rows):
    """rows: top row first. Uncompressed 24-bit true colour, stored from the
    top row down (descriptor bit 5), pixels as blue, green, red."""
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, width, height, 24, 0x20)
    pixels = bytes(c for row in rows for r, g, b in row for c in (b, g, r))
    with open(path, "wb") as f:
        f.write(header + pixels)


def write_bmp8(path, width, height, palette, rows):
    """rows: top row first, each a list of colour indices into palette."""
    stride = (width + 3) // 4 * 4
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray(row)
        line += bytes(stride - len(line))
        pixels += line
    table = bytearray()
    for r, g, b in palette:
        table += bytes((b, g, r, 0))
    offset = 14 + 40 + len(table)
    header = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(pixels), 2835, 2835,
                       len(palette), 0)
    with open(path, "wb") as f:
        f.write(header + info + table + pixels)


def grass():
    size = 256
    rng = random.Random(20240611)
    ground = fbm(rng, size, 4, 6)
    patches = fbm(rng, size, 2, 3)
    # Soil and shadowed stems between the blades: dark green going brown.
    img = []
    for y in range(size):
        row = []
        for x in range(size):
            n = ground[y][x]
            soil = patches[y][x]
            row.append([24 + 40 * n + 18 * soil, 44 + 52 * n, 14 + 20 * n + 6 * soil])
        img.append(row)
    greens = [(62, 124, 30), (84, 146, 38), (50, 104, 26), (108, 158, 48), (40, 92, 24),
              (122, 166, 60), (74, 136, 44), (96, 128, 34)]
    # Blades: thin slanted strokes, dark at the root and light at the tip,
    # drawn with wrap-around so that the texture tiles without a seam.
    for _ in range(16000):
        x0 = rng.uniform(0, size)
        y0 = rng.uniform(0, size)
        length = rng.uniform(5, 20)
        lean = rng.gauss(0, 0.28)
        bend = rng.gauss(0, 0.012)
        base = greens[rng.randrange(len(greens))]
        light = rng.uniform(0.8, 1.2) * (0.75 + 0.5 * patches[int(y0)][int(x0)])
        width = 2 if length > 14 else 1
        steps = int(length * 1.5)
        for s in range(steps + 1):
            d = s / 1.5
            t = d / length
            px = x0 + math.sin(lean) * d + bend * d * d
            py = y0 - math.cos(lean) * d
            shade = (0.45 + 0.75 * t) * light
            colour = [base[0] * shade, base[1] * shade, base[2] * shade]
            for w in range(width if t < 0.6 else 1):
                pixel = img[int(py) % size][int(px + w) % size]
                pixel[0], pixel[1], pixel[2] = colour
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            r, g, b = img[y][x]
            j = rng.uniform(-5, 5)
            row.append((clamp(r + j), clamp(g + j), clamp(b + j * 0.5)))
        rows.append(row)
    write_bmp24(os.path.join(DATA, "grasstex.bmp"), size, size, rows)


def metal_palette():
    """Painted metal: a ramp of a cool blue-grey paint from shadow to
    highlight, the highlights going neutral."""
    palette = []
    for i in range(256):
        t = i / 255
        r = 18 + 214 * t ** 1.05
        g = 22 + 218 * t ** 1.02
        b = 30 + 222 * t ** 0.95
        palette.append((clamp(r), clamp(g), clamp(b)))
    return palette


def robot_metal():
    size = 128
    rng = random.Random(4711)
    # Brushed grain runs along the rows: noise stretched across x.
    grain = fbm(rng, size, 32, 3, stretch_x=16, stretch_y=1)
    fine = fbm(rng, size, 64, 2)
    wear = fbm(rng, size, 4, 4)
    tone = [[0.0] * size for _ in range(size)]
    panel = 64
    for y in range(size):
        for x in range(size):
            v = 0.52 + 0.16 * (grain[y][x] - 0.5) + 0.08 * (fine[y][x] - 0.5)
            # Worn paint shows a brighter bare metal in patches.
            w = wear[y][x]
            if w > 0.62:
                v += (w - 0.62) * 0.9
            # Each panel is lit a little differently.
            v += 0.03 * (((x // panel) + (y // panel)) % 2)
            tone[y][x] = v
    # Seams between the 64x64 panels: a dark groove with a lit edge below
    # and right of it, repeated at the edges so that the texture tiles.
    for y in range(size):
        for x in range(size):
            px = x % panel
            py = y % panel
            if px == 0 or py == 0:
                tone[y][x] = 0.12
            elif px == 1 or py == 1:
                tone[y][x] = min(tone[y][x] + 0.25, 0.98)
            elif px == panel - 1 or py == panel - 1:
                tone[y][x] -= 0.14
    # Rivets along every panel edge: small domes lit from the top left.
    for cy in range(0, size, panel):
        for cx in range(0, size, panel):
            spots = [(cx + 6, cy + 6), (cx + panel - 6, cy + 6), (cx + 6, cy + panel - 6),
                     (cx + panel - 6, cy + panel - 6)]
            for k in (20, 32, 44):
                spots += [(cx + k, cy + 5), (cx + k, cy + panel - 5), (cx + 5, cy + k),
                          (cx + panel - 5, cy + k)]
            for rx, ry in spots:
                for dy in range(-4, 5):
                    for dx in range(-4, 5):
                        d = math.hypot(dx, dy)
                        x = (rx + dx) % size
                        y = (ry + dy) % size
                        if d <= 2.6:
                            nz = math.sqrt(max(0.0, 1 - (d / 2.8) ** 2))
                            lit = (-dx * 0.55 - dy * 0.55) / 2.8 + nz * 0.6
                            tone[y][x] = 0.35 + 0.5 * lit
                        elif d <= 3.6 and dx + dy > 0:
                            # Shadow cast down and to the right.
                            tone[y][x] -= 0.12
    rows = [[clamp(255 * min(max(v, 0.0), 1.0)) for v in row] for row in tone]
    write_bmp8(os.path.join(DATA, "robot.bmp"), size, size, metal_palette(), rows)


def robot_face_rows():
    """The face picture: 64 rows, top row first, of 64 (r, g, b) each."""
    size = 64
    rng = random.Random(90210)
    grain = fbm(rng, size, 16, 3, stretch_x=8, stretch_y=1)
    img = []
    for y in range(size):
        row = []
        for x in range(size):
            v = 150 + 26 * (grain[y][x] - 0.5)
            row.append([v * 0.96, v, v * 1.06])
        img.append(row)

    def box(x0, y0, x1, y1, radius):
        """Signed distance (negative inside) to a rounded rectangle."""
        cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
        hx, hy = (x1 - x0) / 2 - radius, (y1 - y0) / 2 - radius

        def dist(x, y):
            dx = abs(x - cx) - hx
            dy = abs(y - cy) - hy
            outside = math.hypot(max(dx, 0.0), max(dy, 0.0))
            return outside + min(max(dx, dy), 0.0) - radius
        return dist

    # Bevelled frame edge around the whole face.
    for y in range(size):
        for x in range(size):
            edge = min(x, y, size - 1 - x, size - 1 - y)
            if edge == 0:
                shade = 0.55
            elif edge == 1:
                shade = 1.25 if (x < size // 2 and y < size // 2) or x < y else 0.75
            else:
                continue
            img[y][x] = [c * shade for c in img[y][x]]

    visor = box(7, 8, 56, 36, 7)
    eyes = [(21.5, 21.5), (42.5, 21.5)]
    for y in range(size):
        for x in range(size):
            d = visor(x + 0.5, y + 0.5)
            if d < 0:
                # The screen: near black with faint scan lines and a sheen
                # at its top.
                base = 18 + (4 if y % 2 else 0) + max(0, 12 - (y - 8) * 1.5)
                colour = [base * 0.8, base * 0.95, base * 1.2]
                for ex, ey in eyes:
                    e = math.hypot((x + 0.5 - ex) / 1.3, y + 0.5 - ey)
                    if e < 4.2:
                        core = 1.0 - e / 4.2
                        colour = [colour[0] + 255 * core, colour[1] + 255 * min(1, core * 1.6),
                                  colour[2] + 255 * min(1, core * 2.5)]
                    else:
                        glow = math.exp(-(e - 4.2) / 2.6) * 0.55
                        colour = [colour[0] + 40 * glow, colour[1] + 170 * glow,
                                  colour[2] + 220 * glow]
                img[y][x] = colour
            elif d < 1.6:
                # Dark rim, lit on its lower edge.
                img[y][x] = [c * (0.45 if y < 22 else 0.7) for c in img[y][x]]

    # Grille below the visor: five dark slots with lit lower lips.
    for i in range(5):
        top = 42 + i * 3
        for x in range(14, 50):
            fade = 1.0 if 16 <= x < 48 else 0.6
            img[top][x] = [c * 0.3 * fade + 10 * (1 - fade) for c in img[top][x]]
            img[top + 1][x] = [c * 1.18 for c in img[top + 1][x]]
    # Two bolts at the lower corners.
    for bx, by in ((6, 57), (57, 57)):
        for dy in range(-2, 3):
            for dx in range(-2, 3):
                d = math.hypot(dx, dy)
                if d <= 2.2:
                    lit = 1.0 + (-dx - dy) * 0.18
                    img[by + dy][bx + dx] = [110 * lit, 112 * lit, 118 * lit]
    return [[(clamp(r), clamp(g), clamp(b)) for r, g, b in row] for row in img]


WRITERS = {"bmp": write_bmp24, "png": write_png, "tga": write_tga}


def write_face(path, kind="bmp"):
    rows = robot_face_rows()
    WRITERS[kind](path, len(rows[0]), len(rows), rows)


def main():
    parser = argparse.ArgumentParser(
        description=__doc__.splitlines()[0].rstrip(":") + " (grasstex.bmp, robot.bmp, "
        "robotface.bmp; every run writes the same bytes).")
    parser.add_argument("--face", nargs=2, metavar=("FORMAT", "OUT"),
                        help="write only the robot's face to the file OUT instead, as FORMAT "
                             "bmp, png or tga (the same pixels in each); data/ is not touched")
    args = parser.parse_args()
    if args.face:
        kind, out = args.face
        if kind not in WRITERS:
            parser.error("FORMAT is one of %s" % ", ".join(sorted(WRITERS)))
        write_face(out, kind)
        return 0
    os.makedirs(DATA, exist_ok=True)
    grass()
    robot_metal()
    write_face(os.path.join(DATA, "robotface.bmp"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
