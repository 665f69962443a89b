#!/usr/bin/env python3
"""Writes the documents of this directory that carry only 'hist' records, and
the FITS files a save of each gave before documents carried the whole header.

    /usr/bin/python3 tests/data/golden/generate.py OLD_NEBULITE

OLD_NEBULITE is the `nebulite` CLI of a build from before the whole-header
record. For each case it writes:
  NAME.fits           the source file: a real header (or a made one) over a
                      tiny image
  NAME.png            `nebulite open NAME.fits NAME.png` by that build: the
                      document, its 'hist' records in hiST chunks
  NAME.expected.fits  `nebulite save NAME.png ...` by that build
The test saves NAME.png with today's build and compares the bytes with
NAME.expected.fits: such documents must keep saving as they always did.
Only the .png and .expected.fits files are kept in the repository.
"""
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
MIDAS = "/usr/lib/eso-midas/22FEB/test/prim"


def card(text):
    if isinstance(text, bytes):
        return text[:80].ljust(80, b" ")
    return text[:80].ljust(80).encode("latin-1")


def raw_headers(path):
    """Every header of a file as its 80-byte cards, END left out."""
    with open(path, "rb") as f:
        data = f.read()
    headers, at = [], 0
    while at < len(data):
        cards = []
        while True:
            c = data[at:at + 80]
            at += 80
            if c[:8] == b"END     " or len(c) < 80:
                break
            cards.append(c)
        at += -at % 2880
        headers.append(cards)
        naxis = [int(c[10:30]) for c in cards if c[:5] == b"NAXIS" and c[5:8].strip().isdigit()]
        bitpix = next(int(c[10:30]) for c in cards if c[:8] == b"BITPIX  ")
        n = 1
        for a in naxis:
            n *= a
        if not naxis:
            n = 0
        pcount = next((int(c[10:30]) for c in cards if c[:8] == b"PCOUNT  "), 0)
        at += ((abs(bitpix) // 8) * n + pcount + 2879) // 2880 * 2880
    return headers


def keyword(c):
    return c[:8].decode("latin-1").rstrip()


def value_card(key, v):
    return card(key.ljust(8) + "= " + str(v).rjust(20))


def shrink(cards, bitpix, axes, extension=False):
    """The header's own cards with the structure of a tiny image."""
    out = [card("XTENSION= 'IMAGE   '") if extension else card("SIMPLE  =                    T"),
           value_card("BITPIX", bitpix), value_card("NAXIS", len(axes))]
    out += [value_card(f"NAXIS{i + 1}", a) for i, a in enumerate(axes)]
    if extension:
        out += [value_card("PCOUNT", 0), value_card("GCOUNT", 1)]
    if bitpix == 16:
        out.append(value_card("BZERO", 32768))
    drop = {"SIMPLE", "XTENSION", "BITPIX", "NAXIS", "PCOUNT", "GCOUNT", "BZERO", "BSCALE", "BLANK", "EXTEND"}
    for c in cards:
        k = keyword(c)
        if k in drop or (k.startswith("NAXIS") and k[5:].isdigit()):
            continue
        out.append(c)
    return out


def block(cards):
    h = b"".join(cards) + card("END")
    return h + b" " * (-len(h) % 2880)


def data(bitpix, axes, seed):
    n = 1
    for a in axes:
        n *= a
    size = abs(bitpix) // 8
    raw = bytes((seed + 37 * i + (i * i) % 251) % 256 for i in range(n * size))
    return raw + bytes(-len(raw) % 2880)


def made_long_header():
    """27 blocks of cards that a 'hist' record cuts: long strings closed past
    the cut, CONTINUE cards, commentary running to column 80, HIERARCH."""
    cards = [card("SIMPLE  =                    T"), value_card("BITPIX", 16), value_card("NAXIS", 2),
             value_card("NAXIS1", 9), value_card("NAXIS2", 4),
             card("BZERO   =              32768.0 / unsigned 16-bit samples, comment runs to col 80 .."),
             card("BSCALE  =                  1.0 / no scaling"),
             card("DATAMAX =              60000.0 / largest value"),
             card("AUTHOR  = 'A string value long enough that its closing quote lies past column 67'"),
             card("DATE-OBS= '2024-03-01T22:14:07.123456789' / start of the exposure, UTC, to the ns"),
             card("CONTINUE  'a continued string that runs on and on past the cut column&'"),
             card("BUNIT   = 'ADU     '           / the unit of the samples, a comment to column 80"),
             card("EXPTIME =                300.5 / exposure time in seconds, with a long comment ..."),
             card("HIERARCH ESO DET CHIP1 NAME = 'Aladdin3 long chip name string' / detector chip na"),
             card("HIERARCH ESO INS FILT1 ID = 'J+Block' / filter identifier, comment to column eight"),
             card("DEC     =          -29.0078125 / declination of the pointing in degrees (J2000)..."),
             card(b"OBJECT  = 'NUL inside\x00here' / a zero byte in a card"),
             card("TELESCOP= 'made-up 1.2m'"),
             card("")]
    i = 0
    while len(cards) < 27 * 36 - 1:
        kind = i % 4
        if kind == 0:
            cards.append(card(f"HISTORY step {i:04d}: " + "processing note that runs all the way to col 80 " * 2))
        elif kind == 1:
            cards.append(card(f"COMMENT {i:04d} " + "a comment that runs to the very last column of the card " * 2))
        elif kind == 2:
            cards.append(card(f"CD{i % 3 + 1}_{i % 2 + 1}{chr(65 + i % 26)}  =   1.234567890123456E-04 / "
                              "WCS matrix element with a long explanation"))
        else:
            cards.append(card(f"ABC{i:05d}= 'value {i}' / a keyword from A, cut at column 66 of the card ...."))
        i += 1
    return [c for c in cards]


def cases():
    isaac = raw_headers(f"{MIDAS}/ISAAC.2006-04-13T06:32:38.944.fits")[0]
    visir = raw_headers(f"{MIDAS}/VISIR.2004-09-30T03:17:49.095.fits")[0]
    not_file = raw_headers(f"{MIDAS}/NOT.fits")
    bad = raw_headers(f"{MIDAS}/badfitskeys.mt")[0]
    yield "primary-isaac-16", block(shrink(isaac, 16, [11, 6])) + data(16, [11, 6], 1)
    yield "primary-visir-rgb8", block(shrink(visir, 8, [7, 5, 3])) + data(8, [7, 5, 3], 2)
    yield "primary-badkeys-8", block(shrink(bad, 8, [5, 3])) + data(8, [5, 3], 3)
    primary = [c for c in not_file[0]]
    ext = shrink(not_file[1], 16, [8, 6], extension=True)
    yield ("extension-not-16", block(primary) + block(ext) + data(16, [8, 6], 4))
    yield "long-27-blocks-16", block(made_long_header()) + data(16, [9, 4], 5)


def main():
    old = sys.argv[1]
    for name, content in cases():
        src = os.path.join(HERE, name + ".fits")
        with open(src, "wb") as f:
            f.write(content)
        png = os.path.join(HERE, name + ".png")
        subprocess.run([old, "open", src, png], check=True)
        subprocess.run([old, "save", png, os.path.join(HERE, name + ".expected.fits")], check=True)
        os.remove(src)


if __name__ == "__main__":
    main()
