#!/usr/bin/env bash
# Regenerates the golden traces the murvane-sim test compares against:
# tests/golden/<model>.jsonl, the jsonl trace of a healthy boot of one model
# per family, without the times; and tests/golden/f0/<model>.jsonl, the same
# model's f0 measurement after that boot (tests/golden/f0/measure.json), from
# its call on: the healthy boot never measures f0, and the measurement writes
# the family's own record values. Run it after an intended change of the
# driver's or a model's behaviour, then review `git diff tests/golden` before
# committing.
# Usage: scripts/update-golden.sh [BUILD_DIR]   (default: build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/default}"
if [ ! -f "$build/CMakeCache.txt" ]; then
  if [ "$build" != "build/default" ]; then
    echo "update-golden: $build is not a configured build directory" >&2
    exit 1
  fi
  cmake --preset default >/dev/null
fi
# The golden traces are the reference board's: never record another board's.
if ! grep -q 'reference_board = true' "$build/generated/murvane/board_settings.h" 2>/dev/null; then
  echo "update-golden: $build is not built with the default board settings (see $build/board-settings.txt)" >&2
  exit 1
fi
cmake --build "$build" --target murvane-sim >/dev/null
mkdir -p tests/golden
# One model per family: each family's first MODEL line in core/family_list.h,
# as golden_models in tests/test_murvane_sim.cpp takes them.
models=$(sed -nE 's/^  MODEL\(([a-z0-9]+), 0x[0-9A-Fa-f]+, ([a-z0-9]+)\).*/\1 \2/p' core/family_list.h |
  awk '!seen[$2]++ { print $1 }')
if [ -z "$models" ]; then
  echo "update-golden: no MODEL lines in core/family_list.h" >&2
  exit 1
fi
# The traces keep what the driver did, not when: each event's t_us (its last
# field) is taken off, as tests/test_murvane_sim.cpp does before comparing.
for model in $models; do
  "$build/tools/murvane-sim" --chip "$model" --quiet --trace - | sed -E 's/,"t_us":[0-9]+(\.[0-9]+)?}$/}/' \
    >"tests/golden/$model.jsonl"
  echo "tests/golden/$model.jsonl: $(wc -l <"tests/golden/$model.jsonl") events"
  "$build/tools/murvane-sim" tests/golden/f0/measure.json --chip "$model" --quiet --trace - |
    sed -E 's/,"t_us":[0-9]+(\.[0-9]+)?}$/}/' | sed -n '/^{"ev":"call","fn":"slot:get_f0"/,$p' \
    >"tests/golden/f0/$model.jsonl"
  if [ ! -s "tests/golden/f0/$model.jsonl" ]; then
    echo "update-golden: the $model run of tests/golden/f0/measure.json has no get_f0 call" >&2
    exit 1
  fi
  echo "tests/golden/f0/$model.jsonl: $(wc -l <"tests/golden/f0/$model.jsonl") events"
done
