#!/usr/bin/env python3
"""Draws Kelvane's pictures: the About box logo and the application icon.

    data/make_pictures.py           writes logo.bmp, kelvane.png and kelvane.ico beside this script
    data/make_pictures.py --check   exits 1 if a committed picture differs from what the script draws

Both show the same motif, a MIDI socket seen from the front on a rounded tile, since the
program's whole job happens at that socket. Only the standard library is used, so any
Python 3 can redraw them, and the output is byte-for-byte repeatable.

- logo.bmp: 76 x 76, 24-bit BMP, anti-aliased; the About box stretches it to 62 x 60.
- kelvane.png: the 48 x 48 picture in 16 colours (the classic VGA palette), as a 4-bit palette
  image with the one colour the drawing never uses (fuchsia) marked transparent.
- kelvane.ico: the Windows icon, the same design in the same colours drawn anew at 16, 24, 32,
  48 and 256 pixels in 32-bit colour, its edges smoothed by the alpha channel.
"""

import math
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# ---------------------------------------------------------------------------------------------
# Shapes, as coverage tests on a point (x, y) in pixel units, y pointing down.


def in_rounded_square(x, y, left, top, right, bottom, radius):
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2 and left <= x <= right and top <= y <= bottom


def in_circle(x, y, cx, cy, r):
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def in_rect(x, y, left, top, right, bottom):
    return left <= x <= right and top <= y <= bottom


def pin_centres(cx, cy, arc_radius):
    # Five pins on the lower half-circle, from the right round to the left.
    return [(cx + arc_radius * math.cos(math.radians(a)), cy + arc_radius * math.sin(math.radians(a)))
            for a in (0, 45, 90, 135, 180)]


# ---------------------------------------------------------------------------------------------
# The logo: 76 x 76, true colour, 4 x 4 samples per pixel.

LOGO_SIZE = 76
WHITE = (255, 255, 255)


def lerp(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def logo_sample(x, y):
    """Colour at one sample point; None where the tile does not reach (the white panel shows)."""
    size = LOGO_SIZE
    if not in_rounded_square(x, y, 2.5, 2.5, size - 2.5, size - 2.5, 14):
        # A soft shadow down and to the right, so the tile sits on the white panel.
        if in_rounded_square(x, y, 4.5, 4.5, size - 0.5, size - 0.5, 14):
            return (196, 204, 214)
        return None
    if not in_rounded_square(x, y, 4, 4, size - 4, size - 4, 12.5):
        return (12, 36, 92)  # the tile's dark rim
    # Deep blue at the top left to teal at the bottom right, lit a little from the top.
    t = (x + y) / (2 * size)
    colour = lerp((28, 58, 168), (0, 150, 150), t)
    if y < size * 0.42:
        colour = lerp(colour, WHITE, 0.12 * (1 - y / (size * 0.42)))

    cx, cy = size / 2, size / 2 + 1
    if in_circle(x, y, cx, cy, 25.5):
        if in_rect(x, y, cx - 3.5, cy - 26, cx + 3.5, cy - 18.5):
            return (18, 22, 38)  # the key notch cuts the ring
        if not in_circle(x, y, cx, cy, 19.5):
            # The metal ring, darker on the lower right where the light does not fall.
            shade = max(0.0, min(1.0, ((x - cx) + (y - cy)) / 50 + 0.5))
            return lerp((250, 250, 252), (150, 160, 175), shade)
        for px, py in pin_centres(cx, cy, 11.5):
            if in_circle(x, y, px, py, 3.2):
                return lerp((255, 236, 150), (200, 150, 40), max(0.0, min(1.0, (y - py + 3.2) / 6.4)))
        return (18, 22, 38)  # the socket's dark face
    return colour


def draw_logo():
    n = 4
    rows = []
    for j in range(LOGO_SIZE):
        row = []
        for i in range(LOGO_SIZE):
            acc = [0, 0, 0]
            for sj in range(n):
                for si in range(n):
                    c = logo_sample(i + (si + 0.5) / n, j + (sj + 0.5) / n) or WHITE
                    for k in range(3):
                        acc[k] += c[k]
            row.append(tuple((a + n * n // 2) // (n * n) for a in acc))
        rows.append(row)
    return rows


def bmp_24(rows):
    height, width = len(rows), len(rows[0])
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += bytes(stride - len(line))
        pixels += line
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 3780, 3780, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + bytes(pixels)


# ---------------------------------------------------------------------------------------------
# The icon: 48 x 48, one pixel = one palette index, no anti-aliasing beyond what 16 colours allow.

VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, TEAL, SILVER, GREY, YELLOW, FUCHSIA, AQUA, WHITE16 = 0, 4, 6, 7, 8, 11, 13, 14, 15
TRANSPARENT = None
ICON_SIZE = 48


def icon_sample(x, y):
    """The icon's colour (a palette index, or TRANSPARENT) at a point of the 48 x 48 design."""
    size = ICON_SIZE
    if not in_rounded_square(x, y, 1, 1, size - 1, size - 1, 8):
        return TRANSPARENT
    if not in_rounded_square(x, y, 2, 2, size - 2, size - 2, 7):
        return NAVY  # outline
    if not in_rounded_square(x, y, 3, 3, size - 3, size - 3, 6):
        # A classic raised edge: light along the top and left, dark along the bottom and right.
        return AQUA if x + y < size else NAVY
    cx, cy = size / 2, size / 2 + 1
    if in_circle(x, y, cx, cy, 17):
        if in_rect(x, y, cx - 2.5, cy - 18, cx + 2.5, cy - 12):
            return BLACK  # key notch
        if not in_circle(x, y, cx, cy, 12.5):
            if in_circle(x, y, cx, cy, 16) and not in_circle(x, y, cx, cy, 13.5):
                return WHITE16 if (x - cx) + (y - cy) < 6 else SILVER
            return GREY
        for px, py in pin_centres(cx, cy, 7.5):
            # On pixel corners, so every pin is the same 4 x 4 blob.
            if in_circle(x, y, round(px), round(py), 2.0):
                return YELLOW
        return BLACK
    return TEAL


def draw_icon():
    return [[icon_sample(i + 0.5, j + 0.5) for i in range(ICON_SIZE)] for j in range(ICON_SIZE)]


# Windows' icon sizes: the small icon (16, and 24 at 150 %), the large one (32, and 48 at 150 % or
# in Explorer's medium view) and the 256 px of the large views, each drawn anew from the design
# rather than stretched from the 48 px picture, with 4 x 4 samples per pixel for smooth edges.
WINDOWS_ICON_SIZES = (16, 24, 32, 48, 256)
SAMPLES = 4


def draw_icon_rgba(size):
    """The design at `size` x `size` in true colour: rows of (r, g, b, a)."""
    rows = []
    step = ICON_SIZE / size / SAMPLES
    for j in range(size):
        row = []
        for i in range(size):
            covered = []
            for sj in range(SAMPLES):
                for si in range(SAMPLES):
                    k = icon_sample((i * SAMPLES + si + 0.5) * step, (j * SAMPLES + sj + 0.5) * step)
                    if k is not TRANSPARENT:
                        covered.append(VGA16[k])
            if not covered:
                row.append((0, 0, 0, 0))
                continue
            colour = tuple(round(sum(c[n] for c in covered) / len(covered)) for n in range(3))
            row.append(colour + (round(255 * len(covered) / SAMPLES ** 2),))
        rows.append(row)
    return rows


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def pack_nibbles(indices):
    out = bytearray()
    for k in range(0, len(indices), 2):
        out.append((indices[k] << 4) | indices[k + 1])
    return bytes(out)


def png_16(pixels):
    height, width = len(pixels), len(pixels[0])
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # no filter
        raw += pack_nibbles([FUCHSIA if p is TRANSPARENT else p for p in row])
    palette = b"".join(bytes(c) for c in VGA16)
    alpha = bytes(0 if k == FUCHSIA else 255 for k in range(FUCHSIA + 1))
    return (b"\x89PNG\r\n\x1a\n"
            + png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 4, 3, 0, 0, 0))
            + png_chunk(b"PLTE", palette)
            + png_chunk(b"tRNS", alpha)
            + png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + png_chunk(b"IEND", b""))


def png_rgba(rows):
    raw = bytearray()
    for row in rows:
        raw.append(0)  # no filter
        for pixel in row:
            raw += bytes(pixel)
    return (b"\x89PNG\r\n\x1a\n"
            + png_chunk(b"IHDR", struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 6, 0, 0, 0))
            + png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + png_chunk(b"IEND", b""))


def ico_image_32(rows):
    """One icon image as Windows keeps it: a 32-bit BGRA DIB, bottom-up, and the AND mask that
    programs without alpha use (set where the picture is fully transparent)."""
    height, width = len(rows), len(rows[0])
    colour = bytearray()
    mask = bytearray()
    mask_stride = ((width + 31) // 32) * 4
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for i, (r, g, b, a) in enumerate(row):
            colour += bytes((b, g, r, a))
            if a == 0:
                bits[i // 8] |= 0x80 >> (i % 8)
        mask += bits
    info = struct.pack("<IiiHHIIiiII", 40, width, 2 * height, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    return info + bytes(colour) + bytes(mask)


def ico_windows(sizes):
    """The Windows icon: every size in 32-bit colour; the 256 px image as PNG, as Windows stores
    its largest icons."""
    images = []
    for size in sizes:
        rows = draw_icon_rgba(size)
        images.append((size, png_rgba(rows) if size >= 256 else ico_image_32(rows)))
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, image in images:
        # 0 stands for 256 in the one-byte width and height.
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return directory + entries + b"".join(image for _, image in images)


# ---------------------------------------------------------------------------------------------


def pictures():
    icon = draw_icon()
    return {
        "logo.bmp": bmp_24(draw_logo()),
        "kelvane.png": png_16(icon),
        "kelvane.ico": ico_windows(WINDOWS_ICON_SIZES),
    }


def main(argv):
    check = argv[1:] == ["--check"]
    if argv[1:] and not check:
        print("usage: make_pictures.py [--check]", file=sys.stderr)
        return 2
    stale = []
    for name, data in pictures().items():
        path = os.path.join(HERE, name)
        if check:
            try:
                with open(path, "rb") as f:
                    if f.read() != data:
                        stale.append(name)
            except FileNotFoundError:
                stale.append(name)
        else:
            with open(path, "wb") as f:
                f.write(data)
    if stale:
        print("differs from what data/make_pictures.py draws: " + ", ".join(stale), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
