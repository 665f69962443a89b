#!/usr/bin/python3
"""Checks resources/generate.py's text escaping against the real consumers.

  pipl_generator_check.py [C++ compiler] [windres]

Each awkward text goes through the generator's C literal into a program
built with the C++ compiler, and through its resource-script literal into
windres (when given), and must come back as the same Windows-1252 bytes
(UTF-16 for windres). The strings the module has today are all plain; these
are the ones a later edit of resources/definition.py could bring.
"""

import os
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources"))
import generate  # noqa: E402

CASES = [
    ("plain", "Nebulite"),
    ("empty", ""),
    ("quote", 'say "FITS"'),
    ("backslash", "C:\\path\\"),
    ("newlines", "a\n\nb\n"),
    ("tab", "a\tb"),
    ("escape then digit", "\u00a92026"),
    ("escape then letter", "\u00aeA"),
    ("trigraph", "what??!"),
    ("euro (0x80 in the code page)", "\u20ac 5"),
    ("upper half", "caf\u00e9 \u00fc\u00df"),
    ("caret placeholders", "needs ^1 or ^2"),
]


class Checks:
    def __init__(self):
        self.passed = 0
        self.failures = []

    def equal(self, what, actual, expected):
        if actual == expected:
            self.passed += 1
        else:
            self.failures.append("%s: got %r, expected %r" % (what, actual, expected))


def check_c(c, compiler, work):
    source = os.path.join(work, "strings.cpp")
    program = os.path.join(work, "strings")
    with open(source, "w") as f:
        f.write("#include <cstdio>\n#include <cstring>\nconst char* kTexts[] = {\n")
        for _, value in CASES:
            f.write("    %s,\n" % generate.c_string(value))
        f.write("};\nint main() {\n"
                "    for (const char* t : kTexts) { std::fwrite(t, 1, std::strlen(t) + 1, stdout); }\n"
                "}\n")
    subprocess.run([compiler, "-std=c++20", "-Wall", "-Werror", "-Wtrigraphs", source, "-o", program],
                   check=True)
    out = subprocess.run([program], check=True, capture_output=True).stdout
    texts = out.split(b"\0")[:-1]
    c.equal("C literal count", len(texts), len(CASES))
    for (name, value), got in zip(CASES, texts):
        c.equal("C literal, %s" % name, got, value.encode("cp1252"))


def check_rc(c, windres, work):
    script = os.path.join(work, "strings.rc")
    res = os.path.join(work, "strings.res")
    with open(script, "w", encoding="ascii") as f:
        f.write("#pragma code_page(1252)\nLANGUAGE 9, 3\nSTRINGTABLE\nBEGIN\n")
        for i, (_, value) in enumerate(CASES):
            f.write("    %d, %s\n" % (100 + i, generate.rc_string(value)))
        f.write("END\n")
    subprocess.run([windres, "-O", "res", "-i", script, "-o", res], check=True)
    with open(res, "rb") as f:
        data = f.read()
    strings = {}
    at = 0
    while at + 8 <= len(data):
        size, header_size = struct.unpack_from("<II", data, at)
        header = data[at + 8:at + header_size]
        body = data[at + header_size:at + header_size + size]
        # RT_STRING blocks: type given as an ordinal 0xFFFF, 6.
        if header[:4] == b"\xff\xff\x06\x00" and header[4:6] == b"\xff\xff":
            block = struct.unpack_from("<H", header, 6)[0]
            pos = 0
            for k in range(16):
                n = struct.unpack_from("<H", body, pos)[0]
                strings[(block - 1) * 16 + k] = body[pos + 2:pos + 2 + 2 * n].decode("utf-16-le")
                pos += 2 + 2 * n
        at += (header_size + size + 3) & ~3
    for i, (name, value) in enumerate(CASES):
        c.equal("resource string, %s" % name, strings.get(100 + i, ""), value)


def check_refusals(c):
    for what, call in (("code of three characters", lambda: generate.fourcc("FIT")),
                       ("code of five characters", lambda: generate.fourcc("FITSX")),
                       ("Pascal string of 256 bytes", lambda: generate.pascal("x" * 256)),
                       ("text outside the code page", lambda: generate.text("\u4e2d"))):
        try:
            call()
            c.equal(what + " refused", False, True)
        except (ValueError, UnicodeEncodeError):
            c.equal(what + " refused", True, True)
    # Dialog layouts a later edit of the definition could bring.
    def dialog(*controls):
        return [{"name": "d", "id": 1, "caption": "d", "size": (100, 50), "controls": list(controls)}]
    ok, cancel = ("ok", "ok", "OK", 10, 30, 40, 14), ("cancel", "cancel", "Cancel", 55, 30, 40, 14)
    layouts = [
        ("control past the right edge", dialog(("edit", "e", "", 70, 5, 40, 12), ok, cancel)),
        ("control past the bottom", dialog(("label", None, "x", 5, 45, 40, 8), ok, cancel)),
        ("name used twice", dialog(("edit", "e", "", 5, 5, 20, 12), ("edit", "e", "", 30, 5, 20, 12), ok, cancel)),
        ("unknown kind", dialog(("slider", "s", "", 5, 5, 20, 12), ok, cancel)),
        ("OK under another name", dialog(("ok", "go", "OK", 10, 30, 40, 14), cancel)),
    ]
    kept = generate.d.DIALOGS
    try:
        for what, layout in layouts:
            generate.d.DIALOGS = layout
            try:
                generate.dialog_controls()
                c.equal("dialog with a " + what + " refused", False, True)
            except ValueError:
                c.equal("dialog with a " + what + " refused", True, True)
        # A combo's drop-down may reach past the dialog; its field may not.
        generate.d.DIALOGS = dialog(("combo", "c", "", 5, 30, 40, 100), ok, cancel)
        c.equal("combo list past the bottom accepted", len(generate.dialog_controls()[0][1]), 3)
    finally:
        generate.d.DIALOGS = kept
    c.equal("Pascal string of 255 bytes", len(generate.pascal("x" * 255)), 256)
    c.equal("code stored little-endian", generate.fourcc("8BIF"), b"FIB8")
    c.equal("flag bits from the high bit", generate.flag_bytes([True] * 10 + [False] * 2),
            b"\xff\xc0")


def main(argv):
    compiler = argv[1] if len(argv) > 1 else "c++"
    windres = argv[2] if len(argv) > 2 else None
    c = Checks()
    with tempfile.TemporaryDirectory() as work:
        check_c(c, compiler, work)
        if windres:
            check_rc(c, windres, work)
    check_refusals(c)
    for failure in c.failures:
        print("FAIL " + failure)
    print("%d passed, %d failed" % (c.passed, len(c.failures)))
    return 0 if not c.failures else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
