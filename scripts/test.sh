#!/usr/bin/env bash
# Everything CI runs: the Release build and the ASan+UBSan build, each built
# and tested with ctest. Stops at the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=2
summary=()
step() {
  local name=$1; shift
  local start=$SECONDS
  echo
  echo "=== $name"
  if "$@"; then
    summary+=("ok    $name ($((SECONDS - start)) s)")
  else
    summary+=("FAIL  $name ($((SECONDS - start)) s)")
    report
    exit 1
  fi
}
report() {
  echo
  echo "=== summary"
  printf '%s\n' "${summary[@]}"
}

step "setup" bash scripts/setup.sh

step "release: configure" cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
step "release: build" cmake --build build -j"$jobs"
step "release: ctest" ctest --test-dir build --output-on-failure -j"$jobs"

step "sanitize: configure" cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNEBULITE_SANITIZE=ON
step "sanitize: build" cmake --build build-sanitize -j"$jobs"
step "sanitize: ctest" env ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize --output-on-failure -j"$jobs"

# The libFuzzer targets, built with clang from their own instrumented copy of
# the module, so that a change that breaks them shows here; each then runs
# its stored corpus once (the long runs are by hand, see fuzz/README.md).
fuzz_targets=$(sed -n 's/^set(NEBULITE_\(CODEC_\|DEBAYER_\)\{0,1\}FUZZ_TARGETS \(.*\))$/\2/p' fuzz/CMakeLists.txt)
fuzz_smoke() {
  local t
  for t in $fuzz_targets; do
    build-fuzz/fuzz/fuzz_$t -runs=0 -rss_limit_mb=2048 fuzz/corpus/$t >/dev/null 2>build-fuzz/fuzz_$t.log ||
      { tail -30 build-fuzz/fuzz_$t.log; return 1; }
  done
}
step "fuzz: configure (clang)" env CC=clang CXX=clang++ \
  cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNEBULITE_FUZZ=ON
step "fuzz: build" cmake --build build-fuzz -j"$jobs" --target $(printf 'fuzz_%s ' $fuzz_targets)
step "fuzz: corpus once" fuzz_smoke

# The fuzz-corpus replays, the independent-reader checks and, where MinGW
# and Wine are installed, the Windows module checks are CTest entries, so
# the two ctest steps above run them.

report
echo "test: all steps passed"
