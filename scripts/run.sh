#!/usr/bin/env bash
# The main job: build if needed, then boot the driver on the virtual
# platform against a simulated chip (default zq3101) and show what it did.
# Extra arguments go to murvane-sim (for example: --chip zq3402).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target murvane-sim
exec ./build/default/tools/murvane-sim "$@"
