#!/usr/bin/env bash
# All tests: the host build (with the firmware image booted in QEMU and the
# fault sweep), static analysis, and the same tests under AddressSanitizer
# and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

echo "== default =="
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default

echo "== static analysis =="
./scripts/lint.sh build/default

echo "== sanitize =="
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize
