#!/usr/bin/env python3
"""Writes the small BMP seed files of the bmp_load fuzz target into bmp/ beside this script:
one file per header kind, depth, compression and row order the reader knows; and into
bmp-large/ small RLE files of pictures near the largest size, for longer bmp_load sessions
(corpora.txt)."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def info_header(size, width, height, bits, compression=0, image_size=0, colors_used=0,
                masks=None):
    h = struct.pack("<IiiHHIIiiII", size, width, height, 1, bits, compression, image_size,
                    2835, 2835, colors_used, 0)
    extra = b""
    if size >= 52:
        m = list(masks or (0, 0, 0, 0)) + [0]
        extra = struct.pack("<III", *m[:3])
        if size >= 56:
            extra += struct.pack("<I", m[3])
    return (h + extra).ljust(size, b"\0")


def bmp(header, table=b"", masks=b"", pixels=b""):
    off = 14 + len(header) + len(masks) + len(table)
    return b"BM" + struct.pack("<IHHI", off + len(pixels), 0, 0, off) + header + masks + \
        table + pixels


def rows(width, bits, values_per_row):
    stride = (width * bits + 31) // 32 * 4
    return b"".join(r.ljust(stride, b"\0") for r in values_per_row)


def quads(n):
    return b"".join(bytes((i * 37 % 256, i * 91 % 256, i * 13 % 256, 0)) for i in range(n))


def seeds():
    yield "1bit.bmp", bmp(info_header(40, 5, 3, 1), quads(2),
                          pixels=rows(5, 1, [b"\xa8", b"\x50", b"\xf8"]))
    yield "4bit.bmp", bmp(info_header(40, 3, 2, 4, colors_used=5), quads(5),
                          pixels=rows(3, 4, [b"\x01\x20", b"\x34\x40"]))
    yield "8bit.bmp", bmp(info_header(40, 4, 4, 8), quads(256),
                          pixels=rows(4, 8, [bytes((y * 4 + x) * 9 for x in range(4))
                                             for y in range(4)]))
    yield "8bit-topdown.bmp", bmp(info_header(40, 3, -2, 8, colors_used=4), quads(4),
                                  pixels=rows(3, 8, [b"\x00\x01\x02", b"\x03\x02\x01"]))
    yield "16bit-555.bmp", bmp(info_header(40, 3, 2, 16),
                               pixels=rows(3, 16, [struct.pack("<3H", 0x7C00, 0x03E0, 0x001F),
                                                   struct.pack("<3H", 0x7FFF, 0, 0x1234)]))
    yield "16bit-565.bmp", bmp(info_header(40, 2, 2, 16, compression=3),
                               masks=struct.pack("<3I", 0xF800, 0x07E0, 0x001F),
                               pixels=rows(2, 16, [struct.pack("<2H", 0xF800, 0x07E0),
                                                   struct.pack("<2H", 0x001F, 0xFFFF)]))
    yield "16bit-444.bmp", bmp(info_header(52, 2, 1, 16, compression=3,
                                           masks=(0x0F00, 0x00F0, 0x000F)),
                               pixels=rows(2, 16, [struct.pack("<2H", 0x0F00, 0x0ABC)]))
    yield "24bit.bmp", bmp(info_header(40, 3, 3, 24),
                           pixels=rows(3, 24, [bytes(range(y * 9, y * 9 + 9)) for y in range(3)]))
    yield "32bit.bmp", bmp(info_header(40, 2, 2, 32),
                           pixels=rows(2, 32, [bytes(range(8)), bytes(range(8, 16))]))
    yield "32bit-v3-masks.bmp", bmp(info_header(56, 2, 1, 32, compression=3,
                                                masks=(0xFF000000, 0x00FF0000, 0x0000FF00,
                                                       0x000000FF)),
                                    pixels=rows(2, 32, [bytes(range(1, 9))]))
    yield "24bit-v4.bmp", bmp(info_header(108, 2, 2, 24),
                              pixels=rows(2, 24, [bytes(range(6)), bytes(range(6, 12))]))
    yield "32bit-v5-bitfields.bmp", bmp(info_header(124, 2, 1, 32, compression=3,
                                                    masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000)),
                                        pixels=rows(2, 32, [bytes(range(8))]))
    core = struct.pack("<IHHHH", 12, 3, 2, 1, 8)
    table = b"".join(bytes((i, 255 - i, i // 2)) for i in range(256))
    yield "core-8bit.bmp", bmp(core, table, pixels=rows(3, 8, [b"\x01\x02\x03", b"\xff\x00\x80"]))
    # RLE8: a run, an absolute run with its pad byte, a delta, end of line, end of picture.
    rle8 = bytes((3, 7, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 1, 1, 2, 9, 0, 1))
    yield "rle8.bmp", bmp(info_header(40, 6, 3, 8, compression=1, image_size=len(rle8),
                                      colors_used=16), quads(16), pixels=rle8)
    rle4 = bytes((5, 0x12, 0, 3, 0x34, 0x50, 0, 0, 0, 2, 2, 0, 2, 0xAB, 0, 1))
    yield "rle4.bmp", bmp(info_header(40, 6, 3, 4, compression=2, image_size=len(rle4)),
                          quads(16), pixels=rle4)


def large_seeds():
    # A run on the bottom row of 64 M pixels, two end-of-lines, a delta and an absolute run on
    # the top row.
    wide = bytes((255, 1, 0, 0, 0, 0, 0, 2, 255, 0, 0, 3, 5, 6, 7, 0, 0, 1))
    yield "rle8-67108864x3.bmp", bmp(info_header(40, 1 << 26, 3, 8, compression=1,
                                                 image_size=len(wide), colors_used=16),
                                     quads(16), pixels=wide)
    # A pixel, then end-of-lines to the top row of 16384 and past it.
    lines = bytes((2, 9)) + bytes(2 * (16383 + 16)) + bytes((0, 1))
    yield "rle8-16384x16384-end-of-lines.bmp", bmp(info_header(40, 16384, 16384, 8, compression=1,
                                                               colors_used=16),
                                                   quads(16), pixels=lines)


def main():
    for folder, files in (("bmp", seeds()), ("bmp-large", large_seeds())):
        os.makedirs(os.path.join(HERE, folder), exist_ok=True)
        for name, data in files:
            with open(os.path.join(HERE, folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
