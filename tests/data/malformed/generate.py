#!/usr/bin/env python3
"""Writes the malformed FITS files of this directory and expected.tsv, the
outcome the module owes each one when it is opened.

    python3 tests/data/malformed/generate.py        # rewrites the files here

Every file is small. Columns of expected.tsv (tab-separated, one header line):
  file      name of the file here
  result    the read's result code: noErr, userCanceledErr, formatCannotRead,
            eofErr
  selector  the step that fails (ReadStart, ReadContinue), or - for noErr
  message   the text of the one message box the module shows, or empty
  geometry  for noErr: columns x rows x planes @ host depth, else -
The long-header cases (1000+ blocks) are made by tests/malformed_test.cpp
itself rather than stored.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def card(text):
    if isinstance(text, bytes):
        return text[:80].ljust(80, b" ")
    return text[:80].ljust(80).encode("latin-1")


def value(key, v, comment=""):
    text = key.ljust(8) + "= " + str(v).rjust(20)
    if comment:
        text += " / " + comment
    return card(text)


def header(cards, end=True):
    h = b"".join(card(c) if not isinstance(c, bytes) or len(c) != 80 else c for c in cards)
    if end:
        h += card("END")
    return h + b" " * (-len(h) % 2880)


def mandatory(bitpix, axes):
    out = [value("SIMPLE", "T"), value("BITPIX", bitpix), value("NAXIS", len(axes))]
    out += [value("NAXIS%d" % (i + 1), n) for i, n in enumerate(axes)]
    return out


def samples(bitpix, count):
    out = bytearray()
    for i in range(count):
        v = (i * 37 + 11) % 251
        if bitpix == 8:
            out += bytes([v])
        elif bitpix == 16:
            out += struct.pack(">h", v * 100 - 12000)
        elif bitpix == 32:
            out += struct.pack(">i", v * 1000 - 100000)
        else:
            out += struct.pack(">f", v / 8.0)
    return bytes(out)


def padded(data):
    return data + b"\0" * (-len(data) % 2880)


def image(bitpix, axes, extra=(), data=None, pad=True):
    count = 1
    for n in axes[:2]:
        count *= max(n, 0)
    if len(axes) >= 3:
        count *= max(axes[2], 0) if axes[2] < 3 else 3
    if data is None:
        data = samples(bitpix, count)
    body = padded(data) if pad else data
    return header(mandatory(bitpix, axes) + list(extra)) + body


def extension(bitpix, axes, extra=(), data=b"", kind="IMAGE", pcount=0, gcount=1, pad=True):
    cards = [card("XTENSION= '%s'" % kind.ljust(8)), value("BITPIX", bitpix), value("NAXIS", len(axes))]
    cards += [value("NAXIS%d" % (i + 1), n) for i, n in enumerate(axes)]
    cards += [value("PCOUNT", pcount), value("GCOUNT", gcount)] + list(extra)
    return header(cards) + (padded(data) if pad else data)


def empty_primary(extra=()):
    return header(mandatory(16, []) + [value("EXTEND", "T"), value("BZERO", 32768), card("OBJECT  = 'M51'")] +
                  list(extra))


def table(rows=4, heap=b""):
    return extension(8, [6, rows], [value("TFIELDS", 1), card("TFORM1  = '6A'")],
                     bytes(6 * rows) + heap, kind="BINTABLE", pcount=len(heap))


CASES = []


def case(name, data, result="noErr", selector=None, message="", geometry="-"):
    if selector is None:
        selector = "-" if result == "noErr" else "ReadStart"
    CASES.append((name, data, result, selector, message, geometry))


def refused(what):
    return "Fits Files %s are not supported" % what


def build():
    good8 = image(8, [6, 5])
    # ---- Not FITS at all ---------------------------------------------------
    case("empty.fits", b"", "eofErr")
    case("first_card_short.fits", card("SIMPLE  =                    T")[:79], "eofErr")
    case("png_signature.fits", b"\x89PNG\r\n\x1a\n" + bytes(200), "formatCannotRead")
    case("simple_in_column_2.fits", b" " + good8[:-1], "formatCannotRead")
    case("simple_lowercase.fits", b"simple" + good8[6:], "formatCannotRead")
    case("xtension_first.fits", card("XTENSION= 'IMAGE   '") + good8[80:], "formatCannotRead")
    case("simple_no_equals.fits", card("SIMPLE   T") + good8[80:], "formatCannotRead")
    # ---- Headers cut short or never ended ----------------------------------
    case("header_cut_mid_card.fits", good8[:1000], "eofErr")
    case("header_cut_at_card.fits", good8[:80 * 5], "eofErr")
    case("header_block_without_end.fits", header(mandatory(8, [6, 5]), end=False), "eofErr")
    case("no_end_then_data.fits", header(mandatory(8, [6, 5]), end=False) + padded(bytes(30)), "eofErr")
    case("end_not_in_column_1.fits", header(mandatory(8, [2, 2]) + ["   END"], end=False) + padded(bytes(4)),
         "eofErr")
    case("end_in_last_slot.fits", header(mandatory(8, [2, 2]) + ["COMMENT %d" % i for i in range(30)])
         + padded(samples(8, 4)), geometry="2x2x1@8")
    case("end_then_junk_in_block.fits",
         header(mandatory(8, [2, 2]) + ["END", value("BITPIX", 16), "JUNK    = 'after END'"], end=False) +
         padded(samples(8, 4)), geometry="2x2x1@8")
    # ---- Data cut short ------------------------------------------------------
    for bitpix, label in ((8, "8"), (16, "16"), (32, "32"), (-32, "m32")):
        full = image(bitpix, [4, 6], pad=False)
        case("data_cut_half_%s.fits" % label, full[:2880 + len(full[2880:]) // 2], "eofErr", "ReadContinue")
        case("data_short_one_byte_%s.fits" % label, full[:-1], "eofErr", "ReadContinue")
        case("data_unpadded_%s.fits" % label, full,
             geometry="4x6x1@%d" % (8 if bitpix == 8 else 16))
    case("data_missing.fits", header(mandatory(16, [4, 4])), "eofErr", "ReadContinue")
    case("rgb_third_plane_missing.fits", image(8, [4, 3, 3], pad=False)[:2880 + 24], "eofErr", "ReadContinue")
    case("trailing_garbage.fits", good8 + bytes((i * 7 + 3) % 256 for i in range(1000)), geometry="6x5x1@8")
    case("trailing_extension.fits", good8 + header([card("XTENSION= 'IMAGE   '")] + mandatory(8, [2, 2])[1:]),
         geometry="6x5x1@8")
    # ---- NUL bytes and non-ASCII text ----------------------------------------
    case("nul_card_start.fits", header(mandatory(8, [3, 2]) + [b"\0BJECT  = 'x'"]) + padded(samples(8, 6)),
         geometry="3x2x1@8")
    case("nul_in_comment.fits", header(mandatory(8, [3, 2]) + [b"OBJECT  = 'x' / a\0b\0c"]) +
         padded(samples(8, 6)), geometry="3x2x1@8")
    case("nul_value_naxis2.fits",
         header([value("SIMPLE", "T"), value("BITPIX", 8), value("NAXIS", 2), value("NAXIS1", 3),
                 b"NAXIS2  = \0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0" + b"2"]) + padded(samples(8, 6)),
         "userCanceledErr", message=refused("with NAXIS2 = 0"))
    # NULs in a keyword read as the spaces the document's record turns them into:
    # this END ends the header, as it would in the header a save writes back.
    case("nul_in_end_keyword.fits", header(mandatory(8, [])[:2] + [value("NAXIS", 2), b"END" + b"\0" * 5,
                                                                   value("NAXIS1", 3), value("NAXIS2", 2)]) +
         padded(samples(8, 6)), "userCanceledErr", message=refused("without a NAXIS1 card"))
    case("non_ascii_cards.fits", header(mandatory(8, [3, 2]) + [b"OBJEKT\xe9 = '\xe9t\xe9 \xff\x80'",
                                                                 b"\xc3\xa9\xc3\xa8      = 1"]) +
         padded(samples(8, 6)), geometry="3x2x1@8")
    case("non_ascii_bitpix_value.fits",
         header([value("SIMPLE", "T"), b"BITPIX  =                 \xb18", value("NAXIS", 2), value("NAXIS1", 3),
                 value("NAXIS2", 2)]) + padded(samples(8, 6)), "userCanceledErr",
         message=refused("with BITPIX = 0"))
    case("tab_before_value.fits", header([value("SIMPLE", "T"), value("BITPIX", 8), value("NAXIS", 2),
                                          card("NAXIS1  =\t\t\t3"), value("NAXIS2", 2)]) + padded(samples(8, 6)),
         geometry="3x2x1@8")
    # ---- BITPIX --------------------------------------------------------------
    for bitpix in (0, 7, 12, -16, 24, 4294967304, -8):
        case("bitpix_%s.fits" % str(bitpix).replace("-", "m"), image(8, [2, 2], data=bytes(64))
             .replace(value("BITPIX", 8), value("BITPIX", bitpix)), "userCanceledErr",
             message=refused("with BITPIX = %d" % bitpix))
    # 64-bit samples open like 32-bit ones: all zeros have an empty range.
    for bitpix in (64, -64):
        case("bitpix_%s.fits" % str(bitpix).replace("-", "m"), image(8, [2, 2], data=bytes(64))
             .replace(value("BITPIX", 8), value("BITPIX", bitpix)), geometry="2x2x1@16")
    case("bitpix_missing.fits", header([value("SIMPLE", "T"), value("NAXIS", 2), value("NAXIS1", 2),
                                        value("NAXIS2", 2)]) + padded(bytes(4)), "userCanceledErr",
         message=refused("without a BITPIX card"))
    case("bitpix_lowercase_keyword.fits", image(8, [2, 2]).replace(b"BITPIX", b"bitpix", 1), "userCanceledErr",
         message=refused("without a BITPIX card"))
    # ---- NAXIS ----------------------------------------------------------------
    case("naxis_0.fits", header(mandatory(8, [])), "userCanceledErr", message=refused("with NAXIS = 0"))
    case("naxis_1.fits", image(8, [16]), "userCanceledErr", message=refused("with NAXIS = 1"))
    case("naxis_negative.fits", header(mandatory(8, [2, 2]).__getitem__(slice(0, 2)) +
                                       [value("NAXIS", -2), value("NAXIS1", 2), value("NAXIS2", 2)]) +
         padded(bytes(4)), "userCanceledErr", message=refused("with NAXIS = -2"))
    case("naxis_4.fits", image(8, [3, 2, 3, 1], data=samples(8, 18)), geometry="3x2x1@8")
    case("naxis_999.fits", header([value("SIMPLE", "T"), value("BITPIX", 8), value("NAXIS", 999),
                                   value("NAXIS1", 3), value("NAXIS2", 2)]) + padded(samples(8, 6)),
         geometry="3x2x1@8")
    case("naxis_missing.fits", header([value("SIMPLE", "T"), value("BITPIX", 8), value("NAXIS1", 2),
                                       value("NAXIS2", 2)]) + padded(bytes(4)), "userCanceledErr",
         message=refused("without a NAXIS card"))
    # ---- NAXISn ---------------------------------------------------------------
    for n in (0, -5, 32768, 777777701, 4294967298, 99999999999999999999):
        shown = min(n, 2 ** 63 - 1)  # beyond 64 bits values saturate, never wrap
        label = str(n).replace("-", "m")
        case("naxis1_%s.fits" % label, header(mandatory(8, [n, 2])) + padded(bytes(16)), "userCanceledErr",
             message=refused("with NAXIS1 = %d" % shown))
    case("naxis2_4294967298.fits", header(mandatory(8, [2, 4294967298])) + padded(bytes(16)), "userCanceledErr",
         message=refused("with NAXIS2 = 4294967298"))
    case("naxis2_minus_99999999999999999999.fits",
         header(mandatory(8, [2, 2])[:4] + [value("NAXIS2", "-99999999999999999999")]) + padded(bytes(4)),
         "userCanceledErr", message=refused("with NAXIS2 = -9223372036854775808"))
    case("naxis1_missing.fits", header([value("SIMPLE", "T"), value("BITPIX", 8), value("NAXIS", 2),
                                        value("NAXIS2", 2)]) + padded(bytes(4)), "userCanceledErr",
         message=refused("without a NAXIS1 card"))
    case("naxis2_missing.fits", header([value("SIMPLE", "T"), value("BITPIX", 8), value("NAXIS", 2),
                                        value("NAXIS1", 2)]) + padded(bytes(4)), "userCanceledErr",
         message=refused("without a NAXIS2 card"))
    for n3 in (0, -3):
        case("naxis3_%s.fits" % str(n3).replace("-", "m"), header(mandatory(8, [2, 2, n3])) + padded(bytes(4)),
             "userCanceledErr", message=refused("with NAXIS3 = %d" % n3))
    case("naxis3_4294967299.fits", header(mandatory(8, [2, 2, 4294967299])) + padded(samples(8, 12)),
         geometry="2x2x3@8")
    case("too_large_for_host.fits", header(mandatory(16, [32767, 32767, 3])), "userCanceledErr",
         message=refused("with more than 2 GB of image data"))
    case("random_groups.fits", header(mandatory(16, [0, 3, 2]) + [value("GROUPS", "T"), value("PCOUNT", 0),
                                                                    value("GCOUNT", 1)]) + padded(bytes(12)),
         "userCanceledErr", message=refused("with NAXIS1 = 0"))
    # ---- Duplicated and conflicting keywords: the last card counts ------------
    case("naxis1_twice.fits", header(mandatory(8, [2, 2]) + [value("NAXIS1", 4)]) + padded(samples(8, 8)),
         geometry="4x2x1@8")
    case("bitpix_8_then_16.fits", header(mandatory(8, [3, 2]) + [value("BITPIX", 16)]) + padded(samples(16, 6)),
         geometry="3x2x1@16")
    case("naxis_2_then_3.fits", header(mandatory(8, [2, 2]) + [value("NAXIS3", 3), value("NAXIS", 3)]) +
         padded(samples(8, 12)), geometry="2x2x3@8")
    case("naxis_3_then_2.fits", header(mandatory(8, [2, 2, 3]) + [value("NAXIS", 2)]) + padded(samples(8, 12)),
         geometry="2x2x1@8")
    case("naxis1_valid_then_0.fits", header(mandatory(8, [2, 2]) + [value("NAXIS1", 0)]) + padded(bytes(4)),
         "userCanceledErr", message=refused("with NAXIS1 = 0"))
    case("naxis1_0_then_valid.fits", header(mandatory(8, [0, 2]) + [value("NAXIS1", 3)]) + padded(samples(8, 6)),
         geometry="3x2x1@8")
    # What follows END's block is data, whatever it looks like.
    case("size_cards_after_end_block.fits", header(mandatory(8, [2, 2])) + header([value("NAXIS1", 7)]),
         geometry="2x2x1@8")
    # ---- Values that are not what they claim ----------------------------------
    case("simple_false.fits", image(8, [3, 2]).replace(value("SIMPLE", "T"), value("SIMPLE", "F")),
         geometry="3x2x1@8")
    case("bzero_overflow.fits", image(16, [3, 2], [value("BZERO", "1.0E+400")]), geometry="3x2x1@16")
    case("bscale_garbage.fits", image(16, [3, 2], [card("BSCALE  = 'two'")]), geometry="3x2x1@16")
    case("blank_everywhere_32.fits", image(32, [2, 2], [value("BLANK", 7)], data=struct.pack(">iiii", 7, 7, 7, 7)),
         geometry="2x2x1@16")
    case("all_nan_m32.fits", image(-32, [2, 2], data=struct.pack(">ffff", *([float("nan")] * 4))),
         geometry="2x2x1@16")
    case("datamin_above_datamax_32.fits", image(32, [2, 2], [value("DATAMIN", "100.0"), value("DATAMAX", "-100.0")]),
         geometry="2x2x1@16")
    case("float_infinities.fits", image(-32, [2, 2], data=struct.pack(">ffff", float("inf"), -float("inf"),
                                                                       1.0, 3.0)), geometry="2x2x1@16")


    # ---- Images in extensions, and files that only look like they have one ------
    image8 = extension(8, [3, 2], data=samples(8, 6))
    case("mef_header_only.fits", empty_primary(), "userCanceledErr", message=refused("with NAXIS = 0"))
    case("mef_tables_only.fits", empty_primary() + table() + table(2, b"heap"), "userCanceledErr",
         message=refused("with NAXIS = 0"))
    case("mef_one_axis_image_only.fits", empty_primary() + extension(16, [5], data=samples(16, 5)),
         "userCanceledErr", message=refused("with NAXIS = 0"))
    case("mef_garbage_after_primary.fits", empty_primary() + bytes(range(256)) * 12 + image8, "userCanceledErr",
         message=refused("with NAXIS = 0"))
    case("mef_last_table_unpadded.fits", empty_primary() + table(3, b"xy")[:-2880 + 20], "userCanceledErr",
         message=refused("with NAXIS = 0"))
    case("mef_image_after_table.fits", empty_primary() + table(3, b"abc") + image8, geometry="3x2x1@8")
    case("mef_image_after_empty_image.fits", empty_primary() + extension(-32, []) + image8, geometry="3x2x1@8")
    case("mef_primary_without_bitpix.fits", header([value("SIMPLE", "T"), value("NAXIS", 0)]) + image8,
         geometry="3x2x1@8")
    case("mef_primary_bitpix_m64.fits", header(mandatory(-64, [])) + image8, geometry="3x2x1@8")
    case("mef_compressed.fits", empty_primary() + extension(8, [8, 1], [value("ZIMAGE", "T"),
                                                                        value("ZBITPIX", 16)],
                                                            bytes(12), kind="BINTABLE", pcount=4) + image8,
         # A compressed image's table without ZCMPTYPE, ZNAXIS or columns.
         "userCanceledErr", message=refused("with a compressed image whose table is unusable (missing keyword)"))
    case("mef_compressed_false.fits", empty_primary() + extension(8, [8, 1], [value("ZIMAGE", "F")], bytes(8),
                                                                  kind="BINTABLE") + image8, geometry="3x2x1@8")
    case("mef_cut_in_extension_header.fits", (empty_primary() + image8)[:2880 + 80 * 4 + 13], "eofErr")
    case("mef_cut_at_extension_card.fits", (empty_primary() + image8)[:2880 + 80 * 9], "eofErr")
    case("mef_cut_in_table_data.fits", (empty_primary() + table(100) + image8)[:2880 * 2 + 300], "eofErr")
    case("mef_cut_in_image_data.fits", (empty_primary() + extension(16, [4, 6], data=samples(16, 24)))
         [:2880 * 2 + 30], "eofErr", "ReadContinue")
    case("mef_table_without_naxis2.fits",
         empty_primary() + header([card("XTENSION= 'BINTABLE'"), value("BITPIX", 8), value("NAXIS", 2),
                                   value("NAXIS1", 6), value("PCOUNT", 0), value("GCOUNT", 1)]) + image8,
         "userCanceledErr", message=refused("with an extension of unknown size"))
    case("mef_table_negative_pcount.fits", empty_primary() + extension(8, [6, 1], data=bytes(6), kind="BINTABLE",
                                                                       pcount=-7) + image8,
         "userCanceledErr", message=refused("with an extension of unknown size"))
    # 3 GB of table the file does not hold: the walk goes past it (files past
    # 2 GiB are reached) and finds the file ends first.
    case("mef_table_beyond_2gb.fits", empty_primary() + extension(8, [1000000, 3000], kind="BINTABLE") + image8,
         "eofErr")
    case("mef_table_size_overflows.fits",
         empty_primary() + extension(8, [2 ** 62, 2 ** 62], kind="BINTABLE") + image8,
         "userCanceledErr", message=refused("with an extension of unknown size"))
    case("mef_image_bitpix_64.fits", empty_primary() + extension(64, [2, 2], data=bytes(32)), geometry="2x2x1@16")
    case("mef_image_naxis1_0.fits", empty_primary() + extension(8, [0, 2]), "userCanceledErr",
         message=refused("with NAXIS1 = 0"))
    case("mef_image_without_end.fits", empty_primary() + header([card("XTENSION= 'IMAGE'"), value("BITPIX", 8),
                                                                  value("NAXIS", 2), value("NAXIS1", 2),
                                                                  value("NAXIS2", 2)], end=False), "eofErr")


def main():
    build()
    for name in os.listdir(HERE):
        if name.endswith(".fits"):
            os.remove(os.path.join(HERE, name))
    rows = ["file\tresult\tselector\tmessage\tgeometry"]
    for name, data, result, selector, message, geometry in CASES:
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)
        rows.append("\t".join((name, result, selector, message, geometry)))
    with open(os.path.join(HERE, "expected.tsv"), "w") as f:
        f.write("\n".join(rows) + "\n")
    print("%d files" % len(CASES))


if __name__ == "__main__":
    main()
