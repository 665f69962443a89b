#!/usr/bin/python3
"""32-bit documents (`nebulite open --depth 32`) against astropy and fitsverify.

    float_documents_check.py open|save|options|formats NEBULITE [--keep DIR]

open     every BITPIX (8, 16, 32 and 64, signed and with their unsigned
         BZERO; a scaled 16-bit one; -32 and -64) on every road (a plain
         primary, gzip'd, an image extension, and the tile-compressed
         fixtures of tests/data/tiled), opened to PFM: each float is
         astropy's physical value times 2^-n exactly, n the power the rules
         give (the stored type's bits, one fewer when signed; else the
         smallest power of two at or above the largest finite |value|,
         never above 1), rounded once to float32 where the value has more
         than 24 bits; blanks, NaNs and infinities 0. (Compressed images
         are read from funpack's plain twin.) A 0..1 float file
         opens unchanged. `info --depth 32` says 32, plain `info` what an
         open gives. Planes chosen out of tile-compressed cubes (fpack'd
         here) take the power of two, and at 16 bits the range, from the
         chosen planes alone.
save     the same files opened to TIFF and saved back with `nebulite save`
         (default options): the data unit is the original's bit for bit
         with its BITPIX, BZERO and BSCALE (integers past 24 bits and
         float64 as their float32 rounding, clamped to the type, the clamps
         counted in a HISTORY card; undefined samples as physical 0), and
         fitsverify finds no error and no more warnings than in the original.
options  --bitpix -32 writes the document's physical values as float32; a
         new 32-bit document (a PFM) saves as BITPIX -32 with its values as
         they are, far outside 0..1 included; a document whose values were
         moved past its file's range saves them clamped (integers, counted)
         or as they are (floats).
formats  the CLI's PFM and float TIFF files against other readers and
         writers: OpenCV and netpbm's pamtopfm (PFM, both byte orders, rows
         bottom to top), tifffile (TIFF: IEEE samples, grey and RGB, planar,
         tiled, big-endian).

Exit status 0 when every check passed, 1 when one failed, 77 when a tool the
part needs is missing (CTest reports the test as skipped). Run it with
Debian's python (/usr/bin/python3), the one that sees astropy and numpy.
"""

import gzip
import json
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77

try:
    import numpy as np
    from astropy.io import fits
except ImportError as e:  # pragma: no cover - depends on the machine
    print(f"float_documents_check: {e}: skipped (needs python3-astropy and python3-numpy)")
    sys.exit(SKIP)

HERE = os.path.dirname(os.path.abspath(__file__))
TILED = os.path.join(HERE, "..", "data", "tiled")


class Checks:
    """Counts checks and keeps the failures, so that one run lists them all."""

    def __init__(self):
        self.passed = 0
        self.failures = []

    def expect(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failures.append(what)
            print(f"FAIL: {what}", flush=True)
        return ok

    def finish(self, part):
        print(f"{part}: {self.passed} passed, {len(self.failures)} failed")
        return 0 if not self.failures else 1


class Cli:
    def __init__(self, path):
        self.path = path

    def run(self, *args):
        return subprocess.run([self.path, *args], capture_output=True, text=True)

    def ok(self, checks, *args):
        r = self.run(*args)
        checks.expect(r.returncode == 0, f"nebulite {' '.join(args)} exited {r.returncode}: {r.stderr.strip()}")
        return r.returncode == 0


# ---- PFM, read and written here by the format's description -----------------------

def read_pfm(path):
    """(planes, rows, columns) float32, top row first, of a PFM file."""
    with open(path, "rb") as f:
        data = f.read()
    tokens, at = [], 2
    if data[:2] not in (b"PF", b"Pf"):
        raise ValueError(f"{path}: not a PFM file")
    while len(tokens) < 3:
        while data[at:at + 1].isspace():
            at += 1
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        tokens.append(data[at:end])
        at = end
    width, height, scale = int(tokens[0]), int(tokens[1]), float(tokens[2])
    planes = 3 if data[:2] == b"PF" else 1
    raster = np.frombuffer(data, dtype="<f4" if scale < 0 else ">f4", count=width * height * planes, offset=at + 1)
    image = raster.reshape(height, width, planes)[::-1]
    return np.ascontiguousarray(np.moveaxis(image, 2, 0)).astype(np.float32)


def write_pfm(path, image, little=True):
    """`image` (planes, rows, columns) as a PFM file."""
    planes, rows, columns = image.shape
    with open(path, "wb") as f:
        f.write(b"%s\n%d %d\n%s\n" % (b"PF" if planes == 3 else b"Pf", columns, rows, b"-1.0" if little else b"1.0"))
        f.write(np.moveaxis(image, 0, 2)[::-1].astype("<f4" if little else ">f4").tobytes())


def same_bits(a, b):
    return a.shape == b.shape and a.dtype == b.dtype and a.tobytes() == b.tobytes()


def first_difference(got, want):
    wrong = np.argwhere(got.view(np.uint32) != want.view(np.uint32)) if got.shape == want.shape else []
    if len(wrong) == 0:
        return ""
    where = tuple(wrong[0])
    return f" ({len(wrong)} differ, first at {where}: {got[where]!r} vs {want[where]!r})"


# ---- What the document must hold -------------------------------------------------------

UNSIGNED_OFFSET = {16: 2**15, 32: 2**31, 64: 2**63}


def fixed_exponent(bitpix, bzero, bscale):
    """n of 2^-n for integers whose type fixes it: its bits when unsigned,
    one fewer when signed. None when the data must tell."""
    if bscale != 1.0:
        return None
    if bitpix == 8 and bzero == 0:
        return 8
    if bitpix in UNSIGNED_OFFSET:
        if bzero == 0:
            return bitpix - 1
        if bzero == UNSIGNED_OFFSET[bitpix]:
            return bitpix
    return None


def exponent_for(values):
    """The smallest n >= 0 with 2^n at or above every finite |value|."""
    finite = np.abs(values[np.isfinite(values)])
    top = float(finite.max()) if finite.size else 0.0
    n = 0
    while 2.0 ** n < top:
        n += 1
    return n


def float32_of_int(v):
    """The float32 nearest the integer v (ties to even), as a Python float:
    from the integer itself, never through a double."""
    a = abs(v)
    shift = a.bit_length() - 24
    if shift > 0:
        q, r = divmod(a, 1 << shift)
        half = 1 << (shift - 1)
        if r > half or (r == half and q & 1):
            q += 1
        a = q << shift
    return float(-a if v < 0 else a)


def opened_planes(raw):
    """The planes a default open takes: 1-3 of a cube of three or more, else the first."""
    if raw.ndim == 2:
        return raw[np.newaxis]
    raw = raw.reshape(-1, raw.shape[-2], raw.shape[-1])
    return raw[:3] if raw.shape[0] >= 3 else raw[:1]


def unpacked(path):
    """The plain twin funpack makes of a tile-compressed file (once), and
    the HDU of it that holds the k-th compressed image. funpack, cfitsio's
    own, is the reference for the codecs: astropy cannot read NOCOMPRESS
    tiles, and reads PLIO tiles of unsigned 16-bit images without their
    zero point."""
    plain = path[:-3] + ".funpacked.fits"
    if not os.path.exists(plain):
        with open(plain + ".part", "wb") as f:
            subprocess.run(["funpack", "-S", path], stdout=f, check=True)
        os.replace(plain + ".part", plain)
    return plain


def hdu_of(path, index):
    """(header, stored samples) of HDU `index`; for a tile-compressed file
    those of its image, from funpack's twin (which puts the first image in
    its primary when the compressed file's primary is empty)."""
    if path.endswith(".fz"):
        with fits.open(unpacked(path), do_not_scale_image_data=True) as hdus:
            images = [h for h in hdus if h.header.get("NAXIS", 0) > 0]
            return images[index - 1].header.copy(), np.array(images[index - 1].data)
    with fits.open(path, do_not_scale_image_data=True) as hdus:
        return hdus[index].header.copy(), np.array(hdus[index].data)


def expected_document(header, raw):
    """(n, physical values as float64 or Python ints, undefined mask, the
    document's floats) for an image's header and stored samples."""
    raw = opened_planes(raw)
    bitpix = header["BITPIX"]
    bscale = float(header.get("BSCALE", 1.0)) or 1.0
    bzero = float(header.get("BZERO", 0.0))
    undefined = np.zeros(raw.shape, bool)
    if bitpix > 0 and "BLANK" in header:
        undefined |= raw == int(header["BLANK"])
    n = fixed_exponent(bitpix, bzero, bscale)
    if n is not None:
        # Exact integers, each rounded once to float32.
        physical = np.array([int(v) + int(bzero) for v in raw.flat], dtype=object).reshape(raw.shape)
        doc = np.array([float32_of_int(v) * 2.0 ** -n for v in physical.flat]).reshape(raw.shape)
    else:
        with np.errstate(invalid="ignore", over="ignore"):
            physical = raw.astype(np.float64) * bscale + bzero
        undefined |= ~np.isfinite(physical)
        n = exponent_for(np.where(undefined, 0.0, physical))
        with np.errstate(invalid="ignore", over="ignore"):
            doc = np.where(undefined, 0.0, physical) * 2.0 ** -n
    doc = np.where(undefined, 0.0, doc).astype(np.float32)
    return n, physical, undefined, doc


# ---- The files ---------------------------------------------------------------------------

def with_keys(hdu, keys):
    for k, v in keys:
        hdu.header[k] = v
    return hdu


def bitpix_inputs(rng):
    """(name, stored samples, extra keys): every BITPIX and scaling the rules
    tell apart, with the values that catch a conversion through doubles."""
    def full(dtype, shape):
        info = np.iinfo(dtype)
        return rng.integers(info.min, info.max, shape, dtype=dtype, endpoint=True)

    u8 = full(np.uint8, (23, 31))
    u8.flat[:2] = [0, 255]
    i16 = full(np.int16, (19, 27))
    i16.flat[:4] = [-32768, 32767, 0, -1]
    i32 = full(np.int32, (17, 21))
    # Beyond 24 bits, ties and near-ties of float32's rounding.
    i32.flat[:6] = [-2**31, 2**31 - 1, 2**24 + 1, 2**24 + 3, -(2**25 + 2), 16777217]
    i32_24 = rng.integers(-2**23, 2**23, (17, 21)).astype(np.int32)
    i64 = full(np.int64, (13, 19))
    # 2^62 + 2^38 + 1 lies just above a float32 midpoint that a double
    # rounding lands on; small values must survive BZERO's 2^63.
    trap = 2**62 + 2**38 + 1
    i64.flat[:8] = [-2**63, 2**63 - 1, trap, -trap, 1, -1, 0, 2**53 + 1]
    u64_small = rng.integers(-2**63, -2**63 + 2**20, (11, 13), dtype=np.int64)
    u64_small.flat[:3] = [-2**63, -2**63 + 1, 2**63 - 1]
    f32 = rng.uniform(-3e4, 1e5, (21, 25)).astype(np.float32)
    f32.flat[:3] = [np.float32(2.0 ** 17), -np.float32(1e-30), np.float32(3.4e38) / 2**100]
    f32_power = rng.uniform(-100.0, 100.0, (9, 11)).astype(np.float32)
    f32_power.flat[0] = 1024.0  # the largest |value| exactly a power of two: 2^10, not 2^11
    f64 = rng.uniform(-1e9, 1e9, (15, 17))
    f64.flat[:2] = [1.0 + 2.0 ** -40, -123456789.123456789]
    unit = rng.uniform(0.0, 1.0, (16, 20)).astype(np.float32)
    unit.flat[:2] = [0.0, 1.0]
    small = rng.uniform(-0.3, 0.3, (16, 20)).astype(np.float32)
    holes = rng.uniform(-50.0, 50.0, (14, 18)).astype(np.float32)
    holes.flat[::5] = np.nan
    holes.flat[1::7] = np.inf
    holes.flat[2::11] = -np.inf
    blank16 = full(np.int16, (12, 16))
    blank16.flat[::6] = -32768
    return [
        ("u8", u8, []),
        ("u8-signed-bzero", u8, [("BZERO", -128)]),
        ("i16", i16, []),
        ("u16", i16, [("BZERO", 32768)]),
        ("i16-scaled", i16, [("BSCALE", 2.5), ("BZERO", -1000.25)]),
        ("i16-scaled-inexact", i16, [("BSCALE", 0.3), ("BZERO", 7.7)]),
        ("i16-blank", blank16, [("BLANK", -32768)]),
        ("u16-blank", blank16, [("BZERO", 32768), ("BLANK", -32768)]),
        ("i32", i32, []),
        ("u32", i32, [("BZERO", 2**31)]),
        ("i32-24bit", i32_24, []),
        ("i64", i64, []),
        ("u64", i64, [("BZERO", 2**63)]),
        ("u64-small", u64_small, [("BZERO", 2**63)]),
        ("f32", f32, []),
        ("f32-power-of-two", f32_power, []),
        ("f32-unit", unit, []),
        ("f32-within-one", small, []),
        ("f32-holes", holes, []),
        ("f32-scaled", f32, [("BSCALE", 0.5), ("BZERO", 3.0)]),
        ("f64", f64, []),
        ("u16-rgb", full(np.int16, (3, 9, 13)), [("BZERO", 32768)]),
        ("f32-rgb", rng.uniform(-5.0, 9.0, (3, 9, 13)).astype(np.float32), []),
        ("i32-cube-5", full(np.int32, (5, 7, 8)), []),
    ]


def write_roads(work, name, raw, keys):
    """The file on each road: [(road, path, HDU index)]."""
    plain = os.path.join(work, f"{name}.fits")
    hdus = fits.HDUList([with_keys(fits.PrimaryHDU(raw), keys)])
    hdus.writeto(plain, overwrite=True)
    extension = os.path.join(work, f"{name}-ext.fits")
    primary = fits.PrimaryHDU()
    primary.header["OBJECT"] = "float documents"
    fits.HDUList([primary, with_keys(fits.ImageHDU(raw, name="SCI"), keys)]).writeto(extension, overwrite=True)
    packed = os.path.join(work, f"{name}.fits.gz")
    with open(plain, "rb") as f, open(packed, "wb") as g:
        g.write(gzip.compress(f.read()))
    for path, index in ((plain, 0), (extension, 1)):
        stored = hdu_of(path, index)[1]
        if not np.array_equal(stored, raw, equal_nan=raw.dtype.kind == "f"):
            raise RuntimeError(f"astropy did not store the raw values of {path} as given")
    return [("plain", plain, 0), ("gzip", packed, 0), ("extension", extension, 1)]


def tiled_fixtures(work):
    """[(name, path, HDU index)] of every compressed image in tests/data/tiled,
    copied into `work` (funpack's twins go beside them)."""
    out = []
    with open(os.path.join(TILED, "expected.tsv")) as f:
        for line in f:
            if line.startswith("#") or line.startswith("file\t"):
                continue
            fields = line.rstrip("\n").split("\t")
            copy = os.path.join(work, fields[0])
            if not os.path.exists(copy):
                shutil.copyfile(os.path.join(TILED, fields[0]), copy)
            out.append((fields[2], copy, int(fields[1])))
    return out


def all_cases(work, rng):
    """[(name, road, path, HDU index)] of the open and save parts."""
    cases = []
    for name, raw, keys in bitpix_inputs(rng):
        for road, path, index in write_roads(work, name, raw, keys):
            cases.append((name, road, path, index))
    for name, path, index in tiled_fixtures(work):
        cases.append((name, "tiled", path, index))
    return cases


def open_args(path, index):
    return ["--depth", "32"] + (["--image", str(index)] if index > 0 and path.endswith(".fz") else [])


# ---- The parts -------------------------------------------------------------------------------

def part_open(cli, work, checks):
    for name, road, path, index in all_cases(work, np.random.default_rng(32)):
        label = f"{name} ({road})"
        header, raw = hdu_of(path, index)
        n, _, _, want = expected_document(header, raw)
        out = os.path.join(work, f"{name}-{road}.pfm")
        if not cli.ok(checks, "open", path, out, *open_args(path, index)):
            continue
        got = read_pfm(out)
        checks.expect(same_bits(got, want),
                      f"{label}: the document is not astropy's values x 2^-{n}{first_difference(got, want)}")
        if road == "plain":
            info = cli.run("info", path, "--depth", "32", "--json")
            if checks.expect(info.returncode == 0, f"{label}: info --depth 32 exited {info.returncode}"):
                checks.expect(json.loads(info.stdout)["depth"] == 32, f"{label}: info --depth 32 says otherwise")
            info = cli.run("info", path, "--json")
            if checks.expect(info.returncode == 0, f"{label}: info exited {info.returncode}"):
                want_depth = 8 if header["BITPIX"] == 8 else 16
                checks.expect(json.loads(info.stdout)["depth"] == want_depth,
                              f"{label}: info says depth {json.loads(info.stdout)['depth']}, an open gives {want_depth}")
    chosen_planes(cli, work, checks)
    # A float file of 0..1 (what other tools write) opens unchanged.
    unit = os.path.join(work, "f32-unit.fits")
    out = os.path.join(work, "f32-unit-again.pfm")
    if cli.ok(checks, "open", unit, out, "--depth", "32"):
        checks.expect(same_bits(read_pfm(out)[0], hdu_of(unit, 0)[1].astype(np.float32)),
                      "a 0..1 float file did not open unchanged")


def chosen_planes(cli, work, checks):
    """Planes chosen out of tile-compressed cubes whose planes differ in size
    by orders of magnitude (quantized floats in row and in 3-D tiles, and
    32-bit integers under a BSCALE): the first pass, which takes the power
    of two (or the 16-bit range) from the tiles, must look at the chosen
    planes only. At depth 32 against astropy; at 16 bits against the same
    open of funpack's plain twin, whose rows are read rather than tiled."""
    if shutil.which("fpack") is None:
        checks.expect(False, "fpack is not installed (the planes check makes its cubes with it)")
        return
    rng = np.random.default_rng(7)
    sizes = np.array([3.0, 40000.0, 0.25])[:, None, None]
    floats = (rng.normal(0.0, 1.0, (3, 24, 40)) * sizes).astype(np.float32)
    holes = floats.copy()
    holes[1, 5, 7] = np.nan
    ints = (rng.integers(-1000, 1000, (3, 20, 30)) * np.array([1, 300000, 7])[:, None, None]).astype(np.int32)
    # No NaN in the 3-D tiles: funpack (cfitsio 4.2) unquantizes a 3-D tile
    # that holds a null far from the values astropy and this module give.
    cubes = [("f32-rows", holes, [], ["-r", "-q", "4"]),
             ("f32-3d", floats, [], ["-r", "-q", "4", "-t", "16,10,2"]),
             ("i32-scaled", ints, [("BSCALE", 0.5), ("BZERO", 3.0)], ["-r", "-t", "30,20,2"])]
    for name, data, keys, flags in cubes:
        plain = os.path.join(work, f"planes-{name}.fits")
        with_keys(fits.PrimaryHDU(data), keys).writeto(plain, overwrite=True)
        packed = plain + ".fz"
        subprocess.run(["fpack", *flags, "-O", packed, plain], check=True)
        header, raw = hdu_of(packed, 1)
        twin = unpacked(packed)
        for choice, pick in ((["--plane", "1"], [0]), (["--plane", "3"], [2]), (["--planes", "3,1,2"], [2, 0, 1])):
            label = f"{name} {' '.join(choice)}"
            out = os.path.join(work, f"planes-{name}-{pick[0]}.pfm")
            if cli.ok(checks, "open", packed, out, "--image", "1", "--depth", "32", *choice):
                n, _, _, want = expected_document(header, raw[pick] if len(pick) == 3 else raw[pick[0]])
                got = read_pfm(out)
                checks.expect(same_bits(got, want),
                              f"{label}: the document is not astropy's values x 2^-{n}{first_difference(got, want)}")
            ext = "ppm" if len(pick) == 3 else "pgm"
            tiled, rows = (os.path.join(work, f"planes-{name}-{pick[0]}-{k}.{ext}") for k in ("tiled", "rows"))
            if cli.ok(checks, "open", packed, tiled, "--image", "1", *choice) and \
                    cli.ok(checks, "open", twin, rows, *choice):
                with open(tiled, "rb") as a, open(rows, "rb") as b:
                    checks.expect(a.read() == b.read(), f"{label}: the 16-bit document differs from the plain twin's")


def fitsverify_counts(path):
    """(warnings, errors) as fitsverify -q reports them."""
    r = subprocess.run(["fitsverify", "-q", path], capture_output=True, text=True)
    line = r.stdout.strip().splitlines()[-1] if r.stdout.strip() else ""
    if "verification OK" in line:
        return 0, 0
    words = line.replace(",", " ").split()
    try:
        return int(words[words.index("warnings") - 1]), int(words[words.index("errors") - 1])
    except (ValueError, IndexError):
        raise RuntimeError(f"fitsverify said {line!r} (exit {r.returncode}) for {path}")


def type_range(bitpix, bzero):
    """The physical values an integer BITPIX holds under BZERO (BSCALE 1)."""
    bits = bitpix
    low = 0 if bitpix == 8 else -(2 ** (bits - 1))
    high = 255 if bitpix == 8 else 2 ** (bits - 1) - 1
    return low + int(bzero), high + int(bzero)


def expected_saved(header, raw):
    """(stored samples the save must write, clamps) for the original's
    header and stored samples, after open and save with default options."""
    raw = opened_planes(raw)
    bitpix = header["BITPIX"]
    bscale = float(header.get("BSCALE", 1.0)) or 1.0
    bzero = float(header.get("BZERO", 0.0))
    n, physical, undefined, doc = expected_document(header, raw)
    if bitpix < 0:
        # The physical value back by the power of two, then to the stored
        # value by BZERO and BSCALE (for unscaled data, the original's bits).
        physical_again = np.where(undefined, 0.0, doc.astype(np.float64) * 2.0 ** n)
        return ((physical_again - bzero) / bscale).astype(raw.dtype), 0
    if fixed_exponent(bitpix, bzero, bscale) is not None:
        low, high = type_range(bitpix, bzero)
        values = [0 if u else int(float32_of_int(v)) for v, u in zip(physical.flat, undefined.flat)]
        clamps = sum(1 for v in values if v < low or v > high)
        stored = [min(max(v, low), high) - int(bzero) for v in values]
        return np.array(stored, dtype=np.int64).reshape(raw.shape).astype(raw.dtype), clamps
    # Integers of up to 24 bits under other scalings: the stored value again.
    zero = round((0.0 - bzero) / bscale)
    return np.where(undefined, zero, raw).astype(raw.dtype), 0


def part_save(cli, work, checks):
    if shutil.which("fitsverify") is None:
        print("float_documents_check: fitsverify not found: skipped")
        return SKIP
    for name, road, path, index in all_cases(work, np.random.default_rng(33)):
        label = f"{name} ({road})"
        header, raw = hdu_of(path, index)
        tiff = os.path.join(work, f"{name}-{road}.tiff")
        back = os.path.join(work, f"{name}-{road}-back.fits")
        if not (cli.ok(checks, "open", path, tiff, *open_args(path, index)) and cli.ok(checks, "save", tiff, back)):
            continue
        want, clamps = expected_saved(header, raw)
        with fits.open(back, do_not_scale_image_data=True) as h:
            saved = h[0]
            for key, default in (("BITPIX", None), ("BZERO", 0), ("BSCALE", 1)):
                checks.expect(saved.header.get(key, default) == header.get(key, default),
                              f"{label}: saved {key} {saved.header.get(key, default)}, "
                              f"the original's {header.get(key, default)}")
            got = saved.data if saved.data.ndim == 3 else saved.data[np.newaxis]
            detail = ""
            if got.shape == want.shape and got.dtype.itemsize == want.dtype.itemsize:
                wrong = np.argwhere(got.view(f"u{got.dtype.itemsize}") != want.view(f"u{want.dtype.itemsize}"))
                if len(wrong):
                    at = tuple(wrong[0])
                    detail = f" ({len(wrong)} differ, first at {at}: {got[at]!r} vs {want[at]!r})"
            checks.expect(got.shape == want.shape and got.astype(want.dtype).tobytes() == want.tobytes(),
                          f"{label}: the saved data unit is not the original's{detail}")
            history = [str(c) for c in saved.header.get("HISTORY", [])]
            said = [h for h in history if "clamped" in h]
            checks.expect(said == ([f"Nebulite: {clamps} values beyond BITPIX {header['BITPIX']}'s range clamped"]
                                   if clamps else []), f"{label}: {clamps} clamps, HISTORY says {said}")
        w, e = fitsverify_counts(back)
        before = fitsverify_counts(path) if road in ("plain", "gzip") else (0, 0)
        checks.expect(e == 0 and w <= before[0], f"{label}: fitsverify {w} warnings {e} errors after the save")


def part_options(cli, work, checks):
    rng = np.random.default_rng(34)
    # --bitpix -32: the physical values as float32, whatever the file held.
    for name, raw, keys in bitpix_inputs(rng):
        if raw.ndim != 2 or name.endswith("holes"):
            continue
        src = os.path.join(work, f"{name}.fits")
        with_keys_list = fits.HDUList([with_keys(fits.PrimaryHDU(raw), keys)])
        with_keys_list.writeto(src, overwrite=True)
        tiff, out = os.path.join(work, f"{name}.tiff"), os.path.join(work, f"{name}-m32.fits")
        if not (cli.ok(checks, "open", src, tiff, "--depth", "32") and
                cli.ok(checks, "save", tiff, out, "--bitpix", "-32")):
            continue
        header, stored = hdu_of(src, 0)
        n, _, _, doc = expected_document(header, stored)
        with fits.open(out, do_not_scale_image_data=True) as h:
            bzero, bscale = h[0].header.get("BZERO", 0.0), h[0].header.get("BSCALE", 1.0)
            checks.expect(h[0].header["BITPIX"] == -32 and bzero == 0.0 and bscale == 1.0,
                          f"{name} --bitpix -32: BITPIX {h[0].header['BITPIX']}, BZERO {bzero}, BSCALE {bscale}")
            want = (doc[0].astype(np.float64) * 2.0 ** n).astype(np.float32)
            checks.expect(same_bits(h[0].data.astype(np.float32), want),
                          f"{name} --bitpix -32: not the physical values{first_difference(h[0].data, want)}")
    # A new 32-bit document: its values as they are, far outside 0..1 too.
    values = np.array([[-3.5, 1e6, 1.0000001, 2.0 ** -140, -0.0, 7.25e37],
                       [0.5, -1e-3, 3.0, 65536.5, -70000.0, 1.0]], dtype=np.float32)
    for planes in (1, 3):
        image = np.stack([values * (p + 1) for p in range(planes)]).astype(np.float32)
        src, out = os.path.join(work, f"new-{planes}.pfm"), os.path.join(work, f"new-{planes}.fits")
        write_pfm(src, image, little=planes == 1)
        if not cli.ok(checks, "save", src, out):
            continue
        with fits.open(out) as h:
            data = h[0].data if planes == 3 else h[0].data[np.newaxis]
            checks.expect(h[0].header["BITPIX"] == -32 and same_bits(data.astype(np.float32), image),
                          f"new {planes}-plane document: BITPIX {h[0].header['BITPIX']}, values "
                          f"{'kept' if same_bits(data.astype(np.float32), image) else 'changed'}")
        checks.expect(fitsverify_counts(out) == (0, 0), f"new {planes}-plane document: fitsverify complains")
    edited_documents(cli, work, checks, rng)


def edited_documents(cli, work, checks, rng):
    """Documents whose values were moved past their file's range (the TIFF
    rewritten with its private tags, as an editor would keep them): an
    integer file's are clamped to its type and counted, a float file's
    physical values are kept."""
    try:
        import tifffile
    except ImportError:
        print("float_documents_check: tifffile missing: edited documents not checked")
        return
    cases = [("edit-u16", rng.integers(0, 60000, (8, 10)).astype(np.uint16), "u16"),
             ("edit-f32", rng.uniform(-10.0, 10.0, (8, 10)).astype(np.float32), "f32")]
    for name, data, kind in cases:
        src = os.path.join(work, f"{name}.fits")
        fits.PrimaryHDU(data).writeto(src, overwrite=True)
        tiff, edited, out = (os.path.join(work, f"{name}{s}") for s in (".tiff", "-edited.tiff", "-back.fits"))
        if not cli.ok(checks, "open", src, tiff, "--depth", "32"):
            continue
        with tifffile.TiffFile(tiff) as t:
            page = t.pages[0]
            doc = page.asarray()
            tags = [(tag.code, 7, len(tag.value), tag.value, True)
                    for tag in page.tags.values() if tag.code in (65111, 65112, 65113)]
        moved = doc.copy()
        moved[0, :4] = [1.5, -0.25, 3.0, 0.75]
        tifffile.imwrite(edited, moved, extratags=tags)
        if not cli.ok(checks, "save", edited, out):
            continue
        with fits.open(out) as h:
            got = np.asarray(h[0].data, dtype=np.float64)
            history = [str(c) for c in h[0].header.get("HISTORY", [])]
        if kind == "u16":
            want = [65535.0, 0.0, 65535.0, 0.75 * 65536]
            checks.expect(list(got[0, :4]) == want, f"{name}: moved values saved as {list(got[0, :4])}, not {want}")
            checks.expect("Nebulite: 3 values beyond BITPIX 16's range clamped" in history,
                          f"{name}: the clamps are not counted: {history}")
            checks.expect(np.array_equal(got[1:], data[1:]), f"{name}: the values left alone changed")
        else:
            scale = 2.0 ** exponent_for(data.astype(np.float64))
            want = [v * scale for v in (1.5, -0.25, 3.0, 0.75)]
            checks.expect(list(got[0, :4]) == want, f"{name}: moved values saved as {list(got[0, :4])}, not {want}")
            checks.expect(np.array_equal(got[1:].astype(np.float32), data[1:]), f"{name}: the values left alone changed")


def part_formats(cli, work, checks):
    try:
        import cv2
        import tifffile
    except ImportError as e:
        print(f"float_documents_check: {e}: skipped (needs python3-opencv and python3-tifffile)")
        return SKIP
    if shutil.which("pamtopfm") is None:
        print("float_documents_check: pamtopfm not found: skipped")
        return SKIP
    rng = np.random.default_rng(35)
    grey = rng.uniform(-2.0, 5.0, (1, 13, 17)).astype(np.float32)
    grey.flat[:3] = [np.float32(2.0 ** -149), -0.0, np.float32(3e38)]
    rgb = rng.uniform(0.0, 1.0, (3, 11, 7)).astype(np.float32)
    for name, image in (("grey", grey), ("rgb", rgb)):
        fits_path = os.path.join(work, f"fmt-{name}.fits")
        fits.PrimaryHDU(image if name == "rgb" else image[0]).writeto(fits_path, overwrite=True)
        n = exponent_for(image.astype(np.float64))
        doc = (image.astype(np.float64) * 2.0 ** -n).astype(np.float32)
        pfm, tif = os.path.join(work, f"fmt-{name}.pfm"), os.path.join(work, f"fmt-{name}.tif")
        if cli.ok(checks, "open", fits_path, pfm, "--depth", "32"):
            # OpenCV: rows top first, colour as BGR.
            seen = cv2.imread(pfm, cv2.IMREAD_UNCHANGED)
            seen = seen[np.newaxis] if seen.ndim == 2 else np.moveaxis(seen[:, :, ::-1], 2, 0)
            checks.expect(same_bits(np.ascontiguousarray(seen, np.float32), doc),
                          f"PFM {name}: OpenCV reads other floats{first_difference(seen.astype(np.float32), doc)}")
        if cli.ok(checks, "open", fits_path, tif, "--depth", "32"):
            with tifffile.TiffFile(tif) as t:
                page = t.pages[0]
                seen = page.asarray()
                checks.expect(page.dtype == np.float32 and page.sampleformat == 3,
                              f"TIFF {name}: samples {page.dtype}, not IEEE float32")
            seen = seen[np.newaxis] if seen.ndim == 2 else np.moveaxis(seen, 2, 0)
            checks.expect(same_bits(np.ascontiguousarray(seen, np.float32), doc),
                          f"TIFF {name}: tifffile reads other floats")
        # The CLI reads what others write: the document (a save to FITS
        # shows it) holds their floats exactly.
        writers = [("tifffile", ".tif", lambda p, a: tifffile.imwrite(p, np.moveaxis(a, 0, 2) if len(a) == 3 else a[0])),
                   ("tifffile big-endian planar", ".tif",
                    lambda p, a: tifffile.imwrite(p, a if len(a) == 3 else a[0], byteorder=">",
                                                  planarconfig="separate" if len(a) == 3 else None)),
                   ("tifffile tiled deflate", ".tif",
                    lambda p, a: tifffile.imwrite(p, np.moveaxis(a, 0, 2) if len(a) == 3 else a[0], tile=(16, 16),
                                                  compression="zlib")),
                   ("OpenCV", ".pfm", lambda p, a: cv2.imwrite(p, np.moveaxis(a[::-1], 0, 2) if len(a) == 3 else a[0])),
                   ("big-endian by hand", ".pfm", lambda p, a: write_pfm(p, a, little=False))]
        for writer, ext, write in writers:
            src = os.path.join(work, f"in-{name}-{writer.replace(' ', '-')}{ext}")
            out = os.path.join(work, f"in-{name}-{writer.replace(' ', '-')}.fits")
            write(src, doc)
            if cli.ok(checks, "save", src, out):
                with fits.open(out) as h:
                    data = h[0].data if h[0].data.ndim == 3 else h[0].data[np.newaxis]
                    checks.expect(same_bits(data.astype(np.float32), doc),
                                  f"{writer} {name}: saved values differ{first_difference(data.astype(np.float32), doc)}")
    # netpbm's pamtopfm, both byte orders: samples/maxval as floats.
    pgm = os.path.join(work, "ramp.pgm")
    ramp = (np.arange(6 * 9).reshape(6, 9) * 4).astype(np.uint8)
    with open(pgm, "wb") as f:
        f.write(b"P5\n9 6\n255\n" + ramp.tobytes())
    for endian in ("big", "little"):
        pfm = os.path.join(work, f"ramp-{endian}.pfm")
        with open(pfm, "wb") as f:
            subprocess.run(["pamtopfm", f"-endian={endian}", pgm], stdout=f, check=True)
        want = cv2.imread(pfm, cv2.IMREAD_UNCHANGED)[np.newaxis].astype(np.float32)
        out = os.path.join(work, f"ramp-{endian}.fits")
        if cli.ok(checks, "save", pfm, out):
            with fits.open(out) as h:
                checks.expect(same_bits(h[0].data[np.newaxis].astype(np.float32), want),
                              f"pamtopfm -endian={endian}: the CLI reads other floats than OpenCV")
                # The PGM's first row is the image's top: the document's too.
                checks.expect(np.allclose(h[0].data, ramp / 255.0, rtol=0.0, atol=1e-7),
                              f"pamtopfm -endian={endian}: not the PGM's samples / 255, top row first")


PARTS = {"open": part_open, "save": part_save, "options": part_options, "formats": part_formats}


def main(argv):
    if len(argv) < 3 or argv[1] not in PARTS:
        sys.stderr.write(__doc__)
        return 2
    keep = argv[argv.index("--keep") + 1] if "--keep" in argv else None
    work = keep or tempfile.mkdtemp(prefix="nebulite-float-")
    os.makedirs(work, exist_ok=True)
    checks = Checks()
    try:
        status = PARTS[argv[1]](Cli(argv[2]), work, checks)
    finally:
        if keep is None:
            shutil.rmtree(work, ignore_errors=True)
    if status == SKIP:
        return SKIP
    return checks.finish(argv[1])


if __name__ == "__main__":
    sys.exit(main(sys.argv))
