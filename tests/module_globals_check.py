#!/usr/bin/env python3
"""Lists the writable objects of the module's own code in a built module and
checks them against the few that must be module-wide.

    module_globals_check.py OBJDUMP MODULE SOURCE_DIR

The module keeps every operation's state in the handle the host keeps for it,
so that two documents in flight never share anything. What may stay at
namespace scope is listed below with why. MODULE is the Linux Nebulite.so
(ELF) or a Windows Nebulite.8bi (PE); OBJDUMP the objdump that reads it.

ELF: every object in .data or .bss whose name is the module's (its namespace,
or an unnamed namespace of its files; the C++ runtime is a shared library).
PE: the C++ runtime is linked in, so the symbol table's file records tell the
module's static objects from the runtime's (they follow the record of one of
the module's source files), and the external ones are the module's by name.
"""
import os
import re
import subprocess
import sys

# What must be module-wide, and why.
SURVIVORS = {
    # The instance handle the library entry routine records: one per loaded
    # library, read to load strings and parent message boxes.
    "nebulite::moduleInstance": "the library's instance handle",
    # The POSIX stand-in for Win32 global memory keeps, as the system does on
    # Windows, one table of the blocks it handed out (and its lock).
    "(anonymous namespace)::liveBlocks()::blocks": "the Win32 global-memory stand-in's table (Linux only)",
    "guard variable for (anonymous namespace)::liveBlocks()::blocks": "its initialisation guard",
    "(anonymous namespace)::liveBlocksLock": "its lock",
    # The host's test hooks (messages, memory files, failing allocations) are
    # looked up once by name in the process: a symbol does not move.
    "(anonymous namespace)::hooks()::proc": "the host hooks' entry, found once (Linux only)",
    "guard variable for (anonymous namespace)::hooks()::proc": "its initialisation guard",
}

WRITABLE = {".data", ".bss"}


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def demangle(names):
    if not names:
        return []
    out = run("c++filt", *names)
    return out.splitlines()


def ours(name):
    return name.startswith("nebulite::") or name.startswith("(anonymous namespace)") or \
        name.startswith("guard variable for (anonymous namespace)") or \
        name.startswith("guard variable for nebulite::")


def elf_objects(objdump, module):
    names = []
    for line in run(objdump, "-t", module).splitlines():
        # 0000000000029568 l     O .data  0000000000000008  name
        m = re.match(r"^[0-9a-f]+\s+\S+\s+\S*\s*O\s+(\S+)\s+[0-9a-f]+\s+(.*)$", line)
        if m and m.group(1) in WRITABLE:
            names.append(m.group(2).strip())
    return [n for n in demangle(names) if ours(n)]


def pe_objects(objdump, module, source_dir):
    sources = set()
    for root, _, files in os.walk(source_dir):
        if "/build" in root or "/." in root:
            continue
        sources.update(f for f in files if f.endswith(".cpp"))
    sections = {}
    for line in run(objdump, "-h", module).splitlines():
        m = re.match(r"^\s*(\d+)\s+(\S+)\s", line)
        if m:
            sections[int(m.group(1)) + 1] = m.group(2)
    names = []
    externals = []
    in_ours = False
    for line in run(objdump, "-t", module).splitlines():
        m = re.match(r"^\[\s*\d+\]\(sec\s+(-?\d+)\)\(fl [^)]*\)\(ty\s+([0-9a-f]+)\)\(scl\s+(\d+)\) \(nx \d+\) 0x[0-9a-f]+ (.*)$",
                     line)
        if not m:
            continue
        section, kind, storage, name = int(m.group(1)), int(m.group(2), 16), int(m.group(3)), m.group(4).strip()
        # 32-bit Windows puts an underscore in front of every C name, the
        # mangled ones too.
        if name.startswith("__Z"):
            name = name[1:]
        if storage == 103:  # a file record: the symbols after it are that file's
            in_ours = any(s.startswith(name) or name.startswith(s) for s in sources)
            continue
        if kind != 0 or name.startswith(".") or sections.get(section) not in WRITABLE:
            continue
        # Data (not function) symbols in writable sections: a file's own
        # (static) ones follow its record; the external ones all come at the
        # end, told by their names.
        if storage == 3 and in_ours:
            names.append(name)
        elif storage == 2:
            externals.append(name)
    return demangle(names) + [n for n in demangle(externals) if n.startswith("nebulite::")]


def main(argv):
    if len(argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    objdump, module, source_dir = argv[1:]
    with open(module, "rb") as f:
        magic = f.read(4)
    objects = elf_objects(objdump, module) if magic == b"\x7fELF" else pe_objects(objdump, module, source_dir)
    strays = sorted(set(o for o in objects if o not in SURVIVORS))
    for name in sorted(set(objects)):
        print(("ok     " if name in SURVIVORS else "STRAY  ") + name +
              (f"  ({SURVIVORS[name]})" if name in SURVIVORS else ""))
    if strays:
        print(f"{module}: {len(strays)} writable object(s) of the module's own at namespace scope")
        return 1
    if not objects:
        print(f"{module}: no writable object of the module's own found at all: is the symbol table there?")
        return 1
    print(f"{module}: only the module-wide objects")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
