#!/usr/bin/env python3
"""Writes a PNG of one kind for the reader's test against netpbm
(cli_hostile_files_test.cpp): a 37 x 23 picture of pseudo-random samples,
so that every bit of every sample and every interlace pass matters.

    png_kinds.py OUT COLOUR_TYPE BIT_DEPTH INTERLACED TRANSPARENT

COLOUR_TYPE is PNG's (0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGBA);
INTERLACED 1 writes Adam7; TRANSPARENT 1 adds a tRNS chunk to grey, RGB and
palette images (types 4 and 6 always carry alpha).
"""
import random
import struct
import sys
import zlib

WIDTH, HEIGHT = 37, 23
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def pack_row(pixels, depth):
    """A row of pixels (tuples of samples) as PNG stores it, filter byte first."""
    samples = [s for p in pixels for s in p]
    if depth == 16:
        return b"\0" + b"".join(struct.pack(">H", s) for s in samples)
    if depth == 8:
        return b"\0" + bytes(samples)
    out, acc, bits = bytearray(b"\0"), 0, 0
    for s in samples:
        acc = acc << depth | s
        bits += depth
        if bits == 8:
            out.append(acc)
            acc, bits = 0, 0
    if bits:
        out.append(acc << (8 - bits))
    return bytes(out)


def main():
    out, colour, depth, interlaced, transparent = sys.argv[1], *map(int, sys.argv[2:])
    rng = random.Random(colour * 1000 + depth * 10 + interlaced * 2 + transparent)
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour]
    top = (1 << depth) - 1
    extra = b""
    if colour == 3:
        entries = min(256, 1 << depth)
        palette = [tuple(rng.randrange(256) for _ in range(3)) for _ in range(entries)]
        extra += chunk(b"PLTE", bytes(v for e in palette for v in e))
        if transparent:
            extra += chunk(b"tRNS", bytes(rng.randrange(256) for _ in range(entries - 1)))
    image = [[tuple(rng.randrange(top + 1) for _ in range(channels)) for _ in range(WIDTH)] for _ in range(HEIGHT)]
    if transparent and colour == 0:
        extra += chunk(b"tRNS", struct.pack(">H", image[3][3][0]))
    if transparent and colour == 2:
        extra += chunk(b"tRNS", struct.pack(">HHH", *image[3][3]))
    raw = b""
    if interlaced:
        for x0, y0, dx, dy in ADAM7:
            if x0 >= WIDTH or y0 >= HEIGHT:
                continue
            for y in range(y0, HEIGHT, dy):
                raw += pack_row(image[y][x0::dx], depth)
    else:
        raw = b"".join(pack_row(row, depth) for row in image)
    ihdr = struct.pack(">IIBBBBB", WIDTH, HEIGHT, depth, colour, 0, 0, interlaced)
    with open(out, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + extra + chunk(b"IDAT", zlib.compress(raw, 9)) +
                chunk(b"IEND", b""))


main()
