#!/usr/bin/env bash
# Writes the seed inputs of the CLI's fuzz targets: small PNM, PNG and TIFF
# files of every kind the readers take (and a few they refuse by name), and
# FITS files for the header reader taken from the read target's corpus.
#
#   bash fuzz/make_cli_seeds.sh OUTDIR    # OUTDIR/pnm, OUTDIR/png, OUTDIR/tiff, OUTDIR/header
#
# Needs ImageMagick and netpbm. The committed corpora (fuzz/corpus/<target>)
# are these seeds merged with what fuzzing added, minimised with -merge=1.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: make_cli_seeds.sh OUTDIR}
mkdir -p "$out"/{pnm,png,tiff,header}
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

# FITS headers: the read target's seeds hold every shape the module opens.
if [ -d "$here/corpus/read" ]; then
  ls "$here/corpus/read" | head -80 | while read -r f; do cp "$here/corpus/read/$f" "$out/header/"; done
fi
