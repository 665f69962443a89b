#!/usr/bin/python3
"""Seeds for fuzz_options: command lines for both faces, and descriptor
records for both (see fuzz_options.cpp for the input format). No
dependencies; run from the repository root: python3 fuzz/make_options_seeds.py"""
import hashlib
import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "options")

OPEN_LINES = [
    ["--image", "SCI,2", "--plane", "3", "--orientation", "sky"],
    ["--image", "'O''Brien, J',-1", "--planes", "3,2,1"],
    ["--image", "7", "--stretch", "asinh", "--interval", "99.5%"],
    ["--stretch", "mtf", "--black", "-12.5", "--white", "3e4", "--midtone", "0.0625"],
    ["--stretch", "log", "--interval", "zscale", "--depth", "8"],
    ["--stretch", "sqrt", "--interval", "minmax", "--depth", "16"],
    ["--debayer", "RGGB", "--demosaic", "quality", "--image", "auto"],
    ["--debayer", "auto", "--depth", "32", "--planes", "auto"],
    ["--image", "'123'", "--black", "1", "--interval", "90"],
]
SAVE_LINES = [
    ["--compress", "rice", "--tile", "16x1024", "--quantize", "4"],
    ["--compress", "hcompress", "--tile", "auto", "--orientation", "sky"],
    ["--compress", "gzip2", "--bitpix", "-32", "--quantize", "0"],
    ["--compress", "gzip1", "--bitpix", "original", "--tile", "1x100"],
]


def save(data):
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, hashlib.sha1(data).hexdigest()), "wb") as f:
        f.write(data)


def record(selector, kind, payload):
    return bytes([selector, kind]) + payload


def main():
    for line in OPEN_LINES:
        save(b"\x00" + b"\x00".join(t.encode() for t in line))
    for line in SAVE_LINES:
        save(b"\x01" + b"\x00".join(t.encode() for t in line))
    # Descriptor records: selector (index into the key table), type
    # (0 integer, 1 float, 2 boolean, 3 enumerated, 4 text), 8 payload bytes.
    integer = lambda v: struct.pack("<iI", v, 0)
    number = lambda v: struct.pack("<d", v)
    enumerated = lambda i: bytes([0, 0, 0, 0, 0, 0, i, 0])
    text = lambda s: bytes([len(s)]) + bytes(7) + s
    for records in (
        [record(1, 4, text(b"SCI")), record(2, 0, integer(2)), record(3, 3, enumerated(2)),
         record(4, 0, integer(3)), record(5, 0, integer(1)), record(6, 0, integer(2))],
        [record(0, 0, integer(5)), record(8, 3, enumerated(5)), record(9, 3, enumerated(4)),
         record(11, 1, number(-3.5)), record(12, 1, number(1200.25)), record(13, 1, number(0.125))],
        [record(8, 3, enumerated(2)), record(9, 3, enumerated(3)), record(10, 1, number(97.0)),
         record(14, 3, enumerated(1)), record(15, 3, enumerated(2)), record(16, 3, enumerated(1))],
    ):
        save(b"\x02" + b"".join(records))
    for records in (
        [record(7, 3, enumerated(1)), record(17, 3, enumerated(1)), record(18, 3, enumerated(4)),
         record(19, 0, integer(16)), record(20, 0, integer(64)), record(21, 1, number(4.0))],
        [record(18, 3, enumerated(1)), record(21, 1, number(0.0))],
    ):
        save(b"\x03" + b"".join(records))
    # The module's own entry bytes (what it keeps in revertInfo), after 0xFF:
    # "NbOp", version 1, count, then key, type (0 integer, 1 floating,
    # 2 boolean, 3 enumerated, 4 text) and value, big-endian.
    def entry(key, kind, payload):
        return key + bytes([kind]) + payload
    for entries in (
        [entry(b"nbIm", 0, struct.pack(">i", 1)), entry(b"nbPl", 3, b"nbTPnbOn"), entry(b"nbP1", 0, struct.pack(">i", 2)),
         entry(b"nbOr", 3, b"nbTOnbSk"), entry(b"nbDp", 3, b"nbTDnb16")],
        [entry(b"nbXN", 4, bytes([3]) + b"SCI"), entry(b"nbXV", 0, struct.pack(">i", 2)), entry(b"nbSt", 3, b"nbTSnbAs"),
         entry(b"nbIv", 3, b"nbTInbPt"), entry(b"nbBk", 1, struct.pack(">d", -3.5)), entry(b"nbWh", 1, struct.pack(">d", 1e4)),
         entry(b"nbMd", 1, struct.pack(">d", 0.25))],
        [entry(b"nbDb", 3, b"nbTBRGGB"), entry(b"nbDm", 3, b"nbTMnbQu"), entry(b"fooB", 2, b"\x01")],
        [],
    ):
        save(b"\xffNbOp\x01" + bytes([len(entries)]) + b"".join(entries))


if __name__ == "__main__":
    main()
