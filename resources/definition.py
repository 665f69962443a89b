# What the host learns about Nebulite before it runs any of the module's code:
# the plug-in property list (PiPL), the scripting terminology and the string
# table. This file is the only place these values are written down;
# generate.py turns it into the bytes for Windows (a resource script and the
# binary resources windres embeds) and for POSIX systems (ELF sections and the
# string table behind the LoadStringA stand-in).
#
# Four-character codes are written as text here. The encoder stores each as a
# 32-bit integer whose first character is the high byte, in the target's
# little-endian order, so '8BIF' lands in the file as the bytes "FIB8".

RESOURCE_ID = 16000

# Windows language of every resource: English (Australia).
LANGUAGE_PRIMARY = 0x09    # LANG_ENGLISH
LANGUAGE_SUB = 0x03        # SUBLANG_ENGLISH_AUS
LANGUAGE_ID = LANGUAGE_SUB << 10 | LANGUAGE_PRIMARY   # 3081

# Code page of the texts as the module hands them to the Win32 "A" calls.
CODE_PAGE = 1252

VENDOR = "8BIM"
NAME = "Nebulite"
# The version comes from the build (the project's version): generate.py sets
# VERSION_MAJOR and VERSION_MINOR and fills @VERSION@ in the texts.
VERSION_MAJOR = None
VERSION_MINOR = None
ENTRY_POINT = "ENTRYPOINT"
# The property that names the entry point, by the target's pointer width: the
# host looks only for the one of its own architecture. Windows x86 code has
# 'wx86', x86-64 code '8664'; the POSIX module follows its pointer width too.
CODE_PROPERTY = {32: "wx86", 64: "8664"}
TERMINOLOGY_CLASS = "FITS"
TERMINOLOGY_EVENT = "null"
TERMINOLOGY_SCOPE = "Quasarine Nebulite"
FILE_TYPE = "8B1F"
FILE_CREATOR = "8BIM"
FILE_TYPE_LIST_CREATOR = "    "
EXTENSIONS = ["FTS", "FIT", "FITS", "FI*"]
# Extensions the host offers the module only through FilterFile, which
# claims the file when it holds FITS: gzip files (.fits.gz ends in .gz) and
# tile-compressed ones (.fits.fz, a FITS file that begins with SIMPLE).
FILTERED_EXTENSIONS = ["GZ", "FZ"]

# The host's image modes, in the order the `mode` flag bits and the `mxch`
# entries follow. 16-bit grayscale and 48-bit RGB are not offered: the module
# only opens and saves 8 bits per channel through these modes.
MODES = [
    # (mode, supported, most channels)
    ("Bitmap", True, 1),
    ("Grayscale", True, 24),
    ("Indexed", True, 24),
    ("RGB", True, 24),
    ("CMYK", True, 24),
    ("HSL", True, 24),
    ("HSB", True, 24),
    ("Multichannel", True, 24),
    ("Duotone", True, 24),
    ("Lab", True, 24),
    ("Gray16", False, 24),
    ("RGB48", False, 24),
]
# Format flags, first flag in the high bit of the one flag byte.
FORMAT_FLAGS = [
    ("reads all types", False),
    ("saves image resources", True),
    ("can read", True),
    ("can write", True),
    ("can write if read", True),
]

# The largest image for a host of 16-bit geometry ('mxsz'), and for one that
# offers 32-bit geometry ('ms32'): the editor's own largest document.
MAX_ROWS = 32767
MAX_COLUMNS = 32767
MAX_ROWS_32 = 300000
MAX_COLUMNS_32 = 300000
# Files the module reads and writes, in gigabytes ('fslm'): without it the
# host assumes 2 GB. Positions are 64-bit throughout; 4 TB is far beyond any
# FITS file a desktop editor meets.
FILE_SIZE_LIMIT_GB = 4096

# Enable condition: the documents whose Save As offers the module, as the
# host's expression language names their modes. The mode bits above cannot
# name 32-bit documents (their mode codes lie past the 16 bits), and a host
# offers a format for a 32-bit document only when this condition names its
# mode: every mode it offered before (the condition was "true"), and 32-bit
# grey and RGB. A C string, with its NUL, as the SDK writes it.
ENABLE_MODES = [
    "BitmapMode", "GrayScaleMode", "IndexedMode", "RGBMode", "CMYKMode", "HSLMode", "HSBMode",
    "MultichannelMode", "DuotoneMode", "LabMode", "Gray16Mode", "RGB48Mode", "Lab48Mode",
    "CMYK64Mode", "DeepMultichannelMode", "Duotone16Mode", "Gray32Mode", "RGB96Mode",
]
ENABLE_CONDITION = "in (PSHOP_ImageMode, " + ", ".join(ENABLE_MODES) + ")"

# ---- Scripting terminology --------------------------------------------------
# Property flags as the host's resource templates set them, first flag in the
# high bit (reserved, list, enumerated, read-write, ...): a single read-write
# value, and a single read-write value taken from an enumeration.
FLAGS_SINGLE = 0x1000
FLAGS_ENUMERATED = 0x3000

# The enumerations of the options, each value with its name and line, in the
# order of the option model's own tables (options/option_words.h). The
# module's build checks these against those tables
# (resources/terminology_check.cpp), so a change to one without the other
# does not build.
ENUMERATIONS = [
    ("nbTP", [
        ("auto", "nbAu", "planes 1-3 as RGB for a cube of three or more, else plane 1"),
        ("one", "nbOn", "one plane as grey"),
        ("three", "nbTh", "three planes as red, green and blue"),
    ]),
    ("nbTO", [
        ("stored", "nbSd", "the file's first row at the top"),
        ("sky", "nbSk", "the first row at the bottom, unless ROWORDER is TOP-DOWN"),
    ]),
    ("nbTS", [
        ("range", "nbRn", "scaling and display range from the header, as always"),
        ("linear", "nbLi", "linear between black and white"),
        ("sqrt", "nbSq", "square root"),
        ("log", "nbLg", "log(1 + 1000 x) / log(1001)"),
        ("asinh", "nbAs", "asinh(x / 0.1) / asinh(10)"),
        ("mtf", "nbMt", "midtones transfer function, automatic as PixInsight's STF"),
    ]),
    ("nbTI", [
        ("auto", "nbAu", "central 99.5 percent, or minmax for mtf"),
        ("minmax", "nbMM", "the smallest and largest value"),
        ("zscale", "nbZs", "IRAF's zscale"),
        ("percent", "nbPc", "a central percentage of the values"),
        ("points", "nbPt", "explicit black and white points"),
    ]),
    ("nbTD", [
        ("auto", "nbAu", "8 bits for BITPIX 8, else 16"),
        ("8", "nb08", "8 bits per channel"),
        ("16", "nb16", "16 bits per channel"),
        ("32", "nb32", "32-bit floating point"),
    ]),
    ("nbTB", [
        ("off", "nbOf", "no demosaicing"),
        ("auto", "nbAu", "the pattern BAYERPAT names, if any"),
        ("RGGB", "nbRG", "red, green / green, blue"),
        ("BGGR", "nbBG", "blue, green / green, red"),
        ("GRBG", "nbGR", "green, red / blue, green"),
        ("GBRG", "nbGB", "green, blue / red, green"),
    ]),
    ("nbTM", [
        ("bilinear", "nbBl", "bilinear interpolation"),
        ("quality", "nbQl", "gradient-corrected interpolation"),
    ]),
    ("nbTF", [
        ("original", "nbOg", "the BITPIX the file had"),
        ("-32", "nbF3", "32-bit IEEE floating point"),
    ]),
    ("nbTC", [
        ("none", "nbNo", "no compression"),
        ("rice", "nbRi", "RICE_1 tile compression"),
        ("gzip1", "nbG1", "GZIP_1 tile compression"),
        ("gzip2", "nbG2", "GZIP_2 tile compression (bytes shuffled)"),
        ("hcompress", "nbHC", "HCOMPRESS_1 tile compression"),
    ]),
]

# The descriptor's keys, in the order of options/descriptor_keys.h: name,
# key, type ('long' integer, 'doub' float, 'bool', 'TEXT', or an
# enumeration's type), description. Checked against that table as the
# enumerations are.
OPTION_PROPERTIES = [
    ("image", "nbIm", "long", "HDU number of the image, 0 the primary"),
    ("extension name", "nbXN", "TEXT", "EXTNAME of the image's HDU"),
    ("extension version", "nbXV", "long", "EXTVER of the image's HDU"),
    ("planes", "nbPl", "nbTP", "which planes of a cube open"),
    ("first plane", "nbP1", "long", "plane for grey or red, from 1"),
    ("second plane", "nbP2", "long", "plane for green, from 1"),
    ("third plane", "nbP3", "long", "plane for blue, from 1"),
    ("orientation", "nbOr", "nbTO", "which row is at the top"),
    ("stretch", "nbSt", "nbTS", "how samples become 8- or 16-bit levels"),
    ("interval", "nbIv", "nbTI", "the values the stretch runs from black to white"),
    ("central percentage", "nbPr", "doub", "values kept between black and white"),
    ("black point", "nbBk", "doub", "physical value shown black"),
    ("white point", "nbWh", "doub", "physical value shown white"),
    ("midtones balance", "nbMd", "doub", "mtf's midtones balance, 0 to 1"),
    ("depth", "nbDp", "nbTD", "bits per channel of the document"),
    ("debayer", "nbDb", "nbTB", "colour-filter pattern to demosaic"),
    ("demosaic method", "nbDm", "nbTM", "how missing colours are found"),
    ("floating point bitpix", "nbFB", "nbTF", "BITPIX of a 32-bit document"),
    ("compression", "nbCm", "nbTC", "tile compression of the image"),
    ("tile rows", "nbRw", "long", "rows of a compression tile"),
    ("tile columns", "nbCl", "long", "columns of a compression tile"),
    ("quantize level", "nbQz", "doub", "floating-point quantization, 0 exact"),
]


def _flags(kind):
    return FLAGS_ENUMERATED if any(kind == code for code, _ in ENUMERATIONS) else FLAGS_SINGLE


TERMINOLOGY = {
    "version": 1,
    "terminology_version": (1, 0),
    "language": 0,
    "script": 0,
    "suites": [
        {
            "name": "Quasarine plug-ins",
            "description": "Quasarine plug-ins",
            "id": "FITS",
            "level": 1,
            "version": 1,
            "events": [],
            "classes": [
                {
                    # The leading blank keeps the class apart from the
                    # suite's own name in the host's scripting listings.
                    "name": " Nebulite",
                    "id": "FITS",
                    "description": "A FITS Format Plugin for PC Photoshop",
                    # The two properties from before there were options stay
                    # where they were: recorded actions name them.
                    "properties": [
                        ("<Inheritance>", "c@#^", "Fmt ", "parent class format", FLAGS_SINGLE),
                        ("foo", "fooB", "bool", "foobar", FLAGS_SINGLE),
                        ("bar", "barF", "bool", "foobar", FLAGS_SINGLE),
                    ] + [(name, key, kind, description, _flags(kind))
                         for name, key, kind, description in OPTION_PROPERTIES],
                    "elements": [],
                },
            ],
            "comparison_operators": [],
            "enumerations": ENUMERATIONS,
        },
    ],
}

# ---- String table -------------------------------------------------------------
STRINGS = [
    (16000,
     "Nebulite\n"
     "\n"
     "Version @VERSION@\n"
     "Copyright \u00a9 2026 the Nebulite developers.\n"
     "All rights reserved.\n"
     "\n"
     "FITS format plug-in for Adobe Photoshop on the PC, version 5.0 and later\u00ae"),
    (16001, ""),
    (16992, "This plug-in requires Adobe Photoshop\u00ae ^1 or later functionality."),
    (16993, "This plug-in is incompatible with this version of the host program."),
]

# ---- Dialogs --------------------------------------------------------------------
# The open and save dialogs of the Windows module, as dialog templates in its
# resources. Positions and sizes are dialog units (a quarter of the font's
# average character width across, an eighth of its height down). Each
# control is (kind, name, text, x, y, width, height); named controls get an
# id in the generated header (dialog_ids.h: nebulite::ui::ids::<dialog>::<name>)
# that the dialog code and the tests that drive the dialogs include. Label
# texts are the dialog's own; the lists are filled at run time.
#
# Kinds: label (static text), note (static text the dialog rewrites),
# message (the dialog's one-line verdict, word-wrapped), list (a list box with
# tab stops), combo (a drop-down list), edit (a one-line edit field), picture
# (a static the dialog draws itself), ok and cancel (the default and the
# cancel push button, ids IDOK and IDCANCEL).
DIALOG_FONT = (8, "MS Shell Dlg")

DIALOGS = [
    {
        "name": "openDialog",
        "id": 16100,
        "caption": "Nebulite: open FITS",
        "size": (452, 272),
        "controls": [
            ("label", None, "&Images in the file:", 7, 7, 200, 8),
            # Column heads over the list's tab stops (open_dialog_text.h).
            ("label", None, "HDU", 9, 17, 20, 8),
            ("label", None, "EXTNAME", 31, 17, 60, 8),
            ("label", None, "Size", 99, 17, 60, 8),
            ("label", None, "BITPIX", 169, 17, 30, 8),
            ("label", None, "Compression", 201, 17, 66, 8),
            ("list", "images", "", 7, 26, 262, 58),
            ("label", None, "&Planes:", 7, 92, 40, 8),
            ("combo", "planes", "", 50, 90, 62, 80),
            ("edit", "plane1", "", 116, 90, 24, 12),
            ("edit", "plane2", "", 143, 90, 24, 12),
            ("edit", "plane3", "", 170, 90, 24, 12),
            ("note", "planesAuto", "", 198, 92, 71, 8),
            ("label", None, "&Orientation:", 7, 110, 42, 8),
            ("combo", "orientation", "", 50, 108, 90, 60),
            ("label", None, "&Stretch:", 7, 128, 40, 8),
            ("combo", "stretch", "", 50, 126, 90, 100),
            ("label", None, "In&terval:", 7, 146, 40, 8),
            ("combo", "interval", "", 50, 144, 90, 100),
            ("edit", "percent", "", 144, 144, 40, 12),
            ("label", None, "%", 187, 146, 10, 8),
            ("label", None, "&Black:", 7, 164, 40, 8),
            ("edit", "black", "", 50, 162, 70, 12),
            ("label", None, "&White:", 126, 164, 26, 8),
            ("edit", "white", "", 155, 162, 70, 12),
            ("label", None, "&Midtones:", 7, 182, 40, 8),
            ("edit", "midtone", "", 50, 180, 40, 12),
            ("label", None, "&Depth:", 7, 200, 40, 8),
            ("combo", "depth", "", 50, 198, 62, 80),
            ("note", "depthAuto", "", 116, 200, 153, 8),
            ("label", None, "Deba&yer:", 7, 218, 40, 8),
            ("combo", "debayer", "", 50, 216, 62, 100),
            ("label", None, "Met&hod:", 116, 218, 28, 8),
            ("combo", "demosaic", "", 146, 216, 62, 60),
            ("note", "debayerAuto", "", 50, 232, 219, 8),
            ("label", None, "Preview:", 277, 7, 100, 8),
            ("picture", "preview", "", 277, 17, 168, 158),
            ("label", None, "Histogram:", 277, 180, 100, 8),
            ("picture", "histogram", "", 277, 190, 168, 44),
            ("message", "message", "", 7, 246, 326, 20),
            ("ok", "ok", "OK", 339, 251, 50, 14),
            ("cancel", "cancel", "Cancel", 395, 251, 50, 14),
        ],
    },
    {
        "name": "saveDialog",
        "id": 16101,
        "caption": "Nebulite: save FITS",
        "size": (260, 150),
        "controls": [
            ("label", None, "&Compression:", 7, 9, 60, 8),
            ("combo", "compression", "", 70, 7, 100, 80),
            ("label", None, "&Tile:", 7, 27, 60, 8),
            ("edit", "tileRows", "", 70, 25, 40, 12),
            ("label", None, "rows by", 113, 27, 26, 8),
            ("edit", "tileColumns", "", 140, 25, 40, 12),
            ("label", None, "columns", 183, 27, 40, 8),
            ("note", "tileAuto", "", 70, 40, 183, 8),
            ("label", None, "&Quantize:", 7, 57, 60, 8),
            ("edit", "quantize", "", 70, 55, 40, 12),
            ("note", "quantizeNote", "", 113, 57, 140, 8),
            ("label", None, "&BITPIX:", 7, 75, 60, 8),
            ("combo", "bitpix", "", 70, 73, 100, 60),
            ("note", "bitpixNote", "", 173, 75, 80, 8),
            ("label", None, "&Orientation:", 7, 93, 60, 8),
            ("combo", "orientation", "", 70, 91, 100, 60),
            ("note", "orientationNote", "", 173, 93, 80, 8),
            ("message", "message", "", 7, 110, 246, 18),
            ("ok", "ok", "OK", 147, 129, 50, 14),
            ("cancel", "cancel", "Cancel", 203, 129, 50, 14),
        ],
    },
]
# Ids of the named controls that are not OK or Cancel start here, in the
# order the dialogs above list them.
FIRST_CONTROL_ID = 1001
