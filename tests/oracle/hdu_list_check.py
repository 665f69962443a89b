#!/usr/bin/env python3
"""`nebulite info --json FILE`'s "hdus" against astropy's own listing
(HDUList.info) and headers: the real files of the eso-midas-testdata
package that astropy opens, and files made here with astropy (images with
EXTNAME and EXTVER, binary and ASCII tables, tile-compressed images of
every algorithm astropy writes, a gzip'd file).

usage: hdu_list_check.py NEBULITE

For each HDU: its index, its type (PrimaryHDU: primary, ImageHDU: IMAGE,
BinTableHDU: BINTABLE, TableHDU: TABLE, CompImageHDU: compressed image),
EXTNAME (empty without one), EXTVER (astropy's ver, 1 without one), BITPIX
and the axes (a compressed image's own, from the header astropy restores),
and a compressed image's ZCMPTYPE. Exit 77 (skipped) without astropy or
the MIDAS files.
"""
import gzip
import json
import os
import shutil
import subprocess
import sys
import tempfile
import warnings

SKIP = 77
MIDAS = "/usr/lib/eso-midas/22FEB/test/prim"
FITS_NAMES = (".fits", ".fit", ".tfits", ".mt", ".fts")

try:
    import numpy as np
    from astropy.io import fits
    from astropy.utils.exceptions import AstropyWarning
except ImportError as e:
    print(f"astropy or numpy missing ({e}): skipped")
    sys.exit(SKIP)

TYPES = {"PrimaryHDU": "primary", "ImageHDU": "IMAGE", "BinTableHDU": "BINTABLE", "TableHDU": "TABLE",
         "CompImageHDU": "compressed image"}


def astropy_listing(path):
    """What astropy says of each HDU, in nebulite's terms; None when astropy
    does not open the file as FITS."""
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", AstropyWarning)
            with fits.open(path, memmap=False, lazy_load_hdus=False) as hdul:
                out = []
                for (index, _name, ver, kind, _cards, dims, _fmt, _extra), hdu in zip(hdul.info(output=False), hdul):
                    header = hdu.header
                    naxis = int(header.get("NAXIS", 0))
                    axes = [int(header[f"NAXIS{i}"]) for i in range(1, naxis + 1)]
                    if kind in ("PrimaryHDU", "ImageHDU", "CompImageHDU"):
                        # astropy's listing gives image sizes in FITS order
                        assert list(dims) == axes, (path, index, dims, axes)
                    out.append({
                        "index": index,
                        "type": TYPES.get(kind, kind),
                        "extname": str(header.get("EXTNAME", "")).rstrip() if index > 0 or "EXTNAME" in header else "",
                        "extver": int(ver),
                        "bitpix": int(header["BITPIX"]),
                        "axes": axes,
                        "compression": hdu._header["ZCMPTYPE"].rstrip() if kind == "CompImageHDU" else "",
                    })
                return out
    except Exception as e:  # noqa: BLE001 - astropy raises many kinds on odd files
        return None if "Empty or corrupt FITS file" in str(e) or "No SIMPLE card" in str(e) else ("error", str(e))


def nebulite_listing(exe, path):
    r = subprocess.run([exe, "info", "--json", path], capture_output=True, text=True)
    try:
        info = json.loads(r.stdout)
    except json.JSONDecodeError:
        return None, f"no JSON (exit {r.returncode}): {r.stderr.strip()}"
    return info.get("hdus"), info.get("hdusIncomplete")


def made_files(work):
    """Files astropy writes: (name, path)."""
    files = []
    rng = np.random.default_rng(7)

    path = os.path.join(work, "mef.fits")
    hdus = [fits.PrimaryHDU()]
    sci1 = fits.ImageHDU(rng.integers(0, 1000, (12, 20)).astype(np.int16), name="SCI")
    sci1.header["EXTVER"] = 1
    sci2 = fits.ImageHDU(rng.random((12, 20)).astype(np.float32), name="SCI")
    sci2.header["EXTVER"] = 2
    hdus += [sci1, sci2, fits.ImageHDU(rng.random((3, 5, 7)), name="CUBE"),
             fits.ImageHDU(rng.integers(0, 60000, (4, 6)).astype(np.uint16)),
             fits.BinTableHDU.from_columns([fits.Column(name="a", format="J", array=np.arange(5)),
                                            fits.Column(name="b", format="10A", array=["x"] * 5)], name="EVENTS"),
             fits.TableHDU.from_columns([fits.Column(name="c", format="F8.3", array=np.linspace(0, 1, 4))],
                                        name="ASCII"),
             fits.ImageHDU(name="EMPTY")]
    fits.HDUList(hdus).writeto(path)
    files.append(("multi-extension", path))

    path = os.path.join(work, "primary-data.fits")
    fits.HDUList([fits.PrimaryHDU(rng.integers(0, 255, (9, 11)).astype(np.uint8)),
                  fits.ImageHDU(rng.random((2, 3)).astype(np.float64), name="VAR", ver=3)]).writeto(path)
    files.append(("primary with data", path))

    path = os.path.join(work, "compressed.fits")
    ints = rng.integers(0, 4000, (40, 33)).astype(np.int16)
    floats = rng.normal(100, 5, (40, 33)).astype(np.float32)
    fits.HDUList([fits.PrimaryHDU(),
                  fits.CompImageHDU(ints, compression_type="RICE_1", name="RICE"),
                  fits.CompImageHDU(floats, compression_type="GZIP_2", name="GZ2"),
                  fits.CompImageHDU(ints, compression_type="GZIP_1"),
                  fits.CompImageHDU(ints, compression_type="HCOMPRESS_1", name="HC"),
                  fits.CompImageHDU(ints.astype(np.int32) % 100, compression_type="PLIO_1", name="PLIO"),
                  fits.CompImageHDU(rng.integers(0, 9, (4, 5, 6)).astype(np.int32), compression_type="RICE_1",
                                    name="CUBE", tile_shape=(1, 5, 6)),
                  ]).writeto(path)
    files.append(("tile-compressed", path))

    gz = os.path.join(work, "mef.fits.gz")
    with open(os.path.join(work, "mef.fits"), "rb") as f, gzip.open(gz, "wb") as g:
        shutil.copyfileobj(f, g)
    files.append(("gzip'd multi-extension", gz))
    return files


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    exe = sys.argv[1]
    if not os.path.isdir(MIDAS):
        print(f"{MIDAS} missing (scripts/setup.sh installs eso-midas-testdata): skipped")
        return SKIP
    failures, compared, multi = [], 0, 0
    with tempfile.TemporaryDirectory(prefix="nebulite-hdus-") as work:
        cases = [(name, os.path.join(MIDAS, name)) for name in sorted(os.listdir(MIDAS))
                 if name.lower().endswith(FITS_NAMES)] + made_files(work)
        for name, path in cases:
            want = astropy_listing(path)
            if want is None:
                continue
            got, incomplete = nebulite_listing(exe, path)
            if isinstance(want, tuple):
                # astropy cannot list it: nebulite should say where its list stops.
                print(f"{name}: astropy fails ({want[1]}); nebulite: {incomplete}")
                if not incomplete:
                    failures.append(f"{name}: astropy fails ({want[1]}), nebulite lists it whole")
                continue
            compared += 1
            multi += len(want) > 1
            if got is None:
                failures.append(f"{name}: {incomplete}")
                continue
            if incomplete:
                failures.append(f"{name}: nebulite's list stops early: {incomplete}")
            if len(got) != len(want):
                failures.append(f"{name}: {len(got)} HDUs listed, astropy lists {len(want)}")
            for g, w in zip(got, want):
                for field in ("index", "type", "extname", "extver", "bitpix", "axes", "compression"):
                    if g[field] != w[field]:
                        failures.append(f"{name}: HDU {w['index']} {field}: nebulite {g[field]!r}, astropy {w[field]!r}")
    for f in failures:  # noqa: the summary follows
        print("FAIL", f)
    print(f"{compared} files compared ({multi} with more than one HDU), {len(failures)} differences")
    if compared == 0 or multi < 5:
        print("too few files compared")
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
