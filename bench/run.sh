#!/usr/bin/env bash
# The open/save benchmark: nebulite (CLI + module) against a cfitsio peer.
#
#   bash bench/run.sh [--runs N] [--only open16,open8,openrgb8,openf32,opengz16,openfz16,openfzf32,openf64,save16,save8,savefz16,png16]
#
# Builds a Release tree in $NEBULITE_BENCH_BUILD (default /tmp/nebulite-bench-build)
# from this checkout, makes the inputs in $NEBULITE_BENCH_WORK (default a
# folder under /tmp, kept between runs so the ~600 MiB of inputs are made
# once; delete it to start over) and prints a table. Takes two to three
# minutes (the first run also makes the inputs, about 30 s).
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
cmake --build "$build" -j2 --target nebulite nebulite_module cfitsio_peer nebulite_inprocess nebulite_tile_decode >/dev/null

echo "nebulite: $build/nebulite (module $build/Nebulite.so), commit $(git -C "$root" rev-parse --short HEAD)$(git -C "$root" diff --quiet HEAD -- . 2>/dev/null || echo ' + uncommitted changes')"
echo "peer:     $build/cfitsio_peer (cfitsio $(pkg-config --modversion cfitsio 2>/dev/null || echo '?'))"
status=0
"$python" "$here/bench.py" "$build/nebulite" "$build/cfitsio_peer" "$work" "$@" || status=$?

# The same jobs without the CLI's PGM/PPM code: the module and the reference
# host in one process against cfitsio in the same process (fresh buffers on
# both sides every run; peak is what each job adds to the process).
echo
echo "In-process (module + reference host, no image files), best of 3:"
for input in open16.fits open8.fits openrgb8.fits openf32.fits opengz16.fits.gz openfz16.fits.fz openfzf32.fits.fz openf64.fits; do
  if [ -f "$work/$input" ]; then
    "$build/nebulite_inprocess" open "$work/$input" 3 || status=1
  fi
done
"$build/nebulite_inprocess" save 8192 8192 16 "$work" 3 || status=1
"$build/nebulite_inprocess" save 8192 8192 8 "$work" 3 || status=1

# Tile-compressed inputs, made once by fpack from generated images: the
# codecs decoding every tile (the tile table read from memory) against
# cfitsio's fits_read_img of the same file, in one process, best of 3.
echo
echo "Tile decoding (codecs against cfitsio fits_read_img on the same .fz), best of 3:"
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
    "$build/nebulite_tile_decode" "$work/tiles-$name.fits.fz" 3 || status=1
  done
else
  echo "  fpack not installed: skipped"
fi
exit $status
