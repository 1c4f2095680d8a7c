#!/usr/bin/env bash
# The main job: build if needed, then boot the driver on the virtual
# platform against a simulated chip (default zq3101) and show what it did.
# Extra arguments go to murvane-sim (for example: --chip zq3402).
# Standard output is murvane-sim's alone: installing and building report on
# standard error, so `--trace -` gives the trace and nothing else.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh >&2
cmake --preset default >/dev/null
cmake --build --preset default --target murvane-sim >&2
exec ./build/default/tools/murvane-sim "$@"
