#!/usr/bin/python3
"""Seeds for the encoder fuzz targets (fuzz_<codec>_encode): small tiles of
the usual shapes (sky noise with a star, constant, ramp, random full range,
extremes, for floats also NaN, infinities and exact zeros), each followed by
the tail its target reads (see the target's comment). Deterministic; plain
python. Run from the repository root: python3 fuzz/make_encoder_seeds.py"""
import hashlib
import math
import os
import random
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def save(target, data):
    folder = os.path.join(OUT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, hashlib.sha1(data).hexdigest()), "wb") as f:
        f.write(data)


INT_FORMATS = {1: ">B", 2: ">h", 4: ">i", 8: ">q"}


def int_tiles(width, r):
    lo, hi = -(1 << (8 * width - 1)), (1 << (8 * width - 1)) - 1
    if width == 1:
        lo, hi = 0, 255
    n = 97
    yield [min(hi, 77)] * n
    yield [lo + (3 * i) % (hi - lo) for i in range(n)]
    yield [r.randint(lo, hi) for _ in range(n)]
    yield [r.choice((lo, hi, lo + 1, hi - 1)) for _ in range(n)]
    yield [max(lo, min(hi, int(100 + r.gauss(0, 25) + 5000 * math.exp(-((i % 20 - 10) ** 2) / 6)))) for i in range(160)]


def pack_ints(values, width):
    return b"".join(struct.pack(INT_FORMATS[width], v) for v in values)


def float_tiles(r):
    sky = [1000 + r.gauss(0, 5) + 2000 * math.exp(-((i % 40 - 13) ** 2) / 5) for i in range(400)]
    yield sky
    yield [v if i % 97 != 3 else float("nan") for i, v in enumerate(sky)]
    yield [v if i % 13 != 5 else 0.0 for i, v in enumerate(sky)]
    yield [3.5] * 50
    yield [0.5 * i for i in range(64)]
    yield sky[:20] + [float("inf")] + sky[20:40]
    yield [r.uniform(-1e30, 1e30) for _ in range(30)]


def main():
    r = random.Random(7)
    for width, selector in ((1, 0), (2, 1), (4, 2)):
        for tile in int_tiles(width, r):
            stream = pack_ints(tile, width)
            # rice_encode: BYTEPIX and block size, short-room selector.
            for block in (0x04, 0x08, 0x0c | 0x30):
                save("rice_encode", stream + bytes([selector | block, r.randrange(256)]))
            # hcompress_encode: width, rows, short-room selector.
            for rows in (0, 3, 9):
                save("hcompress_encode", stream + bytes([selector, rows, r.randrange(256)]))
    for width, selector in ((1, 0), (2, 1), (4, 2), (8, 3)):
        for tile in list(int_tiles(width, r))[:3]:
            stream = pack_ints(tile, width)
            save("gzip_encode", stream + bytes([selector, 200]))
            save("gzip_encode", stream + bytes([selector | 8, 50]))
            save("raw_encode", stream + bytes([selector, 128]))
    for tile in float_tiles(r):
        for fmt, kind in ((">f", 4), (">d", 5)):
            stream = b"".join(struct.pack(fmt, v) for v in tile)
            save("gzip_encode", stream + bytes([kind | 8, 100]))
            save("raw_encode", stream + bytes([kind, 0]))
            wide = 1 if fmt == ">d" else 0
            for dither in (0, 1, 2):
                for level in (0, 2, 4):
                    tail = bytes([wide | (dither << 1)]) + struct.pack(">HH", 1 + 37 * dither, 1 + level)
                    tail += bytes([level, 0, 0, 0]) + struct.pack(">H", 40 if level else 9)
                    save("quantize_encode", stream + tail)


if __name__ == "__main__":
    main()
