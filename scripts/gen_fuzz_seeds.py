#!/usr/bin/env python3
"""Writes the seed corpus of the bitmap decoder's fuzz target: one small file
for each depth, compression and header kind the decoder takes."""
import os
import struct
import sys

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "corpus", "bitmap")


def info40(w, h, bpp, compression=0, used=0):
    return struct.pack("<IiiHHIIiiII", 40, w, h, 1, bpp, compression, 0, 0, 0, used, 0)


def info12(w, h, bpp):
    return struct.pack("<IHHHH", 12, w, h, 1, bpp)


def table(n, core=False):
    out = b""
    for i in range(n):
        out += bytes([(i * 37) & 255, (i * 91) & 255, (i * 13) & 255])
        if not core:
            out += b"\0"
    return out


def with_file_header(headers, pixels):
    offset = 14 + len(headers)
    return b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + headers + pixels


def rows(w, h, bpp):
    stride = (bpp * w + 31) // 32 * 4
    return bytes((x * 7 + y * 29) & 255 for y in range(h) for x in range(stride))


def main():
    os.makedirs(OUT, exist_ok=True)
    masks565 = struct.pack("<III", 0xF800, 0x07E0, 0x001F)
    masks32 = struct.pack("<III", 0xFF000000, 0x00FF0000, 0x0000FF00)
    rle8 = bytes([3, 1, 1, 2, 0, 0, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 1, 0, 1, 3, 0, 1])
    rle4 = bytes([5, 0x12, 0, 0, 0, 3, 0x31, 0x20, 0, 0, 0, 1])
    seeds = {
        "bits1.bmp": with_file_header(info40(10, 3, 1) + table(2), rows(10, 3, 1)),
        "bits4.bmp": with_file_header(info40(5, 3, 4) + table(16), rows(5, 3, 4)),
        "bits8.bmp": with_file_header(info40(5, 3, 8) + table(256), rows(5, 3, 8)),
        "bits8-used16-bare.bmp": info40(3, 2, 8, 0, 16) + table(16) + rows(3, 2, 8),
        "bits16.bmp": with_file_header(info40(3, 2, 16), rows(3, 2, 16)),
        "bits16-fields.bmp": with_file_header(info40(3, 2, 16, 3) + masks565, rows(3, 2, 16)),
        "bits16-fields-bare.bmp": info40(3, 2, 16, 3) + masks565 + rows(3, 2, 16),
        "bits24.bmp": with_file_header(info40(3, 2, 24), rows(3, 2, 24)),
        "bits24-bare.bmp": info40(2, 2, 24) + rows(2, 2, 24),
        "bits24-topdown.bmp": with_file_header(info40(3, -2, 24), rows(3, 2, 24)),
        "bits32.bmp": with_file_header(info40(2, 2, 32), rows(2, 2, 32)),
        "bits32-fields.bmp": with_file_header(info40(2, 2, 32, 3) + masks32, rows(2, 2, 32)),
        "rle8.bmp": with_file_header(info40(4, 3, 8, 1, 4) + table(4), rle8),
        "rle4.bmp": info40(5, 2, 4, 2, 16) + table(16) + rle4,
        # A large picture whose run-length data only ends it: legal, all black.
        "rle8-sparse.bmp": info40(2048, 2048, 8, 1, 1) + table(1) + bytes([0, 1]),
        # Width, height and depth whose image size overflows 64-bit arithmetic.
        "huge-header.bmp": info40(0x7FFFFFFF, 0x7FFFFFFF, 32),
        "core4.bmp": with_file_header(info12(3, 2, 4) + table(16, True), rows(3, 2, 4)),
        "core24-bare.bmp": info12(2, 2, 24) + rows(2, 2, 24),
    }
    for name, data in seeds.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
