#!/usr/bin/env bash
# The open/save benchmark: nebulite (CLI + module) against a cfitsio peer.
#
#   bash bench/run.sh [--runs N] [--only open16,open8,openrgb8,openf32,save16,save8,png16]
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
cmake --build "$build" -j2 --target nebulite nebulite_module cfitsio_peer nebulite_inprocess >/dev/null

echo "nebulite: $build/nebulite (module $build/Nebulite.so), commit $(git -C "$root" rev-parse --short HEAD)$(git -C "$root" diff --quiet HEAD -- . 2>/dev/null || echo ' + uncommitted changes')"
echo "peer:     $build/cfitsio_peer (cfitsio $(pkg-config --modversion cfitsio 2>/dev/null || echo '?'))"
status=0
"$python" "$here/bench.py" "$build/nebulite" "$build/cfitsio_peer" "$work" "$@" || status=$?

# The same jobs without the CLI's PGM/PPM code: the module and the reference
# host in one process against cfitsio in the same process (fresh buffers on
# both sides every run; peak is what each job adds to the process).
echo
echo "In-process (module + reference host, no image files), best of 3:"
for name in open16 open8 openrgb8 openf32; do
  if [ -f "$work/$name.fits" ]; then
    "$build/nebulite_inprocess" open "$work/$name.fits" 3 || status=1
  fi
done
"$build/nebulite_inprocess" save 8192 8192 16 "$work" 3 || status=1
"$build/nebulite_inprocess" save 8192 8192 8 "$work" 3 || status=1
exit $status
