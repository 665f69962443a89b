#!/usr/bin/python3
"""Seeds for the codec fuzz targets: real tiles cut from files fpack makes,
each followed by the parameter bytes its target reads from the input's tail
(see the target's comment). Run with Debian's python (numpy, astropy) from
the repository root: /usr/bin/python3 fuzz/make_codec_seeds.py"""
import hashlib
import os
import struct
import subprocess
import sys
import tempfile

import numpy as np
from astropy.io import fits

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def save(target, data):
    folder = os.path.join(OUT, target)
    os.makedirs(folder, exist_ok=True)
    name = hashlib.sha1(data).hexdigest()
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def tiles(image, options, work):
    """fpack `image` with `options`; the table's header and each row's
    columns of raw heap bytes (big-endian, as stored)."""
    plain = os.path.join(work, "in.fits")
    packed = os.path.join(work, "in.fits.fz")
    fits.PrimaryHDU(image).writeto(plain, overwrite=True)
    if os.path.exists(packed):
        os.remove(packed)
    subprocess.run(["fpack"] + options + ["-O", packed, plain], check=True)
    with fits.open(packed, disable_image_compression=True) as h:
        table = h[1]
        header = table.header
        rows = []
        for row in table.data:
            cells = {}
            for name in table.columns.names:
                value = row[name]
                if hasattr(value, "dtype") and value.ndim == 1:
                    cells[name] = value.astype(value.dtype.newbyteorder(">")).tobytes()
                else:
                    cells[name] = value
            rows.append(cells)
    return header, rows


def tile_pixels(header, row_index):
    dims = []
    rest = row_index
    for k in range(1, header["ZNAXIS"] + 1):
        n = header["ZNAXIS%d" % k]
        t = header.get("ZTILE%d" % k, n if k == 1 else 1)
        count = -(-n // t)
        start = (rest % count) * t
        rest //= count
        dims.append(min(t, n - start))
    return dims


def main():
    rng = np.random.default_rng(20261208)
    sky16 = (1000 + rng.normal(0, 20, (24, 70))).astype(np.int16)
    mixed16 = sky16.copy()
    mixed16[3] = 77
    mixed16[5] = rng.integers(-32768, 32767, 70)
    bytes8 = rng.integers(0, 255, (6, 70)).astype(np.uint8)
    bytes8[2] = 9
    sky32 = (100000 + rng.normal(0, 300, (10, 50))).astype(np.int32)
    mask16 = np.where(rng.random((8, 90)) < 0.3, 0, 7).astype(np.int16)
    mask16[2, 10:20] = 5000
    float32 = (100 + rng.normal(0, 3, (8, 60))).astype(np.float32)
    float32[1, 5] = 0.0

    with tempfile.TemporaryDirectory() as work:
        for image, options, bytepix in ((sky16, ["-r"], 1), (mixed16, ["-r"], 1), (bytes8, ["-r"], 0),
                                        (sky32, ["-r"], 2), (sky16, ["-r", "-t", "32,8"], 1)):
            header, rows = tiles(image, options, work)
            for i, row in enumerate(rows[:4]):
                n = int(np.prod(tile_pixels(header, i)))
                save("rice", row["COMPRESSED_DATA"] + bytes([bytepix, 1]) + struct.pack(">H", n))

        for image, options in ((sky16, ["-h"]), (sky16, ["-h", "-s", "2.5"]), (sky32, ["-h"]),
                               (mixed16, ["-h", "-t", "16,8"])):
            header, rows = tiles(image, options, work)
            for row in rows[:3]:
                save("hcompress", row["COMPRESSED_DATA"] + b"\x00")

        header, rows = tiles(mask16, ["-p"], work)
        for i, row in enumerate(rows[:4]):
            n = int(np.prod(tile_pixels(header, i)))
            save("plio", row["COMPRESSED_DATA"] + struct.pack(">H", n))

        for image, options, room in ((sky16, ["-g"], 1), (sky16, ["-g2"], 1), (bytes8, ["-g"], 0),
                                     (sky32, ["-g2"], 2), (float32, ["-g2", "-q", "0"], 2)):
            header, rows = tiles(image, options, work)
            for i, row in enumerate(rows[:3]):
                n = int(np.prod(tile_pixels(header, i)))
                save("gzip_tile", row["COMPRESSED_DATA"] + struct.pack(">HB", n, room))

        # Quantized tiles as their integers, with the tile's own parameters.
        header, rows = tiles(float32, ["-g", "-qz", "4"], work)
        import zlib
        for i, row in enumerate(rows[:4]):
            ints = zlib.decompress(row["COMPRESSED_DATA"], 47)
            for dither in (0, 1, 2):
                tail = struct.pack(">BHIB", dither, header.get("ZDITHER0", 1) + 100, i + 1, 1)
                tail += struct.pack("<dd", float(row["ZSCALE"]), float(row["ZZERO"]))
                save("quantize", ints + tail)
    return 0


if __name__ == "__main__":
    sys.exit(main())
