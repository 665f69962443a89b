#!/usr/bin/python3
"""Makes the tile-compressed fixtures in this folder and their expected pixels.

Run with Debian's python (it has numpy and astropy), with fpack and funpack
(libcfitsio-bin) on PATH:

    /usr/bin/python3 tests/data/tiled/make_tiled_fixtures.py

Each case is a small image written here from a fixed seed, compressed by
fpack under the options the case names. The compressed tables are gathered
by theme into a few files (<group>.fits.fz: an empty primary, then one
table extension a case, each exactly the bytes fpack wrote), so that the
fixed cost of a FITS file is paid once a group and the folder stays small.

expected.tsv gives, for every table, what astropy reads from its keywords
and a checksum of its pixels: the 64-bit FNV-1a of the image's data unit
as funpack writes it (big-endian samples of ZBITPIX, stored values before
BZERO, no padding), every NaN written as the quiet NaN 7FC00000 (or
7FF8000000000000) since NaN bits differ between readers. funpack expands
the committed files themselves; astropy decompresses them too and must
agree with funpack on every pixel's physical value. What astropy 5.2 does
not do is let through, each where it applies and reported per case:

- a null pixel of a quantized tile comes back as a number, not NaN:
  funpack alone gives those pixels;
- BZERO is added again to the unsigned values a 16-bit PLIO tile holds:
  taken off before comparing;
- NOCOMPRESS tables are not expanded: their row tiles' arrays, which
  astropy reads as table columns, are the image laid end to end;
- unsigned PLIO values above 32767 are refused (the M51 sample under
  PLIO): funpack alone gives that image, and the script stops should
  astropy ever expand it.

tests/oracle/tiled_fixtures_test.cpp decodes every table with the module's
tile decoder and compares the checksum; it needs neither fpack, funpack
nor cfitsio.

ranges.tsv gives for every table the smallest and largest defined physical
value of funpack's image (BSCALE and BZERO applied; NaN and BLANK left out)
over all its planes and, for a cube, over single planes and a pair, exact
as hexadecimal floats: tests/oracle/tiled_range_test.cpp checks the range
the module finds from the tiles (quantized ones without unquantizing every
pixel) against them.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import zlib

import numpy as np
from astropy.io import fits

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE = os.path.join(HERE, "..", "..", "..", "samples", "m51-64x48.fits")

BLOCK = 2880


# ---- Inputs ---------------------------------------------------------------------

def card(text):
    assert len(text) <= 80, text
    return text.ljust(80).encode("ascii")


def value_card(key, value):
    if isinstance(value, bool):
        text = "T" if value else "F"
    else:
        text = str(value)
    return card(f"{key:<8}= {text:>20}")


def write_fits(path, bitpix, axes, samples, extra_cards=()):
    """A primary image written by hand, so that its cards (BZERO, BLANK)
    and its stored samples are exactly what the case says."""
    header = value_card("SIMPLE", True) + value_card("BITPIX", bitpix) + value_card("NAXIS", len(axes))
    for i, n in enumerate(axes, 1):
        header += value_card(f"NAXIS{i}", n)
    for extra in extra_cards:
        header += card(extra)
    header += card("OBJECT  = 'tile fixture'")
    header += card("END")
    header += b" " * (-len(header) % BLOCK)
    dtype = {8: ">u1", 16: ">i2", 32: ">i4", -32: ">f4", -64: ">f8"}[bitpix]
    data = np.ascontiguousarray(samples, dtype=dtype).tobytes()
    assert len(data) == abs(bitpix) // 8 * int(np.prod(axes))
    data += b"\0" * (-len(data) % BLOCK)
    with open(path, "wb") as f:
        f.write(header + data)


def sky(level, sigma):
    def make(rng, x, y):
        v = level + rng.normal(0.0, sigma, x.shape)
        dx = (x % 40) - 20.0
        dy = (y % 30) - 15.0
        return v + 40 * sigma * np.exp(-(dx * dx + dy * dy) / 8.0)
    return make


def block_kinds(low, high):
    """Rows that are constant, rows of full-range random values and noise
    rows: Rice's three kinds of block."""
    def make(rng, x, y):
        flat = np.full(x.shape, low + 7.0)
        wild = rng.uniform(low, high, x.shape)
        noisy = (low + high) / 2 + rng.normal(0.0, 30.0, x.shape) + (x % 5)
        return np.where(y % 3 == 0, flat, np.where(y % 3 == 1, wild, noisy))
    return make


def plio16(rng, x, y):
    # Values above 4095 take PLIO's set-high instruction.
    return np.where(x % 17 < 5, 0.0, np.where((x // 17 + y) % 4 == 0, 5000.0 + y, 7.0))


def plio8(rng, x, y):
    return np.where(x % 9 < 3, 0.0, rng.integers(0, 256, x.shape).astype(float))


def plio16_unsigned(rng, x, y):
    return np.where(x % 7 == 0, -32768.0, x * 100.0 - 32768.0)


def fallback_rows(rng, x, y):
    """Rows fpack cannot quantize (constant, or +-1e30) go to
    GZIP_COMPRESSED_DATA; the others quantize."""
    return np.where(y % 4 == 0, 3.25, np.where(y % 4 == 1, np.where(x % 2 == 1, 1e30, -1e30),
                                                100.0 + rng.normal(0.0, 3.0, x.shape)))


class Case:
    def __init__(self, group, name, bitpix, axes, make, options, cmptype, quantiz="",
                 bzero=0, blank=None, nans=False, zeros=False, astropy_cannot=None):
        self.group, self.name, self.bitpix, self.axes = group, name, bitpix, axes
        # Why astropy cannot expand this table, when it cannot: funpack
        # alone then gives the pixels.
        self.astropy_cannot = astropy_cannot
        self.make, self.options, self.cmptype, self.quantiz = make, options, cmptype, quantiz
        self.bzero, self.blank, self.nans, self.zeros = bzero, blank, nans, zeros

    def write_input(self, path):
        rng = np.random.default_rng(zlib.crc32(self.name.encode()))
        shape = tuple(reversed(self.axes))  # numpy: the last FITS axis first
        index = np.indices(shape)
        x, y = index[-1].astype(float), index[-2].astype(float)
        v = self.make(rng, x, y)
        lo, hi = {8: (0, 255), 16: (-32768, 32767), 32: (-2**31, 2**31 - 1)}.get(self.bitpix, (None, None))
        if self.bitpix > 0:
            v = np.clip(np.round(v), lo, hi)
        flat = v.reshape(-1)
        if self.zeros:
            flat[5::13] = 0.0
        if self.nans:
            if self.bitpix < 0:
                flat[3::37] = np.nan
            else:
                flat[3::37] = self.blank
        cards = []
        if self.bzero:
            cards += [f"BZERO   = {self.bzero:>20}", f"BSCALE  = {1:>20}"]
        if self.blank is not None:
            cards.append(f"BLANK   = {self.blank:>20}")
        write_fits(path, self.bitpix, self.axes, v, cards)


def sample_case(group, name, options, cmptype, quantiz="", astropy_cannot=None):
    """The bundled M51 sample (16-bit, BZERO 32768), a real image."""
    case = Case(group, name, 16, (64, 48), None, options, cmptype, quantiz, astropy_cannot=astropy_cannot)
    case.write_input = lambda path: shutil.copyfile(SAMPLE, path)
    return case


C = Case
CASES = [
    # Rice: every BYTEPIX, the three block kinds, unsigned data with BLANK.
    C("rice", "rice16_rows", 16, (120, 20), sky(1000, 20), "-r", "RICE_1"),
    C("rice", "rice16_block_kinds", 16, (67, 15), block_kinds(-32768, 32767), "-r", "RICE_1"),
    C("rice", "rice16_unsigned_blank", 16, (64, 10), sky(30000 - 32768, 10), "-r", "RICE_1",
      bzero=32768, blank=-1, nans=True),
    C("rice", "rice8", 8, (61, 9), block_kinds(0, 255), "-r", "RICE_1"),
    C("rice", "rice32", 32, (50, 16), block_kinds(-2**31, 2**31 - 1), "-r -t 24,5", "RICE_1"),
    C("rice", "rice32_sky", 32, (80, 8), sky(1e6, 300), "-r", "RICE_1"),
    C("rice", "rice16_whole_image", 16, (60, 40), sky(200, 5), "-r -w", "RICE_1"),
    # Odd tilings: edge tiles on both axes, one-pixel columns, prime tiles,
    # a tile larger than the image, tiles through a cube's planes.
    C("tiling", "rice16_tiles_32x16_edges", 16, (70, 37), sky(500, 15), "-r -t 32,16", "RICE_1"),
    C("tiling", "rice16_column_tiles", 16, (13, 20), sky(500, 15), "-r -t 1,9", "RICE_1"),
    C("tiling", "rice16_prime_tiles", 16, (30, 23), sky(500, 15), "-r -t 7,5", "RICE_1"),
    C("tiling", "gzip2_16_tile_past_image", 16, (37, 11), sky(500, 15), "-g2 -t 100,100", "GZIP_2"),
    C("tiling", "rice16_cube_planes", 16, (20, 15, 3), sky(300, 10), "-r -t 8,8,1", "RICE_1"),
    C("tiling", "rice16_cube_3d_tiles", 16, (14, 11, 3), sky(300, 10), "-r -t 6,5,2", "RICE_1"),
    C("tiling", "plio16_2d_tiles", 16, (50, 10), plio16, "-p -t 16,4", "PLIO_1"),
    C("tiling", "hcompress16_2d_edges", 16, (45, 28), sky(800, 10), "-h -t 20,8", "HCOMPRESS_1"),
    C("tiling", "float32_dither1_2d_tiles", -32, (40, 20), sky(100, 3), "-r -q11 4 -t 16,8", "RICE_1",
      "SUBTRACTIVE_DITHER_1"),
    # GZIP_1 and GZIP_2 on every integer width.
    C("gzip", "gzip1_16", 16, (60, 20), sky(1000, 20), "-g", "GZIP_1"),
    C("gzip", "gzip1_8", 8, (50, 20), block_kinds(0, 255), "-g1 -t 30,7", "GZIP_1"),
    C("gzip", "gzip1_32", 32, (40, 10), sky(1e5, 100), "-g", "GZIP_1"),
    C("gzip", "gzip2_16", 16, (60, 20), sky(1000, 20), "-g2", "GZIP_2"),
    C("gzip", "gzip2_32", 32, (40, 10), block_kinds(-2**31, 2**31 - 1), "-g2 -t 25,6", "GZIP_2"),
    # HCOMPRESS: lossless 8, 16 and 32 bits, lossy with relative and absolute scale.
    C("hcompress", "hcompress16", 16, (64, 32), sky(1000, 20), "-h", "HCOMPRESS_1"),
    C("hcompress", "hcompress32", 32, (32, 32), block_kinds(-2**31, 2**31 - 1), "-h", "HCOMPRESS_1"),
    C("hcompress", "hcompress8", 8, (40, 20), sky(100, 10), "-h", "HCOMPRESS_1"),
    C("hcompress", "hcompress16_lossy", 16, (64, 40), sky(1000, 20), "-h -s 2.5", "HCOMPRESS_1"),
    C("hcompress", "hcompress16_lossy_absolute", 16, (53, 29), sky(1000, 20), "-h -s -30", "HCOMPRESS_1"),
    C("hcompress", "hcompress32_lossy", 32, (40, 30), sky(1e5, 200), "-h -s 4", "HCOMPRESS_1"),
    # PLIO: values above 4095, 8-bit, unsigned 16-bit.
    C("plio", "plio16", 16, (150, 20), plio16, "-p", "PLIO_1"),
    C("plio", "plio8", 8, (100, 10), plio8, "-p", "PLIO_1"),
    C("plio", "plio16_unsigned", 16, (64, 8), plio16_unsigned, "-p", "PLIO_1", bzero=32768),
    # NOCOMPRESS: the UNCOMPRESSED_DATA column (fpack still writes ZQUANTIZ for floats).
    C("nocompress", "nocompress16", 16, (30, 7), sky(100, 10), "-d", "NOCOMPRESS"),
    C("nocompress", "nocompress32", 32, (30, 7), sky(1e5, 100), "-d", "NOCOMPRESS"),
    C("nocompress", "nocompress_float32_nans", -32, (30, 7), sky(100, 3), "-d", "NOCOMPRESS",
      "SUBTRACTIVE_DITHER_1", nans=True),
    # Quantized floats: each dither, fixed seeds, the seed sequence wrapping
    # between and within tiles, nulls, every algorithm that takes them.
    C("quantized", "float32_rice_dither1", -32, (80, 20), sky(100, 3), "-r -q17 4", "RICE_1",
      "SUBTRACTIVE_DITHER_1"),
    C("quantized", "float32_rice_dither1_seed_from_tile", -32, (80, 20), sky(100, 3), "-r -qt 4", "RICE_1",
      "SUBTRACTIVE_DITHER_1"),
    C("quantized", "float32_rice_no_dither", -32, (80, 20), sky(100, 3), "-r -q0 4", "RICE_1", "NO_DITHER"),
    C("quantized", "float32_rice_dither2_zeros", -32, (80, 20), sky(100, 3), "-r -qz23 4", "RICE_ONE",
      "SUBTRACTIVE_DITHER_2", zeros=True),
    C("quantized", "float32_seed_9999_rows_wrap", -32, (40, 12), sky(10, 1), "-r -q9999 8", "RICE_1",
      "SUBTRACTIVE_DITHER_1"),
    C("quantized", "float32_one_tile_past_wrap", -32, (101, 100), sky(10, 1), "-r -w -q5 4", "RICE_1",
      "SUBTRACTIVE_DITHER_1"),
    C("quantized", "float32_dither2_one_tile_past_wrap", -32, (101, 100), sky(10, 1), "-r -w -qz17 4",
      "RICE_ONE", "SUBTRACTIVE_DITHER_2", zeros=True),
    C("quantized", "float32_nans", -32, (75, 20), sky(50, 2), "-r -q3 4", "RICE_1", "SUBTRACTIVE_DITHER_1",
      nans=True),
    C("quantized", "float32_nans_dither2", -32, (75, 20), sky(50, 2), "-r -qz3 4", "RICE_ONE",
      "SUBTRACTIVE_DITHER_2", nans=True, zeros=True),
    C("quantized", "float64_rice", -64, (75, 20), sky(1e4, 5), "-r -q7 4", "RICE_1", "SUBTRACTIVE_DITHER_1"),
    C("quantized", "float64_gzip2_nans", -64, (60, 10), sky(1e4, 5), "-g2 -q8 4", "GZIP_2",
      "SUBTRACTIVE_DITHER_1", nans=True),
    C("quantized", "float32_gzip1", -32, (75, 20), sky(1e4, 5), "-g -q9 4", "GZIP_1", "SUBTRACTIVE_DITHER_1"),
    C("quantized", "float32_hcompress", -32, (64, 32), sky(100, 3), "-h -q10 4", "HCOMPRESS_1",
      "SUBTRACTIVE_DITHER_1"),
    C("quantized", "float32_absolute_q", -32, (50, 30), sky(100, 3), "-r -q12 -0.5", "RICE_1",
      "SUBTRACTIVE_DITHER_1"),
    C("quantized", "float32_gzip_fallback_rows", -32, (50, 12), fallback_rows, "-r -q13 4", "RICE_1",
      "SUBTRACTIVE_DITHER_1"),
    # Integers quantized as floats, which fpack does where it finds the noise high enough.
    C("quantized", "int16_i2f", 16, (100, 40), sky(1000, 40), "-i2f -q14 4", "RICE_1", "SUBTRACTIVE_DITHER_1"),
    C("quantized", "int16_i2f_dither2", 16, (60, 20), sky(1000, 40), "-i2f -qz16 2", "RICE_ONE",
      "SUBTRACTIVE_DITHER_2"),
    # Lossless floats: their bits through GZIP, NaNs included.
    C("lossless", "float32_lossless_gzip1_nans", -32, (50, 20), sky(100, 3), "-g -q 0", "GZIP_1", "NONE",
      nans=True),
    C("lossless", "float32_lossless_gzip2", -32, (50, 20), sky(100, 3), "-g2 -q 0", "GZIP_2", "NONE"),
    C("lossless", "float64_lossless_gzip2", -64, (50, 10), sky(100, 3), "-g2 -q 0", "GZIP_2", "NONE"),
    C("lossless", "float64_lossless_gzip1", -64, (50, 10), sky(100, 3), "-g -q 0", "GZIP_1", "NONE"),
    # Cubes, for the range of some planes alone: quantized in tiles through
    # two planes, with edges; quantized with nulls in row tiles; plain
    # integers in tiles through two planes; quantized doubles with zeros
    # through GZIP. Values around zero, and all below it. (Quantized tiles
    # narrower than the image that hold nulls are left out: fpack 4.2.0
    # writes them so that funpack and astropy read different images.)
    C("cubes", "float32_cube_3d_tiles", -32, (40, 24, 3), sky(-2, 3), "-r -q21 4 -t 16,10,2", "RICE_1",
      "SUBTRACTIVE_DITHER_1"),
    C("cubes", "float32_cube_rows_nans", -32, (40, 12, 3), sky(-2, 3), "-r -q24 4", "RICE_1",
      "SUBTRACTIVE_DITHER_1", nans=True),
    C("cubes", "int32_cube_3d_tiles", 32, (13, 9, 3), block_kinds(-2**31, 2**31 - 1), "-r -t 5,4,2", "RICE_1"),
    C("cubes", "float64_dither2_cube_planes", -64, (12, 10, 3), sky(-1000, 4), "-g -qz22 4 -t 12,10,1", "GZIP_1",
      "SUBTRACTIVE_DITHER_2", zeros=True),
    # The bundled sample, a real image, under every algorithm that takes it.
    sample_case("m51", "m51_rice_tiles", "-r -t 16,16", "RICE_1"),
    sample_case("m51", "m51_gzip2", "-g2", "GZIP_2"),
    sample_case("m51", "m51_hcompress_lossy", "-h -s 2", "HCOMPRESS_1"),
    # Unsigned values above 32767 in PLIO tiles, which astropy 5.2 refuses
    # ("Numerical overflow during type conversion").
    sample_case("m51", "m51_plio", "-p", "PLIO_1", astropy_cannot="unsigned PLIO values above 32767"),
]


# ---- Expected pixels --------------------------------------------------------------

def fnv1a64(data):
    h = 0xCBF29CE484222325
    for b in data:
        h = ((h ^ b) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return h


def canonical(array):
    """Big-endian bytes of `array`, NaNs as the quiet NaN."""
    kind = {4: (">f4", ">u4", 0x7FC00000), 8: (">f8", ">u8", 0x7FF8000000000000)}
    if array.dtype.kind != "f":
        return array.astype(array.dtype.newbyteorder(">")).tobytes()
    floats, ints, nan = kind[array.dtype.itemsize]
    big = array.astype(floats)
    bits = big.view(ints).copy()
    bits[np.isnan(big)] = nan
    return bits.tobytes()


def funpack_image(unpacked, image, bitpix, axes):
    """The `image`th image (from 1) of funpack's output: its stored samples
    as written, and its physical values (BSCALE and BZERO applied).
    (funpack makes the first a primary array when the empty primary before
    it may go, so images are counted, not HDUs.)"""
    with fits.open(unpacked) as h:
        images = [i for i, x in enumerate(h) if x.header.get("NAXIS", 0) > 0]
        hdu = images[image - 1]
        header = h[hdu].header
        assert header["BITPIX"] == bitpix, (unpacked, hdu, header["BITPIX"], bitpix)
        assert [header[f"NAXIS{i}"] for i in range(1, len(axes) + 1)] == axes, (unpacked, hdu)
        start = h.fileinfo(hdu)["datLoc"]
    size = abs(bitpix) // 8 * int(np.prod(axes))
    with open(unpacked, "rb") as f:
        f.seek(start)
        data = f.read(size)
    assert len(data) == size
    dtype = {8: ">u1", 16: ">i2", 32: ">i4", 64: ">i8", -32: ">f4", -64: ">f8"}[bitpix]
    stored = np.frombuffer(data, dtype=dtype)
    # BLANK stays a number: the stored value is what both readers must agree on.
    physical = stored.astype(np.float64) * header.get("BSCALE", 1.0) + header.get("BZERO", 0.0)
    defined = ~np.isnan(physical)
    if bitpix > 0 and "BLANK" in header:
        defined &= stored != header["BLANK"]
    return stored, physical, defined


def range_rows(name, hdu, case, axes, physical, defined):
    """ranges.tsv lines of one table: all planes, and for a cube each plane
    and a pair of them out of order."""
    plane = int(np.prod(axes[:2]))
    planes = axes[2] if len(axes) > 2 else 1
    choices = [("all", list(range(planes)))]
    if planes > 1:
        choices += [(str(p), [p]) for p in range(planes)] + [("2,0", [2, 0])]
    rows = []
    for label, chosen in choices:
        # The first cube only: axes past the third stay at 0.
        picked = np.concatenate([np.arange(p * plane, (p + 1) * plane) for p in chosen])
        values = physical[picked][defined[picked]]
        low, high = (values.min().hex(), values.max().hex()) if values.size else ("-", "-")
        rows.append([name, str(hdu), case, label, str(values.size), low, high])
    return rows


def run(command):
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"{' '.join(command)} failed:\n{result.stdout}{result.stderr}")


def main():
    for tool in ("fpack", "funpack"):
        if shutil.which(tool) is None:
            sys.exit(f"{tool} not found (Debian: libcfitsio-bin)")
    groups = {}
    for case in CASES:
        groups.setdefault(case.group, []).append(case)
    rows = []
    ranges = []
    sizes = {}
    with tempfile.TemporaryDirectory() as work:
        for group, cases in groups.items():
            packed = []
            for case in cases:
                plain = os.path.join(work, case.name + ".fits")
                fz = os.path.join(work, case.name + ".fits.fz")
                case.write_input(plain)
                # -C: no CHECKSUM cards, whose comments carry the date, so
                # that the files come out the same each time.
                run(["fpack", "-C"] + case.options.split() + ["-O", fz, plain])
                with open(fz, "rb") as f:
                    whole = f.read()
                with fits.open(fz) as h:
                    assert len(h) == 2, (case.name, len(h))
                    start = h.fileinfo(1)["hdrLoc"]
                packed.append(whole[start:] if packed else whole)
                sizes[case.name] = len(whole) - start
            name = group + ".fits.fz"
            path = os.path.join(HERE, name)
            with open(path, "wb") as f:
                f.write(b"".join(packed))

            # The committed file, expanded by funpack and by astropy.
            unpacked = os.path.join(work, group + ".unpacked.fits")
            run(["funpack", "-O", unpacked, path])
            # The tables' own cards, Z-keywords and all, as astropy reads
            # them when it leaves the tables as tables.
            with fits.open(path, disable_image_compression=True) as h:
                tables = [h[hdu].header.copy() for hdu in range(1, len(h))]
                # astropy 5.2 does not expand NOCOMPRESS images; it reads
                # their row tiles' arrays, which laid end to end are the image.
                raw_rows = {hdu: np.concatenate([np.asarray(a) for a in h[hdu].data["UNCOMPRESSED_DATA"]])
                            for hdu in range(1, len(h)) if h[hdu].header["ZCMPTYPE"] == "NOCOMPRESS"}
            with fits.open(path) as h:
                assert len(h) == len(cases) + 1 == len(tables) + 1, (name, len(h))
                for hdu, case in enumerate(cases, 1):
                    table = tables[hdu - 1]
                    assert table["XTENSION"] == "BINTABLE" and table["ZIMAGE"], (name, hdu)
                    cmptype, quantiz = table["ZCMPTYPE"], table.get("ZQUANTIZ", "")
                    if (cmptype, quantiz) != (case.cmptype, case.quantiz):
                        sys.exit(f"{case.name}: fpack wrote {cmptype} {quantiz!r}, "
                                 f"not {case.cmptype} {case.quantiz!r}")
                    zbitpix = table["ZBITPIX"]
                    axes = [table[f"ZNAXIS{i}"] for i in range(1, table["ZNAXIS"] + 1)]
                    tiles = [table.get(f"ZTILE{i}", axes[0] if i == 1 else 1) for i in range(1, len(axes) + 1)]
                    stored, ours, defined = funpack_image(unpacked, hdu, zbitpix, axes)
                    ranges += range_rows(name, hdu, case.name, axes, ours, defined)
                    note = ""
                    # astropy's physical values: the two readers agree on
                    # the image, whatever each keeps as its raw samples.
                    if case.astropy_cannot:
                        try:
                            h[hdu].data
                            sys.exit(f"{case.name}: astropy now expands it; let it check the pixels")
                        except (RuntimeError, ValueError):
                            pass
                        theirs = ours
                        note = f" (funpack's alone: astropy refuses {case.astropy_cannot})"
                    elif hdu in raw_rows:
                        assert tiles == [axes[0]] + [1] * (len(axes) - 1), (case.name, tiles)
                        theirs = raw_rows[hdu].astype(np.float64) * table.get("BSCALE", 1.0) + table.get("BZERO", 0.0)
                    else:
                        theirs = np.asarray(h[hdu].data, dtype=np.float64).reshape(-1)
                    if not case.astropy_cannot and cmptype == "PLIO_1" and zbitpix == 16 and table.get("BZERO") == 32768:
                        # A 16-bit unsigned PLIO tile holds the unsigned values
                        # themselves (cfitsio writes them so, and funpack reads
                        # them so); astropy 5.2 adds BZERO to them once more.
                        theirs -= 32768
                        note = " (astropy's unsigned PLIO values less 32768)"
                    nulls = np.isnan(ours)
                    same = (ours == theirs) | (nulls & np.isnan(theirs))
                    # astropy 5.2 returns a number for a null of a quantized tile.
                    excused = nulls & ~np.isnan(theirs) & (quantiz not in ("", "NONE")) & (cmptype != "NOCOMPRESS")
                    if not np.all(same | excused):
                        wrong = np.flatnonzero(~(same | excused))
                        sys.exit(f"{case.name}: astropy and funpack differ at {wrong.size} pixels, "
                                 f"first {wrong[0]}: {theirs[wrong[0]]} and {ours[wrong[0]]}")
                    checksum = fnv1a64(canonical(stored))
                    if np.any(excused):
                        note += f" ({int(excused.sum())} nulls funpack's alone)"
                    print(f"{name}[{hdu}] {case.name}: {cmptype} {quantiz or '-'} {zbitpix} "
                          f"{'x'.join(map(str, axes))} in {'x'.join(map(str, tiles))}, {sizes[case.name]} bytes{note}")
                    rows.append([name, str(hdu), case.name, case.options, cmptype, str(zbitpix), quantiz or "-",
                                 "x".join(map(str, axes)), "x".join(map(str, tiles)), f"{checksum:016x}"])

    with open(os.path.join(HERE, "expected.tsv"), "w") as f:
        f.write("# Made by make_tiled_fixtures.py; see there. One compressed table a line: its file and HDU\n"
                "# (1 = the first extension), the case, the fpack options, what astropy reads from its\n"
                "# ZCMPTYPE, ZBITPIX, ZQUANTIZ ('-' when absent), ZNAXISn and ZTILEn, and the FNV-1a 64 of\n"
                "# funpack's data unit with NaNs as the quiet NaN.\n")
        f.write("file\thdu\tcase\tfpack\tzcmptype\tzbitpix\tzquantiz\taxes\ttiles\tfnv1a64\n")
        for row in rows:
            f.write("\t".join(row) + "\n")
    with open(os.path.join(HERE, "ranges.tsv"), "w") as f:
        f.write("# Made by make_tiled_fixtures.py; see there. The smallest and largest defined physical value\n"
                "# of funpack's image of each table (NaN and BLANK left out), over the planes named (from 0;\n"
                "# 'all' for every plane), as hexadecimal floats, with the count of defined values; '-' when\n"
                "# there is none.\n")
        f.write("file\thdu\tcase\tplanes\tdefined\tlow\thigh\n")
        for row in ranges:
            f.write("\t".join(row) + "\n")
    total = sum(os.path.getsize(os.path.join(HERE, g + ".fits.fz")) for g in groups)
    print(f"{len(rows)} tables in {len(groups)} files, {total} bytes")


if __name__ == "__main__":
    main()
