#!/usr/bin/python3
"""Writes samples/m51-64x48.fits, the small FITS file bundled with Nebulite.

A 64x48 16-bit frame (BITPIX 16 with BZERO 32768, i.e. unsigned samples)
with a sky gradient and a few stars, and the header a small observatory
camera would write. Deterministic, so that the file only changes when this
script does. Needs Debian's python3-astropy and python3-numpy.
"""
import pathlib
import sys

import numpy as np
from astropy.io import fits

WIDTH, HEIGHT = 64, 48


def image():
    y, x = np.mgrid[0:HEIGHT, 0:WIDTH].astype(np.float64)
    sky = 1200.0 + 9.0 * x + 4.0 * y
    stars = [(12.5, 9.0, 2.1, 40000.0), (40.0, 30.0, 1.6, 18000.0),
             (52.0, 11.0, 1.2, 9000.0), (25.0, 38.0, 3.0, 23000.0)]
    for cx, cy, sigma, peak in stars:
        sky += peak * np.exp(-((x - cx) ** 2 + (y - cy) ** 2) / (2.0 * sigma ** 2))
    # A saturated core, so that the full 16-bit range appears.
    return np.clip(np.rint(sky), 0, 65535).astype(np.uint16)


def main(out):
    hdu = fits.PrimaryHDU(image())
    h = hdu.header
    h["OBJECT"] = ("M51", "target name")
    h["TELESCOP"] = ("Nebulite Test Refractor 80", "telescope")
    h["INSTRUME"] = ("NBL-CAM 1", "camera")
    h["DATE-OBS"] = ("2024-04-12T21:43:07", "UTC start of exposure")
    h["EXPTIME"] = (120.0, "[s] exposure time")
    h["FILTER"] = ("L", "filter")
    h["GAIN"] = (1.25, "[e-/ADU]")
    h["COMMENT"] = "Bundled sample of the Nebulite FITS module; synthetic data."
    h["HISTORY"] = "Written by scripts/make_sample.py"
    out.parent.mkdir(parents=True, exist_ok=True)
    hdu.writeto(out, overwrite=True, output_verify="exception")


if __name__ == "__main__":
    root = pathlib.Path(__file__).resolve().parent.parent
    main(pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else root / "samples" / "m51-64x48.fits")
