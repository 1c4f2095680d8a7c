#!/usr/bin/env bash
# All tests: the host build (with the fault sweep and the firmware image
# booted in QEMU), static analysis, the lint of the integrator's module
# files, the same tests under AddressSanitizer and UndefinedBehaviorSanitizer,
# and the libFuzzer harness (its kept inputs, then a bounded fuzzing run).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

echo "== default =="
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default

echo "== static analysis =="
./scripts/lint.sh build/default
# The integrator's module files as staged by the build, beside the image.
./scripts/lint-edk2-modules.sh build/default/integration/MurvanePkg

for preset in sanitize fuzz; do
  echo "== $preset =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
