#!/usr/bin/env bash
# All tests: the host build, the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, the firmware image in QEMU, and the libFuzzer
# harness (its kept inputs, then a bounded fuzzing run).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

for preset in default sanitize fuzz; do
  echo "== $preset =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
