#!/usr/bin/env python3
"""Seeds of fuzz_tiled_save: every BITPIX under every algorithm, floats
quantized (each dither) and kept, row, 2-D and whole-image tiles, over
noise, a ramp, constants and (for floats) NaNs and infinities. Plain python.

    make_tiled_save_seeds.py OUT_DIR
"""
import math
import os
import random
import struct
import sys


def samples(kind, bitpix, n, rng):
    size = abs(bitpix) // 8
    out = bytearray()
    for i in range(n):
        if bitpix > 0:
            if kind == "noise":
                v = rng.randrange(0, 1 << (8 * size))
            elif kind == "ramp":
                v = (i * 3) % (1 << (8 * size))
            else:
                v = 77
            out += v.to_bytes(size, "big")
        else:
            if kind == "noise":
                v = rng.gauss(1000.0, 20.0)
            elif kind == "ramp":
                v = 0.5 * i
            elif kind == "special":
                v = [math.nan, math.inf, -math.inf, 1e30, -1e30, 0.0, -0.0, 5.0][i % 8]
            else:
                v = 77.0
            out += struct.pack(">f" if bitpix == -32 else ">d", v)
    return bytes(out)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    rng = random.Random(5)
    n = 0
    for b, bitpix in enumerate((8, 16, 32, 64, -32, -64)):
        for algorithm in range(5):
            for flags in ((0, 0), (1 << 3, 0), (1 << 4, 1), (2 << 4, 2), (64, 0), (128, 0)):
                if bitpix > 0 and flags[0] & ~64:
                    continue
                for tiles in ((0, 0), (5, 7), (70, 70)):
                    kinds = ("noise", "ramp", "constant") + (("special",) if bitpix < 0 else ())
                    kind = kinds[n % len(kinds)]
                    width, height = 23 + n % 17, 9 + n % 13
                    head = bytes([b, algorithm | flags[0], width - 1, height - 1, (n % 4) << 1 | (n % 5 == 0),
                                  tiles[0], tiles[1], 16])
                    body = samples(kind, bitpix, min(width * height, 400), rng)
                    with open(os.path.join(out, f"seed-{n:03d}"), "wb") as f:
                        f.write(head + body)
                    n += 1
    print(f"{n} seeds")


if __name__ == "__main__":
    main()
