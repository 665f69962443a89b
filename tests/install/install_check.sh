#!/usr/bin/env bash
# `cmake --install` into a fresh prefix, then the installed tree moved
# elsewhere and its CLI run with the build and source folders out of reach
# (covered by empty file systems in a private mount namespace, where the
# system allows one): about, --version naming the installed module, open of
# the installed sample (the same file as the build's CLI writes), a preview,
# and the manual page through `man -l` without warnings.
#
#   install_check.sh CMAKE BUILD_DIR SOURCE_DIR
set -euo pipefail
cmake=$1
build=$(cd "$2" && pwd)
source=$(cd "$3" && pwd)
work=$(mktemp -d /tmp/nebulite-install.XXXXXX)
trap 'rm -rf "$work"' EXIT

failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
ok() { echo "ok   $*"; }

"$cmake" --install "$build" --prefix "$work/installed" >"$work/install.log" ||
  { cat "$work/install.log"; exit 1; }
# Nothing in the tree may depend on where it was installed.
mv "$work/installed" "$work/moved"
prefix=$work/moved

for f in bin/nebulite lib/nebulite/Nebulite.so share/man/man1/nebulite.1 share/nebulite/m51-64x48.fits; do
  [[ -f $prefix/$f ]] && ok "installed $f" || fail "not installed: $f"
done
if readelf -d "$prefix/bin/nebulite" | grep -qE 'RPATH|RUNPATH'; then
  fail "bin/nebulite has a run path: $(readelf -d "$prefix/bin/nebulite" | grep -E 'RPATH|RUNPATH')"
fi

# What the build's CLI writes, to compare with the installed one's.
"$build/nebulite" open "$source/samples/m51-64x48.fits" "$work/from-build.png"

cat >"$work/runs.sh" <<'RUNS'
set -u
prefix=$1 work=$2
cd "$work"
"$prefix/bin/nebulite" about >about.txt 2>&1; echo "about $?" >status.txt
"$prefix/bin/nebulite" --version >version.txt 2>&1; echo "version $?" >>status.txt
"$prefix/bin/nebulite" open "$prefix/share/nebulite/m51-64x48.fits" installed.png 2>open.err
echo "open $?" >>status.txt
"$prefix/bin/nebulite" open "$prefix/share/nebulite/m51-64x48.fits" preview.png --stretch 2>preview.err
echo "preview $?" >>status.txt
MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/nebulite.1" >man.txt 2>man.err
echo "man $?" >>status.txt
RUNS

hidden=no
if unshare -m true 2>/dev/null; then
  # The build folder may lie inside the source folder; the work folder
  # lies in neither.
  if unshare -m bash -c 'mount -t tmpfs none "$1" && mount -t tmpfs none "$2" && shift 2 && bash "$@"' _ \
      "$build" "$source" "$work/runs.sh" "$prefix" "$work"; then
    hidden=yes
  fi
fi
if [[ $hidden == no ]]; then
  echo "note: no private mount namespace here; the installed tree runs with the build folder in place"
  bash "$work/runs.sh" "$prefix" "$work"
fi
[[ $hidden == yes ]] && ok "build and source folders hidden for the runs"

for step in about version open preview man; do
  status=$(awk -v s="$step" '$1 == s { print $2 }' "$work/status.txt")
  [[ $status == 0 ]] && ok "$step exits 0" || fail "$step exits ${status:-?}"
done
grep -q '^Nebulite$' "$work/about.txt" && ok "about text" || fail "about text: $(cat "$work/about.txt")"
expected="module: $prefix/lib/nebulite/Nebulite.so (Nebulite "
grep -q "^nebulite [0-9]" "$work/version.txt" && grep -qF "$expected" "$work/version.txt" &&
  ok "--version names the installed module" || fail "--version: $(cat "$work/version.txt")"
cmp -s "$work/installed.png" "$work/from-build.png" && ok "open writes what the build's CLI writes" ||
  fail "open: $(cat "$work/open.err")"
[[ -s $work/preview.png ]] && ok "preview" || fail "preview: $(cat "$work/preview.err")"
if [[ -s $work/man.err ]]; then
  fail "man -l warns: $(cat "$work/man.err")"
fi
grep -q -- "--stretch" "$work/man.txt" && grep -q "^NAME" "$work/man.txt" && ok "man -l shows the page" ||
  fail "man -l: $(head -5 "$work/man.txt")"

if [[ $failures -ne 0 ]]; then
  echo "$failures install checks failed"
  exit 1
fi
echo "install: all checks passed"
