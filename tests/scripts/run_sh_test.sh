#!/usr/bin/env bash
# scripts/run.sh keeps standard output for murvane-sim: installing and
# building report on standard error, so `--trace -` through run.sh is the
# trace alone, byte for byte what murvane-sim itself writes.
# usage: run_sh_test.sh SOURCE_DIR MURVANE_SIM
set -euo pipefail
src="$1" sim="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for format in jsonl text; do
  "$src/scripts/run.sh" --chip zq3402 --trace - --trace-format "$format" >"$work/run.$format" 2>"$work/err.$format"
  "$sim" --chip zq3402 --trace - --trace-format "$format" >"$work/direct.$format"
  if cmp -s "$work/run.$format" "$work/direct.$format"; then
    echo "ok:   run.sh --trace - ($format) is the trace alone ($(wc -l <"$work/run.$format") lines)"
  else
    fail "run.sh --trace - ($format) differs from murvane-sim's own output:"
    diff "$work/direct.$format" "$work/run.$format" | head -5 || true
  fi
done
head -n 1 "$work/run.jsonl" | grep -q '^{"ev":"call","fn":"entry","t_us":0}$' \
  || fail "the jsonl trace does not start with the entry call at time 0"
grep -q '^{"ev":' "$work/run.jsonl" && ! grep -qv '^{"ev":' "$work/run.jsonl" \
  || fail "a line of run.sh's standard output is not a trace event"

# The build's messages still reach the person: on standard error.
"$src/scripts/run.sh" --chip zq3402 --quiet >"$work/quiet.out" 2>"$work/quiet.err"
[ -s "$work/quiet.out" ] && fail "run.sh --quiet printed on standard output: $(head -c 200 "$work/quiet.out")"
grep -q 'ninja' "$work/quiet.err" || fail "the build's report did not reach standard error"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "run.sh ok"
