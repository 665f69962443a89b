#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets: small valid FITS files on every
sample road, headers over several blocks, 'hist' record sets, and card text.

    python3 fuzz/make_seeds.py OUTDIR      # OUTDIR/read, OUTDIR/save, OUTDIR/cards

The committed corpus (fuzz/corpus) is these seeds merged with what fuzzing
added, minimised with libFuzzer's -merge=1; rerun this to start afresh.
"""
import os
import struct
import sys


def card(text):
    return text[:80].ljust(80).encode("latin-1")


def value(key, v, comment=""):
    text = key.ljust(8) + "= " + str(v).rjust(20)
    if comment:
        text += " / " + comment
    return card(text)


def fits(bitpix, axes, cards=(), data=b"", pad=True):
    h = value("SIMPLE", "T") + value("BITPIX", bitpix) + value("NAXIS", len(axes))
    for i, n in enumerate(axes):
        h += value("NAXIS%d" % (i + 1), n)
    for c in cards:
        h += c if isinstance(c, bytes) else card(c)
    h += card("END")
    h += b" " * (-len(h) % 2880)
    if pad and data:
        data += b"\0" * (-len(data) % 2880)
    return h + data


def extension(bitpix, axes, cards=(), data=b"", kind="IMAGE", pcount=0, gcount=1):
    """An extension HDU: XTENSION, the size cards, PCOUNT and GCOUNT, `cards`."""
    h = card("XTENSION= '%s'" % kind.ljust(8)) + value("BITPIX", bitpix) + value("NAXIS", len(axes))
    for i, n in enumerate(axes):
        h += value("NAXIS%d" % (i + 1), n)
    h += value("PCOUNT", pcount) + value("GCOUNT", gcount)
    for c in cards:
        h += c if isinstance(c, bytes) else card(c)
    h += card("END")
    h += b" " * (-len(h) % 2880)
    return h + data + b"\0" * (-len(data) % 2880)


def empty_primary(cards=()):
    return fits(8, [], ["EXTEND  =                    T"] + list(cards))


def samples(bitpix, count, start=0):
    out = b""
    for i in range(count):
        v = (start + i * 37) % 251
        if bitpix == 8:
            out += bytes([v])
        elif bitpix == 16:
            out += struct.pack(">h", v * 130 - 16000)
        elif bitpix == 32:
            out += struct.pack(">i", v * 1000003 - 100000000)
        else:
            out += struct.pack(">f", v * 0.25 - 10.0)
    return out


def read_seeds():
    s = {}
    for bitpix in (8, 16, 32, -32):
        name = "m%d" % -bitpix if bitpix < 0 else str(bitpix)
        s["grey%s" % name] = fits(bitpix, [5, 4], data=samples(bitpix, 20))
        s["rgb%s" % name] = fits(bitpix, [3, 2, 3], data=samples(bitpix, 18))
    s["grey16_bzero"] = fits(16, [4, 3], ["BZERO   =              32768.0", "BSCALE  =                  1.0"],
                             samples(16, 12))
    s["grey16_scaled"] = fits(16, [4, 3], ["BZERO   =               -100.0", "BSCALE  =                  2.5"],
                              samples(16, 12))
    s["grey32_blank"] = fits(32, [4, 2], ["BLANK   =           -100000000", "DATAMIN =                  0.0",
                                           "DATAMAX =              50000.0"], samples(32, 8))
    s["grey32_backgrnd"] = fits(32, [4, 2], ["BACKGRND=                 10.0", "RANGE   =                500.0",
                                              "CBLACK  =                  1.0", "CWHITE  =                2.0"],
                                samples(32, 8))
    s["floatm32_avisu"] = fits(-32, [3, 3], ["AVISUMIN=                 -1.5", "AVISUMAX=               1.5D2"],
                               samples(-32, 9))
    s["cube2"] = fits(8, [2, 2, 2], data=samples(8, 8))
    s["cube5"] = fits(16, [2, 2, 5], data=samples(16, 20))
    s["naxis4"] = fits(8, [2, 2, 3, 1], data=samples(8, 12))
    s["two_blocks"] = fits(8, [4, 4], ["COMMENT card %d" % i for i in range(40)], samples(8, 16))
    s["three_blocks_history"] = fits(16, [2, 2], ["HISTORY step %d" % i for i in range(80)], samples(16, 4))
    s["end_in_slot_35"] = fits(8, [2, 2], ["COMMENT %d" % i for i in range(30)], samples(8, 4))
    s["nebulite_card"] = fits(8, [3, 1], ["NEBULITE= 'Photoshop Plugin Nebulite 1.0.0'"], samples(8, 3))
    s["checksum_cards"] = fits(8, [3, 1], ["CHECKSUM= 'abcdefghijklmnop'", "DATASUM = '12345'"], samples(8, 3))
    s["short_data"] = fits(16, [8, 8], data=samples(16, 20), pad=False)
    s["trailing_extension"] = fits(8, [2, 2], data=samples(8, 4)) + card("XTENSION= 'IMAGE   '") * 36
    s["nul_card"] = fits(8, [2, 2], [b"\0" + b"ZAP     = 1".ljust(79)], samples(8, 4))
    s["free_format"] = (card("SIMPLE  = T") + card("BITPIX  = 8") + card("NAXIS = 2") +
                        card("NAXIS   = 2 / free") + card("NAXIS1  = 3") + card("NAXIS2  = 2") +
                        card("END")).ljust(2880, b" ") + samples(8, 6)
    s["refused_bitpix64"] = fits(64, [2, 2], data=b"\0" * 32)
    s["refused_naxis1"] = fits(8, [16], data=samples(8, 16))
    s["simple_f"] = fits(8, [2, 2], data=samples(8, 4)).replace(b"                   T", b"                   F", 1)
    s["not_fits"] = b"P5 2 2 255\n" + bytes(4)
    # Images in extensions, after a primary without data.
    observed = ["OBJECT  = 'M51     '", "TELESCOP= 'HST     '", "BZERO   =              32768.0",
                "DATAMIN =                  0.0"]
    s["mef_grey16_bzero"] = empty_primary(observed) + extension(16, [5, 4], ["BZERO   =              32768.0",
                                                                            "EXTNAME = 'SCI     '"],
                                                               samples(16, 20))
    s["mef_signed16"] = empty_primary(observed) + extension(16, [4, 3], ["INHERIT =                    T"],
                                                           samples(16, 12))
    s["mef_table_then_float"] = (empty_primary() +
                                 extension(8, [6, 2], ["TFIELDS =                    1", "TFORM1  = '6A      '"],
                                           bytes(range(12)) + bytes(9), kind="BINTABLE", pcount=9) +
                                 extension(-32, [], ["EXTNAME = 'EMPTY   '"]) +
                                 extension(8, [7], data=samples(8, 7)) +
                                 extension(-32, [3, 3], ["DATAMAX =                 10.0"], samples(-32, 9)))
    s["mef_rgb32"] = empty_primary() + extension(32, [2, 2, 3], ["BLANK   =           -100000000"],
                                                 samples(32, 12))
    s["mef_naxis4"] = empty_primary() + extension(8, [3, 2, 3, 1], data=samples(8, 18))
    s["mef_compressed"] = empty_primary() + extension(8, [8, 1], ["ZIMAGE  =                    T",
                                                                  "ZBITPIX =                   16"],
                                                      bytes(8) + bytes(4), kind="BINTABLE", pcount=4)
    s["mef_header_only"] = empty_primary(observed)
    s["mef_groups_skipped"] = empty_primary() + extension(16, [2], data=samples(16, 4), kind="A3DTABLE",
                                                          pcount=2, gcount=2) + extension(8, [2, 2],
                                                                                         data=samples(8, 4))
    s["mef_cut_in_table"] = (empty_primary() + extension(8, [100, 100], kind="BINTABLE") +
                             extension(8, [2, 2], data=samples(8, 4)))[:2880 * 3 + 100]
    s["mef_long_headers"] = (empty_primary(["HISTORY primary %d" % i for i in range(40)]) +
                             extension(8, [2, 2], ["HISTORY extension %d" % i for i in range(40)],
                                       samples(8, 4)))
    return s


# The reference host's descriptor handle bytes (host/descriptor.h): "NbDs",
# version 1, the item count, then per item its key, kind and value.
KINDS = {"integer": 0, "floating": 1, "enumerated": 4, "text": 5}


def descriptor(items):
    out = b"NbDs" + struct.pack(">HI", 1, len(items))
    for key, kind, v in items:
        out += key.encode() + bytes([KINDS[kind]])
        if kind == "integer":
            out += struct.pack(">i", v)
        elif kind == "floating":
            out += struct.pack(">d", v)
        elif kind == "enumerated":
            out += v[0].encode() + v[1].encode()
        else:
            out += struct.pack(">I", len(v)) + v.encode("latin-1")
    return out


def with_options(fits_bytes, items, road=0):
    """A read input carrying the open's options: the file, the descriptor,
    its length, the road byte (fuzz_read.cpp)."""
    d = descriptor(items)
    return fits_bytes + d + struct.pack(">I", len(d)) + bytes([road])


def enum(key, etype, value):
    return (key, "enumerated", (etype, value))


def read_option_seeds():
    seeds = read_seeds()
    sky = enum("nbOr", "nbTO", "nbSk")
    s = {}
    s["options_plane2_sky"] = with_options(seeds["cube5"], [enum("nbPl", "nbTP", "nbOn"), ("nbP1", "integer", 2), sky])
    s["options_planes_321"] = with_options(seeds["cube5"], [enum("nbPl", "nbTP", "nbTh"), ("nbP1", "integer", 3),
                                                            ("nbP2", "integer", 2), ("nbP3", "integer", 1)])
    s["options_plane7_of_5"] = with_options(seeds["cube5"], [enum("nbPl", "nbTP", "nbOn"), ("nbP1", "integer", 7)])
    s["options_asinh_zscale"] = with_options(seeds["grey16_bzero"], [enum("nbSt", "nbTS", "nbAs"),
                                                                     enum("nbIv", "nbTI", "nbZs")], road=2)
    s["options_log_percent8"] = with_options(seeds["grey32_blank"], [enum("nbSt", "nbTS", "nbLg"),
                                                                     enum("nbIv", "nbTI", "nbPc"),
                                                                     ("nbPr", "floating", 90.0),
                                                                     enum("nbDp", "nbTD", "nb08")])
    s["options_mtf_points"] = with_options(seeds["floatm32_avisu"], [enum("nbSt", "nbTS", "nbMt"),
                                                                     ("nbBk", "floating", -5.0),
                                                                     ("nbWh", "floating", 8.0),
                                                                     ("nbMd", "floating", 0.2), sky], road=1)
    s["options_mtf_auto_rgb"] = with_options(seeds["rgbm32"], [enum("nbSt", "nbTS", "nbMt")])
    s["options_depth32"] = with_options(seeds["grey16_scaled"], [enum("nbDp", "nbTD", "nb32"), sky])
    s["options_extname"] = with_options(seeds["mef_grey16_bzero"], [("nbXN", "text", "sci"), ("nbXV", "integer", 1),
                                                                    enum("nbSt", "nbTS", "nbSq")])
    s["options_table_hdu"] = with_options(seeds["mef_table_then_float"], [("nbIm", "integer", 1)])
    s["options_last_hdu"] = with_options(seeds["mef_table_then_float"], [("nbIm", "integer", 4),
                                                                         enum("nbSt", "nbTS", "nbLi"),
                                                                         enum("nbIv", "nbTI", "nbMM")])
    bayer = fits(16, [6, 4], ["BZERO   =              32768.0", "BAYERPAT= 'RGGB    '",
                              "ROWORDER= 'BOTTOM-UP'"], samples(16, 24))
    s["options_debayer_sky"] = with_options(bayer, [enum("nbDb", "nbTB", "nbAu"), sky,
                                                    enum("nbSt", "nbTS", "nbAs")])
    s["options_wrong_type"] = with_options(seeds["grey8"], [("nbSt", "integer", 3)])
    return s


def save_seeds():
    """Byte 0 rows, 1 columns, 2 depth/mode, 3 record encoding, then records."""
    s = {}
    kept = ["SIMPLE  =                    T / kept", "BITPIX  =                    8", "NAXIS   =                    2",
            "NAXIS1  =                    4", "NAXIS2  =                    3", "OBJECT  = 'M51     '",
            "BZERO   =                  0.0", "BSCALE  =                  1.0", "DATAMIN =                  0.0",
            "DATAMAX =                255.0", "BLANK   =                  -32", "CHECKSUM= 'x'", "DATASUM = '0'",
            "END"]
    text = "\n".join(kept).encode()
    s["grey8_kept"] = bytes([2, 3, 0 << 3 | 0, 0]) + text
    s["grey16_kept"] = bytes([2, 3, 0 << 3 | 1, 0]) + text
    s["rgb8_kept"] = bytes([4, 5, 1 << 3 | 0, 0]) + text
    s["rgb16_alpha"] = bytes([4, 5, 2 << 3 | 1, 0]) + text
    s["cmyk_kept"] = bytes([1, 1, 3 << 3 | 0, 0]) + text
    rgb = kept[:5] + ["NAXIS3  =                    3", "NAXIS4  =                    1"] + kept[5:]
    s["rgb_naxis3"] = bytes([3, 3, 1 << 3 | 1, 0]) + "\n".join(rgb).encode()
    s["no_end"] = bytes([3, 3, 0, 0]) + "\n".join(kept[:-1]).encode()
    s["no_header"] = bytes([5, 5, 1 << 3 | 1, 0])
    s["not_simple"] = bytes([5, 5, 0, 0]) + b"COMMENT not a header\nEND"
    s["long_header"] = bytes([1, 1, 0, 0]) + "\n".join(kept[:5] + ["HISTORY %d" % i for i in range(100)] +
                                                      ["END"]).encode()
    s["raw_records"] = bytes([2, 2, 1, 1]) + bytes([3]) + b"IMP" + bytes([0]) + bytes([255]) + b"x" * 255
    s["depth1"] = bytes([2, 2, 6, 0]) + text
    s["depth32"] = bytes([2, 2, 7, 0]) + text
    return s


def cards_seeds():
    s = {}
    s["int"] = b"\x05" + b"                  42\0NAXIS1\0^1 ^2\0two"
    s["negative"] = b"\x41" + b"  -32768\0BITPIX\0^2\0x"
    s["real_d"] = b"\x13" + b"  1.5D+02\0BZERO\0requires ^2 or later\0" + b"\0" + b"3.0"
    s["real_exp"] = b"\x80" + b"-2.5e-1 / comment\0BSCALE  \0^0^1^2\0a\0b"
    s["huge"] = b"\xff" + b"99999999999999999999\0END\0^^1\0arg"
    return s


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "fuzz/seeds"
    seeds_of = (("read", read_seeds()), ("read", read_option_seeds()), ("save", save_seeds()), ("cards", cards_seeds()))
    for target, seeds in seeds_of:
        d = os.path.join(out, target)
        os.makedirs(d, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(d, "seed_" + name), "wb") as f:
                f.write(data)
    print("seeds written to", out)


if __name__ == "__main__":
    main()
