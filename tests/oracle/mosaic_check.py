#!/usr/bin/python3
"""Colour-filter mosaics through the nebulite CLI, against OpenCV.

    mosaic_check.py NEBULITE

A crop of scikit-image's astronaut is sampled through each Bayer pattern and
written by astropy as a capture program would write it (BAYERPAT, offsets,
ROWORDER), in every form the module reads samples from: BITPIX 8, 16, 32
and -32, gzip'd, in an IMAGE extension, and tile-compressed (RICE_1).

opencv     `nebulite open --debayer auto --demosaic bilinear` at 8 and 16 bits
           equals OpenCV's bilinear demosaic (cv2.cvtColor, COLOR_Bayer*2RGB)
           of the grey open's levels within one level, away from a two-pixel
           border. OpenCV's code for each of our patterns is found by trying
           all four, not assumed: exactly one must match, and it must be the
           one OpenCV's naming gives (the second row's second and third
           pixels).
info       `nebulite info --json` says what `open --debayer auto` does for
           headers in the capture programs' forms: colour exactly when info
           says it demosaics, with the pattern at the first stored pixel
           that the named pattern's open confirms.

Exit status 0 when every check passed, 1 when one failed, 77 when numpy,
astropy, OpenCV or scikit-image is missing (CTest reports a skip). Run it
with Debian's python (/usr/bin/python3).
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
    import cv2
    import skimage.data
except ImportError as e:  # pragma: no cover - depends on the machine
    print(f"mosaic_check: {e}: skipped (needs python3-astropy, python3-numpy, python3-opencv, python3-skimage)")
    sys.exit(SKIP)

PATTERNS = ["RGGB", "BGGR", "GRBG", "GBRG"]
CHANNEL = {"R": 0, "G": 1, "B": 2}
OPENCV_CODES = {
    "BG": cv2.COLOR_BayerBG2RGB,
    "GB": cv2.COLOR_BayerGB2RGB,
    "RG": cv2.COLOR_BayerRG2RGB,
    "GR": cv2.COLOR_BayerGR2RGB,
}

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def scene():
    """The flag and the suit: 96 x 64, 8-bit RGB."""
    return skimage.data.astronaut()[120:184, 0:96, :].astype(np.int64)


def mosaic_of(picture, pattern):
    """The picture through a sensor whose first two rows read `pattern`."""
    h, w, _ = picture.shape
    out = np.zeros((h, w), dtype=np.int64)
    for dy in (0, 1):
        for dx in (0, 1):
            c = CHANNEL[pattern[2 * dy + dx]]
            out[dy::2, dx::2] = picture[dy::2, dx::2, c]
    return out


def header_for(pattern):
    h = fits.Header()
    h["BAYERPAT"] = pattern
    h["XBAYROFF"] = 0
    h["YBAYROFF"] = 0
    h["ROWORDER"] = "TOP-DOWN"
    return h


def write_roads(mosaic8, pattern, folder):
    """The mosaic in every form the module reads; name -> path."""
    hdr = header_for(pattern)
    paths = {}

    def primary(name, data):
        path = os.path.join(folder, f"{pattern}-{name}.fits")
        fits.PrimaryHDU(data, header=hdr.copy()).writeto(path, overwrite=True)
        paths[name] = path
        return path

    primary("bitpix8", mosaic8.astype(np.uint8))
    plain = primary("bitpix16", (mosaic8 * 257).astype(np.uint16))
    primary("bitpix32", (mosaic8 * 1000).astype(np.int32))
    primary("bitpix-32", (mosaic8 / 255.0).astype(np.float32))
    with open(plain, "rb") as src, gzip.open(plain + ".gz", "wb") as dst:
        shutil.copyfileobj(src, dst)
    paths["gzip"] = plain + ".gz"
    path = os.path.join(folder, f"{pattern}-extension.fits")
    fits.HDUList([fits.PrimaryHDU(), fits.ImageHDU((mosaic8 * 257).astype(np.uint16), header=hdr.copy(),
                                                   name="SCI")]).writeto(path, overwrite=True)
    paths["extension"] = path
    path = os.path.join(folder, f"{pattern}-rice.fits.fz")
    fits.HDUList([fits.PrimaryHDU(), fits.CompImageHDU((mosaic8 * 257).astype(np.uint16), header=hdr.copy(),
                                                       compression_type="RICE_1")]).writeto(path, overwrite=True)
    paths["tiled"] = path
    return paths


def run(nebulite, *args):
    return subprocess.run([nebulite, *args], capture_output=True, text=True)


def read_pnm(path):
    with open(path, "rb") as f:
        data = f.read()
    parts = data.split(maxsplit=4)
    kind, w, h, maxval = parts[0], int(parts[1]), int(parts[2]), int(parts[3])
    planes = 3 if kind == b"P6" else 1
    dtype = ">u2" if maxval > 255 else "u1"
    pixels = np.frombuffer(parts[4], dtype=dtype, count=w * h * planes).astype(np.int64)
    return pixels.reshape(h, w, planes), maxval


def open_to(nebulite, path, out, *options):
    r = run(nebulite, "open", path, out, *options)
    if r.returncode != 0:
        check(False, f"open {path} {' '.join(options)}: {r.stderr.strip()}")
        return None, None
    return read_pnm(out)


def worst_difference(ours, theirs):
    inner = (slice(2, -2), slice(2, -2))
    return int(np.abs(ours[inner].astype(np.int64) - theirs[inner].astype(np.int64)).max())


def opencv_part(nebulite, folder):
    picture = scene()
    mapping = {}
    for pattern in PATTERNS:
        paths = write_roads(mosaic_of(picture, pattern), pattern, folder)
        for road, path in paths.items():
            for depth in ("8", "16"):
                what = f"{pattern} {road} depth {depth}"
                grey, maxval = open_to(nebulite, path, os.path.join(folder, "grey.pgm"), "--depth", depth)
                colour, _ = open_to(nebulite, path, os.path.join(folder, "colour.ppm"), "--depth", depth,
                                    "--debayer", "auto", "--demosaic", "bilinear")
                if grey is None or colour is None:
                    continue
                check(colour.shape[2] == 3, f"{what}: not in colour")
                levels = grey[:, :, 0].astype(np.uint16 if maxval > 255 else np.uint8)
                if pattern not in mapping:
                    # Which OpenCV code is our pattern: try them all.
                    matches = [name for name, code in OPENCV_CODES.items()
                               if worst_difference(colour, cv2.cvtColor(levels, code)) <= 1]
                    check(len(matches) == 1, f"{pattern}: OpenCV codes within one level: {matches}")
                    if matches:
                        mapping[pattern] = matches[0]
                        # OpenCV names a layout by its second row's second and third pixels.
                        named = pattern[3] + pattern[2]
                        check(matches[0] == named, f"{pattern} matches OpenCV's Bayer{matches[0]}, not Bayer{named}")
                if pattern in mapping:
                    theirs = cv2.cvtColor(levels, OPENCV_CODES[mapping[pattern]])
                    worst = worst_difference(colour, theirs)
                    check(worst <= 1, f"{what}: {worst} levels from OpenCV's bilinear")
    print("opencv: our pattern -> OpenCV's code:", ", ".join(f"{p} -> Bayer{c}2RGB" for p, c in mapping.items()))


# Headers in the forms capture programs write, each with the pattern at the
# first stored pixel an open must use (None: automatic leaves it grey).
HEADERS = [
    ("cfitsio padding", ["BAYERPAT= 'RGGB    '           / Bayer color pattern",
                         "XBAYROFF=                    0 / X offset of Bayer array",
                         "YBAYROFF=                    0 / Y offset of Bayer array",
                         "ROWORDER= 'TOP-DOWN'           / Row Order"], "RGGB"),
    ("short strings", ["BAYERPAT= 'GBRG'", "COLORTYP= 'GBRG'", "XBAYROFF= 1", "YBAYROFF= 0"], "BGGR"),
    ("lower case, bottom-up", ["BAYERPAT= 'bggr'", "ROWORDER= 'bottom-up'"], "GRBG"),
    ("no quotes", ["BAYERPAT= GRBG", "ROWORDER= TOP-DOWN"], "GRBG"),
    ("offset 3", ["BAYERPAT= 'RGGB'", "XBAYROFF=                    3"], "GRBG"),
    ("quoted offset", ["BAYERPAT= 'RGGB'", "YBAYROFF= '1'"], "GBRG"),
    ("a flag, not a pattern", ["BAYERPAT= 'TRUE'"], None),
    ("COLORTYP alone", ["COLORTYP= 'RGGB'", "XBAYROFF=                    1"], None),
    ("no colour cards", [], None),
]


def raw_fits(cards, data):
    """A primary 16-bit image (BZERO 32768) with these cards, byte for byte."""
    h, w = data.shape
    text = [f"{'SIMPLE':8}= {'T':>20}", f"{'BITPIX':8}= {16:>20}", f"{'NAXIS':8}= {2:>20}",
            f"{'NAXIS1':8}= {w:>20}", f"{'NAXIS2':8}= {h:>20}", f"{'BZERO':8}= {32768:>20}"] + cards + ["END"]
    header = "".join(c.ljust(80) for c in text).encode("ascii")
    header += b" " * (-len(header) % 2880)
    body = (data.astype(np.int64) - 32768).astype(">i2").tobytes()
    return header + body + b"\0" * (-len(body) % 2880)


def info_part(nebulite, folder):
    picture = scene()
    data = mosaic_of(picture, "RGGB") * 257
    for name, cards, first in HEADERS:
        path = os.path.join(folder, "header.fits")
        with open(path, "wb") as f:
            f.write(raw_fits(cards, data))
        r = run(nebulite, "info", path, "--json")
        if r.returncode != 0:
            check(False, f"{name}: info failed: {r.stderr.strip()}")
            continue
        mosaic = json.loads(r.stdout)["mosaic"]
        check(mosaic["auto"] == ("grey" if first is None else "demosaic"), f"{name}: info says {mosaic}")
        check(mosaic["firstPixel"] == first, f"{name}: info's first pixel {mosaic['firstPixel']}, not {first}")
        colour, _ = open_to(nebulite, path, os.path.join(folder, "auto.pnm"), "--debayer", "auto")
        if colour is None:
            continue
        check(colour.shape[2] == (1 if first is None else 3), f"{name}: --debayer auto gave {colour.shape[2]} planes")
        if first is None:
            continue
        # The pattern info names, given to an open of the same samples with
        # no colour cards at all, must give the same image.
        bare = os.path.join(folder, "bare.fits")
        with open(bare, "wb") as f:
            f.write(raw_fits([], data))
        named, _ = open_to(nebulite, bare, os.path.join(folder, "named.pnm"), "--debayer", first)
        check(named is not None and np.array_equal(named, colour), f"{name}: --debayer {first} on the bare file differs")


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    nebulite = sys.argv[1]
    with tempfile.TemporaryDirectory(prefix="nebulite-mosaic-") as folder:
        opencv_part(nebulite, folder)
        info_part(nebulite, folder)
    if failures:
        print(f"mosaic_check: {len(failures)} failed")
        return 1
    print("mosaic_check: all passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
