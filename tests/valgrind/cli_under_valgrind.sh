#!/usr/bin/env bash
# The nebulite CLI's open, save, convert and info of small files under valgrind
# (memcheck, full leak check). Every run must be free of memcheck errors;
# the commands that should work must exit 0, the refusal must exit 1.
#
#   cli_under_valgrind.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
cli=$build/nebulite
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
# run EXPECTED_STATUS NAME ARGS...
run() {
  local expected=$1 name=$2
  shift 2
  local log=$work/$name.valgrind
  local status=0
  valgrind -q --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect,possible \
    --suppressions="$here/nebulite.supp" --log-file="$log" "$cli" "$@" >"$work/$name.out" 2>&1 || status=$?
  # -q: valgrind writes nothing unless it found something.
  if [[ -s $log ]]; then
    echo "FAIL $name: memcheck reported:"
    cat "$log"
    failures=$((failures + 1))
  elif [[ $status -ne $expected ]]; then
    echo "FAIL $name: exit status $status, expected $expected"
    cat "$work/$name.out"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

sample=$source/samples/m51-64x48.fits
rgb=$source/tests/data/malformed/naxis_2_then_3.fits
refused=$source/tests/data/malformed/bitpix_12.fits
cut=$source/tests/data/malformed/data_cut_half_16.fits
extension=$source/tests/data/malformed/mef_image_after_table.fits
compressed=$source/tests/data/malformed/mef_compressed.fits

run 0 open-grey open "$sample" "$work/m51.pgm"
run 0 open-rgb-png open "$rgb" "$work/rgb.png"
run 0 save-pgm save "$work/m51.pgm" "$work/m51.fits"
run 0 save-png save "$work/rgb.png" "$work/rgb.fits"
run 0 open-rgb-tiff open "$rgb" "$work/rgb.tif"
run 0 save-tiff save "$work/rgb.tif" "$work/rgb-tiff.fits"
run 0 open-stretch open "$sample" "$work/m51-preview.png" --stretch
run 0 convert-rgb16 convert "$sample" "$work/m51-rgb16.fits" --rgb --depth 16
run 0 convert-grey8 convert "$work/rgb.fits" "$work/rgb-grey.fits" --gray --depth 8
run 1 open-refused open "$refused" "$work/refused.pgm"
run 1 open-cut open "$cut" "$work/cut.pgm"
run 0 info-extension info "$extension"
run 0 convert-extension convert "$extension" "$work/extension.fits"
run 1 open-compressed open "$compressed" "$work/compressed.pgm"

if [[ $failures -ne 0 ]]; then
  echo "$failures of the valgrind runs failed"
  exit 1
fi
