#!/usr/bin/env python3
"""Seeds for fuzz_debayer: each method, layout and way of taking rows, at
sizes from the smallest accepted to a few dozen, samples of a sky with a star
as 16-bit frames give them, plus NaN, infinities and huge values.

    python3 fuzz/make_debayer_seeds.py fuzz/corpus/debayer
"""
import math
import random
import struct
import sys
from pathlib import Path


def sky(width, height, rng, specials=False):
    values = []
    for y in range(height):
        for x in range(width):
            v = 1000 + rng.gauss(0, 30) + 40000 * math.exp(-((x - width / 2) ** 2 + (y - height / 2) ** 2) / 3)
            values.append(min(v, 65535.0))
    if specials:
        for i, s in enumerate([math.nan, math.inf, -math.inf, 3e38, -3e38, 1e-45]):
            values[(i * 7) % len(values)] = s
    return b"".join(struct.pack("<f", v) for v in values)


def main(out):
    out = Path(out)
    out.mkdir(parents=True, exist_ok=True)
    rng = random.Random(1)
    cases = [(2, 2), (3, 2), (2, 5), (7, 6), (16, 9), (33, 20), (66, 66), (1, 8), (8, 0)]
    n = 0
    for width, height in cases:
        for flags in range(16):
            if (flags + width + height) % 3:  # a third of the combinations is plenty
                continue
            body = sky(max(width, 1), max(height, 1), rng, specials=flags & 4 != 0)
            (out / f"seed-{width}x{height}-{flags:02d}").write_bytes(bytes([flags, width, height]) + body)
            n += 1
    print(f"{n} seeds in {out}")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "fuzz/corpus/debayer")
