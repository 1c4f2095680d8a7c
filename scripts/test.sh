#!/usr/bin/env bash
# All tests: the host build, the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the firmware image in QEMU.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

for preset in default sanitize; do
  echo "== $preset =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
