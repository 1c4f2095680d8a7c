#!/usr/bin/env bash
# Regenerates the golden traces the murvane-sim test compares against:
# tests/golden/<model>.jsonl, the jsonl trace of a healthy boot of one model
# per family. Run it after an intended change of the driver's or a model's
# behaviour, then review `git diff tests/golden` before committing.
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
# Keep this list in step with golden_models in tests/test_murvane_sim.cpp.
for model in zq3101 zq3201 zq3301 zq3401 zq3501 zq3601; do
  "$build/tools/murvane-sim" --chip "$model" --quiet --trace "tests/golden/$model.jsonl"
  echo "tests/golden/$model.jsonl: $(wc -l <"tests/golden/$model.jsonl") events"
done
