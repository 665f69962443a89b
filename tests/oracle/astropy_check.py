#!/usr/bin/python3
"""The nebulite CLI against astropy and fitsverify.

    astropy_check.py read|write|fitsverify|roundtrip|extensions|gzip|wide|whole|tiled|all NEBULITE [--keep DIR]

read        files made with astropy, opened with `nebulite open` to PGM/PPM
            (and `nebulite info --json`): every sample must be the one the
            import rules give for astropy's reading of the file.
write       PGM/PPM images saved with `nebulite save`, read back with astropy:
            8-bit samples unchanged, 16-bit physical values 2*h (at most 65535).
fitsverify  every file the module writes: synthesised headers with no warning
            and no error, kept headers with no more than the original had.
roundtrip   `convert` keeps 8-bit data bytes and 16-bit samples within 1 of
            what was read; open to PNG then save is byte for byte `convert`.
extensions  real multi-extension files: the first image extension opens with
            astropy's samples, `info` names its HDU, `convert` writes one HDU
            that astropy reads as that image, with the keywords of both
            headers and no fitsverify error the original lacked; a SIMPLE = F
            file converts to a standard primary image.
gzip        gzip twins of the read files (one member, several members, zero
            padding) open to exactly the plain file's samples and info says
            gzip; `convert` of a twin writes the plain file's bytes; the
            gzip-compressed files astropy ships open with astropy's samples.
wide        images wider or taller than 32767 open with astropy's samples and
            save from PGM/PPM to files astropy reads as the same samples.
whole       real primary and extension images, headers of up to 91 blocks:
            `info` shows cards each taken byte for byte from the file (a
            primary's in the file's order), and `convert`, open to PNG then
            save, and open to TIFF then save all write back every card of it
            the rewrite has no rule for, byte for byte and in order.
tiled       the read images fpack'd under every algorithm and quantization
            that applies (and astropy's own compressed files) open to the
            very samples funpack's output opens to; info names the
            compression; convert writes a file fitsverify accepts that keeps
            the image header's keywords.

Exit status 0 when every check passed, 1 when one failed, 77 when a tool the
part needs is missing (CTest reports the test as skipped).

Run it with Debian's python (/usr/bin/python3): that is the one that sees
python3-astropy and python3-numpy.
"""

import gzip
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

SKIP = 77

try:
    import numpy as np
    from astropy.io import fits
except ImportError as e:  # pragma: no cover - depends on the machine
    print(f"astropy_check: {e}: skipped (needs python3-astropy and python3-numpy)")
    sys.exit(SKIP)

RANGE_LOW = ("BACKGRND", "AVISUMIN", "DATAMIN", "CBLACK")
RANGE_HIGH = ("RANGE", "AVISUMAX", "DATAMAX", "CWHITE")
OFFSET = ("BACKGRND", "RANGE")


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


# ---- Running the CLI ----------------------------------------------------------

class Cli:
    def __init__(self, path):
        self.path = path

    def run(self, *args):
        return subprocess.run([self.path, *args], capture_output=True, text=True)

    def ok(self, checks, *args):
        r = self.run(*args)
        checks.expect(r.returncode == 0,
                      f"nebulite {' '.join(args)} exited {r.returncode}: {r.stderr.strip()}")
        return r.returncode == 0


# ---- PNM files ---------------------------------------------------------------------

def read_pnm(path):
    """(planes, rows, columns) samples and maxval of a binary PGM or PPM."""
    with open(path, "rb") as f:
        data = f.read()
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at) + 1
            continue
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    at += 1  # the single whitespace after maxval
    magic, width, height, maxval = fields[0], int(fields[1]), int(fields[2]), int(fields[3])
    planes = {b"P5": 1, b"P6": 3}[magic]
    dtype = np.dtype(">u2") if maxval > 255 else np.dtype("u1")
    count = width * height * planes
    pixels = np.frombuffer(data, dtype=dtype, count=count, offset=at).astype(np.uint32)
    return pixels.reshape(height, width, planes).transpose(2, 0, 1), maxval


def write_pnm(path, samples, maxval):
    """samples: (planes, rows, columns), planes 1 or 3."""
    planes, rows, columns = samples.shape
    magic = b"P5" if planes == 1 else b"P6"
    dtype = np.dtype(">u2") if maxval > 255 else np.dtype("u1")
    body = np.ascontiguousarray(samples.transpose(1, 2, 0)).astype(dtype).tobytes()
    with open(path, "wb") as f:
        f.write(magic + b"\n%d %d\n%d\n" % (columns, rows, maxval) + body)


# ---- What the host must get ------------------------------------------------------------

def header_range(header):
    """(lo, hi) from the range cards in header order, or None without any."""
    seen, offset, lo, hi = False, False, 0.0, 0.0
    for card in header.cards:
        key = card.keyword
        if key in RANGE_LOW or key in RANGE_HIGH:
            seen = True
            offset = offset or key in OFFSET
            if key in RANGE_LOW:
                lo = float(card.value)
            else:
                hi = float(card.value)
    if not seen:
        return None
    return lo, (lo + hi if offset else hi)


def unsigned16(stored):
    """The 16 stored bits as 0..65535 (astropy hands big-endian int16 over,
    so a plain view as uint16 would also swap the bytes)."""
    return stored.astype(np.int64) & 0xFFFF


def expected_host(path, hdu=0):
    """The host image the import rules give for HDU `hdu` of the file:
    (depth, samples as (planes, rows, columns) uint32)."""
    with fits.open(path, do_not_scale_image_data=True, disable_image_compression=True) as hdus:
        return expected_from(hdus[hdu].header, hdus[hdu].data)


def expected_from(header, raw):
    """expected_host for an image's header and stored (unscaled) samples."""
    if True:
        bitpix = header["BITPIX"]
        if raw.ndim == 3:
            raw = raw[:3] if raw.shape[0] >= 3 else raw[:1]
        else:
            # Beyond three axes only the first plane opens.
            raw = raw.reshape(-1, raw.shape[-2], raw.shape[-1])[:1]
        bscale = float(header.get("BSCALE", 1.0))
        bzero = float(header.get("BZERO", 0.0))
        if bitpix == 8:
            return 8, raw.astype(np.uint32)
        if bitpix == 16:
            # BZERO absent or 0: the stored bits are unsigned.
            s = unsigned16(raw) if bzero == 0.0 else raw
            v = s.astype(np.float64) * (bscale if bscale != 0.0 else 1.0) + bzero
            v = np.where(np.isnan(v) | (v < 0), 0.0, np.minimum(v, 65535.0))
            t = np.trunc(v).astype(np.uint32)
            return 16, (t + 1) // 2
        p = raw.astype(np.float64) * bscale + bzero
        undefined = ~np.isfinite(p)
        if bitpix in (32, 64) and "BLANK" in header:
            undefined |= raw == int(header["BLANK"])
        defined = p[~undefined]
        lo, hi = (defined.min(), defined.max()) if defined.size else (0.0, 0.0)
        r = header_range(header)
        if r is not None and r[1] > r[0]:
            lo, hi = r
        if not hi > lo:
            return 16, np.zeros(raw.shape, np.uint32)
        with np.errstate(invalid="ignore", over="ignore"):
            x = np.round((p - lo) / (hi - lo) * 32768.0)
        x = np.where(undefined, 0.0, np.clip(np.nan_to_num(x, nan=0.0), 0.0, 32768.0))
        return 16, x.astype(np.uint32)


# ---- The files ------------------------------------------------------------------------------

def primary(raw, keys=(), history=0, extension=False):
    """An HDU list holding `raw` as stored, with `keys` added after the
    mandatory cards, `history` HISTORY cards and maybe an image extension."""
    hdu = fits.PrimaryHDU(raw)
    for k, v in keys:
        hdu.header[k] = v
    for i in range(history):
        hdu.header.add_history(f"filler card {i} to lengthen the header")
    hdus = [hdu]
    if extension:
        hdus.append(fits.ImageHDU(np.full((5, 7), 1234.5, np.float32), name="EXTRA"))
    return fits.HDUList(hdus)


def read_inputs(rng):
    """(name, HDUList) pairs covering each BITPIX, the scalings, shapes and
    header lengths."""
    def u8(shape):
        return rng.integers(0, 256, shape, dtype=np.uint8)

    def i16(shape):
        a = rng.integers(-32768, 32768, shape, dtype=np.int16)
        a.flat[:4] = [-32768, 32767, 0, -1][: a.size]
        return a

    def i32(shape):
        return rng.integers(-2**31, 2**31, shape, dtype=np.int64).astype(np.int32)

    def f32(shape, lo=-1e4, hi=3e4):
        return rng.uniform(lo, hi, shape).astype(np.float32)

    def i64(shape):
        return rng.integers(-2**62, 2**62, shape, dtype=np.int64)

    def f64(shape, lo=-1e6, hi=3e6):
        return rng.uniform(lo, hi, shape)

    cases = [
        ("u8-grey", primary(u8((47, 61)))),
        ("u8-scaling-ignored", primary(u8((30, 40)), [("BSCALE", 2.0), ("BZERO", -100.0)])),
        ("u8-1x1", primary(u8((1, 1)))),
        ("u8-1x777", primary(u8((777, 1)))),
        ("u8-333x2", primary(u8((2, 333)))),
        ("u8-rgb", primary(u8((3, 29, 37)))),
        ("u8-naxis3-1", primary(u8((1, 20, 45)))),
        ("u8-naxis3-2", primary(u8((2, 20, 45)))),
        ("u8-naxis3-30", primary(u8((30, 17, 23)))),
        ("u8-long-header-extension", primary(u8((39, 52)), history=75, extension=True)),
        ("i16-bzero32768", primary(i16((48, 64)), [("BSCALE", 1.0), ("BZERO", 32768.0)])),
        ("i16-no-bzero", primary(i16((48, 64)))),
        ("i16-bzero0-bscale0.5", primary(i16((31, 50)), [("BSCALE", 0.5), ("BZERO", 0.0)])),
        ("i16-bscale2.5-bzero-1000", primary(i16((33, 70)), [("BSCALE", 2.5), ("BZERO", -1000.0)])),
        ("i16-bscale0.3-bzero7.7", primary(i16((33, 70)), [("BSCALE", 0.3), ("BZERO", 7.7)])),
        ("i16-bscale0", primary(i16((40, 40)), [("BSCALE", 0.0), ("BZERO", 100.0)])),
        ("i16-bzero1e5", primary(i16((40, 40)), [("BZERO", 100000.0)])),
        ("i16-1x777", primary(i16((777, 1)), [("BZERO", 32768.0)])),
        ("i16-333x2", primary(i16((2, 333)), [("BZERO", 32768.0)])),
        ("i16-rgb", primary(i16((3, 27, 41)), [("BZERO", 32768.0)])),
        ("i16-naxis3-30", primary(i16((30, 11, 19)), [("BZERO", 32768.0)])),
        ("i16-long-header-extension",
         primary(i16((39, 52)), [("BZERO", 32768.0)], history=100, extension=True)),
        ("i32-data-range", primary(i32((43, 57)))),
        ("i32-scaled", primary(i32((43, 57)), [("BSCALE", 1e-6), ("BZERO", 50.0)])),
        ("i32-datamin-datamax", primary(i32((20, 30)), [("DATAMIN", -1e9), ("DATAMAX", 1e9)])),
        ("i32-rgb", primary(i32((3, 13, 21)))),
        ("f32-data-range", primary(f32((43, 57)))),
        ("f32-cblack-cwhite", primary(f32((30, 40)), [("CBLACK", 0.0), ("CWHITE", 1e4)])),
        ("f32-backgrnd-range", primary(f32((30, 40)), [("BACKGRND", -500.0), ("RANGE", 2000.0)])),
        ("f32-scaled", primary(f32((30, 40)), [("BSCALE", -3.0), ("BZERO", 11.0)])),
        ("f32-rgb", primary(f32((3, 13, 21)))),
        ("f32-naxis3-30", primary(f32((30, 7, 9)))),
        ("f32-333x2", primary(f32((2, 333)))),
        ("i64-data-range", primary(i64((43, 57)))),
        ("i64-small-values", primary(rng.integers(-1000, 1000, (31, 45), dtype=np.int64))),
        ("i64-scaled", primary(i64((20, 30)), [("BSCALE", 1e-12), ("BZERO", 5.0)])),
        ("i64-datamin-datamax", primary(i64((20, 30)), [("DATAMIN", -1e18), ("DATAMAX", 1e18)])),
        ("i64-rgb", primary(i64((3, 13, 21)))),
        ("f64-data-range", primary(f64((43, 57)))),
        ("f64-narrow-range", primary(1.0 + rng.uniform(0.0, 1e-9, (20, 30)))),
        ("f64-cblack-cwhite", primary(f64((30, 40)), [("CBLACK", 0.0), ("CWHITE", 1e6)])),
        ("f64-scaled", primary(f64((30, 40)), [("BSCALE", -3.0), ("BZERO", 11.0)])),
        ("f64-rgb", primary(f64((3, 13, 21)))),
        ("f64-1x777", primary(f64((777, 1)))),
    ]
    # Undefined samples: BLANK in integer data, NaN and infinities in floats.
    blank = i32((43, 57))
    blank.flat[::7] = -99
    cases.append(("i32-blank", primary(blank, [("BLANK", -99)])))
    holes = f32((43, 57))
    holes.flat[::5] = np.nan
    holes.flat[1::11] = np.inf
    holes.flat[2::13] = -np.inf
    cases.append(("f32-nan-inf", primary(holes)))
    blank64 = i64((43, 57))
    blank64.flat[::7] = -2**63
    cases.append(("i64-blank", primary(blank64, [("BLANK", -2**63)])))
    holes64 = f64((43, 57))
    holes64.flat[::5] = np.nan
    holes64.flat[1::11] = np.inf
    holes64.flat[2::13] = -np.inf
    cases.append(("f64-nan-inf", primary(holes64)))
    return cases


def write_input(path, hdus):
    hdus.writeto(path, overwrite=True)
    # astropy must have stored the values as given: its own reading of the
    # raw data is what the expectations are computed from.
    with fits.open(path, do_not_scale_image_data=True) as back:
        stored = back[0].data
        given = hdus[0].data
        same = stored.shape == given.shape and np.array_equal(stored, given, equal_nan=given.dtype.kind == "f")
    if not same:
        raise RuntimeError(f"astropy did not store the raw values of {path} as given")


# ---- The parts ----------------------------------------------------------------------------------

def part_read(cli, work, checks):
    rng = np.random.default_rng(2024)
    for name, hdus in read_inputs(rng):
        check_open(cli, work, checks, name, hdus)


def check_open(cli, work, checks, name, hdus):
    """Opens `hdus` written as a file with `nebulite open`: every sample the
    one the import rules give for astropy's reading, and `info` agrees."""
    path = os.path.join(work, f"{name}.fits")
    write_input(path, hdus)
    depth, want = expected_host(path)
    planes = want.shape[0]
    out = os.path.join(work, f"{name}.{'ppm' if planes == 3 else 'pgm'}")
    if not cli.ok(checks, "open", path, out):
        return
    got, maxval = read_pnm(out)
    checks.expect(maxval == (255 if depth == 8 else 32768), f"{name}: maxval {maxval} for depth {depth}")
    if not checks.expect(got.shape == want.shape, f"{name}: shape {got.shape}, expected {want.shape}"):
        return
    wrong = np.argwhere(got != want)
    detail = ""
    if wrong.size:
        p, r, c = wrong[0]
        detail = f" (first at plane {p} row {r} column {c}: {got[p, r, c]} vs {want[p, r, c]})"
    checks.expect(wrong.size == 0, f"{name}: {len(wrong)} samples differ from astropy's reading{detail}")
    info = cli.run("info", path, "--json")
    if checks.expect(info.returncode == 0, f"{name}: info exited {info.returncode}"):
        j = json.loads(info.stdout)
        checks.expect((j["width"], j["height"], j["depth"], j["planes"]) ==
                      (want.shape[2], want.shape[1], depth, planes),
                      f"{name}: info says {j['width']}x{j['height']} depth {j['depth']} planes {j['planes']}")
        with fits.open(path) as h:
            cards = len(h[0].header.cards) + 1  # and END
        checks.expect(j["headerLength"] % 2880 == 0 and j["headerLength"] >= cards * 80,
                      f"{name}: headerLength {j['headerLength']} for {cards} cards")


def save_inputs(rng):
    """(name, samples (planes, rows, columns), depth) for `nebulite save`."""
    out = []
    for depth, top in ((8, 255), (16, 32768)):
        for planes in (1, 3):
            for rows, columns in ((48, 64), (1, 1), (777, 1), (2, 333)):
                s = rng.integers(0, top + 1, (planes, rows, columns), dtype=np.uint32)
                edges = [0, top, top - 1, 1]
                s.flat[: min(4, s.size)] = edges[: min(4, s.size)]
                kind = "grey" if planes == 1 else "rgb"
                out.append((f"{kind}{depth}-{columns}x{rows}", s, depth))
    return out


def part_write(cli, work, checks):
    rng = np.random.default_rng(7)
    for name, samples, depth in save_inputs(rng):
        ext = "pgm" if samples.shape[0] == 1 else "ppm"
        src = os.path.join(work, f"{name}.{ext}")
        write_pnm(src, samples, 255 if depth == 8 else 32768)
        dst = os.path.join(work, f"{name}.fits")
        if not cli.ok(checks, "save", src, dst):
            continue
        with fits.open(dst) as h:
            header, data = h[0].header, h[0].data
            checks.expect(header["BITPIX"] == (8 if depth == 8 else 16), f"{name}: BITPIX {header['BITPIX']}")
            want_shape = samples.shape if samples.shape[0] == 3 else samples.shape[1:]
            if not checks.expect(data.shape == want_shape, f"{name}: shape {data.shape}, expected {want_shape}"):
                continue
            want = samples if samples.shape[0] == 3 else samples[0]
            if depth == 16:
                checks.expect(header.get("BZERO") == 32768 and header.get("BSCALE", 1) == 1,
                              f"{name}: BZERO {header.get('BZERO')} BSCALE {header.get('BSCALE')}")
                want = np.minimum(2 * want, 65535)
            diff = int(np.count_nonzero(data.astype(np.int64) != want.astype(np.int64)))
            checks.expect(diff == 0, f"{name}: {diff} samples differ from the host's")
        if depth == 16:
            with fits.open(dst, do_not_scale_image_data=True) as h:
                stored = h[0].data.astype(np.int64)
                want = np.minimum(2 * (samples if samples.shape[0] == 3 else samples[0]).astype(np.int64),
                                  65535) - 32768
                checks.expect(h[0].data.dtype.kind == "i" and np.array_equal(stored, want),
                              f"{name}: stored values are not 2*h - 32768")
        # Opening what was saved gives the host the same samples again.
        back = os.path.join(work, f"{name}-back.{ext}")
        if cli.ok(checks, "open", dst, back):
            got, _ = read_pnm(back)
            checks.expect(np.array_equal(got, samples), f"{name}: save then open does not give the samples back")


def fitsverify_counts(path):
    """(warnings, errors) as fitsverify -q reports them."""
    r = subprocess.run(["fitsverify", "-q", path], capture_output=True, text=True)
    line = r.stdout.strip().splitlines()[-1] if r.stdout.strip() else ""
    if "verification OK" in line:
        return 0, 0
    words = line.replace(",", " ").split()
    try:
        warnings = int(words[words.index("warnings") - 1])
        errors = int(words[words.index("errors") - 1])
    except (ValueError, IndexError):
        raise RuntimeError(f"fitsverify said {line!r} (exit {r.returncode}) for {path}")
    return warnings, errors


def other_writers_inputs(rng):
    """Originals whose headers hold what other writers put there: HIERARCH
    cards, blank cards, a duplicated keyword and a deprecated one (fitsverify
    warns about the last two), commentary cards."""
    def grey16():
        return rng.integers(-32768, 32768, (20, 30), dtype=np.int16)

    cases = []
    hdus = primary(grey16(), [("BZERO", 32768.0)])
    h = hdus[0].header
    h["HIERARCH ESO DET CHIP NAME"] = "chip one"
    h.append(("", ""), bottom=True)
    h.append(("DATAMIN", 1.0))
    h.append(("DATAMIN", 2.0))
    h["EQUINOX"] = 2000.0
    h["EPOCH"] = 2000.0
    h.add_comment("a comment card")
    cases.append(("other-writers-warnings", hdus))
    return cases


def part_fitsverify(cli, work, checks):
    if shutil.which("fitsverify") is None:
        print("astropy_check: fitsverify not found: skipped")
        return SKIP
    # Synthesised headers: nothing to complain about.
    rng = np.random.default_rng(11)
    for name, samples, depth in save_inputs(rng):
        ext = "pgm" if samples.shape[0] == 1 else "ppm"
        src = os.path.join(work, f"syn-{name}.{ext}")
        write_pnm(src, samples, 255 if depth == 8 else 32768)
        dst = os.path.join(work, f"syn-{name}.fits")
        if cli.ok(checks, "save", src, dst):
            w, e = fitsverify_counts(dst)
            checks.expect((w, e) == (0, 0), f"synthesised {name}: fitsverify {w} warnings {e} errors")
    # Kept headers: no worse than the file they came from, whatever the
    # conversion did to the geometry.
    rng = np.random.default_rng(12)
    for name, hdus in read_inputs(rng) + other_writers_inputs(rng):
        src = os.path.join(work, f"kept-{name}.fits")
        hdus.writeto(src, overwrite=True, output_verify="silentfix")
        before = fitsverify_counts(src)
        planes = expected_host(src)[1].shape[0]
        variants = [[], ["--depth", "8"], ["--depth", "16"], ["--gray"] if planes == 3 else ["--rgb"]]
        for options in variants:
            dst = os.path.join(work, f"kept-{name}{''.join(options)}.fits")
            if not cli.ok(checks, "convert", src, dst, *options):
                continue
            after = fitsverify_counts(dst)
            checks.expect(after[0] + after[1] <= before[0] + before[1],
                          f"kept {name} {' '.join(options)}: fitsverify {after[0]} warnings {after[1]} errors, "
                          f"the original had {before[0]} and {before[1]}")


def part_roundtrip(cli, work, checks):
    rng = np.random.default_rng(13)
    for name, hdus in read_inputs(rng):
        src = os.path.join(work, f"{name}.fits")
        write_input(src, hdus)
        depth, host = expected_host(src)
        converted = os.path.join(work, f"{name}-convert.fits")
        if not cli.ok(checks, "convert", src, converted):
            continue
        with fits.open(src, do_not_scale_image_data=True) as a, \
                fits.open(converted, do_not_scale_image_data=True) as b:
            original = a[0].data if a[0].data.ndim == 3 else a[0].data[np.newaxis]
            original = original[: host.shape[0]]
            again = b[0].data if b[0].data.ndim == 3 else b[0].data[np.newaxis]
            header = a[0].header
            if not checks.expect(again.shape == original.shape, f"{name}: convert gave shape {again.shape}"):
                continue
            if header["BITPIX"] == 8:
                checks.expect(np.array_equal(again, original), f"{name}: convert changed 8-bit data bytes")
            elif header["BITPIX"] == 16:
                bscale = float(header.get("BSCALE", 1.0)) or 1.0
                bzero = float(header.get("BZERO", 0.0))
                s = unsigned16(original) if bzero == 0.0 else original
                t = np.trunc(np.clip(np.nan_to_num(s * bscale + bzero, nan=0.0), 0.0, 65535.0))
                out_bzero = float(b[0].header.get("BZERO", 0.0))
                physical = again.astype(np.float64) + out_bzero
                worst = float(np.max(np.abs(physical - t))) if t.size else 0.0
                checks.expect(worst <= 1.0, f"{name}: convert moved a 16-bit sample by {worst}")
        # The editor's road through a PNG gives the same file as convert.
        png = os.path.join(work, f"{name}.png")
        saved = os.path.join(work, f"{name}-png.fits")
        if cli.ok(checks, "open", src, png) and cli.ok(checks, "save", png, saved):
            with open(converted, "rb") as f1, open(saved, "rb") as f2:
                a_bytes, b_bytes = f1.read(), f2.read()
            first = next((i for i in range(min(len(a_bytes), len(b_bytes))) if a_bytes[i] != b_bytes[i]), None)
            checks.expect(a_bytes == b_bytes,
                          f"{name}: open->PNG->save differs from convert (sizes {len(a_bytes)}/{len(b_bytes)}, "
                          f"first difference at byte {first})")


# ---- Images in extensions ------------------------------------------------------------

ASTROPY = "/usr/lib/python3/dist-packages/astropy"
MIDAS = "/usr/lib/eso-midas/22FEB/test/prim"

# Multi-extension files the Debian packages of scripts/setup.sh carry:
# (name, path, the HDU the image is in).
REAL_EXTENSION_FILES = [
    ("hst-stis-raw-u16", f"{ASTROPY}/io/fits/tests/data/o4sp040b0_raw.fits", 1),
    ("wfpc2-signed16-primary-bzero", f"{ASTROPY}/io/fits/tests/data/test0.fits", 1),
    ("asdf-float-naxis4", f"{ASTROPY}/io/misc/asdf/tags/fits/tests/data/complex.fits", 1),
    ("wfc3-float-wcs-in-both", f"{ASTROPY}/wcs/tests/data/ie6d07ujq_wcs.fits", 1),
    ("acs-flt-inherit", f"{ASTROPY}/wcs/tests/data/j94f05bgq_flt.fits", 1),
    ("vimos-float-large", f"{MIDAS}/vimos.fits", 1),
    ("not-int32-inherit-large", f"{MIDAS}/NOT.fits", 1),
]

# Cards that do not travel: the structure of the file, and what a save
# turns into comments because the data changed.
NOT_CARRIED = {"SIMPLE", "XTENSION", "BITPIX", "NAXIS", "EXTEND", "GROUPS", "PCOUNT", "GCOUNT", "BZERO",
               "BSCALE", "BLANK", "CHECKSUM", "DATASUM", "END", "", "COMMENT", "HISTORY", "CONTINUE"}


def carried_keywords(header):
    return {k for k in header.keys() if k not in NOT_CARRIED and not (k.startswith("NAXIS") and k[5:].isdigit())}


def fitsverify_errors(path):
    return fitsverify_counts(path)[1]


def simple_false_file(path):
    """A 16-bit primary image whose SIMPLE card says F."""
    cards = ["SIMPLE  =                    F / not quite standard", "BITPIX  =                   16",
             "NAXIS   =                    2", "NAXIS1  =                    7", "NAXIS2  =                    5",
             "BZERO   =                32768", "OBJECT  = 'odd one '", "END"]
    head = "".join(c.ljust(80) for c in cards).ljust(2880).encode()
    data = (np.arange(35, dtype=np.int64) * 1800 - 32768).astype(">i2").tobytes()
    with open(path, "wb") as f:
        f.write(head + data + bytes(-len(data) % 2880))


def kept_cards(png_path):
    """The header the module kept, from the chunks `nebulite open` puts in a
    PNG: the whole-header record (nbHD: "NbHd", version, card count, cards)
    when there is one, else the 'hist' records (hiST), rebuilt into cards as
    a save does. Also says which it was."""
    with open(png_path, "rb") as f:
        data = f.read()
    cards, whole, at = [], None, 8
    while at + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"hiST":
            record = body[:254]
            card = (bytes([len(record)]) + record).replace(b"\0", b" ")[:80].ljust(80)
            cards.append(card.decode("latin-1"))
        elif kind == b"nbHD" and body[:4] == b"NbHd" and struct.unpack(">H", body[4:6])[0] == 1:
            count = struct.unpack(">I", body[6:10])[0]
            whole = [body[10 + 80 * i:90 + 80 * i].decode("latin-1") for i in range(count)]
        at += 12 + length
    return (whole, True) if whole is not None else (cards, False)


def part_extensions(cli, work, checks):
    missing = [p for _, p, _ in REAL_EXTENSION_FILES if not os.path.exists(p)]
    checks.expect(not missing, f"real multi-extension files missing (scripts/setup.sh installs them): {missing}")
    verify = shutil.which("fitsverify") is not None
    for name, path, hdu in REAL_EXTENSION_FILES:
        if not os.path.exists(path):
            continue
        depth, want = expected_host(path, hdu)
        planes = want.shape[0]
        out = os.path.join(work, f"{name}.{'ppm' if planes == 3 else 'pgm'}")
        if cli.ok(checks, "open", path, out):
            got, _ = read_pnm(out)
            checks.expect(got.shape == want.shape and np.array_equal(got, want),
                          f"{name}: samples differ from astropy's reading of HDU {hdu}")
        info = cli.run("info", path, "--json")
        if checks.expect(info.returncode == 0, f"{name}: info exited {info.returncode}"):
            j = json.loads(info.stdout)
            checks.expect(j.get("hdu") == hdu and (j["width"], j["height"]) == (want.shape[2], want.shape[1]),
                          f"{name}: info says HDU {j.get('hdu')}, {j['width']}x{j['height']}")
            checks.expect(j["headerLength"] % 2880 == 0 and j["headerLength"] >= 80 * len(j["cards"]),
                          f"{name}: headerLength {j['headerLength']} for {len(j['cards'])} cards")
            # info shows exactly the header the module keeps, its own mark
            # included.
            png = os.path.join(work, f"{name}.png")
            if cli.ok(checks, "open", path, png):
                kept, whole = kept_cards(png)
                kept = kept[:next((i + 1 for i, c in enumerate(kept) if c.startswith("END     ")), len(kept))]
                shown = j["cards"]
                # Whole, every card is the same; from 'hist' records, as far
                # as each record holds its card.
                same = len(kept) == len(shown) and all(
                    k == c if whole else k[:ord(k[0]) + 1] == c[:ord(k[0]) + 1] for k, c in zip(kept, shown))
                checks.expect(same, f"{name}: info shows {len(shown)} cards, the document keeps {len(kept)}"
                                    + ("" if len(kept) != len(shown) else ", not the same"))
        converted = os.path.join(work, f"{name}-convert.fits")
        if not cli.ok(checks, "convert", path, converted):
            continue
        with fits.open(converted) as c, fits.open(path) as original:
            checks.expect(len(c) == 1, f"{name}: convert wrote {len(c)} HDUs")
            physical = c[0].data
            if physical.ndim == 2:
                physical = physical[np.newaxis]
            expected = want if depth == 8 else np.minimum(2 * want.astype(np.int64), 65535)
            checks.expect(physical.shape == expected.shape and
                          np.array_equal(physical.astype(np.int64), expected.astype(np.int64)),
                          f"{name}: astropy reads the converted file as another image")
            lost = (carried_keywords(original[0].header) | carried_keywords(original[hdu].header)) - \
                set(c[0].header.keys())
            checks.expect(not lost, f"{name}: keywords lost by convert: {sorted(lost)[:8]}")
            if info.returncode == 0:
                shown = carried_keywords(fits.Header.fromstring("".join(json.loads(info.stdout)["cards"])))
                checks.expect(carried_keywords(c[0].header) - {"NEBULITE"} <= shown,
                              f"{name}: info does not show {sorted(carried_keywords(c[0].header) - shown)[:8]}")
        if verify:
            before, after = fitsverify_errors(path), fitsverify_errors(converted)
            checks.expect(after <= before, f"{name}: fitsverify finds {after} errors in the converted file, "
                                           f"{before} in the original")
    # A file that claimed not to conform is written as one that does.
    odd = os.path.join(work, "simple-false.fits")
    simple_false_file(odd)
    fixed = os.path.join(work, "simple-false-convert.fits")
    if cli.ok(checks, "convert", odd, fixed):
        with fits.open(fixed) as h:
            checks.expect(type(h[0]).__name__ == "PrimaryHDU" and h[0].header["SIMPLE"] is True,
                          f"simple-false: astropy opens the converted file as {type(h[0]).__name__}")
            # Stored s * 1800 - 32768 with BZERO 32768: the host gets (t + 1) // 2 of t = s * 1800.
            want = np.minimum(2 * ((np.arange(35, dtype=np.int64) * 1800 + 1) // 2), 65535).reshape(5, 7)
            checks.expect(h[0].data is not None and np.array_equal(h[0].data.astype(np.int64), want),
                          "simple-false: the converted samples are not the image")


def gzip_twins(data):
    """(suffix, bytes) of the ways gzip files hold `data`: one member, three
    members (as `cat a.gz b.gz c.gz` makes), and zeros padding the end."""
    third = max(1, len(data) // 3)
    members = b"".join(gzip.compress(data[i:i + third], mtime=0) for i in range(0, len(data), third))
    one = gzip.compress(data, compresslevel=6, mtime=0)
    return [("one", one), ("members", members), ("padded", one + bytes(512))]


ASTROPY_GZ = "/usr/lib/python3/dist-packages/astropy/wcs/tests/data"


def part_gzip(cli, work, checks):
    rng = np.random.default_rng(2024)
    for name, hdus in read_inputs(rng):
        path = os.path.join(work, f"{name}.fits")
        write_input(path, hdus)
        planes = 3 if hdus[0].data.ndim == 3 and hdus[0].data.shape[0] >= 3 else 1
        ext = "ppm" if planes == 3 else "pgm"
        plain_out = os.path.join(work, f"{name}.{ext}")
        plain_fits = os.path.join(work, f"{name}.converted.fits")
        if not (cli.ok(checks, "open", path, plain_out) and cli.ok(checks, "convert", path, plain_fits)):
            continue
        data = open(path, "rb").read()
        for kind, packed in gzip_twins(data):
            twin = os.path.join(work, f"{name}.{kind}.fits.gz")
            with open(twin, "wb") as f:
                f.write(packed)
            out = os.path.join(work, f"{name}.{kind}.{ext}")
            converted = os.path.join(work, f"{name}.{kind}.converted.fits")
            if not (cli.ok(checks, "open", twin, out) and cli.ok(checks, "convert", twin, converted)):
                continue
            checks.expect(open(out, "rb").read() == open(plain_out, "rb").read(),
                          f"{name} ({kind}): the gzip twin opens to other samples than the plain file")
            checks.expect(open(converted, "rb").read() == open(plain_fits, "rb").read(),
                          f"{name} ({kind}): convert of the gzip twin differs from convert of the plain file")
            info = cli.run("info", twin, "--json")
            if checks.expect(info.returncode == 0, f"{name} ({kind}): info exited {info.returncode}"):
                checks.expect(json.loads(info.stdout).get("compression") == "gzip",
                              f"{name} ({kind}): info does not say gzip")
    # What astropy ships gzip-compressed: a 16-bit primary with a table after
    # it, and an empty primary before float images.
    for base, hdu in (("dss.14.29.56-62.41.05.fits.gz", 0), ("dist_lookup.fits.gz", 1)):
        path = os.path.join(ASTROPY_GZ, base)
        if not checks.expect(os.path.exists(path), f"{path} is missing (python3-astropy)"):
            continue
        depth, want = expected_host(path, hdu)
        out = os.path.join(work, base + (".ppm" if want.shape[0] == 3 else ".pgm"))
        if not cli.ok(checks, "open", path, out):
            continue
        got, _ = read_pnm(out)
        checks.expect(got.shape == want.shape and np.array_equal(got, want),
                      f"{base}: samples differ from astropy's reading")
        converted = os.path.join(work, base + ".converted.fits")
        original = os.path.join(work, base[:-3])
        with gzip.open(path) as packed, open(original, "wb") as f:
            f.write(packed.read())
        if cli.ok(checks, "convert", path, converted):
            checks.expect(fitsverify_errors(converted) <= fitsverify_errors(original),
                          f"{base}: fitsverify finds errors in the converted file that the original lacks")


def part_wide(cli, work, checks):
    """Images wider or taller than 32767: opened with astropy's samples, and
    saved from PGM/PPM to a file astropy reads as the same samples."""
    rng = np.random.default_rng(40000)
    cases = [
        ("wide-u8-40000x300", primary(rng.integers(0, 256, (300, 40000), dtype=np.uint8))),
        ("tall-i16-300x40000", primary(rng.integers(-32768, 32768, (40000, 300), dtype=np.int16),
                                       [("BZERO", 32768.0)])),
        ("wide-u8-rgb-33000x5", primary(rng.integers(0, 256, (3, 5, 33000), dtype=np.uint8))),
        ("wide-f32-40000x20", primary(rng.uniform(-5.0, 5.0, (20, 40000)).astype(np.float32))),
    ]
    for name, hdus in cases:
        check_open(cli, work, checks, name, hdus)
        opened = os.path.join(work, f"{name}.{'ppm' if hdus[0].data.ndim == 3 else 'pgm'}")
        if not os.path.exists(opened):
            continue
        saved = os.path.join(work, f"{name}.saved.fits")
        if not cli.ok(checks, "save", opened, saved):
            continue
        got, maxval = read_pnm(opened)
        with fits.open(saved) as h:
            data = h[0].data
            checks.expect(data.shape == got.shape[-data.ndim:] or data.shape == got.shape,
                          f"{name}: saved shape {data.shape}, opened {got.shape}")
            want = got if maxval == 255 else np.minimum(2 * got.astype(np.int64), 65535)
            checks.expect(np.array_equal(data.reshape(want.shape).astype(np.int64), want.astype(np.int64)),
                          f"{name}: the saved samples differ from the image saved")
        checks.expect(fitsverify_errors(saved) == 0, f"{name}: fitsverify finds errors in the saved file")


# ---- The header kept whole ---------------------------------------------------------

REAL_PRIMARY_FILES = [
    ("isaac-eso-hierarch", f"{MIDAS}/ISAAC.2006-04-13T06:32:38.944.fits"),
    ("visir-cube-23-blocks", f"{MIDAS}/VISIR.2004-09-30T03:17:49.095.fits"),
    ("odd-keywords", f"{MIDAS}/badfitskeys.mt"),
    ("m51-sample", os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "samples", "m51-64x48.fits")),
]

# Keywords (by their first letters, as the rewrite knows them) whose cards a
# save writes anew for the image it saves, and the cards it adds or replaces.
REWRITTEN_PREFIXES = ("BITPIX", "NAXIS", "BZERO", "BSCALE", "RANGE ", "BACKGRND", "CWHITE", "CBLACK",
                      "DATAMAX", "DATAMIN", "AVISUMAX", "AVISUMIN")
REWRITTEN_KEYWORDS = {"CHECKSUM", "DATASUM", "BLANK", "END"}


def untouched(cards):
    """The cards a save has no rule for, in order."""
    out = []
    for i, c in enumerate(cards):
        if c.startswith(REWRITTEN_PREFIXES) or c[:8].rstrip() in REWRITTEN_KEYWORDS:
            continue
        if (i == 0 and c.startswith("SIMPLE  ")) or "Removal by Nebulite." in c or not c.strip():
            continue
        out.append(c)
    return out


def raw_header_cards(path, hdu_wanted):
    """The 80-byte cards of HDU `hdu_wanted` before its END, and of the primary."""
    with open(path, "rb") as f:
        data = f.read()
    headers, at = [], 0
    while at < len(data) and len(headers) <= hdu_wanted:
        cards = []
        while at + 80 <= len(data):
            c = data[at:at + 80].decode("latin-1")
            at += 80
            if c.startswith("END     "):
                break
            cards.append(c)
        at += -at % 2880
        headers.append(cards)
        value = {c[:8].rstrip(): c[10:30].strip() for c in cards if c[8:10] == "= "}
        naxis = int(value.get("NAXIS", "0"))
        n = 1
        for i in range(1, naxis + 1):
            n *= int(value.get(f"NAXIS{i}", "0"))
        n = (n if naxis else 0) + int(value.get("PCOUNT", "0"))
        n *= int(value.get("GCOUNT", "1")) * abs(int(value["BITPIX"])) // 8
        at += (n + 2879) // 2880 * 2880
    return headers[0], headers[hdu_wanted]


def written_cards(path):
    with open(path, "rb") as f:
        data = f.read()
    cards = []
    for at in range(0, len(data), 80):
        cards.append(data[at:at + 80].decode("latin-1"))
        if cards[-1].startswith("END     "):
            break
    return cards


def part_whole(cli, work, checks):
    files = [(n, p, 0) for n, p in REAL_PRIMARY_FILES] + REAL_EXTENSION_FILES
    missing = [p for _, p, _ in files if not os.path.exists(p)]
    checks.expect(not missing, f"real files missing (scripts/setup.sh installs them): {missing}")
    for name, path, hdu in files:
        if not os.path.exists(path):
            continue
        info = cli.run("info", path, "--json")
        if not checks.expect(info.returncode == 0, f"{name}: info exited {info.returncode}"):
            continue
        kept = json.loads(info.stdout)["cards"]
        primary, own = raw_header_cards(path, hdu)
        from_file = set(primary) | set(own)
        mine = [c for c in kept[:-1] if not c.startswith("NEBULITE")]
        checks.expect(all(c in from_file for c in mine), f"{name}: info shows a card the file does not hold")
        if hdu == 0:
            checks.expect(mine == own, f"{name}: info shows {len(mine)} cards of the file's {len(own)}")
        want = untouched(kept)
        png, tif = os.path.join(work, f"{name}.png"), os.path.join(work, f"{name}.tif")
        roads = {"convert": [("convert", path, os.path.join(work, f"{name}-convert.fits"))],
                 "png": [("open", path, png), ("save", png, os.path.join(work, f"{name}-png.fits"))],
                 "tiff": [("open", path, tif), ("save", tif, os.path.join(work, f"{name}-tiff.fits"))]}
        for road, steps in roads.items():
            if not all(cli.ok(checks, *step) for step in steps):
                continue
            got = untouched(written_cards(steps[-1][-1]))
            first = next((i for i, (a, b) in enumerate(zip(want, got)) if a != b), min(len(want), len(got)))
            checks.expect(got == want, f"{name} by {road}: {len(got)} of {len(want)} untouched cards came back; "
                                       f"first difference at {first}: "
                                       f"{(want[first] if first < len(want) else '-')!r} / "
                                       f"{(got[first] if first < len(got) else '-')!r}")


def fpack_options(data):
    """fpack's algorithms and quantizations that apply to an image of this
    type (fpack takes no 64-bit integers, PLIO no negative values)."""
    kind, bits = data.dtype.kind, data.dtype.itemsize * 8
    opts = [[], ["-g"], ["-g2"], ["-h"]]
    if kind == "f":
        return opts + [["-qz", "4"], ["-q0", "4"], ["-g", "-q", "0"]] + ([["-d"]] if bits == 32 else [])
    # funpack 4.2 cannot read back its own lossy HCOMPRESS of 8-bit images.
    opts += [["-t", "7,5"]] + ([["-h", "-s", "4"]] if bits > 8 else [])
    if bits in (16, 32):
        opts.append(["-d"])
    if data.min() >= 0 and bits <= 16 or (kind == "u" and bits == 16):
        opts.append(["-p"])
    return opts


def tiled_inputs(rng):
    """read_inputs' images, and what only tiles reach: a float image of more
    than 10000 tiles (the dither sequence wraps), zeros under
    SUBTRACTIVE_DITHER_2, 2-D tiles of floats large enough to quantize."""
    cases = [(n, h) for n, h in read_inputs(rng) if "long-header" not in n and "naxis3-30" not in n]
    many = rng.uniform(-50.0, 50.0, (10005, 3)).astype(np.float32)
    many[::3] = 0.0
    cases.append(("f32-10005-rows", primary(many)))
    cases.append(("f32-64x48", primary(rng.normal(100.0, 5.0, (48, 64)).astype(np.float32))))
    cases.append(("i16-rgb-64x48", primary(rng.integers(0, 4000, (3, 48, 64), dtype=np.int16))))
    return cases


ASTROPY_COMPRESSED = "/usr/lib/python3/dist-packages/astropy/io/fits/tests/data"


def check_tiled(cli, work, checks, name, fz, reference):
    """`fz` opens to the PNM bytes `reference` (funpack's output of it) opens
    to; info names its compression; convert writes a file fitsverify accepts
    with the keywords of the image's own header."""
    out, ref_out = os.path.join(work, name + ".fz.pnm"), os.path.join(work, name + ".ref.pnm")
    if not (cli.ok(checks, "open", fz, out) and cli.ok(checks, "open", reference, ref_out)):
        return
    checks.expect(open(out, "rb").read() == open(ref_out, "rb").read(),
                  f"{name}: the compressed file opens to other samples than funpack's output")
    info = cli.run("info", fz, "--json")
    if checks.expect(info.returncode == 0, f"{name}: info exited {info.returncode}"):
        j = json.loads(info.stdout)
        with fits.open(fz, disable_image_compression=True) as h:
            table = next(x for x in h if x.header.get("ZIMAGE"))
            algorithm = table.header["ZCMPTYPE"]
        checks.expect(j.get("compression") == algorithm and "tiling" in j and "quantization" in j,
                      f"{name}: info says {j.get('compression')!r}, {j.get('tiling')!r}, not {algorithm}")
    converted = os.path.join(work, name + ".converted.fits")
    if cli.ok(checks, "convert", fz, converted):
        checks.expect(fitsverify_errors(converted) == 0, f"{name}: fitsverify finds errors in the converted file")
        with fits.open(converted) as c, fits.open(reference) as r:
            ref = next(x for x in r if x.header.get("NAXIS", 0) >= 2)
            missing = carried_keywords(ref.header) - carried_keywords(c[0].header) - {"EXTNAME"}
            checks.expect(not missing, f"{name}: convert drops keywords of the image's header: {sorted(missing)}")
            leaked = {k for k in c[0].header if k in ("ZIMAGE", "ZCMPTYPE", "ZBITPIX", "TFIELDS", "TTYPE1", "ZTILE1")}
            checks.expect(not leaked, f"{name}: the converted header keeps compression keywords {sorted(leaked)}")


def part_tiled(cli, work, checks):
    if shutil.which("fpack") is None or shutil.which("funpack") is None:
        print("fpack/funpack not found: skipped")
        return SKIP
    rng = np.random.default_rng(16)
    for name, hdus in tiled_inputs(rng):
        path = os.path.join(work, f"{name}.fits")
        write_input(path, hdus)
        for opts in fpack_options(hdus[0].data):
            tag = name + "".join(o.replace("-", "_").replace(",", "x") for o in opts)
            fz = os.path.join(work, tag + ".fits.fz")
            # fpack refuses some type and algorithm pairs (tiny HCOMPRESS
            # tiles, 64-bit integers): nothing to open then.
            if subprocess.run(["fpack", *opts, "-O", fz, path], capture_output=True).returncode != 0:
                continue
            unpacked = os.path.join(work, tag + ".funpacked.fits")
            if not checks.expect(subprocess.run(["funpack", "-O", unpacked, fz], capture_output=True).returncode == 0,
                                 f"{tag}: funpack failed"):
                continue
            check_tiled(cli, work, checks, tag, fz, unpacked)
    # The compressed files astropy ships in its test data (funpack refuses
    # them for what follows the image): astropy's decompression is the oracle.
    for base in ("comp.fits", "compressed_image.fits", "compressed_float_bzero.fits"):
        path = os.path.join(ASTROPY_COMPRESSED, base)
        if not checks.expect(os.path.exists(path), f"{path} is missing (python3-astropy)"):
            continue
        with fits.open(path, do_not_scale_image_data=True) as h:
            image = next(x for x in h if isinstance(x, fits.CompImageHDU))
            header, raw = image.header, image.data
            if raw.ndim < 2:
                # One axis: refused, as an uncompressed image of one axis is.
                r = cli.run("open", path, os.path.join(work, base + ".pgm"))
                checks.expect(r.returncode != 0 and "NAXIS = 1" in r.stderr, f"{base}: a 1-D image is not refused")
                continue
            depth, want = expected_from(header, raw)
        out = os.path.join(work, base + (".ppm" if want.shape[0] == 3 else ".pgm"))
        if cli.ok(checks, "open", path, out):
            got, _ = read_pnm(out)
            checks.expect(got.shape == want.shape and np.array_equal(got, want),
                          f"{base}: samples differ from astropy's decompression")
        converted = os.path.join(work, base + ".converted.fits")
        if cli.ok(checks, "convert", path, converted):
            checks.expect(fitsverify_errors(converted) == 0, f"{base}: fitsverify finds errors in the converted file")


PARTS = {"read": part_read, "write": part_write, "fitsverify": part_fitsverify, "roundtrip": part_roundtrip,
         "extensions": part_extensions, "gzip": part_gzip, "wide": part_wide,
         "whole": part_whole, "tiled": part_tiled}


def main(argv):
    if len(argv) < 3 or argv[1] not in (*PARTS, "all"):
        print(__doc__)
        return 2
    cli = Cli(os.path.abspath(argv[2]))
    keep = argv[4] if len(argv) > 4 and argv[3] == "--keep" else None
    status = 0
    for part in (PARTS if argv[1] == "all" else [argv[1]]):
        checks = Checks()
        if keep:
            work = os.path.join(keep, part)
            os.makedirs(work, exist_ok=True)
            result = PARTS[part](cli, work, checks)
        else:
            with tempfile.TemporaryDirectory(prefix=f"nebulite-{part}-") as work:
                result = PARTS[part](cli, work, checks)
        if result == SKIP:
            status = status or SKIP
            continue
        status = max(status if status != SKIP else 0, checks.finish(part))
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
