#!/usr/bin/env bash
# From a fresh clone: install what is missing, build the module and the CLI,
# and run the CLI on the bundled sample.
set -euo pipefail
cd "$(dirname "$0")/.."

sample=m51-64x48

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j2

mkdir -p out
run() { echo; echo "\$ $*"; "$@"; }
run build/nebulite about
run build/nebulite check "samples/$sample.fits"
run build/nebulite info "samples/$sample.fits"
run build/nebulite open "samples/$sample.fits" "out/$sample.png"
echo
echo "quickstart: wrote out/$sample.png; see README.md for the other commands"
