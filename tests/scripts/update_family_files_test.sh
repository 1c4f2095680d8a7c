#!/usr/bin/env bash
# scripts/update-family-files.sh given a build configured without the
# firmware images (or without the benchmarks): it must say at once what it
# needs, exit 2 and change nothing (before, it rewrote the goldens and the
# seeds and then died in the build). Run on a copy of scripts/ in a scratch
# tree, so that a regression cannot touch the source tree.
# usage: update_family_files_test.sh SOURCE_DIR WORK_DIR
set -euo pipefail
src="$1" work="$2"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for option in MURVANE_FIRMWARE MURVANE_BENCH; do
  rm -rf "$work"
  mkdir -p "$work/tree" "$work/build"
  cp -R "$src/scripts" "$work/tree/scripts"
  printf '%s:BOOL=OFF\n' "$option" >"$work/build/CMakeCache.txt"
  before=$(cd "$work" && find . -type f | sort | xargs sha256sum)
  status=0
  "$work/tree/scripts/update-family-files.sh" "$work/build" >"$work/out" 2>"$work/err" || status=$?
  after=$(cd "$work" && find . -path ./out -prune -o -path ./err -prune -o -type f -print | sort | xargs sha256sum)
  [ "$status" -eq 2 ] || fail "$option=OFF: exit status $status, not 2"
  grep -q "configured with $option=OFF" "$work/err" || fail "$option=OFF: the error does not name it: $(cat "$work/err")"
  grep -q "nothing was changed" "$work/err" || fail "$option=OFF: no \"nothing was changed\""
  [ "$before" = "$after" ] || fail "$option=OFF: files were written or changed"
  [ ! -s "$work/out" ] || fail "$option=OFF: it printed on standard output: $(head -3 "$work/out")"
  echo "$option=OFF: $(head -1 "$work/err")"
done
if [ "$failures" -ne 0 ]; then
  exit 1
fi
echo "ok: a build without the firmware images or the benchmarks is refused up front, nothing changed"
