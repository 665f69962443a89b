#!/usr/bin/python3
"""Checks the registration resources a host finds in a built module.

  pipl_resources_check.py elf Nebulite.so
  pipl_resources_check.py pe Nebulite.8bi MACHINE [--same-as Nebulite.so]
  pipl_resources_check.py self-test Nebulite.so

elf: the PiPL and terminology in the ELF sections .pipl and .aete.
pe:  the PIPL and AETE resources (id 16000, language 3081), the string table,
     the PE machine (0x14c or 0x8664), the exports (ENTRYPOINT alone) and the
     imports (system DLLs only, the Win32 calls the module is built on).
     --same-as also demands the very bytes of the POSIX module's sections.
self-test: damages the module's resources in the ways a faulty encoder would
     and demands that every damage is caught.

The expected values are written out here byte by byte rather than taken from
resources/definition.py, so a fault in the definition or in the generator
shows up as a difference. Reads files only: nothing of the module runs.
pefile is needed for pe (Debian's python3-pefile, hence /usr/bin/python3).
"""

import struct
import sys

# ---- Expected values ----------------------------------------------------------

VENDOR = b"MIB8"  # '8BIM' as a 32-bit little-endian integer
# A reserved 16-bit word 1, the list version 0, the property count.
PIPL_HEADER = struct.pack("<hii", 1, 0, 17)
PIPL_HEADER_LENGTH = len(PIPL_HEADER)

# key as stored, data as stored (before padding), what it means
EXPECTED_PIPL = [
    (b"dnik", b"FIB8", "kind: Photoshop format module '8BIF'"),
    (b"eman", b"\x08Nebulite", "name: Pascal string"),
    (b"srev", b"\x00\x00\x01\x00", "version 1.0: 1 in the high 16 bits"),
    (None, b"ENTRYPOINT\x00", "entry point, under the code property of the target"),
    (b"mtsh",
     b"\x00\x00\x00\x00" + b"STIF" + b"llun" + struct.pack("<h", 16000)
     + b"Quasarine Nebulite\x00",
     "has terminology: version 0, class 'FITS', event 'null', id 16000, scope"),
    (b"edom", b"\xff\xc0", "modes: the ten 8-bit modes, no 16-bit ones"),
    (b"lbne", b"in (PSHOP_ImageMode, BitmapMode, GrayScaleMode, IndexedMode, RGBMode, CMYKMode, "
              b"HSLMode, HSBMode, MultichannelMode, DuotoneMode, LabMode, Gray16Mode, RGB48Mode, "
              b"Lab48Mode, CMYK64Mode, DeepMultichannelMode, Duotone16Mode, Gray32Mode, RGB96Mode)\x00",
     "enabled for every mode, 32-bit grey and RGB among them: a C string"),
    (b"CTmf", b"F1B8" + b"MIB8", "file type '8B1F', creator '8BIM'"),
    (b"Ttff", b"F1B8" + b"    ", "file type list: '8B1F', creator blank"),
    (b"xEdR", b"FTS FIT FITSFI* " + b" STF TIFSTIF *IF", "read extensions, in reading order, then as integers"),
    (b"xErW", b"FTS FIT FITSFI* " + b" STF TIFSTIF *IF", "write extensions, both ways"),
    (b"Etff", b"GZ  FZ  " + b"  ZG  ZF", "extensions offered through FilterFile, both ways"),
    (b"ftmf", b"\x78", "format flags"),
    (b"zsxm", struct.pack("<hh", 32767, 32767), "largest image: rows, columns"),
    (b"23sm", struct.pack("<ii", 300000, 300000), "largest image with 32-bit geometry: rows, columns"),
    (b"mlsf", struct.pack("<i", 4096), "largest file, in gigabytes"),
    (b"hcxm", struct.pack("<12h", 1, *[24] * 11), "most channels per mode"),
]

# The code property by pointer width: 'wx86' for x86, '8664' for x86-64.
CODE_PROPERTY = {32: b"68xw", 64: b"4668"}
MACHINE_BITS = {0x14c: 32, 0x8664: 64}


def expected_pipl(bits):
    return [(CODE_PROPERTY[bits] if key is None else key, value, meaning)
            for key, value, meaning in EXPECTED_PIPL]


MODE_NAMES = ["Bitmap", "Grayscale", "Indexed", "RGB", "CMYK", "HSL", "HSB",
              "Multichannel", "Duotone", "Lab", "Gray16", "RGB48"]
SUPPORTED_MODES = MODE_NAMES[:10]
# The documents a host offers Save As for, as the enable condition names
# them: the mode bits' ten, the 16-bit modes (offered while the condition
# was "true") and the 32-bit grey and RGB documents, which no mode bit names.
ENABLED_MODES = {"BitmapMode", "GrayScaleMode", "IndexedMode", "RGBMode", "CMYKMode", "HSLMode",
                 "HSBMode", "MultichannelMode", "DuotoneMode", "LabMode", "Gray16Mode", "RGB48Mode",
                 "Lab48Mode", "CMYK64Mode", "DeepMultichannelMode", "Duotone16Mode", "Gray32Mode",
                 "RGB96Mode"}
FORMAT_FLAG_NAMES = ["reads all types", "saves image resources", "can read", "can write",
                     "can write if read"]
SET_FORMAT_FLAGS = FORMAT_FLAG_NAMES[1:]

# Four-character ids in the terminology are stored like the PiPL's: 32-bit
# little-endian integers, so 'FITS' is the bytes "STIF".
def stored(code):
    return code.encode("ascii")[::-1]


# The host's property flags: a single read-write value, and one taken from an
# enumeration.
SINGLE = 0x1000
ENUMERATED = 0x3000

# Every key the module's descriptors use, after the two from before there
# were options: name, key, type, description, flags.
OPTION_PROPERTIES = [
    ("image", "nbIm", "long", "HDU number of the image, 0 the primary", SINGLE),
    ("extension name", "nbXN", "TEXT", "EXTNAME of the image's HDU", SINGLE),
    ("extension version", "nbXV", "long", "EXTVER of the image's HDU", SINGLE),
    ("planes", "nbPl", "nbTP", "which planes of a cube open", ENUMERATED),
    ("first plane", "nbP1", "long", "plane for grey or red, from 1", SINGLE),
    ("second plane", "nbP2", "long", "plane for green, from 1", SINGLE),
    ("third plane", "nbP3", "long", "plane for blue, from 1", SINGLE),
    ("orientation", "nbOr", "nbTO", "which row is at the top", ENUMERATED),
    ("stretch", "nbSt", "nbTS", "how samples become 8- or 16-bit levels", ENUMERATED),
    ("interval", "nbIv", "nbTI", "the values the stretch runs from black to white", ENUMERATED),
    ("central percentage", "nbPr", "doub", "values kept between black and white", SINGLE),
    ("black point", "nbBk", "doub", "physical value shown black", SINGLE),
    ("white point", "nbWh", "doub", "physical value shown white", SINGLE),
    ("midtones balance", "nbMd", "doub", "mtf's midtones balance, 0 to 1", SINGLE),
    ("depth", "nbDp", "nbTD", "bits per channel of the document", ENUMERATED),
    ("debayer", "nbDb", "nbTB", "colour-filter pattern to demosaic", ENUMERATED),
    ("demosaic method", "nbDm", "nbTM", "how missing colours are found", ENUMERATED),
    ("floating point bitpix", "nbFB", "nbTF", "BITPIX of a 32-bit document", ENUMERATED),
    ("compression", "nbCm", "nbTC", "tile compression of the image", ENUMERATED),
    ("tile rows", "nbRw", "long", "rows of a compression tile", SINGLE),
    ("tile columns", "nbCl", "long", "columns of a compression tile", SINGLE),
    ("quantize level", "nbQz", "doub", "floating-point quantization, 0 exact", SINGLE),
]

# Each enumeration: its type, then its values' names and codes (descriptions
# are held to the option model's by the module's build).
ENUMERATIONS = [
    ("nbTP", [("auto", "nbAu"), ("one", "nbOn"), ("three", "nbTh")]),
    ("nbTO", [("stored", "nbSd"), ("sky", "nbSk")]),
    ("nbTS", [("range", "nbRn"), ("linear", "nbLi"), ("sqrt", "nbSq"), ("log", "nbLg"),
              ("asinh", "nbAs"), ("mtf", "nbMt")]),
    ("nbTI", [("auto", "nbAu"), ("minmax", "nbMM"), ("zscale", "nbZs"), ("percent", "nbPc"),
              ("points", "nbPt")]),
    ("nbTD", [("auto", "nbAu"), ("8", "nb08"), ("16", "nb16"), ("32", "nb32")]),
    ("nbTB", [("off", "nbOf"), ("auto", "nbAu"), ("RGGB", "nbRG"), ("BGGR", "nbBG"),
              ("GRBG", "nbGR"), ("GBRG", "nbGB")]),
    ("nbTM", [("bilinear", "nbBl"), ("quality", "nbQl")]),
    ("nbTF", [("original", "nbOg"), ("-32", "nbF3")]),
    ("nbTC", [("none", "nbNo"), ("rice", "nbRi"), ("gzip1", "nbG1"), ("gzip2", "nbG2"),
              ("hcompress", "nbHC")]),
]

EXPECTED_AETE = {
    "version": 1,
    "terminology_version": (1, 0),
    "language": 0,
    "script": 0,
    "suites": [{
        "name": b"Quasarine plug-ins",
        "description": b"Quasarine plug-ins",
        "id": b"STIF",
        "level": 1,
        "version": 1,
        "events": 0,
        "classes": [{
            "name": b" Nebulite",
            "id": b"STIF",
            "description": b"A FITS Format Plugin for PC Photoshop",
            "properties": [
                (b"<Inheritance>", b"^#@c", b" tmF", b"parent class format", 0x1000),
                (b"foo", b"Boof", b"loob", b"foobar", 0x1000),
                (b"bar", b"Frab", b"loob", b"foobar", 0x1000),
            ] + [(name.encode(), stored(key), stored(kind), description.encode(), flags)
                 for name, key, kind, description, flags in OPTION_PROPERTIES],
            "elements": 0,
        }],
        "comparison_operators": 0,
        "enumerations": [(stored(kind), [(name.encode(), stored(code)) for name, code in values])
                         for kind, values in ENUMERATIONS],
    }],
}
AETE_LENGTH = 2812

EXPECTED_STRINGS = {
    16000: ("Nebulite\n\nVersion 1.0.0\n"
            "Copyright \u00a9 2026 the Nebulite developers.\n"
            "All rights reserved.\n\n"
            "FITS format plug-in for Adobe Photoshop on the PC, version 5.0 and later\u00ae"),
    16001: "",
    16992: "This plug-in requires Adobe Photoshop\u00ae ^1 or later functionality.",
    16993: "This plug-in is incompatible with this version of the host program.",
}

LANGUAGE = 3081  # English (Australia)
# gdi32 draws the open dialog's preview and histogram.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll"}
# The dialog templates (RT_DIALOG, extended): id, caption, and the id of
# every control a user presses or the dialog code looks up, in order (labels,
# id -1, left out).
RT_DIALOG = 5
EXPECTED_DIALOGS = {
    16100: ("Nebulite: open FITS", list(range(1001, 1022)) + [1, 2]),
    16101: ("Nebulite: save FITS", list(range(1022, 1033)) + [1, 2]),
}
# The Win32 calls the module is written against; each must come from the
# system, not from a stand-in linked into the module.
REQUIRED_IMPORTS = {
    "kernel32.dll": {"_lread", "_lwrite", "_llseek", "GlobalAlloc", "GlobalLock",
                     "GlobalUnlock", "GlobalFree", "GlobalHandle", "GlobalSize"},
    "user32.dll": {"LoadStringA", "MessageBoxA",
                   # the dialogs: shown from their templates, their controls
                   # read and set, the preview's timer and painting
                   "DialogBoxParamA", "EndDialog", "GetDlgItem", "SendDlgItemMessageA", "SetDlgItemTextA",
                   "GetDlgItemTextA", "EnableWindow", "InvalidateRect", "SetTimer", "KillTimer", "FillRect",
                   "DrawTextA"},
    # the preview and histogram, scaled into their frames
    "gdi32.dll": {"StretchDIBits", "SetStretchBltMode", "CreateSolidBrush", "DeleteObject"},
}


# ---- Result keeping ---------------------------------------------------------------


class Checks:
    def __init__(self, label):
        self.label = label
        self.passed = 0
        self.failures = []

    def equal(self, what, actual, expected):
        if actual == expected:
            self.passed += 1
        else:
            self.failures.append("%s: %s: got %r, expected %r" % (self.label, what, actual,
                                                                   expected))

    def true(self, what, condition, detail=""):
        self.equal(what + (" (%s)" % detail if detail else ""), bool(condition), True)


class Malformed(Exception):
    pass


class Reader:
    def __init__(self, data):
        self.data = data
        self.at = 0

    def take(self, n):
        if self.at + n > len(self.data):
            raise Malformed("%d bytes wanted at offset %d of %d" % (n, self.at, len(self.data)))
        out = self.data[self.at:self.at + n]
        self.at += n
        return out

    def int16(self):
        return struct.unpack("<h", self.take(2))[0]

    def int32(self):
        return struct.unpack("<i", self.take(4))[0]

    def pascal(self):
        return self.take(self.take(1)[0])


# ---- Decoding -------------------------------------------------------------------------


def decode_pipl(data):
    r = Reader(data)
    header = r.take(PIPL_HEADER_LENGTH)
    count = struct.unpack("<i", header[6:])[0]
    props = []
    for _ in range(count):
        vendor, key = r.take(4), r.take(4)
        ident, length = r.int32(), r.int32()
        if length < 0:
            raise Malformed("negative property length")
        value = r.take(length)
        padding = r.take(-length % 4)
        props.append({"vendor": vendor, "key": key, "id": ident, "length": length,
                      "data": value, "padding": padding})
    return header, props, len(data) - r.at


def decode_aete(data):
    r = Reader(data)
    out = {"version": r.int16(), "terminology_version": tuple(r.take(2)),
           "language": r.int16(), "script": r.int16(), "suites": []}
    for _ in range(r.int16()):
        suite = {"name": r.pascal(), "description": r.pascal(), "id": r.take(4),
                 "level": r.int16(), "version": r.int16(), "events": r.int16()}
        if suite["events"]:
            raise Malformed("events present; this reader does not decode them")
        suite["classes"] = []
        for _ in range(r.int16()):
            cls = {"name": r.pascal(), "id": r.take(4), "description": r.pascal(),
                   "properties": []}
            for _ in range(r.int16()):
                cls["properties"].append((r.pascal(), r.take(4), r.take(4), r.pascal(),
                                          r.int16() & 0xFFFF))
            cls["elements"] = r.int16()
            suite["classes"].append(cls)
        suite["comparison_operators"] = r.int16()
        if suite["comparison_operators"]:
            raise Malformed("comparison operators present; this reader does not decode them")
        suite["enumerations"] = []
        for _ in range(r.int16()):
            kind = r.take(4)
            values = []
            for _ in range(r.int16()):
                values.append((r.pascal(), r.take(4), r.pascal()))
            suite["enumerations"].append((kind, values))
        out["suites"].append(suite)
    return out, len(data) - r.at


def flags_set(flag_bytes, names):
    return [name for i, name in enumerate(names)
            if i // 8 < len(flag_bytes) and flag_bytes[i // 8] & (0x80 >> (i % 8))]


def enabled_modes(condition):
    """The modes an enable condition of the form `in (PSHOP_ImageMode, M, ...)`
    admits, read as a host's expression parser reads it: words and commas
    between the parentheses, the C string's NUL at the end; None for any
    other form."""
    if not condition.endswith(b"\0"):
        return None
    text = condition[:-1].decode("latin-1")
    head, _, rest = text.partition("(")
    if head.strip() != "in" or not rest.endswith(")"):
        return None
    words = [w.strip() for w in rest[:-1].split(",")]
    if words[0] != "PSHOP_ImageMode" or not all(w.isidentifier() for w in words):
        return None
    return set(words[1:])


# ---- Checks of the two resources ----------------------------------------------------------


def check_pipl(c, data, bits):
    expected = expected_pipl(bits)
    try:
        header, props, left = decode_pipl(data)
    except Malformed as e:
        c.true("PiPL decodes", False, str(e))
        return
    c.equal("PiPL header (reserved 1, version 0, 17 properties)", header, PIPL_HEADER)
    c.equal("PiPL bytes after the last property", left, 0)
    c.equal("PiPL keys in order", [p["key"] for p in props], [e[0] for e in expected])
    for prop, (key, value, meaning) in zip(props, expected):
        name = key[::-1].decode("latin-1")
        c.equal("%s vendor" % name, prop["vendor"], VENDOR)
        c.equal("%s property id" % name, prop["id"], 0)
        c.equal("%s length (unpadded)" % name, prop["length"], len(value))
        c.equal("%s: %s" % (name, meaning), prop["data"], value)
        c.equal("%s padding to 4 bytes with zeros" % name, prop["padding"],
                b"\0" * (-len(value) % 4))
    by_key = {p["key"]: p["data"] for p in props}
    # The same facts once more as a host reads them, so that a wrong table
    # above and a wrong resource cannot agree by accident.
    if b"edom" in by_key:
        c.equal("modes offered", flags_set(by_key[b"edom"], MODE_NAMES), SUPPORTED_MODES)
    if b"lbne" in by_key:
        c.equal("modes the enable condition admits", enabled_modes(by_key[b"lbne"]), ENABLED_MODES)
    if b"ftmf" in by_key:
        c.equal("format flags set", flags_set(by_key[b"ftmf"], FORMAT_FLAG_NAMES),
                SET_FORMAT_FLAGS)
    if b"zsxm" in by_key and len(by_key[b"zsxm"]) == 4:
        c.equal("largest image", struct.unpack("<hh", by_key[b"zsxm"]), (32767, 32767))
    if b"hcxm" in by_key and len(by_key[b"hcxm"]) == 24:
        c.equal("channel limits by mode", dict(zip(MODE_NAMES, struct.unpack("<12h",
                                                                            by_key[b"hcxm"]))),
                dict(zip(MODE_NAMES, [1] + [24] * 11)))
    if b"dnik" in by_key and len(by_key[b"dnik"]) == 4:
        c.equal("kind as an integer", struct.unpack("<I", by_key[b"dnik"])[0],
                int.from_bytes(b"8BIF", "big"))
    if b"mtsh" in by_key:
        c.equal("terminology scope", by_key[b"mtsh"][14:], b"Quasarine Nebulite\0")


def check_aete(c, data, bits=None):
    c.equal("terminology length", len(data), AETE_LENGTH)
    try:
        decoded, left = decode_aete(data)
    except Malformed as e:
        c.true("terminology decodes", False, str(e))
        return
    c.equal("terminology bytes after the last suite", left, 0)
    for key in ("version", "terminology_version", "language", "script"):
        c.equal("terminology %s" % key, decoded[key], EXPECTED_AETE[key])
    c.equal("suite count", len(decoded["suites"]), 1)
    for suite, want in zip(decoded["suites"], EXPECTED_AETE["suites"]):
        for key in ("name", "description", "id", "level", "version", "events",
                    "comparison_operators"):
            c.equal("suite %s" % key, suite[key], want[key])
        c.equal("enumeration types in order", [e[0] for e in suite["enumerations"]],
                [e[0] for e in want["enumerations"]])
        for (kind, values), (_, want_values) in zip(suite["enumerations"], want["enumerations"]):
            label = kind[::-1].decode("latin-1")
            c.equal("enumeration %s values (name, code)" % label,
                    [(name, code) for name, code, _ in values], want_values)
            c.true("enumeration %s values described" % label,
                   all(description for _, _, description in values))
        c.equal("class count", len(suite["classes"]), 1)
        for cls, want_cls in zip(suite["classes"], want["classes"]):
            for key in ("name", "id", "description", "elements"):
                c.equal("class %s" % key, cls[key], want_cls[key])
            c.equal("class property count", len(cls["properties"]), len(want_cls["properties"]))
            for got, expected in zip(cls["properties"], want_cls["properties"]):
                label = expected[0].decode()
                for i, part in enumerate(("name", "key", "type", "description", "flags")):
                    c.equal("property %s %s" % (label, part), got[i], expected[i])


# ---- Containers ------------------------------------------------------------------------------


def elf_sections(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"\x7fELF":
        raise Malformed("%s is not an ELF file" % path)
    is64 = data[4] == 2
    endian = "<" if data[5] == 1 else ">"
    if is64:
        shoff, = struct.unpack_from(endian + "Q", data, 0x28)
        shentsize, shnum, shstrndx = struct.unpack_from(endian + "HHH", data, 0x3A)
    else:
        shoff, = struct.unpack_from(endian + "I", data, 0x20)
        shentsize, shnum, shstrndx = struct.unpack_from(endian + "HHH", data, 0x2E)

    def header(i):
        base = shoff + i * shentsize
        if is64:
            name, kind, _, _, offset, size = struct.unpack_from(endian + "IIQQQQ", data, base)
        else:
            name, kind, _, _, offset, size = struct.unpack_from(endian + "IIIIII", data, base)
        return name, kind, offset, size

    _, _, str_offset, _ = header(shstrndx)
    sections = {}
    for i in range(shnum):
        name, kind, offset, size = header(i)
        end = data.index(b"\0", str_offset + name)
        sections[data[str_offset + name:end].decode("latin-1")] = (
            kind, data[offset:offset + size])
    return sections


def elf_bits(path):
    with open(path, "rb") as f:
        return 64 if f.read(5)[4] == 2 else 32


def check_elf(path):
    c = Checks(path)
    sections = elf_sections(path)
    for name, check in ((".pipl", check_pipl), (".aete", check_aete)):
        c.true("section %s present" % name, name in sections)
        if name in sections:
            kind, data = sections[name]
            c.equal("section %s holds file bytes (PROGBITS)" % name, kind, 1)
            check(c, data, elf_bits(path))
    return c, sections


def pe_resources(pe):
    out = {}
    for rtype in getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None).entries:
        type_key = str(rtype.name) if rtype.name is not None else rtype.id
        for entry in rtype.directory.entries:
            ident = str(entry.name) if entry.name is not None else entry.id
            for lang in entry.directory.entries:
                size = lang.data.struct.Size
                out[(type_key, ident, lang.id)] = pe.get_data(lang.data.struct.OffsetToData, size)
    return out


def string_table(resources, c):
    strings = {}
    for (rtype, block, lang), data in resources.items():
        if rtype != 6:
            continue
        c.equal("string block %s language" % block, lang, LANGUAGE)
        r = Reader(data)
        for i in range(16):
            n = struct.unpack("<H", r.take(2))[0]
            if n:
                strings[(block - 1) * 16 + i] = r.take(2 * n).decode("utf-16-le")
    return strings


def sz_or_ord(r):
    """A DLGTEMPLATEEX name: 0 none, 0xFFFF then an ordinal, or UTF-16 text."""
    first = struct.unpack("<H", r.take(2))[0]
    if first == 0:
        return ""
    if first == 0xFFFF:
        return struct.unpack("<H", r.take(2))[0]
    out = [first]
    while True:
        unit = struct.unpack("<H", r.take(2))[0]
        if unit == 0:
            return bytes(struct.pack("<%dH" % len(out), *out)).decode("utf-16-le")
        out.append(unit)


def decode_dialog(data):
    """An extended dialog template: (caption, font face, [(id, class)])."""
    r = Reader(data)
    version, signature = struct.unpack("<HH", r.take(4))
    if (version, signature) != (1, 0xFFFF):
        raise Malformed("not an extended dialog template (%d, %#x)" % (version, signature))
    _, _, style, count = struct.unpack("<IIIH", r.take(14))
    r.take(8)  # x, y, cx, cy
    sz_or_ord(r)  # menu
    sz_or_ord(r)  # class
    caption = sz_or_ord(r)
    face = None
    if style & 0x40:  # DS_SETFONT
        r.take(6)
        face = sz_or_ord(r)
    controls = []
    for _ in range(count):
        r.at += -r.at % 4
        _, _, _ = struct.unpack("<III", r.take(12))
        r.take(8)
        ident = struct.unpack("<i", r.take(4))[0]
        window_class = sz_or_ord(r)
        sz_or_ord(r)  # text
        r.take(struct.unpack("<H", r.take(2))[0])
        controls.append((ident, window_class))
    return caption, face, controls


def check_dialogs(c, resources):
    keys = sorted(k for k in resources if k[0] == RT_DIALOG)
    c.equal("dialog resources (type, id, language)", keys,
            [(RT_DIALOG, ident, LANGUAGE) for ident in sorted(EXPECTED_DIALOGS)])
    for key in keys:
        if key[1] not in EXPECTED_DIALOGS:
            continue
        want_caption, want_ids = EXPECTED_DIALOGS[key[1]]
        try:
            caption, face, controls = decode_dialog(resources[key])
        except Malformed as e:
            c.true("dialog %d decodes" % key[1], False, str(e))
            continue
        c.equal("dialog %d caption" % key[1], caption, want_caption)
        c.equal("dialog %d font" % key[1], face, "MS Shell Dlg")
        c.equal("dialog %d control ids" % key[1], [i for i, _ in controls if i != -1], want_ids)


def check_pe(path, machine, same_as=None):
    import pefile

    c = Checks(path)
    pe = pefile.PE(path)
    c.equal("PE machine", hex(pe.FILE_HEADER.Machine), hex(machine))
    c.true("is a DLL", pe.FILE_HEADER.Characteristics & 0x2000)
    exports = [(s.name, s.forwarder) for s in pe.DIRECTORY_ENTRY_EXPORT.symbols]
    c.equal("exports", exports, [(b"ENTRYPOINT", None)])
    imports = {}
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        imports.setdefault(entry.dll.decode().lower(), set()).update(
            i.name.decode() for i in entry.imports if i.name)
    c.true("imports system DLLs only", set(imports) <= SYSTEM_DLLS, ", ".join(sorted(imports)))
    for dll, names in REQUIRED_IMPORTS.items():
        missing = names - imports.get(dll, set())
        c.true("imports the Win32 calls from %s" % dll, not missing, ", ".join(sorted(missing)))

    resources = pe_resources(pe)
    found = {}
    for rtype, check in (("PIPL", check_pipl), ("AETE", check_aete)):
        keys = [k for k in resources if k[0] == rtype]
        c.equal("%s resources (type, id, language)" % rtype, keys, [(rtype, 16000, LANGUAGE)])
        if keys:
            found[rtype] = resources[keys[0]]
            check(c, found[rtype], MACHINE_BITS[machine])
    check_dialogs(c, resources)
    # A Windows string table cannot hold an empty string: LoadStringA answers
    # 0 and an empty buffer for it exactly as for a missing one.
    c.equal("string table", string_table(resources, c),
            {k: v for k, v in EXPECTED_STRINGS.items() if v})
    if same_as is not None:
        # The same bytes as the POSIX module's sections, but for the code
        # property, which follows each target's architecture.
        sections = elf_sections(same_as)
        posix_pipl = sections.get(".pipl", (0, b""))[1]
        posix_bits, bits = elf_bits(same_as), MACHINE_BITS[machine]
        if posix_bits != bits:
            posix_pipl = posix_pipl.replace(CODE_PROPERTY[posix_bits], CODE_PROPERTY[bits], 1)
        c.equal("PIPL bytes equal the POSIX module's .pipl (code property aside)",
                found.get("PIPL"), posix_pipl)
        c.equal("AETE bytes equal the POSIX module's .aete",
                found.get("AETE"), sections.get(".aete", (0, None))[1])
    return c


# ---- Self-test --------------------------------------------------------------------------------


def damaged_copies(pipl, aete):
    """Faults an encoder could make, each of which the checks must catch."""
    def patch(data, at, new):
        return data[:at] + new + data[at + len(new):]

    def pipl_data_offset(key):
        at = PIPL_HEADER_LENGTH
        while at < len(pipl):
            length = struct.unpack_from("<i", pipl, at + 12)[0]
            if pipl[at + 4:at + 8] == key:
                return at + 16
            at += 16 + length + (-length % 4)
        raise KeyError(key)

    yield "codes big-endian", "pipl", patch(pipl, pipl_data_offset(b"dnik"), b"8BIF")
    yield "vendor big-endian", "pipl", patch(pipl, PIPL_HEADER_LENGTH, b"8BIM")
    yield "reserved word 0", "pipl", patch(pipl, 0, b"\0")
    yield "list version 1", "pipl", patch(pipl, 2, b"\1")
    yield "header without the reserved word", "pipl", struct.pack("<ii", 1, 17) + pipl[10:]
    yield "code property of the other architecture", "pipl", pipl.replace(b"4668", b"68xw", 1)
    yield "enable condition without its NUL", "pipl", patch(
        pipl, pipl_data_offset(b"lbne") - 4, b"\x04")
    yield "32-bit RGB not enabled", "pipl", pipl.replace(b"RGB96Mode", b"RGB48Mode", 1)
    yield "32-bit grey not enabled", "pipl", pipl.replace(b", Gray32Mode", b" " * 12, 1)
    yield "16-bit gray offered", "pipl", patch(pipl, pipl_data_offset(b"edom"), b"\xff\xe0")
    yield "reads all types", "pipl", patch(pipl, pipl_data_offset(b"ftmf"), b"\xf8")
    yield "cannot write if read", "pipl", patch(pipl, pipl_data_offset(b"ftmf"), b"\x70")
    yield "rows limit 32766", "pipl", patch(pipl, pipl_data_offset(b"zsxm"), b"\xfe\x7f")
    yield "bitmap with 24 channels", "pipl", patch(pipl, pipl_data_offset(b"hcxm"), b"\x18\x00")
    yield "scope misspelt", "pipl", patch(pipl, pipl_data_offset(b"mtsh") + 15, b"U")
    yield "padding not zero", "pipl", patch(pipl, pipl_data_offset(b"eman") + 9, b"\x01")
    yield "padded length recorded", "pipl", patch(pipl, pipl_data_offset(b"eman") - 4, b"\x0c")
    yield "extensions as integers", "pipl", patch(pipl, pipl_data_offset(b"xEdR"), b" STF")
    yield "property dropped", "pipl", patch(pipl, 6, b"\x10")[:-40]
    yield "trailing byte", "pipl", pipl + b"\0"
    yield "suite id big-endian", "aete", aete.replace(b"STIF", b"FITS", 1)
    yield "property flags 0", "aete", aete.replace(b"\x00\x10", b"\x00\x00", 1)
    yield "word-aligned strings", "aete", aete[:10] + b"\x12" + aete[11:29] + b"\0" + aete[29:]
    yield "class name without blank", "aete", aete.replace(b"\x09 Nebulite", b"\x08Nebulite", 1)
    yield "type 'bool' big-endian", "aete", aete.replace(b"loob", b"bool", 1)
    yield "terminology version 0.1", "aete", patch(aete, 2, b"\x00\x01")
    yield "enumerated property flagged single", "aete", aete.replace(b"\x00\x30", b"\x00\x10", 1)
    yield "enumeration type big-endian", "aete", aete.replace(b"CTbn", b"nbTC", 1)
    yield "enumeration value code big-endian", "aete", aete.replace(b"iRbn", b"nbRi", 1)
    yield "trailing byte after the enumerations", "aete", aete + b"\0"


def self_test(path):
    good, sections = check_elf(path)
    out = Checks("self-test")
    out.equal("undamaged module passes", good.failures, [])
    pipl, aete = sections[".pipl"][1], sections[".aete"][1]
    for name, which, data in damaged_copies(pipl, aete):
        c = Checks(name)
        (check_pipl if which == "pipl" else check_aete)(c, data, elf_bits(path))
        out.true("damage caught: " + name, c.failures)
    return out


def main(argv):
    if len(argv) >= 3 and argv[1] == "elf":
        results = [check_elf(argv[2])[0]]
    elif len(argv) >= 4 and argv[1] == "pe":
        same_as = argv[5] if len(argv) >= 6 and argv[4] == "--same-as" else None
        results = [check_pe(argv[2], int(argv[3], 0), same_as)]
    elif len(argv) >= 3 and argv[1] == "self-test":
        results = [self_test(argv[2])]
    else:
        sys.stderr.write(__doc__)
        return 2
    passed = sum(c.passed for c in results)
    failed = sum(len(c.failures) for c in results)
    for c in results:
        for failure in c.failures:
            print("FAIL " + failure)
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
