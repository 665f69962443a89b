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

# Enable condition: always. A C string, with its NUL, as the SDK writes it.
ENABLE_CONDITION = "true"

# ---- Scripting terminology --------------------------------------------------
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
                    "properties": [
                        ("<Inheritance>", "c@#^", "Fmt ", "parent class format", 0x1000),
                        ("foo", "fooB", "bool", "foobar", 0x1000),
                        ("bar", "barF", "bool", "foobar", 0x1000),
                    ],
                    "elements": [],
                },
            ],
            "comparison_operators": [],
            "enumerations": [],
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
