#!/usr/bin/python3
"""The tile-compressed writer (export/tiled) against independent readers.

    tiled_save_check.py roundtrip|sizes|failures|all DRIVER NEBULITE [--keep DIR]

roundtrip  synthetic images (noise, gradients, stars, constants, NaNs) of
           every BITPIX and real ones (eso-midas-testdata, the bundled
           sample), under every algorithm that applies and row, 2-D (edge
           tiles on both axes) and whole-image tilings, written through the
           writer: fitsverify finds no warning and no error; funpack and
           astropy give back exactly the samples written (lossless), or the
           very values import/tiled's decoder gives (quantized: funpack
           everywhere, astropy where no NaN was quantized); the header
           funpack restores holds every card of the image header, in order,
           byte for byte, and so does import/tiled's restore; astropy's holds
           every keyword with its value; both HDUs' CHECKSUM and DATASUM
           hold (astropy, fitsverify); the module opens the .fz to the image
           it opens the decoded samples to. 64-bit integers, which neither
           funpack nor astropy reads, are held against numpy and zlib
           decoding the tiles from the file. The writer's memory stays
           within its planned bound.
sizes      Rice data units of integer images within 1% of fpack's for the
           same image and tiling (fpack run on the uncompressed file), and
           quantized floats with the seed from the first tile (fpack -qt)
           within 1% of fpack's heap.
failures   a sink that fails at its k-th write, for every k, with nothing or
           half of that write written: no reader takes the file for a whole
           FITS file (astropy, funpack, fitsverify, the module's `check`).

Exit status 0 when every check passed, 1 when one failed, 77 when a tool is
missing (CTest reports the test as skipped). Run it with Debian's python
(/usr/bin/python3), the one that sees python3-astropy and python3-numpy.
"""

import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import warnings
import zlib

SKIP = 77

try:
    import numpy as np
    from astropy.io import fits
except ImportError as e:  # pragma: no cover - depends on the machine
    print(f"tiled_save_check: {e}: skipped (needs python3-astropy and python3-numpy)")
    sys.exit(SKIP)

HERE = os.path.dirname(os.path.abspath(__file__))
MIDAS = "/usr/lib/eso-midas/22FEB/test/prim"
SAMPLE = os.path.join(HERE, "..", "..", "samples", "m51-64x48.fits")

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)
    return condition


def run(args, **kw):
    if args[0] in ("fpack", "funpack") and "-O" in args:
        out = args[args.index("-O") + 1]
        if os.path.exists(out):
            os.remove(out)  # neither overwrites a file
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


# ---- Images -------------------------------------------------------------------

def kept_cards(h):
    """Cards an uncompressed save keeps beside the structure."""
    h["OBJECT"] = ("NGC 5194", "target")
    h["BUNIT"] = "adu"
    h["DATE-OBS"] = "2024-04-12T21:43:07"
    h["LONGSTRN"] = ("OGIP 1.0", "the long-string convention is used")
    h["LONGSTR"] = "a value long enough to need CONTINUE cards: " + "x" * 90
    h["HIERARCH ESO DET CHIP TEMP"] = -120.5
    h["EXPTIME"] = (120.0, "[s]")
    h.append(("COMMENT", "made by tiled_save_check.py"), end=True)
    h.append(("HISTORY", "first step"), end=True)
    h.append(("HISTORY", "second step"), end=True)
    h.append(("", "a blank-keyword commentary card"), end=True)


def synthetic(rng, kind, shape, dtype):
    planes, rows, cols = shape
    y, x = np.mgrid[0:rows, 0:cols]
    if kind == "noise":
        a = rng.normal(1000, 20, shape)
    elif kind == "gradient":
        a = np.broadcast_to(3.0 * x + 2.0 * y + 100, shape).copy()
    elif kind == "stars":
        a = rng.normal(200, 5, shape)
        for _ in range(12):
            cy, cx, f = rng.uniform(0, rows), rng.uniform(0, cols), rng.uniform(500, 5000)
            a += f * np.exp(-((y - cy) ** 2 + (x - cx) ** 2) / 4.0)
    elif kind == "constant":
        a = np.full(shape, 77.0)
    elif kind == "nans":
        a = rng.normal(0.5, 0.01, shape)
        a[rng.random(shape) < 0.05] = np.nan
    else:
        raise ValueError(kind)
    info = np.iinfo(dtype) if np.issubdtype(dtype, np.integer) else None
    if kind == "noise" and info is not None and dtype != np.uint8:
        # Full-range values too, for Rice's raw blocks and HCOMPRESS's wide planes.
        a.reshape(-1)[: cols] = rng.integers(info.min, info.max, cols, endpoint=True)
    if info is not None:
        a = np.clip(np.round(a), info.min, info.max)
    a = a.astype(dtype)
    return a[0] if planes == 1 else a


def write_image(path, data, blank=None):
    hdu = fits.PrimaryHDU(data)
    if blank is not None:
        hdu.header["BLANK"] = blank
    kept_cards(hdu.header)
    hdu.writeto(path, overwrite=True, output_verify="silentfix")


def synthetic_images(d):
    rng = np.random.default_rng(20241208)
    images = []
    types = [("u8", np.uint8), ("i16", np.int16), ("u16", np.uint16), ("i32", np.int32), ("i64", np.int64),
             ("f32", np.float32), ("f64", np.float64)]
    for tname, dtype in types:
        kinds = ["noise", "gradient", "stars", "constant"]
        if tname.startswith("f"):
            kinds.append("nans")
        for kind in kinds:
            name = f"{tname}-{kind}"
            path = os.path.join(d, name + ".fits")
            write_image(path, synthetic(rng, kind, (1, 50, 70), dtype),
                        blank=-32768 if tname == "i16" and kind == "noise" else None)
            images.append((name, path))
    # Cards named like the table's own or the compression's: they stay out
    # of the table (TFORM1 would retype its first column), and every other
    # card still comes back.
    path = os.path.join(d, "i16-reserved-cards.fits")
    hdu = fits.PrimaryHDU(synthetic(rng, "stars", (1, 50, 70), np.int16))
    kept_cards(hdu.header)
    for key, value in (("TFORM1", "1J"), ("TTYPE1", "FLUX"), ("ZSCALE", 2.0), ("ZIMAGE", True), ("THEAP", 5),
                       ("ZTILE1", 3), ("ZBLANK", 7)):
        hdu.header[key] = value
    hdu.header["AFTER"] = ("kept", "a card after the reserved ones")
    hdu.writeto(path, overwrite=True, output_verify="silentfix")
    images.append(("i16-reserved-cards", path))
    # A cube of three planes.
    for tname, dtype in (("i16", np.int16), ("f32", np.float32)):
        name = f"{tname}-cube"
        path = os.path.join(d, name + ".fits")
        write_image(path, synthetic(rng, "stars", (3, 21, 33), dtype))
        images.append((name, path))
    return images


REAL = [
    ("m51-sample", SAMPLE),
    ("dss-int16", f"{MIDAS}/dss_test1.fits"),
    ("badmpe-uint8", f"{MIDAS}/badMPE.fits"),
    ("ccd-float", f"{MIDAS}/ccd.fits"),
    ("m12-int32", f"{MIDAS}/image_M12c.fits"),
    ("nocdelt-cube-int16", f"{MIDAS}/nocdelt.fits"),
    ("rosat-float", f"{MIDAS}/rosat.mt"),
]


# The keywords the writer leaves out of the table header (the test images
# use only these of them).
RESERVED_KEYWORDS = {"TFORM1", "TTYPE1", "ZSCALE", "ZIMAGE", "THEAP", "ZTILE1", "ZBLANK"}


# ---- Reading what was written ----------------------------------------------------

def header_cards(path, hdu_index):
    """The raw 80-byte cards of HDU `hdu_index`, END excluded, and where its data starts."""
    data = open(path, "rb").read()
    pos = 0
    for index in range(hdu_index + 1):
        cards = []
        while True:
            card = data[pos:pos + 80].decode("latin-1")
            pos += 80
            if card.startswith("END     ") or card.rstrip() == "END":
                break
            cards.append(card)
        pos = (pos + 2879) // 2880 * 2880
        if index == hdu_index:
            return cards, pos
        h = fits.Header.fromstring("".join(cards + ["END".ljust(80)]))
        size = abs(h["BITPIX"]) // 8 * h.get("GCOUNT", 1)
        n = h["NAXIS"]
        count = 0 if n == 0 else 1
        for i in range(1, n + 1):
            count *= h[f"NAXIS{i}"]
        pos += (size * (h.get("PCOUNT", 0) + count) + 2879) // 2880 * 2880


def stored_samples(path):
    """The primary data unit's stored samples (no scaling), as numpy reads them big-endian."""
    with fits.open(path, do_not_scale_image_data=True) as h:
        return np.array(h[0].data)


def same(a, b):
    a = np.asarray(a)
    b = np.asarray(b)
    if a.shape != b.shape:
        return False
    if a.dtype.kind == "f" or b.dtype.kind == "f":
        return bool(np.array_equal(a.astype(np.float64), b.astype(np.float64), equal_nan=True))
    return bool(np.array_equal(a.astype(np.int64), b.astype(np.int64)))


def numpy_gzip_decode(path, shape, bitpix):
    """GZIP_1/GZIP_2/NOCOMPRESS tiles of a 64-bit integer image decoded with zlib and numpy alone."""
    cards, start = header_cards(path, 1)
    h = fits.Header.fromstring("".join(cards + ["END".ljust(80)]))
    raw = open(path, "rb").read()
    width, rows = h["NAXIS1"], h["NAXIS2"]
    heap = start + width * rows
    forms = {h[f"TTYPE{i}"]: (i, h[f"TFORM{i}"]) for i in range(1, h["TFIELDS"] + 1)}
    offsets = {}
    pos = 0
    for i in range(1, h["TFIELDS"] + 1):
        offsets[h[f"TTYPE{i}"]] = pos
        pos += 16 if "Q" in h[f"TFORM{i}"] else (8 if "P" in h[f"TFORM{i}"] else 8)
    ztile = [h.get(f"ZTILE{i}", 1) for i in range(1, h["ZNAXIS"] + 1)]
    axes = [h[f"ZNAXIS{i}"] for i in range(1, h["ZNAXIS"] + 1)]
    out = np.zeros(axes[::-1], dtype=">i8")
    along = [(a + t - 1) // t for a, t in zip(axes, ztile)]
    for row in range(rows):
        base = start + row * width
        col = "UNCOMPRESSED_DATA" if h["ZCMPTYPE"] == "NOCOMPRESS" else "COMPRESSED_DATA"
        wide = "Q" in forms[col][1]
        fmt = ">qq" if wide else ">ii"
        count, offset = struct.unpack(fmt, raw[base + offsets[col]: base + offsets[col] + (16 if wide else 8)])
        element = 8 if col == "UNCOMPRESSED_DATA" else 1
        blob = raw[heap + offset: heap + offset + count * element]
        idx = row
        start_px = []
        size = []
        for a, t, n in zip(axes, ztile, along):
            k = idx % n
            idx //= n
            start_px.append(k * t)
            size.append(min(t, a - k * t))
        pixels = int(np.prod(size))
        if h["ZCMPTYPE"] == "NOCOMPRESS":
            values = np.frombuffer(blob, dtype=">i8")
        else:
            inflated = zlib.decompress(blob, 31)
            if h["ZCMPTYPE"] == "GZIP_2":
                inflated = np.frombuffer(inflated, dtype=np.uint8).reshape(8, pixels).T.copy().tobytes()
            values = np.frombuffer(inflated, dtype=">i8")
        tile = values.reshape(size[::-1])
        sl = tuple(slice(s, s + n) for s, n in zip(start_px[::-1], size[::-1]))
        out[sl] = tile
    return out


# ---- The cases -------------------------------------------------------------------

def algorithms_for(bitpix):
    if bitpix == 64:
        return [("GZIP_1", []), ("GZIP_2", []), ("NOCOMPRESS", [])]
    if bitpix > 0:
        return [("RICE_1", []), ("GZIP_1", []), ("GZIP_2", []), ("HCOMPRESS_1", []), ("NOCOMPRESS", [])]
    return [("RICE_1", ["--seed", "1234"]), ("GZIP_1", ["--seed", "77"]), ("GZIP_2", ["--dither", "2", "--seed", "5"]),
            ("HCOMPRESS_1", ["--seed", "tile"]), ("RICE_1", ["--dither", "0", "--q", "16"]),
            ("GZIP_1", ["--lossless"]), ("GZIP_2", ["--lossless"]), ("NOCOMPRESS", ["--lossless"])]


class Runner:
    def __init__(self, driver, nebulite, tmp):
        self.driver = driver
        self.nebulite = nebulite
        self.tmp = tmp
        self.count = 0
        self.peaks = []
        self.faults = {}

    def source_faults(self, src):
        """fitsverify's warnings and errors for the uncompressed file: its own
        header's faults travel with it (0 for the synthetic images)."""
        if src not in self.faults:
            self.faults[src] = run(["fitsverify", "-q", src]).returncode
        return self.faults[src]

    def astropy_writes(self, src):
        """Whether astropy can write the uncompressed file's header out again."""
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            try:
                fits.getheader(src).tostring()
                return True
            except Exception:  # noqa: BLE001
                return False

    def write(self, src, dst, args):
        r = run([self.driver, "write", src, dst] + args)
        try:
            return json.loads(r.stdout.decode())
        except ValueError:
            return {"result": "driver crashed: " + r.stderr.decode()[-300:]}

    def case(self, name, src, algorithm, args, tiling):
        self.count += 1
        label = f"{name} {algorithm} {' '.join(args)} tile={tiling}"
        fz = os.path.join(self.tmp, f"c{self.count}.fits.fz")
        tile_args = [] if tiling is None else ["--tile", f"{tiling[0]},{tiling[1]}"]
        stats = self.write(src, fz, ["--algorithm", algorithm] + args + tile_args)
        if not check(stats.get("result") == "none", f"{label}: writer: {stats.get('result')}"):
            return
        check(stats["peakBytes"] <= stats["work"]["total"],
              f"{label}: held {stats['peakBytes']} bytes past the planned {stats['work']['total']}")
        self.peaks.append((label, stats))
        # Both HDUs' CHECKSUM and DATASUM, as astropy checks them.
        with warnings.catch_warnings():
            # Only the checksum's warnings: a header card astropy dislikes
            # (one real image has a bad CONTINUE) is the image's own.
            warnings.simplefilter("ignore")
            warnings.filterwarnings("error", message="(?i).*(checksum|datasum).*")
            try:
                with fits.open(fz, checksum=True) as h:
                    checked = [hdu for hdu in h]
                    for hdu in checked:
                        check(hdu._checksum_valid and hdu._datasum_valid, f"{label}: astropy: checksum of {hdu.name}")
                    # astropy sums a header by writing it out again, which it
                    # cannot for a card it cannot write (fitsverify sums that one).
                    check(len(checked) == 2 or not self.astropy_writes(src), f"{label}: astropy checked "
                          f"{len(checked)} HDUs")
            except Exception as e:  # noqa: BLE001 - a checksum warning is the finding
                check(False, f"{label}: astropy's checksum check: {e}")
        fv = run(["fitsverify", "-q", fz])
        own = self.source_faults(src)
        check(fv.returncode <= own, f"{label}: fitsverify: {fv.stdout.decode().strip()} "
              f"(the uncompressed file: {own})")

        original = stored_samples(src)
        src_cards, _ = header_cards(src, 0)
        left = [c for c in src_cards if c[:8].rstrip() in RESERVED_KEYWORDS]
        check(stats["cardsLeft"] == len(left), f"{label}: {stats['cardsLeft']} cards left out, not {len(left)}")
        src_cards = [c for c in src_cards if c not in left]
        with fits.open(src) as h:
            bitpix = h[0].header["BITPIX"]
        quantized = bitpix < 0 and "--lossless" not in args

        # Ours: import/tiled's decoder and restored header.
        raw, restored = fz + ".raw", fz + ".cards"
        dec = run([self.driver, "decode", fz, raw, restored])
        if not check(dec.returncode == 0, f"{label}: import/tiled decode: {dec.stderr.decode().strip()}"):
            return
        ours = np.frombuffer(open(raw, "rb").read(), dtype=original.dtype.newbyteorder(">")).reshape(original.shape)
        cards = open(restored, "rb").read().decode("latin-1")
        ours_cards = [cards[i:i + 80] for i in range(0, len(cards), 80)]
        check(ours_cards == src_cards, f"{label}: import/tiled restored header differs "
              f"({len(ours_cards)} cards for {len(src_cards)})")
        if quantized:
            check(same(np.isnan(ours.astype(np.float64)), np.isnan(original.astype(np.float64))),
                  f"{label}: NaNs not where they were")
            finite = np.isfinite(original)
            if finite.any():
                err = np.abs(ours[finite].astype(np.float64) - original[finite].astype(np.float64))
                spread = np.nanstd(original.astype(np.float64)) + 1e-30
                check(err.max() <= spread, f"{label}: quantized values off by {err.max()} (spread {spread})")
        else:
            check(same(ours, original), f"{label}: import/tiled decodes other samples")

        expected = ours if quantized else original

        # The module itself (import/tiled's band reader behind `nebulite open`)
        # opens the .fz to the very image it opens the samples import/tiled
        # decoded to, as a plain file with the restored header.
        plain = fz + ".decoded.fits"
        with open(plain, "wb") as f:
            head = "".join(ours_cards) + "END".ljust(80)
            head += " " * (-len(head) % 2880)
            f.write(head.encode("latin-1"))
            body = open(raw, "rb").read()
            f.write(body + b"\0" * (-len(body) % 2880))
        shown = [fz + ".fz.pnm", fz + ".plain.pnm"]
        opened = [run([self.nebulite, "open", path, out]) for path, out in zip((fz, plain), shown)]
        if check(all(o.returncode == 0 for o in opened), f"{label}: nebulite open: "
                 f"{' '.join(o.stderr.decode().strip() for o in opened)}"):
            check(open(shown[0], "rb").read() == open(shown[1], "rb").read(),
                  f"{label}: the module opens the .fz to another image")
        if bitpix == 64:
            check(same(numpy_gzip_decode(fz, original.shape, bitpix), original),
                  f"{label}: zlib and numpy decode other samples")
            return

        # funpack: the samples and the restored header, card by card.
        back = fz + ".funpacked.fits"
        fp = run(["funpack", "-O", back, fz])
        # funpack 4.2.0 misplaces the pixels of float images cut into tiles
        # narrower than the image once a tile holds a NaN or is kept in the
        # gzip fallback column: fpack's own files come back wrong the same
        # way (funpack_narrow_tile_fault). astropy is the oracle there.
        narrow = bitpix < 0 and tiling is not None and tiling[1] < original.shape[-1]
        if check(fp.returncode == 0, f"{label}: funpack: {fp.stderr.decode().strip()}") and not narrow:
            check(same(stored_samples(back), expected), f"{label}: funpack gives other samples")
            fcards, _ = header_cards(back, 0)
            it = iter(fcards)
            # cfitsio takes blank cards just before END for free room in the
            # header, and fpack and funpack leave them out.
            last = max(i for i, c in enumerate(src_cards) if c.strip())
            missing = [c for c in src_cards[:last + 1] if not any(c == f for f in it)]
            check(not missing, f"{label}: funpack's header lacks {missing[:3]} (or has them out of order)")

        # astropy: cannot read NOCOMPRESS (5.2.1).
        if algorithm == "NOCOMPRESS":
            return
        try:
            with fits.open(fz, do_not_scale_image_data=True) as h:
                data = np.array(h[1].data)
            if quantized and np.isnan(original).any():
                # astropy 5.2.1 does not turn ZBLANK back into NaN (funpack does).
                keep = ~np.isnan(expected)
                check(same(data[keep], expected[keep]), f"{label}: astropy gives other samples")
            else:
                check(same(data, expected), f"{label}: astropy gives other samples")
        except Exception as e:  # noqa: BLE001 - any failure of astropy is the finding
            check(False, f"{label}: astropy: {e}")
        with fits.open(src, do_not_scale_image_data=True) as h:
            src_header = h[0].header
            try:
                src_header.tostring()
            except Exception:  # noqa: BLE001 - a card astropy cannot write: its header check says nothing
                return
        try:
            with fits.open(fz, do_not_scale_image_data=True) as h:
                header = h[1].header
                for card in src_header.cards:
                    if card.keyword in ("", "COMMENT", "HISTORY", "SIMPLE", "EXTEND", "CHECKSUM", "DATASUM") or \
                            card.keyword in RESERVED_KEYWORDS:
                        continue
                    check(card.keyword in header and header[card.keyword] == card.value,
                          f"{label}: astropy's header lacks {card.keyword} = {card.value!r}")
                for kind in ("COMMENT", "HISTORY"):
                    if kind in src_header:
                        check(list(header.get(kind, [])) == list(src_header[kind]),
                              f"{label}: astropy's {kind} differ")
        except Exception as e:  # noqa: BLE001
            check(False, f"{label}: astropy's header: {e}")


def funpack_narrow_tile_fault(tmp):
    """The funpack fault the roundtrip works around, shown on fpack's own
    file: once funpack reads it right, the workaround can go."""
    rng = np.random.default_rng(3)
    src = os.path.join(tmp, "fault.fits")
    write_image(src, synthetic(rng, "nans", (1, 50, 70), np.float32))
    fz = os.path.join(tmp, "fault.fpack.fz")
    back = os.path.join(tmp, "fault.back.fits")
    if run(["fpack", "-t", "16,15", "-O", fz, src]).returncode != 0 or run(["funpack", "-O", back, fz]).returncode:
        check(False, "fpack or funpack failed on the fault's own file")
        return
    a, b = fits.getdata(src), fits.getdata(back)
    wrong = int((np.isnan(a) != np.isnan(b)).sum())
    check(wrong > 0, "funpack now reads fpack's narrow float tiles right: hold the roundtrip's narrow float tiles "
          "against funpack again")
    print(f"funpack fault: fpack's own 16x15 tiles of a float image with NaNs come back with {wrong} NaNs misplaced")


def part_roundtrip(runner, tmp):
    funpack_narrow_tile_fault(tmp)
    for name, path in synthetic_images(tmp):
        with fits.open(path) as h:
            bitpix = h[0].header["BITPIX"]
            shape = h[0].data.shape
        rows, cols = shape[-2], shape[-1]
        for algorithm, args in algorithms_for(bitpix):
            for tiling in (None, (15, 16), (rows, cols)):
                runner.case(name, path, algorithm, args, tiling)
        if name == "i16-noise":
            # The table of 64-bit descriptors, which only heaps past 2 GiB need.
            runner.case(name, path, "RICE_1", ["--wide"], None)
            runner.case(name, path, "NOCOMPRESS", ["--wide"], (15, 16))
            # Bytes in pieces of any size.
            runner.case(name, path, "HCOMPRESS_1", ["--chunk", "7"], (15, 16))
    for name, path in REAL:
        if not os.path.exists(path):
            print(f"skipped (not installed): {path}")
            continue
        with fits.open(path) as h:
            bitpix = h[0].header["BITPIX"]
        for algorithm, args in algorithms_for(bitpix):
            runner.case(name, path, algorithm, args, None)
        runner.case(name, path, "RICE_1" if bitpix > 0 else "GZIP_2", ["--lossless"] if bitpix < 0 else [], (32, 50))
    print(f"roundtrip: {runner.count} files written")


def data_unit_bytes(path):
    cards, _ = header_cards(path, 1)
    h = fits.Header.fromstring("".join(cards + ["END".ljust(80)]))
    return h["NAXIS1"] * h["NAXIS2"] + h["PCOUNT"], h["PCOUNT"]


def part_sizes(runner, tmp):
    cases = []
    for name, path in REAL:
        if os.path.exists(path):
            cases.append((name, path))
    rng = np.random.default_rng(7)
    big = os.path.join(tmp, "noise-1024.fits")
    write_image(big, synthetic(rng, "stars", (1, 1024, 1024), np.int16))
    cases.append(("stars-1024x1024-int16", big))
    for name, path in cases:
        with fits.open(path) as h:
            bitpix = h[0].header["BITPIX"]
            shape = h[0].data.shape
        for tiling in (None, (32, 64)):
            ours = os.path.join(tmp, f"{name}.ours.fz")
            theirs = os.path.join(tmp, f"{name}.fpack.fz")
            args = ["--algorithm", "RICE_1"]
            fargs = ["fpack", "-r", "-O", theirs]
            if tiling:
                args += ["--tile", f"{tiling[0]},{tiling[1]}"]
                fargs += ["-t", f"{min(tiling[1], shape[-1])},{min(tiling[0], shape[-2])}"]
            if bitpix < 0:
                args += ["--seed", "tile"]
                fargs += ["-qt", "4"]
            stats = runner.write(path, ours, args)
            if not check(stats.get("result") == "none", f"sizes {name}: writer {stats.get('result')}"):
                continue
            r = run(fargs + [path])
            if not check(r.returncode == 0, f"sizes {name}: fpack: {r.stderr.decode().strip()}"):
                continue
            ours_unit, ours_heap = data_unit_bytes(ours)
            theirs_unit, theirs_heap = data_unit_bytes(theirs)
            a, b = (ours_heap, theirs_heap) if bitpix < 0 else (ours_unit, theirs_unit)
            what = "heap" if bitpix < 0 else "data unit"
            print(f"sizes: {name} tile={tiling}: {what} ours {a}, fpack {b} ({100.0 * (a - b) / b:+.3f}%)")
            check(abs(a - b) <= 0.01 * b, f"sizes {name} tile={tiling}: {what} {a} against fpack's {b}")


def not_fits_anywhere(runner, path, label):
    try:
        with fits.open(path) as h:
            h.verify("exception")
            taken = len(h) >= 2 and h[1].data is not None
    except Exception:  # noqa: BLE001 - refusal is what we want
        taken = False
    check(not taken, f"{label}: astropy takes the file")
    out = path + ".funpacked"
    check(run(["funpack", "-O", out, path]).returncode != 0, f"{label}: funpack takes the file")
    check(run(["fitsverify", "-q", path]).returncode != 0, f"{label}: fitsverify passes the file")
    check(run([runner.nebulite, "check", path]).returncode != 0, f"{label}: nebulite check takes the file")


def part_failures(runner, tmp):
    rng = np.random.default_rng(11)
    tall = os.path.join(tmp, "tall.fits")
    # 12000 rows of row tiles: the table passes its window, so rows are
    # written in place while the heap still grows.
    write_image(tall, synthetic(rng, "noise", (1, 12000, 20), np.int16))
    floats = os.path.join(tmp, "floats.fits")
    write_image(floats, synthetic(rng, "nans", (1, 200, 300), np.float32))
    cases = [("m51", SAMPLE, ["--algorithm", "RICE_1"]), ("tall", tall, ["--algorithm", "GZIP_2"]),
             ("floats", floats, ["--algorithm", "HCOMPRESS_1", "--tile", "20,30"])]
    tried = 0
    for name, path, args in cases:
        whole = os.path.join(tmp, f"{name}.whole.fz")
        stats = runner.write(path, whole, args)
        if not check(stats.get("result") == "none", f"failures {name}: {stats.get('result')}"):
            continue
        writes = stats["writes"]
        # The refusals below mean something only if the readers take the whole file.
        try:
            with fits.open(whole) as h:
                check(h[1].data is not None, f"failures {name}: astropy cannot read the whole file")
        except Exception as e:  # noqa: BLE001
            check(False, f"failures {name}: astropy cannot read the whole file: {e}")
        check(run(["funpack", "-O", whole + ".back", whole]).returncode == 0, f"failures {name}: funpack refuses it")
        check(run([runner.nebulite, "check", whole]).returncode == 0, f"failures {name}: nebulite check refuses it")
        # Memory that runs out at any allocation (zlib's included) stops the
        # write cleanly, with nothing that looks like FITS.
        for k in range(1, min(stats["allocations"], 24) + 1):
            out = os.path.join(tmp, f"{name}.alloc{k}.fz")
            s = runner.write(path, out, args + ["--alloc-fail-at", str(k)])
            label = f"failures {name}: allocation {k} of {stats['allocations']} refused"
            check(s.get("result") == "no memory", f"{label}: writer said {s.get('result')}")
            if os.path.exists(out) and os.path.getsize(out) > 0:
                not_fits_anywhere(runner, out, label)
        for k in range(1, writes + 1):
            for partial in (False, True):
                out = os.path.join(tmp, f"{name}.{k}.{int(partial)}.fz")
                s = runner.write(path, out, args + ["--fail-at", str(k)] + (["--partial"] if partial else []))
                label = f"failures {name}: write {k} of {writes}{' (half written)' if partial else ''}"
                check(s.get("result") == "write failed", f"{label}: writer said {s.get('result')}")
                not_fits_anywhere(runner, out, label)
                tried += 1
    print(f"failures: {tried} failed writes, none of them left a FITS file")


def main():
    args = sys.argv[1:]
    keep = None
    if "--keep" in args:
        i = args.index("--keep")
        keep = args[i + 1]
        del args[i:i + 2]
    if len(args) != 3:
        print(__doc__)
        return 2
    part, driver, nebulite = args
    for tool in ("funpack", "fpack", "fitsverify"):
        if shutil.which(tool) is None:
            print(f"{tool} not found: skipped")
            return SKIP
    tmp = keep or tempfile.mkdtemp(prefix="nebulite-tiled-save-")
    os.makedirs(tmp, exist_ok=True)
    runner = Runner(driver, nebulite, tmp)
    try:
        if part in ("roundtrip", "all"):
            part_roundtrip(runner, tmp)
            worst = max(runner.peaks, key=lambda p: p[1]["peakBytes"] / max(1, p[1]["dataBytes"]))
            print(f"memory: most held relative to the image: {worst[0]}: {worst[1]['peakBytes']} bytes "
                  f"for {worst[1]['dataBytes']} of samples (planned {worst[1]['work']['total']})")
        if part in ("sizes", "all"):
            part_sizes(runner, tmp)
        if part in ("failures", "all"):
            part_failures(runner, tmp)
    finally:
        if keep is None:
            shutil.rmtree(tmp, ignore_errors=True)
    print(f"{len(failures)} failed" if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
