#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the program's two notification pictures as 16 x 16, 8-bit (256-colour)
Windows icon files: the normal picture (a pink "Zv" mark on black, also the
window icon) and the active picture (the same mark in black on pink).

Run it once after changing the mark; the .ico files are kept in the source tree.
"""
import struct
import sys
import zlib
from pathlib import Path

PINK = (255, 0, 204)
BLACK = (0, 0, 0)

# The mark, 16 x 16, '#' drawn in the mark colour: a "Z" and a small "v".
MARK = [
    "................",
    "................",
    "................",
    ".######.........",
    "......#.........",
    ".....#..........",
    "....#...........",
    "...#....#...#...",
    "..#.....#...#...",
    ".#.......#.#....",
    ".######..#.#....",
    ".........#.#....",
    "..........#.....",
    "................",
    "................",
    "................",
]


def icon_bytes(ground, mark):
    width = height = 16
    # Palette of 256 entries (B, G, R, 0): index 0 the ground, 1 the mark.
    palette = bytearray(256 * 4)
    palette[0:4] = bytes((ground[2], ground[1], ground[0], 0))
    palette[4:8] = bytes((mark[2], mark[1], mark[0], 0))
    # Pixel rows are stored bottom-up, one byte per pixel (rows of 16 bytes are
    # already 32-bit aligned).
    pixels = bytearray()
    for row in reversed(MARK):
        pixels += bytes(1 if c == "#" else 0 for c in row)
    # AND mask: one bit per pixel, rows padded to 32 bits; all zero = opaque.
    mask = bytes(4 * height)
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 8, 0,
                         len(pixels) + len(mask), 0, 0, 256, 0)
    image = header + bytes(palette) + bytes(pixels) + mask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", width, height, 0, 0, 1, 8, len(image), 6 + 16)
    return icondir + entry + image


def png_bytes(ground, mark):
    """The same picture as a 16 x 16 PNG, for icon themes and desktop entries."""
    rows = b""
    for row in MARK:
        rows += b"\x00" + b"".join(bytes(mark if c == "#" else ground) for c in row)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", 16, 16, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b"")


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "src/ui/pictures"
    out.mkdir(parents=True, exist_ok=True)
    (out / "normal.ico").write_bytes(icon_bytes(BLACK, PINK))
    (out / "active.ico").write_bytes(icon_bytes(PINK, BLACK))
    (out / "zorvek.png").write_bytes(png_bytes(BLACK, PINK))


if __name__ == "__main__":
    main()
