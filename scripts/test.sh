#!/usr/bin/env bash
# All tests: the host build (with the fault sweep, the firmware image
# booted in QEMU, and murvane-board on real Arm Linux kernels under QEMU,
# testbench/linux), static analysis, the lint of the integrator's module
# files, the same tests under AddressSanitizer and UndefinedBehaviorSanitizer,
# and the libFuzzer harness (its kept inputs, then a bounded fuzzing run).
# It first installs what the tests need (scripts/deps.sh, Debian packages).
#
# usage: scripts/test.sh           run everything (long: three builds, every QEMU boot, both rigs)
#        scripts/test.sh --help    this text; nothing is installed, built or run
# One part alone, once built: ctest --preset default -R NAME (see README.md).
set -euo pipefail
case "${1:-}" in
  -h | --help)
    sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"
    exit 0
    ;;
  "") ;;
  *)
    echo "test.sh: unknown argument $1 (see --help)" >&2
    exit 2
    ;;
esac
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
