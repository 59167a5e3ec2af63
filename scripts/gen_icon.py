#!/usr/bin/env python3
"""Writes resources/stub.ico: the package program's icon, a four-leaf clover.

Two images, 32 x 32 and 16 x 16, each with 16 colours (4 bits per pixel, the standard VGA
palette) and a transparency mask. The drawing is computed, so the icon can be regenerated at
any size from this script. Run it after changing the drawing below.
"""
import math
import pathlib
import struct

# The 16 colours of the standard VGA palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
DARK_GREEN = 2
LIGHT_GREEN = 10
BLACK = 0
WHITE = 15
TRANSPARENT = None


def clover(size: int):
    """A rows x columns list of palette indices (None for transparent), top row first."""
    s = size / 32.0
    centre = (16 * s, 14 * s)
    leaf_r = 6.2 * s
    leaf_offset = 6.0 * s
    leaves = [(centre[0] + dx * leaf_offset, centre[1] + dy * leaf_offset)
              for dx, dy in ((-1, 0), (1, 0), (0, -1), (0, 1))]
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            px, py = x + 0.5, y + 0.5
            value = TRANSPARENT
            # The stem: a short slanted line from the centre down to the lower right.
            t = (py - centre[1]) / (30 * s - centre[1]) if py > centre[1] else -1
            if 0 <= t <= 1:
                sx = centre[0] + t * 7 * s
                if abs(px - sx) <= max(0.8, 1.1 * s):
                    value = DARK_GREEN
            for lx, ly in leaves:
                d = math.hypot(px - lx, py - ly)
                if d <= leaf_r:
                    edge = d > leaf_r - max(1.0, 1.2 * s)
                    value = DARK_GREEN if edge else LIGHT_GREEN
            if math.hypot(px - centre[0], py - centre[1]) <= 1.6 * s:
                value = WHITE if size >= 32 else LIGHT_GREEN
            row.append(value)
        rows.append(row)
    return rows


def dib(size: int) -> bytes:
    pixels = clover(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(pixels):  # bottom-up
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, value in enumerate(row):
            index = BLACK if value is None else value
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if value is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    return header + palette + bytes(xor) + bytes(mask)


def main() -> None:
    images = [dib(32), dib(16)]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    path = pathlib.Path(__file__).resolve().parent.parent / "resources" / "stub.ico"
    path.write_bytes(bytes(out))
    print(f"wrote {path} ({len(out)} bytes)")


if __name__ == "__main__":
    main()
