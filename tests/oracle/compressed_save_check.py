#!/usr/bin/python3
"""The module's tile-compressed saves against funpack, astropy, fitsverify and fpack.

    compressed_save_check.py NEBULITE [--keep DIR]

Real images (the bundled sample, the headers of tests/data/golden, fpack
files of tests/data/tiled, and eso-midas-testdata's frames when installed)
are converted by `nebulite convert` twice: uncompressed, and to `.fits.fz`
under every algorithm the document's BITPIX takes (8 and 16 from 8- and
16-bit documents; -32, and 32, from 32-bit ones), row by row, in 2-D tiles
with edge tiles on both axes, and as one tile; and once more to a `.fz`
name with no --compress, which must pick RICE_1 for integers and GZIP_2,
exact, for floats. A PGM and a PPM (no FITS header: the module makes one)
go the same ways through `nebulite save`. An image under 4 pixels on a
side must be refused HCOMPRESS, with nothing written. Every `.fz`:

- passes fitsverify with no error, and no warning that the uncompressed
  save does not have too (a kept header's duplicated keywords);
- decompresses under funpack and under astropy to exactly the uncompressed
  save's samples (lossless), or, quantized, to the values the module's own
  reader gives (its 32-bit open saved back as floats; NaN opens as 0), which
  funpack and astropy agree on;
- restores the uncompressed save's header: funpack's, card for card and
  byte for byte (funpack adds its CHECKSUM and DATASUM, and the quantizer's
  ZQUANTIZ/ZDITHER0 where it keeps them), astropy's, card image for card
  image (astropy moves EXTEND and BLOCKED to the end, as for fpack's files);
- reopens through the module to the same header (`info`) and, lossless,
  the same document (open to PGM/PPM; a 32-bit document saved back as
  floats) as the uncompressed save;
- under RICE_1, holds a data unit within 1% of fpack's for the same image
  and tiling (fpack run on the uncompressed save).

Exit status 0 when every check passed, 1 when one failed, 77 when a tool is
missing (CTest reports the test as skipped). Run it with Debian's python
(/usr/bin/python3), the one that sees python3-astropy and python3-numpy.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import warnings

SKIP = 77

try:
    import numpy as np
    from astropy.io import fits
    from astropy.io.fits.verify import VerifyError, VerifyWarning
except ImportError as e:  # pragma: no cover - depends on the machine
    print(f"compressed_save_check: {e}: skipped (needs python3-astropy and python3-numpy)")
    sys.exit(SKIP)

warnings.simplefilter("ignore", VerifyWarning)
warnings.simplefilter("ignore", UserWarning)

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
MIDAS = "/usr/lib/eso-midas/22FEB/test/prim"

# Tilings as --tile takes them (ROWSxCOLS); None is the default, row by row
# (HCOMPRESS: fpack's bands of rows). 4096x4096 holds each image whole.
TILINGS = [None, "13x40", "4096x4096"]

# Integer documents: every algorithm, each with a tiling that turns with the
# image, so that each algorithm meets each tiling on several images.
INTEGER_ALGORITHMS = ["rice", "gzip1", "gzip2", "hcompress"]

# 32-bit documents of floating-point files: exact under GZIP, quantized under
# every algorithm (levels as fpack's -q).
FLOAT_VARIANTS = [("gzip1", None, None), ("gzip2", None, None), ("gzip2", "13x40", None),
                  ("rice", None, 4), ("rice", "13x40", 16), ("hcompress", None, 4),
                  ("gzip2", "4096x4096", 2), ("gzip1", None, 8)]

# name, input file, convert's flags for both saves, the BITPIX saved.
CASES = [
    ("sample16", f"{ROOT}/samples/m51-64x48.fits", [], 16),
    ("isaac16", f"{ROOT}/tests/data/golden/primary-isaac-16.expected.fits", [], 16),
    ("long27-16", f"{ROOT}/tests/data/golden/long-27-blocks-16.expected.fits", [], 16),
    ("extension16", f"{ROOT}/tests/data/golden/extension-not-16.expected.fits", [], 16),
    ("badkeys8", f"{ROOT}/tests/data/golden/primary-badkeys-8.expected.fits", [], 8),
    ("visir-rgb8", f"{ROOT}/tests/data/golden/primary-visir-rgb8.expected.fits", [], 8),
    ("tiling16", f"{ROOT}/tests/data/tiled/tiling.fits.fz", [], 16),
    ("rice8", f"{ROOT}/tests/data/tiled/rice.fits.fz", ["--depth", "8"], 8),
    ("sample-as-8", f"{ROOT}/samples/m51-64x48.fits", ["--depth", "8"], 8),
    ("dss16", f"{MIDAS}/dss_test1.fits", [], 16),
    ("mpe8", f"{MIDAS}/badMPE.fits", [], 8),
    ("cube-rgb16", f"{MIDAS}/nocdelt.fits", [], 16),
    ("lossless-f32", f"{ROOT}/tests/data/tiled/lossless.fits.fz", ["--depth", "32"], -32),
    ("quantized-f32", f"{ROOT}/tests/data/tiled/quantized.fits.fz", ["--depth", "32"], -32),
    ("ccd-f32", f"{MIDAS}/ccd.fits", ["--depth", "32"], -32),
    ("int32", f"{MIDAS}/image_M12c.fits", ["--depth", "32"], 32),
    ("sample-f32", f"{ROOT}/samples/m51-64x48.fits", ["--depth", "32", "--bitpix", "-32"], -32),
]

# Images the host holds without a FITS header: saved by `nebulite save`
# from the PGM and PPM that the opens of the first cases write to WORK.
HOST_CASES = [
    ("pgm16", "{work}/m51.pgm", [], 16),
    ("ppm8", "{work}/visir.ppm", [], 8),
]

failures = []
checked = 0


def check(condition, what):
    global checked
    checked += 1
    if not condition:
        failures.append(what)
        print("FAIL:", what, flush=True)
    return condition


def run(args):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def header_cards(path, hdu=0):
    """The cards of an HDU's header before END, 80 characters each."""
    with open(path, "rb") as f:
        data = f.read()
    at, index = 0, 0
    while True:
        cards = []
        while True:
            card = data[at:at + 80].decode("latin-1")
            at += 80
            if card.startswith("END     ") or card.rstrip() == "END":
                break
            cards.append(card)
        at = (at + 2879) // 2880 * 2880
        if index == hdu:
            return [c for c in cards if c.strip()]
        h = fits.Header.fromstring("".join(cards))
        size = abs(h.get("BITPIX", 8)) // 8 * (h.get("GCOUNT", 1) * (h.get("PCOUNT", 0) + (
            int(np.prod([h[f"NAXIS{i}"] for i in range(1, h.get("NAXIS", 0) + 1)])) if h.get("NAXIS", 0) else 0)))
        at += (size + 2879) // 2880 * 2880
        index += 1


def stored(path, hdu):
    """An HDU's samples as stored (BZERO and BSCALE not applied)."""
    with fits.open(path, do_not_scale_image_data=True) as h:
        return np.array(h[hdu].data)


def physical(path, hdu):
    with fits.open(path) as h:
        return np.array(h[hdu].data)


def same(a, b):
    if a.shape != b.shape:
        return False
    if a.dtype.kind == "f":
        return np.array_equal(a.view(f"u{a.dtype.itemsize}"), b.astype(a.dtype).view(f"u{a.dtype.itemsize}")) or \
            np.array_equal(a, b.astype(a.dtype), equal_nan=True)
    return np.array_equal(a, b)


def fitsverify_results(paths):
    out = run(["fitsverify", "-q"] + paths).stdout
    results = {}
    for line in out.splitlines():
        m = re.match(r"verification (OK|FAILED): (\S+?),?\s+(.*)", line.strip() + " ")
        if m:
            results[m.group(2)] = (m.group(1), m.group(3))
    return results


def verify_counts(text):
    """(warnings, errors) of fitsverify -q's "N warnings and M errors"."""
    m = re.match(r"(\d+) warnings? and (\d+) errors?", text.strip())
    return (int(m.group(1)), int(m.group(2))) if m else (10 ** 9, 10 ** 9)


def data_unit_bytes(path):
    with fits.open(path, disable_image_compression=True) as h:
        t = h[1].header
        return t["NAXIS1"] * t["NAXIS2"] + t["PCOUNT"]


def info_header(nebulite, path):
    r = run([nebulite, "info", path])
    text = r.stdout
    return r.returncode, text[text.find("\nheader:"):] if "\nheader:" in text else ""


# Keywords funpack may add to or keep in what it restores beside the image's own.
FUNPACK_ADDS = {"CHECKSUM", "DATASUM", "ZQUANTIZ", "ZDITHER0"}
# And astropy, which keeps ZBLANK of a quantized image too.
ASTROPY_ADDS = FUNPACK_ADDS | {"ZBLANK"}


def card_image(card):
    """The card's 80 columns; as read, for a card astropy refuses to format
    again (a CONTINUE card without a string)."""
    try:
        return card.image
    except VerifyError:
        return card._image


def check_headers(name, ref, fz, unpacked):
    want = header_cards(ref)
    got = [c for c in header_cards(unpacked) if c[:8].rstrip() not in FUNPACK_ADDS]
    check(got == want, f"{name}: funpack's header is not the uncompressed save's "
                       f"({len(got)} cards, {len(want)} wanted; first difference "
                       f"{next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))})")
    # astropy's restored header, card image for card image (cards it cannot
    # parse included), beside the cards it adds of its own. astropy restores
    # EXTEND and BLOCKED at the end, or leaves EXTEND out (fpack's files
    # alike): those two are held apart from the order.
    with fits.open(ref) as r, fits.open(fz) as z:
        want = [card_image(c) for c in r[0].header.cards]
        got = [card_image(c) for c in z[1].header.cards if c.keyword not in ASTROPY_ADDS]
    moved = ("EXTEND  ", "BLOCKED ")
    want_images = [c for c in want if not c.startswith(moved)]
    got_images = [c for c in got if not c.startswith(moved)]
    check(got_images == want_images, f"{name}: astropy's header is not the uncompressed save's "
                                     f"({len(got_images)} cards, {len(want_images)} wanted; missing "
                                     f"{[c for c in want_images if c not in got_images][:2]})")
    check(all(c in want for c in got if c.startswith(moved)) and
          all(c in got for c in want if c.startswith("BLOCKED ")),
          f"{name}: astropy's EXTEND or BLOCKED is not the uncompressed save's")


def check_samples(nebulite, work, name, ref, fz, unpacked, quantized, float_document):
    if not quantized:
        want = stored(ref, 0)
        check(same(stored(unpacked, 0), want), f"{name}: funpack's samples are not the uncompressed save's")
        check(same(stored(fz, 1), want), f"{name}: astropy's stored samples are not the uncompressed save's")
        check(same(physical(fz, 1), physical(ref, 0)), f"{name}: astropy's values are not the uncompressed save's")
        return
    # The module's own reading of the .fz: opened at 32 bits, saved back as floats.
    back = os.path.join(work, name + ".ours.fits")
    r = run([nebulite, "convert", fz, back, "--depth", "32", "--bitpix", "-32"])
    if not check(r.returncode == 0, f"{name}: convert of the .fz: {r.stderr.strip()}"):
        return
    ours = physical(back, 0)
    funpacked = physical(unpacked, 0)
    expected = np.where(np.isnan(funpacked), np.float32(0), funpacked).astype(np.float32)
    check(same(ours, expected), f"{name}: funpack's values are not the module's "
                                f"(largest difference {np.nanmax(np.abs(ours - expected)) if ours.shape == expected.shape else 'shape'})")
    check(same(physical(fz, 1).astype(np.float32), funpacked.astype(np.float32)),
          f"{name}: astropy's values are not funpack's")
    # Quantization within half a step of the uncompressed values, as fpack's.
    original = physical(ref, 0)
    finite = np.isfinite(original)
    check(np.array_equal(np.isnan(funpacked), ~finite), f"{name}: NaNs moved")


def check_reopen(nebulite, work, name, ref, fz, float_document, quantized):
    code_ref, want = info_header(nebulite, ref)
    code_fz, got = info_header(nebulite, fz)
    check(code_ref == 0 and code_fz == 0 and got == want and want, f"{name}: info shows another header for the .fz")
    if quantized:
        return  # its values are held against funpack's and astropy's in check_samples
    if float_document:
        outs = []
        for path, tag in ((ref, "ref"), (fz, "fz")):
            out = os.path.join(work, f"{name}.reopen-{tag}.fits")
            r = run([nebulite, "convert", path, out, "--depth", "32"])
            check(r.returncode == 0, f"{name}: convert --depth 32 of {path}: {r.stderr.strip()}")
            outs.append(out)
        if all(os.path.exists(o) for o in outs):
            check(same(stored(outs[1], 0), stored(outs[0], 0)), f"{name}: the .fz reopens to another 32-bit document")
        return
    outs = []
    for path, tag in ((ref, "ref"), (fz, "fz")):
        out = os.path.join(work, f"{name}.reopen-{tag}.pnm")
        r = run([nebulite, "open", path, out])
        check(r.returncode == 0, f"{name}: open of {path}: {r.stderr.strip()}")
        outs.append(out)
    if all(os.path.exists(o) for o in outs):
        with open(outs[0], "rb") as a, open(outs[1], "rb") as b:
            check(a.read() == b.read(), f"{name}: the .fz reopens to another document")


def variants(case_index, bitpix):
    if bitpix in (8, 16):
        return [(a, TILINGS[(case_index + j) % len(TILINGS)], None) for j, a in enumerate(INTEGER_ALGORITHMS)]
    if bitpix == 32:
        return [("rice", None, None), ("gzip2", "13x40", None), ("hcompress", "4096x4096", None)]
    return FLOAT_VARIANTS


def main(argv):
    if len(argv) < 2:
        print(__doc__)
        return 2
    nebulite = argv[1]
    for tool in ("funpack", "fpack", "fitsverify"):
        if shutil.which(tool) is None:
            print(f"compressed_save_check: {tool} not found: skipped (apt-get install libcfitsio-bin fitsverify)")
            return SKIP
    keep = argv[argv.index("--keep") + 1] if "--keep" in argv else None
    work = keep or tempfile.mkdtemp(prefix="nebulite-compressed-save-")
    os.makedirs(work, exist_ok=True)
    # Documents made by the host from image files (no kept header: the
    # module makes one) go through `nebulite save`.
    for fits_in, image_out in ((CASES[0][1], "m51.pgm"), (CASES[5][1], "visir.ppm")):
        r = run([nebulite, "open", fits_in, os.path.join(work, image_out)])
        check(r.returncode == 0, f"open {fits_in} to {image_out}: {r.stderr.strip()}")
    saves = []  # (name, ref, fz, quantized, float document, algorithm, tile)
    refs = []
    for i, (case, path, flags, bitpix) in enumerate(CASES + HOST_CASES):
        path = path.format(work=work)
        if not os.path.exists(path):
            print(f"{case}: {path} not installed: left out")
            continue
        command = "save" if path.endswith((".pgm", ".ppm")) else "convert"
        ref = os.path.join(work, case + ".fits")
        r = run([nebulite, command, path, ref] + flags)
        if not check(r.returncode == 0, f"{case}: uncompressed {command}: {r.stderr.strip()}"):
            continue
        refs.append(ref)
        h = fits.getheader(ref)
        check(h["BITPIX"] == bitpix, f"{case}: saved BITPIX {h['BITPIX']}")
        smallest = min(h["NAXIS1"], h["NAXIS2"])
        for algorithm, tile, q in variants(i, bitpix) + [(None, None, None)]:
            name = f"{case}-{algorithm or 'byname'}-{tile or 'rows'}" + (f"-q{q}" if q else "")
            fz = os.path.join(work, name + ".fits.fz")
            args = [nebulite, command, path, fz] + flags
            if algorithm:
                args += ["--compress", algorithm]
            if tile:
                args += ["--tile", tile]
            if q:
                args += ["--quantize", str(q)]
            r = run(args)
            if algorithm == "hcompress" and smallest < 4:
                # Too small for HCOMPRESS's transform: refused, nothing written.
                check(r.returncode != 0 and "HCOMPRESS needs an image of at least 4x4" in r.stderr
                      and not os.path.exists(fz), f"{name}: an image {smallest} pixels across saved as HCOMPRESS")
                continue
            if not check(r.returncode == 0, f"{name}: compressed {command}: {r.stderr.strip()}"):
                continue
            if algorithm is None:
                # A .fz name alone: RICE_1 for integers, GZIP_2 (exact) for floats, as fpack.
                algorithm = "rice" if bitpix > 0 else "gzip2"
                with fits.open(fz, disable_image_compression=True) as z:
                    got = (z[1].header.get("ZCMPTYPE"), z[1].header.get("ZQUANTIZ", "NONE"))
                want = ("RICE_1" if bitpix > 0 else "GZIP_2", "NONE")
                check(got == want, f"{name}: a .fz name saved as {got}, not {want}")
            saves.append((name, ref, fz, q is not None, "32" in flags, algorithm, tile))

    verified = fitsverify_results(refs + [s[2] for s in saves])
    for s in saves:  # funpack writes no file that is there already (a kept WORK run again)
        if os.path.exists(s[2][:-3]):
            os.unlink(s[2][:-3])
    r = run(["funpack"] + [s[2] for s in saves])
    check(r.returncode == 0, f"funpack: {r.stderr.strip()}")
    for name, ref, fz, quantized, float_document, algorithm, tile in saves:
        # No error, and no warning but those the uncompressed save has too
        # (a kept header's duplicated keywords).
        status, ref_status = verified.get(fz, ("missing", "")), verified.get(ref, ("missing", ""))
        check(status[0] == "OK" or (status[0] == "FAILED" and ref_status[0] == "FAILED" and
                                    verify_counts(status[1])[1] == 0 and
                                    verify_counts(status[1])[0] <= verify_counts(ref_status[1])[0]),
              f"{name}: fitsverify {status}, the uncompressed save's {ref_status}")
        unpacked = fz[:-3]
        if not check(os.path.exists(unpacked), f"{name}: funpack wrote nothing"):
            continue
        check_headers(name, ref, fz, unpacked)
        check_samples(nebulite, work, name, ref, fz, unpacked, quantized, float_document)
        check_reopen(nebulite, work, name, ref, fz, float_document, quantized)
        if algorithm == "rice" and not quantized:
            theirs = os.path.join(work, name + ".fpack.fz")
            if os.path.exists(theirs):
                os.unlink(theirs)
            args = ["fpack", "-r", "-O", theirs]
            if tile:
                rows, cols = tile.split("x")
                args += ["-t", f"{cols},{rows}"]
            r = run(args + [ref])
            if check(r.returncode == 0, f"{name}: fpack: {r.stderr.strip()}"):
                ours, fpacks = data_unit_bytes(fz), data_unit_bytes(theirs)
                check(abs(ours - fpacks) <= 0.01 * fpacks, f"{name}: Rice data unit {ours} bytes, fpack's {fpacks}")

    if not keep:
        shutil.rmtree(work, ignore_errors=True)
    print(f"compressed_save_check: {len(saves)} compressed saves, {checked} checks, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
