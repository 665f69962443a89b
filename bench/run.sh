#!/usr/bin/env bash
# The open/save benchmark: nebulite (CLI + module) against a cfitsio peer.
#
#   bash bench/run.sh [--runs N] [--only open16,open8,openrgb8,openf32,opengz16,openfz16,openfzf32,openf64,openreal,openfzreal,save16,save8,savefz16,png16,asinh16,asinhf32]
#
# Then the in-process opens and saves, tile decoding, and demosaicing (a
# 6248 x 4176 mosaic against its three-plane twin and cfitsio + OpenCV).
#
# Builds a Release tree in $NEBULITE_BENCH_BUILD (default /tmp/nebulite-bench-build)
# from this checkout, makes the inputs in $NEBULITE_BENCH_WORK (default a
# folder under /tmp, kept between runs so the ~600 MiB of inputs are made
# once; delete it to start over) and prints a table. Takes two to three
# minutes (the first run also makes the inputs, about 30 s). --only limits
# the table's rows; the in-process rows run for every input the work folder
# holds, and one of them alone is
#   $NEBULITE_BENCH_BUILD/nebulite_inprocess open|open32 FILE [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${NEBULITE_BENCH_BUILD:-/tmp/nebulite-bench-build}
work=${NEBULITE_BENCH_WORK:-/tmp/nebulite-bench-work}

python=/usr/bin/python3
if ! "$python" -c 'import numpy' 2>/dev/null; then
  echo "bench: $python cannot import numpy (apt-get install python3-numpy)" >&2
  exit 1
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target nebulite nebulite_module cfitsio_peer nebulite_inprocess nebulite_tile_decode \
  nebulite_debayer_bench >/dev/null
# Built where OpenCV's core and imgproc are installed (libopencv-imgproc-dev).
cmake --build "$build" -j2 --target nebulite_demosaic_open >/dev/null 2>&1 || true

echo "nebulite: $build/nebulite (module $build/Nebulite.so), commit $(git -C "$root" rev-parse --short HEAD)$(git -C "$root" diff --quiet HEAD -- . 2>/dev/null || echo ' + uncommitted changes')"
echo "peer:     $build/cfitsio_peer (cfitsio $(pkg-config --modversion cfitsio 2>/dev/null || echo '?'))"
status=0
"$python" "$here/bench.py" "$build/nebulite" "$build/cfitsio_peer" "$work" "$@" || status=$?

# The same jobs without the CLI's PGM/PPM code: the module and the reference
# host in one process against cfitsio in the same process (fresh buffers on
# both sides every run; peak is what each job adds to the process).
echo
echo "In-process (module + reference host, no image files), 5 interleaved runs:"
for input in open16.fits open8.fits openrgb8.fits openf32.fits opengz16.fits.gz openfz16.fits.fz openfzf32.fits.fz openf64.fits; do
  if [ -f "$work/$input" ]; then
    "$build/nebulite_inprocess" open "$work/$input" 5 || status=1
  fi
done
# Into 32-bit documents (the depth option at 32), against a cfitsio program
# that reads the whole image as floats (fits_read_img TFLOAT) into the
# buffer it keeps; the host image is 4 bytes a sample.
echo
echo "In-process into 32-bit documents (cfitsio reading the image as floats), 5 interleaved runs:"
for input in openf32.fits openfzf32.fits.fz; do
  if [ -f "$work/$input" ]; then
    "$build/nebulite_inprocess" open32 "$work/$input" 5 || status=1
  fi
done
echo
"$build/nebulite_inprocess" save 8192 8192 16 "$work" 3 || status=1
"$build/nebulite_inprocess" save 8192 8192 8 "$work" 3 || status=1

# Tile-compressed inputs, made once by fpack from generated images: the
# codecs decoding every tile (the tile table read from memory) against
# cfitsio's fits_read_img of the same file, in one process, best of 3.
echo
echo "Tile decoding (codecs and the module's tile decoder against cfitsio fits_read_img on the same .fz), medians of 5 interleaved runs:"
if command -v fpack >/dev/null; then
  if [ ! -f "$work/tiles-rice16.fits.fz" ]; then
    "$python" - "$work" <<'PY'
import sys
import numpy as np
from astropy.io import fits
work = sys.argv[1]
rng = np.random.default_rng(16)
fits.PrimaryHDU((1000 + rng.normal(0, 20, (8192, 8192))).astype(np.int16)).writeto(f"{work}/tiles-16.fits", overwrite=True)
fits.PrimaryHDU((1000 + rng.normal(0, 20, (4096, 4096))).astype(np.int16)).writeto(f"{work}/tiles-16-4k.fits", overwrite=True)
fits.PrimaryHDU((100 + rng.normal(0, 3, (4096, 4096))).astype(np.float32)).writeto(f"{work}/tiles-f32.fits", overwrite=True)
PY
    fpack -r -O "$work/tiles-rice16.fits.fz" "$work/tiles-16.fits"
    fpack -h -O "$work/tiles-hcompress16.fits.fz" "$work/tiles-16-4k.fits"
    fpack -g -O "$work/tiles-gzip16.fits.fz" "$work/tiles-16-4k.fits"
    fpack -r -q 4 -O "$work/tiles-quantized-f32.fits.fz" "$work/tiles-f32.fits"
    rm -f "$work/tiles-16.fits" "$work/tiles-16-4k.fits" "$work/tiles-f32.fits"
  fi
  for name in rice16 quantized-f32 hcompress16 gzip16; do
    "$build/nebulite_tile_decode" "$work/tiles-$name.fits.fz" 5 || status=1
  done
else
  echo "  fpack not installed: skipped"
fi
# A one-shot-colour frame of a common sensor (6248 x 4176, 16 bits): a star
# field of several colours over a sky with a gradient and noise, as a
# mosaic (BAYERPAT RGGB) and as the same scene in three planes, made once.
# The module opens the mosaic demosaiced by each method and the three planes
# as they are (the same RGB document); the peer reads the mosaic with
# cfitsio and demosaics it with OpenCV. The debayer library alone follows.
echo
echo "Demosaicing (module + host against the three-plane open and cfitsio + OpenCV, in one process):"
if [ -x "$build/nebulite_demosaic_open" ]; then
  if [ ! -f "$work/mosaic16.fits" ]; then
    "$python" - "$work" <<'PY'
import sys
import numpy as np
work = sys.argv[1]
rows, columns = 4176, 6248
rng = np.random.default_rng(26)
scene = np.empty((3, rows, columns), dtype=np.float32)
y = np.linspace(0, 1, rows, dtype=np.float32)[:, None]
x = np.linspace(0, 1, columns, dtype=np.float32)[None, :]
for c, tint in enumerate((1.10, 1.0, 0.85)):
    scene[c] = (1500 + 800 * x + 400 * y) * tint
    scene[c] += rng.normal(0, 40, (rows, columns)).astype(np.float32)
# 20000 stars, Gaussian, 1 to 3 pixels across, colours from red to blue, the
# brightest saturated.
k = np.arange(-7, 8, dtype=np.float32)
for cy, cx, peak, sigma, tint in zip(rng.integers(8, rows - 8, 20000), rng.integers(8, columns - 8, 20000),
                                     10 ** rng.uniform(2.5, 5.2, 20000), rng.uniform(0.5, 1.3, 20000),
                                     rng.uniform(0, 1, 20000)):
    g = np.exp(-(k[:, None] ** 2 + k[None, :] ** 2) / (2 * sigma * sigma)) * peak
    for c, w in enumerate((0.7 + 0.5 * tint, 1.0, 1.2 - 0.5 * tint)):
        scene[c, cy - 7:cy + 8, cx - 7:cx + 8] += g * w
np.clip(scene, 0, 65535, out=scene)
scene = scene.astype(np.uint16)
mosaic = np.empty((rows, columns), dtype=np.uint16)
mosaic[0::2, 0::2] = scene[0, 0::2, 0::2]
mosaic[0::2, 1::2] = scene[1, 0::2, 1::2]
mosaic[1::2, 0::2] = scene[1, 1::2, 0::2]
mosaic[1::2, 1::2] = scene[2, 1::2, 1::2]

def write(path, data, extra):
    axes = list(reversed(data.shape))
    cards = ["SIMPLE  = %20s" % "T", "BITPIX  = %20d" % 16, "NAXIS   = %20d" % len(axes)]
    cards += ["NAXIS%-3d= %20d" % (i + 1, a) for i, a in enumerate(axes)]
    cards += ["BZERO   = %20d" % 32768] + extra + ["END"]
    header = "".join(c.ljust(80) for c in cards).encode("ascii")
    body = (data.astype(np.int32) - 32768).astype(">i2").tobytes()
    with open(path, "wb") as f:
        f.write(header + b" " * (-len(header) % 2880))
        f.write(body + b"\0" * (-len(body) % 2880))

write(f"{work}/mosaic16.fits", mosaic, ["BAYERPAT= 'RGGB'", "ROWORDER= 'TOP-DOWN'"])
write(f"{work}/planes16.fits", scene, ["ROWORDER= 'TOP-DOWN'"])
PY
  fi
  "$build/nebulite_demosaic_open" "$work/mosaic16.fits" "$work/planes16.fits" 3 || status=1
else
  echo "  OpenCV (libopencv-imgproc-dev) not found: skipped"
fi
"$build/nebulite_debayer_bench" 6248 4176 3 || status=1
exit $status
