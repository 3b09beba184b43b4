#!/usr/bin/env python3
"""Writes the pictures the format tests encode, and what each should read as.

  make_sources.py DIR

A picture with a different colour in every corner and a gradient between, so
that a turn, a mirror or a swapped channel shows, as 8-bit PNGs (as it is,
turned, mirrored, with alpha, with a profile) and as a 16-bit PNG whose
samples sit in the middle of their 10-bit steps, with the 8-bit picture
those steps round to. Also EXIF blocks (TIFF header first) carrying an
orientation, a flat PQ picture of graphics white, and the picture cut into
tiles.
"""
import struct
import sys
import zlib
from pathlib import Path

WIDTH, HEIGHT = 192, 128


def png(path, rows, channels, depth=8, icc=None):
    kind = {3: 2, 4: 6}[channels]
    height, width = len(rows), len(rows[0]) // channels

    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = bytearray()
    for row in rows:
        raw.append(0)
        if depth == 8:
            raw.extend(bytes(row))
        else:
            raw.extend(struct.pack(">%dH" % len(row), *row))
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, kind, 0, 0, 0))
    if icc is not None:
        out += chunk(b"iCCP", b"profile\0\0" + zlib.compress(icc))
    out += chunk(b"IDAT", zlib.compress(bytes(raw))) + chunk(b"IEND", b"")
    Path(path).write_bytes(out)


def picture(x, y):
    """The colour at (x, y): red across, green down, blue a checker, and a
    white block in the top left corner."""
    if x < 24 and y < 16:
        return (255, 255, 255)
    return (x * 255 // (WIDTH - 1), y * 255 // (HEIGHT - 1), 200 if (x // 16 + y // 16) % 2 else 40)


def rows_of(width, height, at, channels=3):
    return [[v for x in range(width) for v in at(x, y)[:channels]] for y in range(height)]


def exif(orientation):
    # Little-endian TIFF header, one IFD with one entry: Orientation (SHORT).
    return b"II*\0" + struct.pack("<IH", 8, 1) + struct.pack("<HHIHH", 0x0112, 3, 1, orientation, 0) + struct.pack("<I", 0)


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    png(out / "source.png", rows_of(WIDTH, HEIGHT, picture), 3)
    # Turned 90 degrees anticlockwise (irot 1), and clockwise (EXIF 6 undone).
    png(out / "turned_left.png", rows_of(HEIGHT, WIDTH, lambda x, y: picture(WIDTH - 1 - y, x)), 3)
    # Turned anticlockwise, then mirrored top to bottom: the picture's transpose.
    png(out / "transposed.png", rows_of(HEIGHT, WIDTH, lambda x, y: picture(y, x)), 3)
    # Mirrored left to right.
    png(out / "mirrored.png", rows_of(WIDTH, HEIGHT, lambda x, y: picture(WIDTH - 1 - x, y)), 3)
    # Alpha: opaque on the left, clear on the right, a ramp between.
    png(out / "alpha.png", rows_of(WIDTH, HEIGHT, lambda x, y: picture(x, y) + (255 - x * 255 // (WIDTH - 1),), 4), 4)
    icc = Path("/usr/share/color/icc/compatibleWithAdobeRGB1998.icc").read_bytes()
    png(out / "adobe.png", rows_of(WIDTH, HEIGHT, picture), 3, icc=icc)

    # 10-bit steps: sample v10 is stored as (v10 << 6) + 32 in 16 bits, so a
    # 10-bit encoder keeps v10 whether it shifts or rounds, and the 8-bit
    # reading is v10 * 255 / 1023 rounded (not cut: 4k+3 steps round up).
    def steps(x, y):
        return tuple(min(1023, (c * 1023 // 255) | 3) for c in picture(x, y))
    png(out / "deep.png", rows_of(WIDTH, HEIGHT, lambda x, y: tuple((v << 6) + 32 for v in steps(x, y))), 3, depth=16)
    png(out / "deep_expected.png",
        rows_of(WIDTH, HEIGHT, lambda x, y: tuple((v * 255 + 511) // 1023 for v in steps(x, y))), 3)

    # PQ graphics white (203 cd/m2 is signal 0.5806) everywhere, and white.
    pq_white = 148
    png(out / "pq_white.png", rows_of(WIDTH, HEIGHT, lambda x, y: (pq_white,) * 3), 3)
    png(out / "white.png", rows_of(WIDTH, HEIGHT, lambda x, y: (255,) * 3), 3)

    (out / "exif6.tiff").write_bytes(exif(6))

    # The picture cut into 64 x 64 tiles, row by row, for a grid.
    for row in range(HEIGHT // 64):
        for column in range(WIDTH // 64):
            png(out / ("tile_%d_%d.png" % (row, column)),
                rows_of(64, 64, lambda x, y: picture(column * 64 + x, row * 64 + y)), 3)


if __name__ == "__main__":
    main()
