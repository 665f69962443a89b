#!/usr/bin/env bash
# The Windows module, built and run:
#   1. cross-builds the module with the reference host and CLI for 32-bit
#      (build-win32/) and 64-bit Windows (build-win64/), as the toolchain
#      files' documented command does;
#   2. checks both DLLs with pefile: machine, exports, imports, and the PiPL,
#      terminology and string table resources (the same bytes as the Linux
#      module's sections);
#   3. runs the 64-bit CLI under wine, where the module makes the real Win32
#      calls, and compares what it does with the Linux build's results byte
#      for byte: the about text, FilterFile, opens of 8-, 16- and 32-bit
#      (integer and float) grey and of 8- and 16-bit RGB files, saves of
#      grey and RGB images (FITS), the module listing, and a header of 40
#      blocks kept whole through open and save under the editor's limit of
#      1,000 document resources;
#   4. runs wine_host_check.exe: the module found through its PiPL's '8664'
#      property by the Windows host, its about box owned by the host's
#      window, Save As offered for 32-bit grey and RGB documents by both
#      DLLs' PiPLs (read as resources, the 32-bit DLL mapped as data) with
#      their mode flags unchanged, and a float file opened into a 32-bit
#      document and saved back to the same bytes as the Linux build writes
#      (open --depth 32 to TIFF, then save); both CLIs' PFM of 32-bit
#      documents compared too;
#   5. on a virtual X display (Xvfb, started and stopped here): runs
#      dialog_check.exe, the open and save dialogs shown and driven from a
#      second thread; and open_dialog_host_check.exe, the 64-bit module
#      asked to open a multi-extension file with plugInDialogDisplay and a
#      real window, its dialog driven to the second image and asinh (the
#      document and descriptor compared with the Linux CLI's open with those
#      options) and then cancelled (userCanceledErr, nothing opened); a
#      screenshot of the module's dialog is written to open-dialog.png in
#      the Linux build (copy it to docs/ to refresh the README's).
#
# usage: scripts/windows_checks.sh [--linux-build DIR] [--part all|files|dialogs]
#   --linux-build DIR  the Linux build to compare with (default: build/,
#                      configured and built when it has no CLI yet)
#   --part PART        all (the default): 1-5; files: 1-4; dialogs: 5 alone
#                      (build-win64 built, nothing else). CTest runs the two
#                      parts as the tests windows_checks and windows_dialogs.
#
# Exit status 0 when every check passes, 1 when one fails, 77 when the
# cross compilers, wine or pefile are missing, or for the dialogs Xvfb or
# ImageMagick's import (nothing is checked then: CTest counts it skipped).
# 32-bit Windows programs cannot run on this machine, so the 32-bit module is
# checked as a file only (its host and CLI are built, not run).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

linux_build=$root/build
part=all
while (($#)); do
  case $1 in
    --linux-build) linux_build=$(cd "$2" && pwd); shift 2 ;;
    --part)
      [[ $2 == @(all|files|dialogs) ]] || { echo "windows_checks: --part takes all, files or dialogs" >&2; exit 2; }
      part=$2; shift 2 ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "windows_checks: unknown argument $1" >&2; exit 2 ;;
  esac
done

# ---- What is needed -------------------------------------------------------------
skip() { echo "windows_checks: skipped: $*"; exit 77; }
python=/usr/bin/python3
for tool in i686-w64-mingw32-g++ x86_64-w64-mingw32-g++ i686-w64-mingw32-windres \
            x86_64-w64-mingw32-windres; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (g++-mingw-w64-*-win32)"
done
wine=""
for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)"; do
  [[ -n $candidate && -x $candidate ]] && { wine=$candidate; break; }
done
[[ -n $wine ]] || skip "wine64 is not installed"
wineserver=""
for candidate in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver "$(command -v wineserver || true)"; do
  [[ -n $candidate && -x $candidate ]] && { wineserver=$candidate; break; }
done
[[ -n $wineserver ]] || skip "wineserver is not installed"
[[ -x $python ]] && $python -c 'import pefile' 2>/dev/null || skip "python3-pefile is not installed"
files() { [[ $part != dialogs ]]; }
dialogs_too() { [[ $part != files ]]; }
if [[ $part == dialogs ]]; then
  command -v Xvfb >/dev/null || skip "Xvfb is not installed (xvfb)"
  command -v import >/dev/null || skip "ImageMagick's import is not installed (imagemagick)"
fi

passed=0
failed=0
ok() { passed=$((passed + 1)); echo "ok    $*"; }
fail() { failed=$((failed + 1)); echo "FAIL  $*"; }
timing=()
clock() { timing+=("$(printf '%-28s %3d s' "$1" $((SECONDS - $2)))"); }

# ---- Builds ------------------------------------------------------------------------
jobs=$(nproc 2>/dev/null || echo 2)
build() {  # dir, toolchain, extra cmake arguments...
  local dir=$1 toolchain=$2; shift 2
  mkdir -p "$dir"
  if [[ ! -f $dir/CMakeCache.txt ]]; then
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" "$@" >"$dir/configure.log" 2>&1 ||
      { cat "$dir/configure.log"; return 1; }
  fi
  cmake --build "$dir" -j"$jobs" >"$dir/build.log" 2>&1 || { tail -40 "$dir/build.log"; return 1; }
}

start=$SECONDS
if [[ ! -x $linux_build/nebulite || ! -f $linux_build/Nebulite.so ]]; then
  cmake -S "$root" -B "$linux_build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$linux_build" -j"$jobs" --target nebulite nebulite_module >/dev/null
fi
clock "Linux build" "$start"

if files; then
  start=$SECONDS
  build "$root/build-win32" toolchain-mingw-i686.cmake &&
    ok "build-win32: Nebulite.8bi, nebulite.exe (the toolchain file's documented command)" ||
    fail "build-win32 does not build"
  clock "build-win32" "$start"
fi
start=$SECONDS
build "$root/build-win64" toolchain-mingw-x86_64.cmake -DNEBULITE_WINDOWS_HOST=ON &&
  ok "build-win64: Nebulite.8bi and nebulite.exe" || fail "build-win64 does not build"
clock "build-win64" "$start"

if files; then
# ---- The DLLs as files ------------------------------------------------------------
start=$SECONDS
pe_check() {  # dll, machine
  local out
  if out=$($python "$root/tests/pipl_resources_check.py" pe "$1" "$2" --same-as "$linux_build/Nebulite.so"); then
    ok "$(basename "$(dirname "$1")")/Nebulite.8bi as a file: $(tail -1 <<<"$out")"
  else
    echo "$out"
    fail "$(basename "$(dirname "$1")")/Nebulite.8bi as a file"
  fi
}
[[ -f $root/build-win32/Nebulite.8bi ]] && pe_check "$root/build-win32/Nebulite.8bi" 0x14c
[[ -f $root/build-win64/Nebulite.8bi ]] && pe_check "$root/build-win64/Nebulite.8bi" 0x8664
# Every operation's state lives in the host's cell: nothing of the module's
# own is writable at namespace scope but what must be module-wide.
globals_check() {  # dll, objdump
  local out
  if out=$($python "$root/tests/module_globals_check.py" "$2" "$1" "$root"); then
    ok "$(basename "$(dirname "$1")")/Nebulite.8bi: $(tail -1 <<<"$out" | sed 's/^[^:]*: //')"
  else
    echo "$out"
    fail "$(basename "$(dirname "$1")")/Nebulite.8bi has writable objects of its own"
  fi
}
[[ -f $root/build-win32/Nebulite.8bi ]] && globals_check "$root/build-win32/Nebulite.8bi" i686-w64-mingw32-objdump
[[ -f $root/build-win64/Nebulite.8bi ]] && globals_check "$root/build-win64/Nebulite.8bi" x86_64-w64-mingw32-objdump
clock "PE checks" "$start"

# The release folders and zips, from the trees just checked.
start=$SECONDS
release=$(mktemp -d "${TMPDIR:-/tmp}/nebulite-release.XXXXXX")
if bash "$root/scripts/release_windows.sh" --out "$release" >/dev/null; then
  for arch in win32 win64; do
    zip=$(ls "$release"/Nebulite-*-"$arch".zip 2>/dev/null | head -1)
    if [[ -n $zip ]] && listing=$($python -m zipfile -l "$zip") &&
       grep -q "$arch/Nebulite.8bi" <<<"$listing" && grep -q "$arch/INSTALL.txt" <<<"$listing" &&
       cmp -s "${zip%.zip}/Nebulite.8bi" "$root/build-$arch/Nebulite.8bi"; then
      ok "release $(basename "$zip"): Nebulite.8bi and INSTALL.txt"
    else
      fail "release for $arch"
    fi
  done
else
  fail "scripts/release_windows.sh"
fi
rm -rf "$release"
clock "release" "$start"
fi  # files

if [[ ! -x $root/build-win64/nebulite.exe ]]; then
  echo "$passed passed, $failed failed"
  exit 1
fi

# ---- Under wine ---------------------------------------------------------------------
start=$SECONDS
work=$(mktemp -d "${TMPDIR:-/tmp}/nebulite-windows.XXXXXX")
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# A fixed locale for wine alone: LoadStringA converts the resource strings to
# the ANSI code page, which wine takes from it (Windows-1252 for English).
wine_locale=(env LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8)
unset DISPLAY WAYLAND_DISPLAY
xvfb_pid=""
cleanup() {
  timeout -k 5 30 "$wineserver" -k >/dev/null 2>&1 || true
  [[ -n $xvfb_pid ]] && { kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT
timeout -k 5 120 "${wine_locale[@]}" "$wine" wineboot -i >/dev/null 2>&1 || fail "wineboot"
clock "wine prefix" "$start"

start=$SECONDS
cd "$work"
linux_cli=$linux_build/nebulite
windows_cli=$root/build-win64/nebulite.exe
# The same relative names for both, so that what they print can be compared.
linux() { timeout -k 5 60 "$linux_cli" "$@"; }
windows() { timeout -k 5 60 "${wine_locale[@]}" "$wine" "$windows_cli" "$@"; }
# The Windows C runtime writes text with CR LF; the module's own text has no CR.
uncr() { tr -d '\r'; }
same() {  # label, linux file, windows file
  if cmp -s "$2" "$3"; then
    ok "$1"
  else
    fail "$1: $2 and $3 differ"
    cmp "$2" "$3" | head -3 || true
  fi
}

if files; then
cp "$root/samples/m51-64x48.fits" m51-16.fits
linux convert m51-16.fits m51-8.fits --depth 8
printf 'P5\n3 2\n255\n\x00\x10\x20\x80\xc0\xff' > small-8.pgm
printf 'P5\n2 2\n32768\n\x00\x00\x12\x34\x40\x00\x80\x00' > small-16.pgm
printf 'SIMPLE  = F\nnot a FITS file at all\n' > plain.txt
# Wider samples and colour, written here so that no reader of ours is involved.
$python - <<'PY'
import gzip, math, struct

def card(key, value):
    return ("%-8s= %20s" % (key, value)).ljust(80)

def fits(name, bitpix, axes, samples, extra=()):
    cards = [card("SIMPLE", "T"), card("BITPIX", bitpix), card("NAXIS", len(axes))]
    cards += [card("NAXIS%d" % (i + 1), n) for i, n in enumerate(axes)] + list(extra)
    header = ("".join(cards) + "END".ljust(80)).encode()
    header += b" " * (-len(header) % 2880)
    code = {8: "B", 16: "h", 32: "i", 64: "q", -32: "f", -64: "d"}[bitpix]
    data = struct.pack(">%d%s" % (len(samples), code), *samples)
    with open(name, "wb") as f:
        f.write(header + data + b"\0" * (-len(data) % 2880))

w, h = 40, 30
fits("f32.fits", -32, (w, h),
     [math.nan if (x, y) == (3, 4) else math.sin(x / 7.0) * 1e3 + y * 12.5
      for y in range(h) for x in range(w)])
fits("i32.fits", 32, (w, h), [(x * 104729 + y * 7919) % 200000 - 100000
                              for y in range(h) for x in range(w)], [card("BZERO", "1000.0")])
fits("rgb8.fits", 8, (w, h, 3), [(x * 5 + y * 3 + p * 80) % 256
                                 for p in range(3) for y in range(h) for x in range(w)])
fits("rgb16.fits", 16, (w, h, 3), [(x * 811 + y * 97 + p * 9000) % 65536 - 32768
                                   for p in range(3) for y in range(h) for x in range(w)],
     [card("BZERO", "32768.0")])
fits("f64.fits", -64, (w, h), [math.cos(x / 5.0) * 1e-6 + y * 1e-9 for y in range(h) for x in range(w)])
fits("i64.fits", 64, (w, h), [(x * 104729 + y * 7919) * 10**12 - 3 * 10**17 for y in range(h) for x in range(w)])
# gzip files: one member, and several as `cat a.gz b.gz` makes them.
with open("m51-16.fits", "rb") as f, open("m51-16.fits.gz", "wb") as g:
    g.write(gzip.compress(f.read(), mtime=0))
with open("f32.fits", "rb") as f:
    data = f.read()
with open("f32.fits.gz", "wb") as g:
    g.write(gzip.compress(data[:5000], mtime=0) + gzip.compress(data[5000:], mtime=0))
# Past 32767 on a side: the host offers 32-bit geometry, as the editor does.
fits("wide.fits", 8, (40000, 3), [(i * 7) % 256 for i in range(40000 * 3)])
fits("tall.fits", 16, (3, 40000), [(i * 131) % 65536 - 32768 for i in range(40000 * 3)],
     [card("BZERO", "32768.0")])
# An image whose data starts past 2 GiB, after a table the file holds as a
# hole (sparse: no disk is used for it).
def header_bytes(cards):
    h = ("".join(cards) + "END".ljust(80)).encode()
    return h + b" " * (-len(h) % 2880)
primary = header_bytes([card("SIMPLE", "T"), card("BITPIX", 8), card("NAXIS", 0), card("EXTEND", "T")])
table = header_bytes([("XTENSION= 'BINTABLE'").ljust(80), card("BITPIX", 8), card("NAXIS", 2),
                      card("NAXIS1", 1036800), card("NAXIS2", 2100), card("PCOUNT", 0), card("GCOUNT", 1),
                      card("TFIELDS", 1), "TFORM1  = '1036800B'".ljust(80)])
image = header_bytes([("XTENSION= 'IMAGE   '").ljust(80), card("BITPIX", 16), card("NAXIS", 2),
                      card("NAXIS1", 64), card("NAXIS2", 48), card("PCOUNT", 0), card("GCOUNT", 1),
                      card("BZERO", "32768.0")])
samples = struct.pack(">%dh" % (64 * 48), *[(i * 977) % 65536 - 32768 for i in range(64 * 48)])
with open("past2gib.fits", "wb") as f:
    f.write(primary + table)
    f.seek(1036800 * 2100, 1)
    f.write(image + samples + b"\0" * (-len(samples) % 2880))
PY

# About: the text comes from the DLL's string table through LoadStringA.
linux about > about.linux 2>&1 || true
windows about 2>&1 | uncr > about.windows || true
same "about text" about.linux about.windows
grep -q "Copyright © 2026" about.windows && ok "about text in the ANSI code page" ||
  fail "about text lost the © sign"

# FilterFile on a FITS file and on something else, with the exit status.
for f in m51-16.fits m51-8.fits m51-16.fits.gz plain.txt; do
  set +e
  linux check "$f" > "check-$f.linux" 2>&1; echo "exit $?" >> "check-$f.linux"
  windows check "$f" 2>&1 | uncr > "check-$f.windows"; echo "exit ${PIPESTATUS[0]}" >> "check-$f.windows"
  set -e
  same "FilterFile $f" "check-$f.linux" "check-$f.windows"
done

# Opens: the module reads the file through _lread/_llseek on the file
# handle the host puts in dataFork.
# The gzip files are inflated by the zlib linked into the DLL.
for image in m51-8.fits:pgm m51-16.fits:pgm f32.fits:pgm i32.fits:pgm f64.fits:pgm i64.fits:pgm \
             rgb8.fits:ppm rgb16.fits:ppm m51-16.fits.gz:pgm f32.fits.gz:pgm wide.fits:pgm tall.fits:pgm \
             past2gib.fits:pgm; do
  file=${image%%:*} ext=${image##*:}
  name=${file%.fits}; name=${name/.fits.gz/-gz}
  linux open "$file" "open-$name.linux.$ext" 2> "open-$name.linux.err" || true
  windows open "$file" "open-$name.windows.$ext" 2> "open-$name.windows.err" || true
  if [[ -s open-$name.linux.$ext ]]; then
    same "open $file (${ext^^})" "open-$name.linux.$ext" "open-$name.windows.$ext"
  else
    fail "open $file: the Linux build wrote nothing: $(cat "open-$name.linux.err")"
  fi
done

# Saves: the module writes through _lwrite on the file handle.
for image in small-8.pgm small-16.pgm open-m51-16.linux.pgm open-f32.linux.pgm open-wide.linux.pgm \
             open-tall.linux.pgm \
             open-rgb8.linux.ppm open-rgb16.linux.ppm; do
  linux save "$image" "save-$image.linux.fits" 2> "save-$image.linux.err" || true
  windows save "$image" "save-$image.windows.fits" 2> "save-$image.windows.err" || true
  if [[ -s save-$image.linux.fits ]]; then
    same "save $image (FITS bytes)" "save-$image.linux.fits" "save-$image.windows.fits"
  else
    fail "save $image: the Linux build wrote nothing: $(cat "save-$image.linux.err")"
  fi
done
# A save with the kept header: open, convert to RGB, save.
linux convert rgb16.fits convert-rgb16.linux.fits --depth 8 2> convert.linux.err || true
windows convert rgb16.fits convert-rgb16.windows.fits --depth 8 2> convert.windows.err || true
if [[ -s convert-rgb16.linux.fits ]]; then
  same "convert rgb16.fits --depth 8 (FITS bytes)" convert-rgb16.linux.fits convert-rgb16.windows.fits
else
  fail "convert rgb16.fits: the Linux build wrote nothing: $(cat convert.linux.err)"
fi

# A header of 40 blocks (1,440 cards, past the editor's 1,000 resources) of
# cards a 'hist' record cuts short: the document keeps it whole, and the
# save writes every card back byte for byte.
$python - <<'PY'
cards = ["SIMPLE  =                    T", "BITPIX  =                   16", "NAXIS   =                    2",
         "NAXIS1  =                    6", "NAXIS2  =                    4",
         "BZERO   =              32768.0 / unsigned samples, with a comment that runs on to col 80"]
while len(cards) < 40 * 36 - 1:
    i = len(cards)
    cards.append(["HISTORY %05d " % i + "h" * 70, "DATE%04d= '%s' / cut" % (i, "d" * 60),
                  "HIERARCH ESO DET CHIP%d NAME = '%s'" % (i, "x" * 40)][i % 3])
header = "".join(c[:80].ljust(80) for c in cards + ["END"]).encode()
data = b"".join((v * 1000).to_bytes(2, "big", signed=True) for v in range(-12, 12))
with open("long40.fits", "wb") as f:
    f.write(header + data + b"\0" * (-len(data) % 2880))
PY
linux convert long40.fits long40.linux.fits 2> long40.linux.err || true
windows convert long40.fits long40.windows.fits 2> long40.windows.err || true
if [[ -s long40.linux.fits ]]; then
  same "convert of a 40-block header (FITS bytes)" long40.linux.fits long40.windows.fits
  if cmp -s <(head -c $((40 * 2880)) long40.fits) <(head -c $((40 * 2880)) long40.windows.fits); then
    ok "a 40-block header kept whole under wine: every card back byte for byte"
  else
    fail "a 40-block header under wine: the saved header is not the one read"
  fi
else
  fail "convert long40.fits: the Linux build wrote nothing: $(cat long40.linux.err)"
fi

# The module listing: the PIPL resource read with FindResourceEx against the
# .pipl section read from the ELF file (the path lines differ).
linux modules "$(dirname "$linux_cli")" | tail -n +2 > modules.linux
windows modules | uncr | tail -n +2 > modules.windows
same "modules listing" modules.linux modules.windows
grep -q "ENTRYPOINT ('8664', 64-bit Windows code)" modules.windows &&
  ok "the 64-bit module names its entry under '8664'" || fail "no '8664' entry in the listing"

# 32-bit documents: float and wide integer files opened at depth 32 to PFM
# (the document's floats as they are) by both CLIs.
for file in f32.fits f64.fits i32.fits i64.fits f32.fits.gz; do
  name=${file%.fits}; name=${name/.fits.gz/-gz}
  linux open "$file" "open32-$name.linux.pfm" --depth 32 2> "open32-$name.linux.err" || true
  windows open "$file" "open32-$name.windows.pfm" --depth 32 2> "open32-$name.windows.err" || true
  if [[ -s open32-$name.linux.pfm ]]; then
    same "open --depth 32 $file (PFM)" "open32-$name.linux.pfm" "open32-$name.windows.pfm"
  else
    fail "open --depth 32 $file: the Linux build wrote nothing: $(cat "open32-$name.linux.err")"
  fi
done

# The Windows host against the module, past what the CLI shows: the about
# box's owner, the documents Save As offers both DLLs for, and a float file
# opened into a 32-bit document and saved back with its header and open
# record, which on Linux goes through a TIFF.
linux open f32.fits float-doc.linux.tiff --depth 32 2> float-doc.linux.err &&
  linux save float-doc.linux.tiff float-back.linux.fits 2>> float-doc.linux.err || true
if windows_out=$(timeout -k 5 60 "${wine_locale[@]}" "$wine" "$root/build-win64/wine_host_check.exe" \
                 "$(dirname "$windows_cli")" --pipl "$root/build-win32/Nebulite.8bi" \
                 --float f32.fits float-back.windows.fits 2>&1 | uncr); then
  ok "wine_host_check: $(grep -c '^ok' <<<"$windows_out") checks"
else
  echo "$windows_out"
  fail "wine_host_check"
fi
if [[ -s float-back.linux.fits ]]; then
  same "f32.fits opened into a 32-bit document and saved back (FITS bytes)" float-back.linux.fits \
    float-back.windows.fits
  # Saved back to its own BITPIX: the data unit is the file's, NaN aside
  # (blanks open as 0).
  if $python - f32.fits float-back.windows.fits <<'PY'
import math, struct, sys
def data(path):
    with open(path, "rb") as f:
        raw = f.read()
    at = 0
    while raw[at:at + 8] != b"END     ":
        at += 80
    start = (at // 2880 + 1) * 2880
    return struct.unpack(">%df" % (40 * 30), raw[start:start + 4 * 40 * 30])
a, b = data(sys.argv[1]), data(sys.argv[2])
sys.exit(0 if all((x == y and math.copysign(1, x) == math.copysign(1, y)) or (math.isnan(x) and y == 0.0)
                  for x, y in zip(a, b)) else 1)
PY
  then
    ok "f32.fits saved back from its 32-bit document: the file's float32 samples bit for bit"
  else
    fail "f32.fits saved back from its 32-bit document: samples changed"
  fi
else
  fail "f32.fits at depth 32: the Linux build wrote nothing: $(cat float-doc.linux.err)"
fi
clock "wine runs" "$start"
fi  # files

# ---- The dialogs on a virtual display -------------------------------------------------
# Xvfb on :99, or the next display number no other X server holds. The wine
# server started headless above is stopped first, so that the programs wine
# starts for the desktop come up on the display too.
shot_png=$linux_build/open-dialog.png
dialogs() {
  local display=99 socket shot=open-dialog status=0
  while [[ -e /tmp/.X$display-lock ]]; do display=$((display + 1)); ((display < 200)) || return 1; done
  Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >xvfb.log 2>&1 &
  xvfb_pid=$!
  socket=/tmp/.X11-unix/X$display
  for _ in $(seq 50); do [[ -S $socket ]] && break; sleep 0.2; done
  [[ -S $socket ]] || { cat xvfb.log; echo "Xvfb :$display did not start"; return 1; }
  timeout -k 5 30 "$wineserver" -k >/dev/null 2>&1 || true
  # The dialogs alone, with a made-up file and preview.
  DISPLAY=:$display timeout -k 5 240 "${wine_locale[@]}" "$wine" "$root/build-win64/dialog_check.exe" \
    >dialogs.out 2>&1 || status=$?
  tr -d '\r' <dialogs.out
  # The module's own dialog in a read: it waits with the second image, its
  # second plane and a stretch chosen until the screenshot is taken.
  DISPLAY=:$display timeout -k 5 240 "${wine_locale[@]}" "$wine" "$root/build-win64/open_dialog_host_check.exe" \
    "$root/build-win64" mef-dialog.fits dialog.windows.pgm dialog.windows.json --screenshot "$shot" \
    >host-dialog.out 2>&1 &
  local check=$!
  for _ in $(seq 300); do [[ -s $shot.ready ]] || ! kill -0 $check 2>/dev/null && break; sleep 0.2; done
  if [[ -s $shot.ready ]]; then
    read -r x y w h <"$shot.ready"
    rm -f "$shot_png"
    # Without the date chunks the same dialog gives the same bytes.
    DISPLAY=:$display import -window root -crop "${w}x${h}+${x}+${y}" +repage \
      -define png:exclude-chunks=date,time "$shot_png" && [[ -s $shot_png ]] && screenshot=1
  fi
  touch "$shot.done"
  wait $check || status=$?
  tr -d '\r' <host-dialog.out
  kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
  return $status
}
if dialogs_too; then
start=$SECONDS
if ! command -v Xvfb >/dev/null || ! command -v import >/dev/null; then
  echo "windows_checks: dialogs skipped: Xvfb or ImageMagick's import is not installed (scripts/setup.sh)"
else
  # The file the module's dialog is shown: an empty primary, a 16-bit frame,
  # a float cube of two planes (a galaxy and its stars, then the same field
  # in another band: the plane the dialog is driven to), a table, and an
  # 8-bit cube of three planes.
  $python - <<'PY'
import math, struct

def card(key, value):
    return ("%-8s= %20s" % (key, value)).ljust(80)

def header_bytes(cards):
    h = ("".join(cards) + "END".ljust(80)).encode()
    return h + b" " * (-len(h) % 2880)

def extension(bitpix, axes, samples, extra=()):
    cards = [("XTENSION= 'IMAGE   '").ljust(80), card("BITPIX", bitpix), card("NAXIS", len(axes))]
    cards += [card("NAXIS%d" % (i + 1), n) for i, n in enumerate(axes)]
    cards += [card("PCOUNT", 0), card("GCOUNT", 1)] + list(extra)
    code = {8: "B", 16: "h", -32: "f"}[bitpix]
    data = struct.pack(">%d%s" % (len(samples), code), *samples)
    return header_bytes(cards) + data + b"\0" * (-len(data) % 2880)

def galaxy(x, y, plane):
    # Plane 2: a wider, fainter disc, a knot in one arm, the stars dimmer.
    dx, dy = (x - 120.0) / 46.0, (y - 100.0) / 22.0
    rx, ry = dx * 0.94 + dy * 0.34, -dx * 0.75 + dy * 0.94
    v = (900.0 if plane == 1 else 500.0) * math.exp(-math.sqrt(rx * rx + ry * ry) * (3.2 if plane == 1 else 2.0))
    for sx, sy, peak in ((40, 30, 700), (210, 50, 500), (180, 160, 900), (60, 150, 300), (230, 120, 250)):
        v += peak * (1.0 if plane == 1 else 0.4) * math.exp(-((x - sx) ** 2 + (y - sy) ** 2) / 3.0)
    if plane == 2:
        v += 600.0 * math.exp(-((x - 150) ** 2 + (y - 112) ** 2) / 8.0)
    return 15.0 + ((x * 73856093 + plane) ^ (y * 19349663)) % 23 + v

name = lambda text: ("EXTNAME = '%-8s'" % text).ljust(80)
with open("mef-dialog.fits", "wb") as f:
    f.write(header_bytes([card("SIMPLE", "T"), card("BITPIX", 16), card("NAXIS", 0), card("EXTEND", "T")]))
    f.write(extension(16, (96, 64), [(x * 331 + y * 97) % 4000 - 32000 for y in range(64) for x in range(96)],
                      [card("BZERO", "32768.0"), name("SCI")]))
    f.write(extension(-32, (256, 192, 2), [galaxy(x, y, p) for p in (1, 2) for y in range(192) for x in range(256)],
                      [name("SCI"), card("EXTVER", 2)]))
    f.write(header_bytes([("XTENSION= 'BINTABLE'").ljust(80), card("BITPIX", 8), card("NAXIS", 2),
                          card("NAXIS1", 4), card("NAXIS2", 3), card("PCOUNT", 0), card("GCOUNT", 1),
                          card("TFIELDS", 1), "TFORM1  = '1J      '".ljust(80), name("CAT")]) +
            bytes(12) + bytes(2880 - 12))
    f.write(extension(8, (32, 24, 3), [(x * 7 + y * 5 + p * 60) % 256 for p in range(3) for y in range(24)
                                       for x in range(32)], [name("CUBE")]))
PY
  screenshot=0
  if dialogs >dialogs.log 2>&1; then
    ok "dialog_check and open_dialog_host_check: $(grep -c '^ok' dialogs.log) checks of the dialogs" \
      "driven on a virtual display; the module's own dialog:"
    tr -d '\r' <host-dialog.out | sed 's/^/        /'
  else
    cat dialogs.log
    fail "dialog_check or open_dialog_host_check"
  fi
  ((screenshot)) && ok "screenshot of the module's open dialog: $shot_png" ||
    fail "no screenshot of the open dialog"
  # The document the dialog's choices opened is the Linux CLI's with the
  # same options, and the module handed back the same descriptor.
  linux open mef-dialog.fits dialog.linux.pgm --image 2 --plane 2 --stretch asinh --depth auto \
    --record dialog.linux.json 2>dialog.linux.err || true
  if [[ -s dialog.linux.pgm ]]; then
    same "open through the dialog (second image, plane 2, asinh) = open --image 2 --plane 2 --stretch asinh" \
      dialog.linux.pgm dialog.windows.pgm
    same "the descriptor the dialog's open hands back = the Linux CLI's --record" \
      dialog.linux.json dialog.windows.json
  else
    fail "open mef-dialog.fits --image 2 --plane 2 --stretch asinh:" \
      "the Linux build wrote nothing: $(cat dialog.linux.err)"
  fi
fi
clock "dialogs" "$start"
fi  # dialogs_too

echo
echo "timings:"
printf '  %s\n' "${timing[@]}"
echo "$passed passed, $failed failed"
((failed == 0))
