#!/usr/bin/env python3
"""Turns resources/definition.py into what each platform's build consumes.

  generate.py OUTPUT_DIR POINTER_BITS

for a target with 32- or 64-bit pointers, writes into OUTPUT_DIR:
  pipl.bin, aete.bin        the PiPL and terminology resources, byte for byte
  nebulite.rc               the Windows resource script (embeds the two .bin
                            files, holds the string table and the dialog
                            templates)
  dialog_ids.h              the dialogs' control ids, for the dialog code and
                            the tests that drive the dialogs
  terminology_table.inc     the terminology's properties and enumerations as
                            C++ tables, which resources/terminology_check.cpp
                            holds to the option model's key table
  resource_sections.cpp     the same PiPL and terminology bytes in the ELF
                            sections .pipl and .aete of the POSIX module
  nebulite_strings.inc      the string table for the LoadStringA stand-in

A file is rewritten only when its content changes, so an unchanged definition
does not rebuild the module.
"""

import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import definition as d  # noqa: E402

# ---- Encoding helpers -----------------------------------------------------------


def fourcc(code):
    """A four-character code as the 32-bit little-endian integer whose high
    byte is the first character ('8BIF' -> b'FIB8')."""
    raw = code.encode("ascii")
    if len(raw) != 4:
        raise ValueError("four-character code of %d characters: %r" % (len(raw), code))
    return struct.pack("<I", int.from_bytes(raw, "big"))


def int16(value):
    return struct.pack("<h", value)


def int32(value):
    return struct.pack("<i", value)


def text(value):
    return value.encode("cp%d" % d.CODE_PAGE)


def pascal(value):
    raw = text(value)
    if len(raw) > 255:
        raise ValueError("Pascal string longer than 255 bytes: %r" % value)
    return bytes([len(raw)]) + raw


def flag_bytes(flags):
    """Flags packed first-to-last from the high bit of the first byte."""
    out = bytearray((len(flags) + 7) // 8)
    for i, on in enumerate(flags):
        if on:
            out[i // 8] |= 0x80 >> (i % 8)
    return bytes(out)


# ---- PiPL ---------------------------------------------------------------------------


def extension_list(codes):
    """Each extension code twice: first as its characters in reading order
    ("FTS FIT "), then as the little-endian integer the host's templates
    declare it to be (" STF TIF"), as 'kind' is stored. A host reads one
    half or the other as the codes it matches; the other half names no real
    extension."""
    if any(len(e) > 4 for e in codes):
        raise ValueError("an extension is longer than four characters")
    padded = [e.ljust(4) for e in codes]
    return b"".join(text(e) for e in padded) + b"".join(fourcc(e) for e in padded)


def pipl_properties(pointer_bits):
    extensions = extension_list(d.EXTENSIONS)
    return [
        ("kind", fourcc("8BIF")),
        ("name", pascal(d.NAME)),
        ("vers", int32(d.VERSION_MAJOR << 16 | d.VERSION_MINOR)),
        (d.CODE_PROPERTY[pointer_bits], text(d.ENTRY_POINT) + b"\0"),
        ("hstm", int32(0) + fourcc(d.TERMINOLOGY_CLASS) + fourcc(d.TERMINOLOGY_EVENT)
         + int16(d.RESOURCE_ID) + text(d.TERMINOLOGY_SCOPE) + b"\0"),
        ("mode", flag_bytes([supported for _, supported, _ in d.MODES])),
        ("enbl", text(d.ENABLE_CONDITION) + b"\0"),
        ("fmTC", fourcc(d.FILE_TYPE) + fourcc(d.FILE_CREATOR)),
        ("fftT", fourcc(d.FILE_TYPE) + fourcc(d.FILE_TYPE_LIST_CREATOR)),
        ("RdEx", extensions),
        ("WrEx", extensions),
        ("fftE", extension_list(d.FILTERED_EXTENSIONS)),
        ("fmtf", flag_bytes([on for _, on in d.FORMAT_FLAGS])),
        ("mxsz", int16(d.MAX_ROWS) + int16(d.MAX_COLUMNS)),
        ("ms32", int32(d.MAX_ROWS_32) + int32(d.MAX_COLUMNS_32)),
        ("fslm", int32(d.FILE_SIZE_LIMIT_GB)),
        ("mxch", b"".join(int16(channels) for _, _, channels in d.MODES)),
    ]


def pipl(pointer_bits):
    """The header as the host reads a Windows PiPL resource (a reserved 16-bit
    word 1, the 32-bit list version 0, the 32-bit property count), then each
    property: vendor, key, property id 0, the data's own length, the data
    padded to 4 bytes."""
    props = pipl_properties(pointer_bits)
    out = bytearray(int16(1) + int32(0) + int32(len(props)))
    for key, data in props:
        out += fourcc(d.VENDOR) + fourcc(key) + int32(0) + int32(len(data))
        out += data + b"\0" * (-len(data) % 4)
    return bytes(out)


# ---- Terminology -----------------------------------------------------------------------


def aete():
    """The host's terminology layout: Pascal strings with no alignment byte
    after them, 16-bit counts and flags, codes as in the PiPL."""
    t = d.TERMINOLOGY
    out = bytearray(int16(t["version"]))
    out += bytes(t["terminology_version"])
    out += int16(t["language"]) + int16(t["script"]) + int16(len(t["suites"]))
    for suite in t["suites"]:
        if suite["events"]:
            raise ValueError("events are not encoded: the module has none")
        out += pascal(suite["name"]) + pascal(suite["description"]) + fourcc(suite["id"])
        out += int16(suite["level"]) + int16(suite["version"])
        out += int16(len(suite["events"])) + int16(len(suite["classes"]))
        for cls in suite["classes"]:
            if cls["elements"]:
                raise ValueError("class elements are not encoded: the module has none")
            out += pascal(cls["name"]) + fourcc(cls["id"]) + pascal(cls["description"])
            out += int16(len(cls["properties"]))
            for name, key, kind, description, flags in cls["properties"]:
                out += pascal(name) + fourcc(key) + fourcc(kind) + pascal(description)
                out += int16(flags)
            out += int16(len(cls["elements"]))
        if suite["comparison_operators"]:
            raise ValueError("comparison operators are not encoded: the module has none")
        out += int16(len(suite["comparison_operators"])) + int16(len(suite["enumerations"]))
        # Each enumeration: its type code, the count of its values, then per
        # value its name, code and description, laid out as the properties.
        for code, values in suite["enumerations"]:
            out += fourcc(code) + int16(len(values))
            for name, value_code, description in values:
                out += pascal(name) + fourcc(value_code) + pascal(description)
    return bytes(out)


# ---- Dialog templates --------------------------------------------------------------
# Window and control styles by their values in the Windows headers; the
# resource script is compiled without those headers.
WS_POPUP = 0x80000000
WS_CHILD = 0x40000000
WS_VISIBLE = 0x10000000
WS_CAPTION = 0x00C00000
WS_VSCROLL = 0x00200000
WS_SYSMENU = 0x00080000
WS_TABSTOP = 0x00010000
DS_FIXEDSYS = 0x0008
DS_SETFONT = 0x0040
DS_MODALFRAME = 0x0080
DS_CENTER = 0x0800
WS_EX_STATICEDGE = 0x00020000
WS_EX_CLIENTEDGE = 0x00000200
SS_LEFT = 0x0000
SS_LEFTNOWORDWRAP = 0x000C
SS_OWNERDRAW = 0x000D
SS_NOPREFIX = 0x0080
LBS_NOTIFY = 0x0001
LBS_USETABSTOPS = 0x0080
LBS_NOINTEGRALHEIGHT = 0x0100
CBS_DROPDOWNLIST = 0x0003
ES_AUTOHSCROLL = 0x0080
BS_PUSHBUTTON = 0x0000
BS_DEFPUSHBUTTON = 0x0001
IDOK = 1
IDCANCEL = 2
COMBO_FIELD_HEIGHT = 12
# A label's id: it is never looked up.
UNNAMED_ID = -1

DIALOG_STYLE = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT | DS_FIXEDSYS
CHILD = WS_CHILD | WS_VISIBLE
# kind: (window class, style, extended style). Texts the dialog writes itself
# (notes, the message) may hold '&' from a file's header: no prefix there.
CONTROL_KINDS = {
    "label": ("STATIC", CHILD | SS_LEFT, 0),
    "note": ("STATIC", CHILD | SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0),
    "message": ("STATIC", CHILD | SS_LEFT | SS_NOPREFIX, 0),
    "list": ("LISTBOX", CHILD | WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_USETABSTOPS
             | LBS_NOINTEGRALHEIGHT, WS_EX_CLIENTEDGE),
    "combo": ("COMBOBOX", CHILD | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 0),
    "edit": ("EDIT", CHILD | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE),
    "picture": ("STATIC", CHILD | SS_OWNERDRAW, WS_EX_STATICEDGE),
    "ok": ("BUTTON", CHILD | WS_TABSTOP | BS_DEFPUSHBUTTON, 0),
    "cancel": ("BUTTON", CHILD | WS_TABSTOP | BS_PUSHBUTTON, 0),
}


def dialog_controls():
    """Every dialog with its controls' ids: [(dialog, [(control, id)])], the
    named ones numbered from FIRST_CONTROL_ID in order, OK and Cancel with the
    system's ids. Refuses controls outside their dialog, unknown kinds and a
    name used twice in one dialog."""
    next_id = d.FIRST_CONTROL_ID
    out = []
    for dialog in d.DIALOGS:
        width, height = dialog["size"]
        names = set()
        controls = []
        for control in dialog["controls"]:
            kind, name, _, x, y, w, h = control
            if kind not in CONTROL_KINDS:
                raise ValueError("dialog %s: unknown control kind %r" % (dialog["name"], kind))
            # A combo's height includes its drop-down list, which may reach
            # past the dialog; its closed field is 12 units high.
            shown = min(h, COMBO_FIELD_HEIGHT) if kind == "combo" else h
            if x < 0 or y < 0 or w <= 0 or h <= 0 or x + w > width or y + shown > height:
                raise ValueError("dialog %s: control %s lies outside the dialog" % (dialog["name"], name))
            if (kind in ("ok", "cancel")) != (name in ("ok", "cancel")):
                raise ValueError("dialog %s: OK and Cancel are named ok and cancel" % dialog["name"])
            if name is None:
                ident = UNNAMED_ID
            elif name in names:
                raise ValueError("dialog %s: control name %s used twice" % (dialog["name"], name))
            elif kind == "ok":
                ident = IDOK
            elif kind == "cancel":
                ident = IDCANCEL
            else:
                ident = next_id
                next_id += 1
            if name is not None:
                names.add(name)
            controls.append((control, ident))
        out.append((dialog, controls))
    return out


def rc_dialogs():
    lines = []
    for dialog, controls in dialog_controls():
        width, height = dialog["size"]
        size, face = d.DIALOG_FONT
        lines += [
            "%d DIALOGEX 0, 0, %d, %d" % (dialog["id"], width, height),
            "STYLE 0x%08X" % DIALOG_STYLE,
            "CAPTION %s" % rc_string(dialog["caption"]),
            "FONT %d, %s, 400, 0, 1" % (size, rc_string(face)),
            "BEGIN",
        ]
        for (kind, name, label, x, y, w, h), ident in controls:
            window_class, style, ex_style = CONTROL_KINDS[kind]
            lines.append("    CONTROL %s, %d, %s, 0x%08X, %d, %d, %d, %d, 0x%08X  // %s" % (
                rc_string(label), ident, rc_string(window_class), style, x, y, w, h, ex_style,
                name or kind))
        lines += ["END", ""]
    return lines


def dialog_ids_header():
    lines = ["// " + GENERATED,
             "// The dialogs' resource ids and their controls' ids.",
             "#pragma once",
             "",
             "#include <cstdint>",
             "",
             "namespace nebulite::ui::ids {",
             ""]
    for dialog, controls in dialog_controls():
        lines.append("namespace %s {" % dialog["name"])
        lines.append("inline constexpr int32_t dialog = %d;" % dialog["id"])
        for (_, name, _, _, _, _, _), ident in controls:
            if name is not None:
                lines.append("inline constexpr int32_t %s = %d;" % (name, ident))
        lines += ["}  // namespace %s" % dialog["name"], ""]
    lines.append("}  // namespace nebulite::ui::ids")
    return "\n".join(lines) + "\n"


def code_literal(code):
    return "0x%08Xu /* '%s' */" % (int.from_bytes(code.encode("ascii"), "big"), code)


def terminology_table():
    """The class's properties and the suite's enumerations, as the
    TerminologyProperty and TerminologyValue initializers
    resources/terminology_check.cpp declares."""
    suite = d.TERMINOLOGY["suites"][0]
    lines = ["// " + GENERATED,
             "// {name, key, type, description, flags}",
             "inline constexpr TerminologyProperty kTerminologyProperties[] = {"]
    for name, key, kind, description, flags in suite["classes"][0]["properties"]:
        lines.append("    {%s, %s, %s, %s, 0x%04X}," % (c_string(name), code_literal(key), code_literal(kind),
                                                    c_string(description), flags))
    lines += ["};", "", "// {enumeration, name, code, description}",
              "inline constexpr TerminologyValue kTerminologyValues[] = {"]
    for enumeration, values in suite["enumerations"]:
        for name, code, description in values:
            lines.append("    {%s, %s, %s, %s}," % (code_literal(enumeration), c_string(name), code_literal(code),
                                                  c_string(description)))
    lines += ["};", "", "inline constexpr std::size_t kTerminologyEnumerationCount = %d;"
              % len(suite["enumerations"])]
    return "\n".join(lines) + "\n"


# ---- Source texts ------------------------------------------------------------------------


def c_string(value):
    """A C string literal of the code-page bytes. Octal escapes are at most
    three digits long, so a following digit can never join them."""
    out = []
    for b in text(value):
        c = chr(b)
        if c == "\n":
            out.append("\\n")
        elif c in "\"\\":
            out.append("\\" + c)
        elif 0x20 <= b < 0x7F and c != "?":  # '?' could start a trigraph
            out.append(c)
        else:
            out.append("\\%03o" % b)
    return '"' + "".join(out) + '"'


def rc_string(value):
    """A resource-script string literal. windres reads the script in the code
    page given by the pragma, so the bytes above 0x7F are written as octal
    escapes of code-page bytes and the file itself stays ASCII."""
    out = []
    for b in text(value):
        c = chr(b)
        if c == "\n":
            out.append("\\n")
        elif c == '"':
            out.append('""')
        elif c == "\\":
            out.append("\\\\")
        elif 0x20 <= b < 0x7F and c != "?":  # windres preprocesses: no trigraphs
            out.append(c)
        else:
            out.append("\\%03o" % b)
    return '"' + "".join(out) + '"'


def byte_rows(data, indent="    "):
    rows = []
    for i in range(0, len(data), 12):
        rows.append(indent + ", ".join("0x%02x" % b for b in data[i:i + 12]) + ",")
    return "\n".join(rows)


GENERATED = "Generated by resources/generate.py from resources/definition.py. Do not edit."


def rc_script(out_dir):
    lines = [
        "// " + GENERATED,
        "#pragma code_page(%d)" % d.CODE_PAGE,
        "LANGUAGE %d, %d  // English (Australia), %d" % (d.LANGUAGE_PRIMARY, d.LANGUAGE_SUB,
                                                          d.LANGUAGE_ID),
        "",
        '%d PIPL "%s"' % (d.RESOURCE_ID, os.path.join(out_dir, "pipl.bin").replace("\\", "/")),
        '%d AETE "%s"' % (d.RESOURCE_ID, os.path.join(out_dir, "aete.bin").replace("\\", "/")),
        "",
    ]
    lines += rc_dialogs()
    lines += [
        "STRINGTABLE",
        "BEGIN",
    ]
    for ident, value in d.STRINGS:
        lines.append("    %d, %s" % (ident, rc_string(value)))
    lines += ["END", ""]
    return "\n".join(lines)


def sections_source(pipl_bytes, aete_bytes):
    return """// {gen}
//
// The PiPL and the terminology travel inside the POSIX module as the ELF
// sections .pipl and .aete, where a host reads them from the file without
// running any of the module's code (on Windows they are resources). Nothing
// in the module refers to them: `used` and `retain` keep them from the
// compiler and from a link that drops unreferenced sections.

namespace {{

[[gnu::section(".pipl"), gnu::used, gnu::retain, gnu::aligned(4)]]
const unsigned char kPipl[{pn}] = {{
{pipl}
}};

[[gnu::section(".aete"), gnu::used, gnu::retain, gnu::aligned(4)]]
const unsigned char kAete[{an}] = {{
{aete}
}};

}}  // namespace
""".format(gen=GENERATED, pn=len(pipl_bytes), pipl=byte_rows(pipl_bytes),
           an=len(aete_bytes), aete=byte_rows(aete_bytes))


def strings_include():
    lines = ["// " + GENERATED,
             "// Entries of the string table, code page %d: {id, text}," % d.CODE_PAGE]
    for ident, value in d.STRINGS:
        lines.append("{%d, %s}," % (ident, c_string(value)))
    return "\n".join(lines) + "\n"


def write_if_changed(path, data):
    if isinstance(data, str):
        data = data.encode("ascii")
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return
    except OSError:
        pass
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def main(argv):
    if len(argv) != 4 or argv[2] not in ("32", "64"):
        sys.stderr.write("usage: generate.py OUTPUT_DIR 32|64 VERSION\n")
        return 2
    # The about box names the build's version, as the header's mark does.
    version = argv[3]
    d.STRINGS = [(ident, value.replace("@VERSION@", version)) for ident, value in d.STRINGS]
    d.VERSION_MAJOR, d.VERSION_MINOR = (int(part) for part in version.split(".")[:2])
    out_dir = os.path.abspath(argv[1])
    os.makedirs(out_dir, exist_ok=True)
    pipl_bytes = pipl(int(argv[2]))
    aete_bytes = aete()
    write_if_changed(os.path.join(out_dir, "pipl.bin"), pipl_bytes)
    write_if_changed(os.path.join(out_dir, "aete.bin"), aete_bytes)
    write_if_changed(os.path.join(out_dir, "nebulite.rc"), rc_script(out_dir))
    write_if_changed(os.path.join(out_dir, "resource_sections.cpp"),
                     sections_source(pipl_bytes, aete_bytes))
    write_if_changed(os.path.join(out_dir, "nebulite_strings.inc"), strings_include())
    write_if_changed(os.path.join(out_dir, "dialog_ids.h"), dialog_ids_header())
    write_if_changed(os.path.join(out_dir, "terminology_table.inc"), terminology_table())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
