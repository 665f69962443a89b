"""Independent TIFF and FITS readers and a TIFF writer for the CLI's tests.

tifffile (Debian's python3-tifffile) writes the layouts nebulite must read
and reads what nebulite writes; astropy reads the FITS files it saves.
Samples go to and from the tests as raw planar arrays (plane, row,
column), little-endian uint16, so the C++ side compares them exactly.

  tiff_oracle.py read-tiff FILE OUT.raw    prints "planes rows columns bits"
  tiff_oracle.py read-fits FILE OUT.raw    prints "planes rows columns"
  tiff_oracle.py variants DIR              writes DIR/NAME.tif and
                                           DIR/NAME.expect, prints the names
  tiff_oracle.py refused DIR               writes DIR/NAME.tif, prints the names
"""

import os
import sys

import numpy as np
import tifffile


def planar(data, photometric_planes):
    """(rows, columns[, samples]) or (samples, rows, columns) to planar."""
    if data.ndim == 2:
        return data[np.newaxis]
    return data


def dump(array, path):
    np.ascontiguousarray(array, dtype="<u2").tofile(path)


def read_tiff(path, out):
    with tifffile.TiffFile(path) as tif:
        page = tif.pages[0]
        data = page.asarray()
        bits = page.bitspersample
        if data.ndim == 3 and page.planarconfig == tifffile.PLANARCONFIG.CONTIG:
            data = np.moveaxis(data, -1, 0)
        data = planar(data, 1)
    dump(data, out)
    print(data.shape[0], data.shape[1], data.shape[2], bits)


def read_fits(path, out):
    from astropy.io import fits

    with fits.open(path) as hdus:
        data = hdus[0].data
    if data.ndim == 2:
        data = data[np.newaxis]
    # 16-bit files carry BZERO 32768 and read as 0..65535; 8-bit as 0..255.
    dump(data.astype(np.int64).clip(0, 65535), out)
    print(data.shape[0], data.shape[1], data.shape[2])


def pattern(rows, columns, planes, dtype):
    """Every value of the type's range that fits, spread over the planes."""
    top = np.iinfo(dtype).max
    n = rows * columns * planes
    values = (np.arange(n, dtype=np.int64) * 7919) % (top + 1)
    values[:2] = [0, top]
    return values.reshape(planes, rows, columns).astype(dtype)


def write(path, planes_data, expect, **kwargs):
    """planes_data: (planes, rows, columns). Contiguous unless asked."""
    if kwargs.get("planarconfig") == "separate" or planes_data.shape[0] == 1:
        data = planes_data if planes_data.shape[0] > 1 else planes_data[0]
    else:
        data = np.moveaxis(planes_data, 0, -1)
    tifffile.imwrite(path + ".tif", data, **kwargs)
    if expect is not None:
        dump(expect, path + ".expect")


def variants(folder):
    names = []

    def case(name, planes_data, expect=None, **kwargs):
        write(os.path.join(folder, name), planes_data, planes_data if expect is None else expect, **kwargs)
        names.append(name)

    # 37 x 23: neither a multiple of the tiles nor of the strips below.
    for bits, dtype in ((8, np.uint8), (16, np.uint16)):
        grey = pattern(23, 37, 1, dtype)
        rgb = pattern(23, 37, 3, dtype)
        case(f"grey{bits}-strips", grey, photometric="minisblack", rowsperstrip=5)
        case(f"grey{bits}-tiles", grey, photometric="minisblack", tile=(16, 16))
        case(f"grey{bits}-deflate-bigendian", grey, photometric="minisblack", compression="zlib",
             byteorder=">", rowsperstrip=7)
        case(f"rgb{bits}-contig-strips", rgb, photometric="rgb", planarconfig="contig", rowsperstrip=3)
        case(f"rgb{bits}-planar-strips", rgb, photometric="rgb", planarconfig="separate", rowsperstrip=4)
        case(f"rgb{bits}-contig-tiles", rgb, photometric="rgb", planarconfig="contig", tile=(16, 32))
        case(f"rgb{bits}-planar-tiles-deflate", rgb, photometric="rgb", planarconfig="separate",
             tile=(16, 16), compression="zlib")
        # A reader that ignores the photometric shows a negative.
        top = np.iinfo(dtype).max
        case(f"grey{bits}-miniswhite", grey, expect=(top - grey.astype(np.int64)).astype(dtype),
             photometric="miniswhite")
        # Alpha is dropped, whichever way the samples are laid out.
        alpha = pattern(23, 37, 1, dtype)[::-1]
        case(f"rgba{bits}-contig", np.concatenate([rgb, alpha]), expect=rgb, photometric="rgb",
             extrasamples=["unassalpha"])
        case(f"rgba{bits}-planar-tiles", np.concatenate([rgb, alpha]), expect=rgb, photometric="rgb",
             planarconfig="separate", extrasamples=["assocalpha"], tile=(16, 16))
        case(f"grey-alpha{bits}", np.concatenate([grey, alpha]), expect=grey, photometric="minisblack",
             planarconfig="contig", extrasamples=["unassalpha"])
    for name in names:
        print(name)


def refused(folder):
    def put(name, data, **kwargs):
        tifffile.imwrite(os.path.join(folder, name + ".tif"), data, **kwargs)
        print(name)

    put("float64", np.linspace(0, 1, 64, dtype=np.float64).reshape(8, 8), photometric="minisblack")
    put("float32-miniswhite", np.linspace(0, 1, 64, dtype=np.float32).reshape(8, 8), photometric="miniswhite")
    put("int16", np.arange(64, dtype=np.int16).reshape(8, 8) - 32, photometric="minisblack")
    put("uint32", np.arange(64, dtype=np.uint32).reshape(8, 8), photometric="minisblack")
    colormap = np.zeros((3, 256), dtype=np.uint16)
    put("palette", np.arange(64, dtype=np.uint8).reshape(8, 8), photometric="palette", colormap=colormap)
    put("cmyk", np.zeros((8, 8, 4), dtype=np.uint8), photometric="separated")
    put("rgb-and-more", np.zeros((8, 8, 4), dtype=np.uint16), photometric="rgb", extrasamples=["unspecified"])
    put("bilevel", np.zeros((8, 8), dtype=bool), photometric="minisblack")
    # Its directory comes first, then the samples, cut short here.
    put("short", np.zeros((64, 64), dtype=np.uint16), photometric="minisblack")
    path = os.path.join(folder, "short.tif")
    os.truncate(path, os.path.getsize(path) // 2)


if __name__ == "__main__":
    command, *args = sys.argv[1:]
    {"read-tiff": read_tiff, "read-fits": read_fits, "variants": variants, "refused": refused}[command](*args)
