#!/usr/bin/python3
"""`nebulite open`'s options against astropy and astropy.visualization.

    options_check.py hdus|stretches|intervals|replay|all NEBULITE [--keep DIR]

hdus        every image HDU and every plane of real multi-extension files and
            cubes (the eso-midas-testdata files, astropy's HST test files)
            and of files made here: `--image N` (and `--image EXTNAME,EXTVER`)
            with `--plane K` or `--planes R,G,B` opens astropy's samples of
            that HDU and those planes under the import's rules; with
            `--orientation sky` the rows are turned over exactly where
            ROWORDER is absent or BOTTOM-UP; each document, saved (through
            PNG, which carries the header and the options of the open),
            holds the host's samples in the file's own row order and opens
            again with the same options to the same document; an HDU
            without an image is refused in one line.
stretches   each stretch over given black and white points (linear, sqrt,
            log, asinh, mtf at a given midtone) within one level of
            astropy.visualization's LinearStretch, SqrtStretch,
            LogStretch(a=1000), AsinhStretch(a=0.1) over
            ManualInterval (mtf: the midtones transfer function), at 16 and
            8 bits; undefined samples (NaN, infinities, BLANK) open as 0.
intervals   the points `--record` says were used for minmax, zscale and
            central percentages within 1% of the data's range of astropy's
            MinMaxInterval, ZScaleInterval() and PercentileInterval(P), and
            the document within one level of the stretch over them; mtf's
            automatic shadows and midtone as the published auto-stretch
            computes them.
replay      `--record` then `--replay` gives the same bytes, and the replay
            records the same descriptor, for measured intervals too.

Exit status 0 when every check passed, 1 when one failed, 77 without
astropy (CTest reports the test as skipped). Run it with Debian's python.
"""

import importlib.util
import json
import os
import sys
import tempfile
import warnings

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from astropy_check import SKIP, Checks, Cli, expected_from, read_pnm  # noqa: E402

try:
    import numpy as np
    from astropy.io import fits
    from astropy.utils.exceptions import AstropyWarning
    from astropy.visualization import (AsinhStretch, LinearStretch, LogStretch, ManualInterval, MinMaxInterval,
                                       PercentileInterval, SqrtStretch, ZScaleInterval)
except ImportError as e:  # pragma: no cover - depends on the machine
    print(f"options_check: {e}: skipped (needs python3-astropy and python3-numpy)")
    sys.exit(SKIP)

MIDAS = "/usr/lib/eso-midas/22FEB/test/prim"
ASTROPY_DATA = "/usr/lib/python3/dist-packages/astropy/io/fits/tests/data"

# Real files: (name, path). A cube of 17 float planes, a 2-plane 32-bit
# cube, a 3-plane 16-bit cube with a float extension, two float
# extensions after an empty primary, HST files of SCI/ERR/DQ extensions
# (the ERR and DQ ones empty), a 7-plane 32-bit cube.
REAL_FILES = [
    ("visir", f"{MIDAS}/VISIR.2004-09-30T03:17:49.095.fits"),
    ("timmi2", f"{MIDAS}/timmi2.fits"),
    ("nocdelt", f"{MIDAS}/nocdelt.fits"),
    ("vimos", f"{MIDAS}/vimos.fits"),
    ("hst-raw", f"{ASTROPY_DATA}/o4sp040b0_raw.fits"),
    ("hst-test0", f"{ASTROPY_DATA}/test0.fits"),
    ("arange", f"{ASTROPY_DATA}/arange.fits"),
]


def quiet_open(path, **kw):
    warnings.simplefilter("ignore", AstropyWarning)
    return fits.open(path, memmap=False, **kw)


# ---- Files made here ------------------------------------------------------------------

def made_files(work, rng):
    """Small files of what the real ones lack: ROWORDER of each kind, 8-bit
    and 16-bit extensions, a cube in an extension, a tile-compressed image,
    EXTNAMEs repeated with EXTVER, a table between images."""
    def named(hdu, name, ver=None, roworder=None):
        hdu.header["EXTNAME"] = name
        if ver is not None:
            hdu.header["EXTVER"] = ver
        if roworder is not None:
            hdu.header["ROWORDER"] = roworder
        return hdu

    u16 = rng.integers(0, 65536, (30, 40), dtype=np.uint16)
    f32 = rng.normal(100.0, 15.0, (27, 35)).astype(np.float32)
    f32[3, 4] = np.nan
    f32[10, :3] = np.nan
    cube = rng.integers(-2000, 30000, (5, 20, 25), dtype=np.int16)
    dq = rng.integers(-2**31, 2**31, (17, 19), dtype=np.int64).astype(np.int32)
    dq_hdu = named(fits.ImageHDU(dq), "DQ", roworder="BOTTOM-UP")
    dq_hdu.header["BSCALE"] = 0.001
    dq_hdu.header["BZERO"] = 5.0
    table = fits.BinTableHDU.from_columns([fits.Column(name="A", format="J", array=np.arange(4))], name="CAT")
    compressed = fits.CompImageHDU(rng.integers(0, 5000, (21, 33), dtype=np.int16), compression_type="RICE_1",
                                   name="COMP")
    compressed.header["ROWORDER"] = "BOTTOM-UP"
    mef = fits.HDUList([
        fits.PrimaryHDU(),
        named(fits.ImageHDU(u16), "SCI", 1),
        named(fits.ImageHDU(rng.integers(0, 256, (23, 31), dtype=np.uint8)), "SCI", 2, "TOP-DOWN"),
        named(fits.ImageHDU(f32), "ERR", 1, "BOTTOM-UP"),
        table,
        named(fits.ImageHDU(cube), "CUBE", roworder="TOP-DOWN"),
        compressed,
        dq_hdu,
    ])
    rgb = fits.HDUList([fits.PrimaryHDU(rng.integers(0, 256, (3, 16, 22), dtype=np.uint8)),
                        named(fits.ImageHDU(rng.normal(0.0, 1.0, (4, 19, 27)).astype(np.float32)), "FLUX")])
    rgb[0].header["ROWORDER"] = "TOP-DOWN"
    files = []
    for name, hdus in (("made-mef", mef), ("made-cubes", rgb)):
        path = os.path.join(work, name + ".fits")
        hdus.writeto(path, overwrite=True)
        files.append((name, path))
    return files


# ---- What each HDU and plane should open as ------------------------------------------------

def image_hdus(path):
    """(index, header, raw (planes, rows, columns), extname, extver) of every
    HDU of two or more axes, compressed ones decompressed by astropy, and
    the indices of HDUs without an image."""
    images, others = [], []
    with quiet_open(path, do_not_scale_image_data=True) as hdus:
        for i, hdu in enumerate(hdus):
            naxis = int(hdu.header.get("NAXIS", 0))
            kind = isinstance(hdu, (fits.PrimaryHDU, fits.ImageHDU, fits.CompImageHDU))
            if not kind or naxis < 2 or hdu.data is None:
                others.append(i)
                continue
            raw = np.asarray(hdu.data)
            raw = raw.reshape(-1, raw.shape[-2], raw.shape[-1])
            name = str(hdu.header.get("EXTNAME", "")).strip() if i > 0 else ""
            images.append((i, hdu.header.copy(), raw, name, int(hdu.ver)))
    return images, others


def plane_choices(planes):
    """Every plane alone, and a few triples: the first three reversed, the
    last with the first, one plane thrice."""
    choices = [(["--plane", str(k)], [k - 1]) for k in range(1, planes + 1)]
    if planes >= 2:
        triples = [(planes, 1, min(2, planes)), (2, 2, 2), (1, planes, 1)]
        if planes >= 3:
            triples.append((3, 2, 1))
        for t in triples:
            choices.append((["--planes", ",".join(map(str, t))], [k - 1 for k in t]))
    return choices


def flips(header):
    """Whether sky turns the rows over: unless ROWORDER says TOP-DOWN."""
    return str(header.get("ROWORDER", "")).strip().upper() != "TOP-DOWN"


def host_levels_of_saved(path):
    """The host's samples a saved file holds, (planes, rows, columns) in the
    file's order: 8-bit as stored, 16-bit (BZERO 32768) as the stored
    unsigned value halved back (the save writes 2h, at most 65535)."""
    with quiet_open(path, do_not_scale_image_data=True) as h:
        header, raw = h[0].header, np.asarray(h[0].data)
    raw = raw.reshape(-1, raw.shape[-2], raw.shape[-1]).astype(np.int64)
    if header["BITPIX"] == 8:
        return raw
    if header["BITPIX"] == 16 and float(header.get("BZERO", 0)) == 32768.0:
        return (raw + 32768 + 1) // 2
    raise RuntimeError(f"{path}: BITPIX {header['BITPIX']} BZERO {header.get('BZERO')} is no 8/16-bit save")


def part_hdus(cli, work, checks):
    files = [f for f in REAL_FILES if os.path.exists(f[1])]
    checks.expect(len(files) == len(REAL_FILES),
                  f"real files missing (scripts/setup.sh installs them): {[p for _, p in REAL_FILES if not os.path.exists(p)]}")
    files += made_files(work, np.random.default_rng(24))
    for name, path in files:
        images, others = image_hdus(path)
        for index, header, raw, extname, extver in images:
            for plane_args, planes in plane_choices(raw.shape[0]):
                depth, want = expected_from(header, raw[planes])
                tag = f"{name}[{index}] {' '.join(plane_args)}"
                for sky in (False, True):
                    args = ["--image", str(index), *plane_args] + (["--orientation", "sky"] if sky else [])
                    flipped = want[:, ::-1, :] if sky and flips(header) else want
                    check_document(cli, work, checks, f"{tag}{' sky' if sky else ''}", path, args, depth, flipped,
                                   want)
            if extname:
                # By name: the HDU astropy finds for (EXTNAME, EXTVER).
                with quiet_open(path) as h:
                    found = h.index_of((extname, extver))
                by_index = os.path.join(work, "by-index.pgm")
                by_name = os.path.join(work, "by-name.pgm")
                if (found == index and cli.ok(checks, "open", path, by_index, "--image", str(index), "--plane", "1")
                        and cli.ok(checks, "open", path, by_name, "--image", f"{extname},{extver}", "--plane", "1")):
                    checks.expect(open(by_index, "rb").read() == open(by_name, "rb").read(),
                                  f"{name}: --image {extname},{extver} is not HDU {index}")
        for index in others:
            r = cli.run("open", path, os.path.join(work, "none.pgm"), "--image", str(index))
            checks.expect(r.returncode not in (0, 2) and r.stderr.count("\n") == 1 and f"HDU {index}" in r.stderr,
                          f"{name}[{index}] (no image): exit {r.returncode}, {r.stderr.strip()!r}")


def check_document(cli, work, checks, tag, path, args, depth, want, stored):
    """Opens with `args`: `want` (planes, rows, columns) at `depth`; saved
    through PNG the file holds `stored`, the rows in the file's order, and
    opens again with `args` to the same document."""
    ext = "ppm" if want.shape[0] == 3 else "pgm"
    out = os.path.join(work, f"doc.{ext}")
    if not cli.ok(checks, "open", path, out, *args):
        return
    got, maxval = read_pnm(out)
    if not checks.expect(got.shape == want.shape and maxval == (255 if depth == 8 else 32768),
                         f"{tag}: shape {got.shape} maxval {maxval}, expected {want.shape} at depth {depth}"):
        return
    wrong = np.argwhere(got != want)
    checks.expect(wrong.size == 0, f"{tag}: {len(wrong)} samples differ from astropy's"
                                   + (f", first at {tuple(wrong[0])}: {got[tuple(wrong[0])]} vs {want[tuple(wrong[0])]}"
                                      if wrong.size else ""))
    png, saved, again = (os.path.join(work, n) for n in ("doc.png", "saved.fits", f"again.{ext}"))
    if not (cli.ok(checks, "open", path, png, *args) and cli.ok(checks, "save", png, saved)):
        return
    back = host_levels_of_saved(saved)
    checks.expect(back.shape == stored.shape and np.array_equal(back, stored),
                  f"{tag}: the save does not hold the samples in the file's row order")
    if cli.ok(checks, "open", saved, again, *reopen_args(args)):
        checks.expect(open(again, "rb").read() == open(out, "rb").read(),
                      f"{tag}: the saved file opens with the same options to another document")


def reopen_args(args):
    """The options for the saved file: its one image, the document's planes
    (one, or three as stored), the same orientation."""
    out = []
    if "--planes" in args:
        out += ["--planes", "1,2,3"]
    if "--orientation" in args:
        out += ["--orientation", args[args.index("--orientation") + 1]]
    return out


# ---- Stretches and intervals -------------------------------------------------------------------

def sky_data(rng, shape, level, noise, stars, peak):
    data = rng.normal(level, noise, shape)
    rows, cols = shape[-2], shape[-1]
    yy, xx = np.mgrid[0:rows, 0:cols]
    for _ in range(stars):
        y, x, s = rng.uniform(0, rows), rng.uniform(0, cols), rng.uniform(0.8, 2.5)
        data += rng.uniform(0.05, 1.0) ** 3 * peak * np.exp(-((yy - y) ** 2 + (xx - x) ** 2) / (2 * s * s))
    return data


def stretch_files(work, rng):
    """(name, path, physical values (planes, rows, columns) as astropy reads
    them, NaN where undefined, default depth): float with NaN and
    infinities, 16-bit unsigned, 32-bit scaled with BLANK, 8-bit, a 3-plane
    float64 cube."""
    cases = []

    def add(name, hdu, depth):
        path = os.path.join(work, name + ".fits")
        hdu.writeto(path, overwrite=True)
        with quiet_open(path) as h:
            physical = np.asarray(h[0].data, dtype=np.float64)
        physical[~np.isfinite(physical)] = np.nan
        cases.append((name, path, physical.reshape(-1, physical.shape[-2], physical.shape[-1]), depth))

    f = sky_data(rng, (48, 64), 200.0, 12.0, 25, 5e4).astype(np.float32)
    f[5, 5:9] = np.nan
    f[20, 7] = np.inf
    f[21, 8] = -np.inf
    add("f32-sky", fits.PrimaryHDU(f), 16)

    u = np.clip(sky_data(rng, (40, 50), 1000.0, 20.0, 20, 6e4), 0, 65535).astype(np.uint16)
    add("u16-sky", fits.PrimaryHDU(u), 16)

    raw = np.round(sky_data(rng, (37, 45), 2e5, 3e3, 15, 2e7)).astype(np.int32)
    raw[::9, ::7] = -77
    hdu = fits.PrimaryHDU(raw)
    hdu.header["BSCALE"] = 0.01
    hdu.header["BZERO"] = -3.5
    hdu.header["BLANK"] = -77
    add("i32-scaled-blank", hdu, 16)

    b = np.clip(sky_data(rng, (33, 41), 30.0, 4.0, 12, 400.0), 0, 255).astype(np.uint8)
    add("u8-sky", fits.PrimaryHDU(b), 8)

    c = sky_data(rng, (3, 30, 36), 50.0, 3.0, 10, 2e3)
    c[1] *= 1.7
    c[2, 4, :] = np.nan
    add("f64-rgb", fits.PrimaryHDU(c), 16)
    return cases


STRETCHES = {"linear": LinearStretch(), "sqrt": SqrtStretch(), "log": LogStretch(a=1000),
             "asinh": AsinhStretch(a=0.1)}


def mtf(m, x):
    x = np.clip(x, 0.0, 1.0)
    with np.errstate(divide="ignore", invalid="ignore"):
        y = (m - 1.0) * x / ((2.0 * m - 1.0) * x - m)
    return np.where(x <= 0.0, 0.0, np.where(x >= 1.0, 1.0, y))


def astropy_levels(values, stretch, black, white, midtone, top):
    """The levels astropy.visualization gives (mtf: the formula), half up;
    NaN where the value is undefined."""
    with np.errstate(invalid="ignore"):
        x = ManualInterval(black, white)(values, clip=True)
        y = mtf(midtone, x) if stretch == "mtf" else STRETCHES[stretch](x, clip=True)
    return np.floor(np.asarray(y, dtype=np.float64) * top + 0.5)


def compare_levels(checks, tag, got, values, stretch, black, white, midtone, top):
    want = astropy_levels(values, stretch, black, white, midtone, top)
    defined = np.isfinite(values)
    if not checks.expect(got.shape == values.shape, f"{tag}: shape {got.shape}, expected {values.shape}"):
        return
    diff = np.abs(got[defined].astype(np.float64) - want[defined])
    worst = float(diff.max()) if diff.size else 0.0
    checks.expect(worst <= 1.0, f"{tag}: {int(np.count_nonzero(diff > 1))} levels more than one from astropy's "
                                f"(worst {worst:g})")
    checks.expect(not np.any(got[~defined]), f"{tag}: undefined samples do not open as 0")


def open_levels(cli, work, checks, path, tag, args, record=None):
    out = os.path.join(work, "stretched.pnm")
    extra = ["--record", record] if record else []
    if not cli.ok(checks, "open", path, out, *args, *extra):
        return None, None
    return read_pnm(out)


def points_of(record):
    """black, white and midtone from a recorded descriptor."""
    with open(record) as f:
        items = {i["key"]: i for i in json.load(f)["items"]}
    value = lambda k: float(items[k]["value"]) if k in items else None  # noqa: E731
    return value("nbBk"), value("nbWh"), value("nbMd")


def part_stretches(cli, work, checks):
    rng = np.random.default_rng(240)
    for name, path, values, default_depth in stretch_files(work, rng):
        finite = values[np.isfinite(values)]
        lo, hi = np.percentile(finite, 3), np.percentile(finite, 99.2)
        # Given points: inside the data, and a window wider than it.
        for black, white in ((lo, hi), (finite.min() - 0.25 * np.ptp(finite), finite.max() + 1.0)):
            for stretch, midtone in (("linear", 0.5), ("sqrt", 0.5), ("log", 0.5), ("asinh", 0.5), ("mtf", 0.5),
                                     ("mtf", 0.15)):
                for depth in sorted({default_depth, 8, 16}):
                    args = ["--stretch", stretch, "--black", repr(float(black)), "--white", repr(float(white)),
                            "--depth", str(depth)]
                    if stretch == "mtf":
                        args += ["--midtone", repr(midtone)]
                    tag = f"{name} {' '.join(args)}"
                    got, maxval = open_levels(cli, work, checks, path, tag, args)
                    if got is None:
                        continue
                    top = 255 if depth == 8 else 32768
                    checks.expect(maxval == top, f"{tag}: maxval {maxval}")
                    compare_levels(checks, tag, got, values, stretch, float(black), float(white), midtone, top)


def auto_mtf_reference():
    found = importlib.util.spec_from_file_location(
        "mapping_reference", os.path.join(HERE, "..", "mapping", "astropy_reference.py"))
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module.auto_mtf


def part_intervals(cli, work, checks):
    rng = np.random.default_rng(2401)
    auto_mtf = auto_mtf_reference()
    for name, path, values, default_depth in stretch_files(work, rng):
        finite = values[np.isfinite(values)]
        span = float(np.ptp(finite))
        astropy_limits = {
            "minmax": MinMaxInterval().get_limits(finite),
            # zscale samples the values in the file's order, blanks left out.
            "zscale": ZScaleInterval().get_limits(values[np.isfinite(values)]),
            "99.5": PercentileInterval(99.5).get_limits(finite),
            "90": PercentileInterval(90.0).get_limits(finite),
            "auto": PercentileInterval(99.5).get_limits(finite),
        }
        record = os.path.join(work, "record.json")
        for interval, limits in astropy_limits.items():
            for stretch in ("linear", "asinh"):
                args = ["--stretch", stretch] + (["--interval", interval] if interval != "auto" else [])
                tag = f"{name} {' '.join(args)}"
                got, maxval = open_levels(cli, work, checks, path, tag, args, record)
                if got is None:
                    continue
                black, white, _ = points_of(record)
                if not checks.expect(black is not None and white is not None, f"{tag}: no points recorded"):
                    continue
                off = max(abs(black - limits[0]), abs(white - limits[1]))
                checks.expect(off <= 0.01 * span, f"{tag}: points {black:.6g}, {white:.6g}, astropy's "
                                                  f"{limits[0]:.6g}, {limits[1]:.6g} ({off / span:.2%} of the range)")
                compare_levels(checks, tag + " (recorded points)", got, values, stretch, black, white, 0.5, maxval)
        # mtf's automatic shadows and midtone, over minmax.
        tag = f"{name} --stretch mtf"
        got, maxval = open_levels(cli, work, checks, path, tag, ["--stretch", "mtf"], record)
        if got is None:
            continue
        black, white, midtone = points_of(record)
        lo, hi = float(finite.min()), float(finite.max())
        c0, c1, m, _ = auto_mtf(values, lo, hi)
        want_black, want_white = lo + c0 * (hi - lo), lo + c1 * (hi - lo)
        off = max(abs(black - want_black), abs(white - want_white))
        checks.expect(off <= 0.01 * span and abs(midtone - m) <= 0.01,
                      f"{tag}: shadows {black:.6g}, highlights {white:.6g}, midtone {midtone:.6g}; the auto-stretch "
                      f"gives {want_black:.6g}, {want_white:.6g}, {m:.6g}")
        compare_levels(checks, tag + " (recorded points)", got, values, "mtf", black, white, midtone, maxval)


def part_replay(cli, work, checks):
    rng = np.random.default_rng(2402)
    cases = stretch_files(work, rng)
    mef = dict(made_files(work, rng))["made-mef"]
    runs = [(path, args) for name, path, _, _ in cases for args in (
        ["--stretch", "asinh", "--interval", "zscale"],
        ["--stretch", "log", "--interval", "97.5", "--depth", "8"],
        ["--stretch", "mtf"],
        ["--stretch", "sqrt", "--interval", "minmax", "--orientation", "sky"],
    )] + [(mef, args) for args in (
        ["--image", "ERR"], ["--image", "CUBE", "--planes", "5,3,1", "--stretch", "asinh"],
        ["--image", "SCI,2", "--orientation", "sky", "--depth", "16"], ["--image", "6", "--stretch", "mtf"],
        ["--image", "7", "--stretch", "linear", "--interval", "zscale"],
    )]
    first, second = os.path.join(work, "first.json"), os.path.join(work, "second.json")
    for path, args in runs:
        tag = f"{os.path.basename(path)} {' '.join(args)}"
        a, b = os.path.join(work, "a.pnm"), os.path.join(work, "b.pnm")
        if not (cli.ok(checks, "open", path, a, *args, "--record", first)
                and cli.ok(checks, "open", path, b, "--replay", first, "--record", second)):
            continue
        checks.expect(open(a, "rb").read() == open(b, "rb").read(), f"{tag}: the replay opens other bytes")
        checks.expect(open(first).read() == open(second).read(), f"{tag}: the replay records another descriptor")


PARTS = {"hdus": part_hdus, "stretches": part_stretches, "intervals": part_intervals, "replay": part_replay}


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
            PARTS[part](cli, work, checks)
        else:
            with tempfile.TemporaryDirectory(prefix=f"nebulite-options-{part}-") as work:
                PARTS[part](cli, work, checks)
        status = max(status, checks.finish(part))
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
