#!/usr/bin/env bash
# Writes the seed inputs of the CLI's fuzz targets: small PNM, PFM, PNG and
# TIFF files of every kind the readers take (and a few they refuse by name),
# and FITS files for the header reader taken from the read target's corpus.
#
#   bash fuzz/make_cli_seeds.sh OUTDIR    # OUTDIR/pnm, OUTDIR/pfm, OUTDIR/png, OUTDIR/tiff, OUTDIR/header
#
# Needs ImageMagick and netpbm. The committed corpora (fuzz/corpus/<target>)
# are these seeds merged with what fuzzing added, minimised with -merge=1.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: make_cli_seeds.sh OUTDIR}
mkdir -p "$out"/{pnm,pfm,png,tiff,header}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Small pictures with a gradient and noise, grey and RGB, 8 and 16 bits.
convert -size 7x5 gradient:black-white -depth 8 "$tmp/g8.pgm"
convert -size 7x5 gradient:black-white -depth 16 "$tmp/g16.pgm"
convert -size 6x4 plasma:red-blue -seed 1 -depth 8 "$tmp/c8.ppm" 2>/dev/null || convert -size 6x4 gradient:red-blue -depth 8 "$tmp/c8.ppm"
convert "$tmp/c8.ppm" -depth 16 "$tmp/c16.ppm"

# PNM: both kinds at both depths, an odd maxval, a comment.
cp "$tmp/g8.pgm" "$tmp/g16.pgm" "$tmp/c8.ppm" "$tmp/c16.ppm" "$out/pnm/"
pamdepth 1000 "$tmp/g16.pgm" > "$out/pnm/g1000.pgm"
pamdepth 100 "$tmp/c8.ppm" > "$out/pnm/c100.ppm"
printf 'P5\n# a comment\n3 2\n255\n\1\2\3\4\5\6' > "$out/pnm/comment.pgm"

# PFM: grey and RGB in both byte orders (pamtopfm), a scale other than 1,
# and by hand the extremes a reader meets: NaN, infinities, -0, denormals,
# a header with runs of spaces, and one whose data ends early.
pamtopfm -endian=big "$tmp/g8.pgm" > "$out/pfm/grey-big.pfm"
pamtopfm -endian=little "$tmp/g8.pgm" > "$out/pfm/grey-little.pfm"
pamtopfm -endian=big "$tmp/c8.ppm" > "$out/pfm/rgb-big.pfm"
pamtopfm -endian=little -scale=2.5 "$tmp/c8.ppm" > "$out/pfm/rgb-little-scaled.pfm"
{ printf 'Pf\n3 2\n-1.0\n'; printf '\0\0\xc0\x7f\0\0\x80\x7f\0\0\x80\xff\0\0\0\x80\1\0\0\0\xff\xff\x7f\x7f'; } \
  > "$out/pfm/extremes.pfm"
{ printf 'PF  \n 2   1\t1.0\n'; printf '\x3f\x80\0\0\x40\0\0\0\x40\x40\0\0\xbf\x80\0\0\0\0\0\0\x7f\x80\0\0'; } \
  > "$out/pfm/spaces.pfm"
printf 'Pf\n4 4\n-1.0\n\0\0\x80\x3f' > "$out/pfm/short.pfm"

# PNG: every colour type and depth, interlaced or not, with transparency.
n=0
png() { n=$((n + 1)); convert "$@" "$out/png/$n.png"; }
for il in None PNG; do
  for d in 1 2 4 8 16; do png "$tmp/g8.pgm" -interlace $il -define png:color-type=0 -define png:bit-depth=$d; done
  png "$tmp/c8.ppm" -interlace $il -define png:color-type=2 -define png:bit-depth=8
  png "$tmp/c16.ppm" -interlace $il -define png:color-type=2 -define png:bit-depth=16
  for d in 1 2 4 8; do png "$tmp/c8.ppm" -interlace $il -colors 4 -define png:color-type=3 -define png:bit-depth=$d; done
  png "$tmp/c8.ppm" -interlace $il -alpha set -channel A -fx 'i/w' -define png:color-type=3 -colors 5
  png "$tmp/g8.pgm" -interlace $il -alpha set -channel A -fx 'j/h' -define png:color-type=4 -define png:bit-depth=8
  png "$tmp/c16.ppm" -interlace $il -alpha set -channel A -fx 'j/h' -define png:color-type=6 -define png:bit-depth=16
done
pnmtopng -transparent =black "$tmp/g8.pgm" > "$out/png/grey-trns.png"
pnmtopng -transparent =red "$tmp/c8.ppm" > "$out/png/rgb-trns.png"
pnmtopng -text /dev/stdin "$tmp/g8.pgm" > "$out/png/text.png" <<< 'Title nebulite'
pnmtopng -ztxt /dev/stdin "$tmp/g8.pgm" > "$out/png/ztxt.png" <<< 'Title nebulite'

# TIFF: grey and RGB, 8 and 16 bits, each compression, planar, tiled, alpha.
n=0
tif() { n=$((n + 1)); convert "$@" "$out/tiff/$n.tif"; }
for src in g8.pgm g16.pgm c8.ppm c16.ppm; do
  for c in None LZW Zip RLE; do tif "$tmp/$src" -compress $c; done
done
tif "$tmp/c8.ppm" -interlace Plane
tif "$tmp/c16.ppm" -define tiff:tile-geometry=16x16
tif "$tmp/g8.pgm" -define tiff:rows-per-strip=2
tif "$tmp/c8.ppm" -alpha set
tif "$tmp/g8.pgm" -define quantum:polarity=min-is-white
tif "$tmp/c8.ppm" -compress JPEG
# 32-bit floating point (tifffile: ImageMagick's float TIFFs fail on this
# libtiff): grey and RGB, either byte order, deflate, planar, tiled, with
# alpha; and 64-bit floats, refused.
/usr/bin/python3 - "$out/tiff" <<'PY'
import sys
import numpy as np
import tifffile
out = sys.argv[1]
grey = np.linspace(-1.0, 2.0, 35, dtype=np.float32).reshape(5, 7)
grey[0, :3] = [np.nan, np.inf, -0.0]
rgb = np.linspace(0.0, 1.5, 72, dtype=np.float32).reshape(4, 6, 3)
tifffile.imwrite(f"{out}/float-grey.tif", grey)
tifffile.imwrite(f"{out}/float-grey-big.tif", grey, byteorder=">")
tifffile.imwrite(f"{out}/float-rgb-deflate.tif", rgb, photometric="rgb", compression="zlib")
tifffile.imwrite(f"{out}/float-rgb-planar.tif", np.moveaxis(rgb, 2, 0), photometric="rgb", planarconfig="separate")
tifffile.imwrite(f"{out}/float-grey-tiled.tif", np.tile(grey, (4, 3)), tile=(16, 16))
rgba = np.concatenate([rgb, np.ones((4, 6, 1), np.float32)], axis=2)
tifffile.imwrite(f"{out}/float-rgba.tif", rgba, photometric="rgb", extrasamples=["unassalpha"])
tifffile.imwrite(f"{out}/float64-grey.tif", grey.astype(np.float64))
PY

# FITS headers: the read target's seeds hold every shape the module opens.
if [ -d "$here/corpus/read" ]; then
  ls "$here/corpus/read" | head -80 | while read -r f; do cp "$here/corpus/read/$f" "$out/header/"; done
fi
