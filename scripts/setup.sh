#!/usr/bin/env bash
# Installs the Debian packages Nebulite's build, tests and tools need, and
# only those that are missing. Safe to run again: with everything present it
# changes nothing and needs no network.
set -euo pipefail

packages=(
  # build and tests
  build-essential cmake pkg-config libgtest-dev libpng-dev libtiff-dev zlib1g-dev
  # test oracles
  libcfitsio-dev libcfitsio-bin fitsverify python3-astropy python3-numpy netpbm
  # the CLI's TIFF and install checks: an independent TIFF reader and writers,
  # and man(1) for the installed manual page; OpenCV reads and writes PFM
  python3-tifffile imagemagick man-db python3-opencv
  # real multi-extension files (large VIMOS and NOT images) for the oracle tests
  eso-midas-testdata
  # demosaicing: OpenCV's bilinear as an oracle, scikit-image's sample photographs
  libopencv-imgproc-dev python3-opencv python3-skimage
  # sanitizers, fuzzing, memory checks
  clang libclang-rt-14-dev valgrind
  # the Windows module and its checks
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 libz-mingw-w64-dev wine64 python3-pefile
  # the dialogs under wine: a virtual X display (ImageMagick, above, takes the screenshot)
  xvfb
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [[ "$status" == installed ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi

sudo=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "setup: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo=(sudo)
fi

echo "setup: installing ${missing[*]}"
# Another apt or dpkg run may hold the locks: wait for it rather than fail.
wait_for_lock=(-o DPkg::Lock::Timeout=900)
"${sudo[@]}" apt-get "${wait_for_lock[@]}" update
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "${wait_for_lock[@]}" install -y --no-install-recommends \
  "${missing[@]}"
