#!/usr/bin/env python3
"""Writes the image bombs the CLI must refuse at once: small files whose
headers claim images (or chunks) far larger than their bytes could hold.
Each is kept in this folder with the one line `nebulite save FILE out.fits`
must print for it, in expected.tsv; tests/cli_test.cpp runs them all.

    /usr/bin/python3 tests/data/bombs/generate.py    # rewrites the files here
"""
import os
import struct
import zlib

here = os.path.dirname(os.path.abspath(__file__))


def chunk(kind, data, length=None):
    n = len(data) if length is None else length
    return struct.pack(">I", n) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(width, height, depth, colour, interlace=0, idat=b"", extra=b""):
    ihdr = struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, interlace)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + extra +
            chunk(b"IDAT", idat) + chunk(b"IEND", b""))


def tiff(width, height, bits, samples, compression, data, rows_per_strip):
    """A little-endian TIFF: one directory, one strip per `rows_per_strip`
    rows (all but the first pointing at the same data)."""
    strips = (height + rows_per_strip - 1) // rows_per_strip
    header = b"II*\0" + struct.pack("<I", 8)
    entries = 10
    ifd_size = 2 + entries * 12 + 4
    bits_at = 8 + ifd_size
    offsets_at = bits_at + 2 * samples
    counts_at = offsets_at + 4 * strips
    data_at = counts_at + 4 * strips

    def entry(tag, kind, count, value):
        return struct.pack("<HHI", tag, kind, count) + value

    short = lambda v: struct.pack("<HH", v, 0)
    long_ = lambda v: struct.pack("<I", v)
    ifd = struct.pack("<H", entries)
    ifd += entry(256, 4, 1, long_(width))
    ifd += entry(257, 4, 1, long_(height))
    ifd += entry(258, 3, samples, long_(bits_at) if samples > 2 else short(bits))
    ifd += entry(259, 3, 1, short(compression))
    ifd += entry(262, 3, 1, short(2 if samples == 3 else 1))
    ifd += entry(273, 4, strips, long_(offsets_at) if strips > 1 else long_(data_at))
    ifd += entry(277, 3, 1, short(samples))
    ifd += entry(278, 4, 1, long_(rows_per_strip))
    ifd += entry(279, 4, strips, long_(counts_at) if strips > 1 else long_(len(data)))
    ifd += entry(284, 3, 1, short(1))
    ifd += long_(0)
    body = struct.pack("<" + "H" * samples, *([bits] * samples))
    if strips > 1:
        body += struct.pack("<" + "I" * strips, *([data_at] * strips))
        body += struct.pack("<" + "I" * strips, *([len(data)] * strips))
    return header + ifd + body + data


def write(name, data):
    with open(os.path.join(here, name), "wb") as f:
        f.write(data)


# 3 KB of deflate (3 MB of zeros) under a header that claims 30000 x 30000
# 16-bit RGB: 5.4 GB of samples, in one strip.
write("deflate-30000-rgb16.tif",
      tiff(30000, 30000, 16, 3, 8, zlib.compress(bytes(3 << 20), 9), 30000))
# The same claim in strips of one row, all pointing at the same data.
write("deflate-30000-rgb16-strips.tif",
      tiff(30000, 30000, 16, 3, 8, zlib.compress(bytes(180000), 9), 1))
# A small grey PNG whose text chunk claims 1.9 GB (193 bytes in all).
text = chunk(b"tEXt", b"Comment\0" + b"x" * 100, length=1900000000)
write("text-chunk-1.9gb.png", png(1, 1, 8, 0, idat=zlib.compress(b"\0\0"), extra=text))
# Under 100 bytes each, claiming the largest images the host takes.
write("rgba16-32767.png", png(32767, 32767, 16, 6, idat=zlib.compress(bytes(1000), 9)))
write("interlaced-rgb8-32767.png", png(32767, 32767, 8, 2, interlace=1, idat=zlib.compress(bytes(1000), 9)))
write("palette-30000.png", png(30000, 30000, 8, 3, idat=zlib.compress(bytes(1000), 9),
                               extra=chunk(b"PLTE", bytes(3))))
# Wider than the host takes.
write("grey-400000-wide.png", png(400000, 1, 8, 0, idat=zlib.compress(bytes(400001), 9)))
# The largest side the host takes, claimed by a few bytes.
write("grey16-300000.png", png(300000, 300000, 16, 0, idat=zlib.compress(bytes(1000), 9)))
