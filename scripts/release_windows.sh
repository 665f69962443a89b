#!/usr/bin/env bash
# Builds the Windows module for both architectures and packs each for users:
#   dist/Nebulite-<version>-win32/  Nebulite.8bi (32-bit) and INSTALL.txt
#   dist/Nebulite-<version>-win64/  Nebulite.8bi (64-bit) and INSTALL.txt
# and a .zip of each folder beside it.
#
# usage: scripts/release_windows.sh [--out DIR]
#   --out DIR  where the folders and zips go (default: dist/)
#
# The trees build-win32/ and build-win64/ are the ones scripts/windows_checks.sh
# uses, so after the checks this only packs what they checked.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

out=$root/dist
while (($#)); do
  case $1 in
    --out) mkdir -p "$2"; out=$(cd "$2" && pwd); shift 2 ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "release_windows: unknown argument $1" >&2; exit 2 ;;
  esac
done

version=$(sed -n 's/^project(Nebulite VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[[ -n $version ]] || { echo "release_windows: no version in CMakeLists.txt" >&2; exit 1; }
jobs=$(nproc 2>/dev/null || echo 2)

# The install note, with Windows line ends.
note() {  # architecture label, editor description, plug-ins folder
  sed 's/$/\r/' <<TXT
Nebulite $version, the FITS file format for Adobe Photoshop ($1)

Install
  1. Quit the editor.
  2. Copy Nebulite.8bi into the editor's plug-ins folder, for example
       $3
     (any folder below Plug-ins will do).
  3. Start the editor again.

This is the module for $2.

What you then see
  - "Nebulite" among the file formats of File > Open and File > Save As, for
    files ending in .fits, .fit, .fts and .fi*.
  - Help > About Plug-ins > Nebulite shows the version.
  - A FITS file opens as a grey or RGB image of 8 or 16 bits; its FITS header
    is kept with the document and written back, brought up to date, when you
    save it as FITS again.

Remove
  Quit the editor and delete Nebulite.8bi from the plug-ins folder.
TXT
}

pack() {  # arch, toolchain, label, editor, folder
  local arch=$1 toolchain=$2 dir=$root/build-$1
  if [[ ! -f $dir/CMakeCache.txt ]]; then
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release --toolchain "$root/cmake/$toolchain" >/dev/null
  fi
  cmake --build "$dir" -j"$jobs" --target nebulite_module >/dev/null
  local name=Nebulite-$version-$arch
  rm -rf "${out:?}/$name" "$out/$name.zip"
  mkdir -p "$out/$name"
  cp "$dir/Nebulite.8bi" "$out/$name/"
  note "$3" "$4" "$5" > "$out/$name/INSTALL.txt"
  (cd "$out" && cmake -E tar cf "$name.zip" --format=zip "$name")
  echo "release_windows: $out/$name.zip"
}

pack win64 toolchain-mingw-x86_64.cmake "64-bit Windows" \
  "the 64-bit editor on 64-bit Windows (every current release)" \
  'C:\Program Files\Adobe\Adobe Photoshop <version>\Plug-ins\File Formats'
pack win32 toolchain-mingw-i686.cmake "32-bit Windows" \
  "32-bit releases of the editor (version 5.0 and later)" \
  'C:\Program Files (x86)\Adobe\Photoshop <version>\Plug-ins\File Formats'
