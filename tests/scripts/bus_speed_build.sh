#!/usr/bin/env bash
# A slower bus, configured the plain way: `cmake -S . -B DIR
# -DCMAKE_BUILD_TYPE=Release` with no preset, so with the compiler CMake
# finds (Debian's default GCC), and MURVANE_I2C_SPEED_KHZ=100. The host
# commands (murvane-sim, murvane-depex, murvane-fw-check) must build without
# a warning (warnings are errors; GCC 12 at -O3 warns about some string
# concatenations the default preset's -O2 leaves alone), and then:
#   - every transfer carries the 100 kHz clock in its slave configuration;
#   - the modeled time of a healthy boot is the default build's plus what the
#     transfers take longer at a quarter of the clock: 300 us a read and
#     225 us a write (30 and 40 bit times, docs/murvane-sim.md "Time");
#   - the tool's own VCD export, checked as a capture, matches: a healthy
#     boot, and a run whose polls run to their count.
# usage: bus_speed_build.sh SOURCE_DIR BUILD_DIR DEFAULT_MURVANE_SIM
set -euo pipefail
src="$1" build="$2" default_sim="$3"
# shellcheck source=tests/scripts/sim_build_checks.sh
source "$(dirname "$0")/sim_build_checks.sh"

echo "configuring $build: Release, no preset, MURVANE_I2C_SPEED_KHZ=100"
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DMURVANE_TESTS=OFF -DMURVANE_BENCH=OFF -DMURVANE_FIRMWARE=OFF -DMURVANE_I2C_SPEED_KHZ=100 >/dev/null
if ! cmake --build "$build" --target murvane-sim murvane-depex murvane-fw-check -j 2 >"$build/build.log" 2>&1; then
  grep -E -m 20 'error|warning' "$build/build.log" || tail -40 "$build/build.log"
  echo "FAIL: the host commands do not build warning-free as a plain Release configure (log: $build/build.log)"
  exit 1
fi
slow="$build/tools/murvane-sim"

trace="$build/zq3101-100khz.jsonl"
"$slow" --chip zq3101 --trace - >"$trace"
transfers_carry "$trace" '"config":\[100,' "the 100 kHz clock in their slave configuration"

# "modeled time   28637.5 us in all", "transfers    69 reads, 137 writes, 0 failed"
summary() { "$1" --chip zq3101 | awk '
  /^modeled time/ { t = $3 } /^transfers/ { r = $2; w = $4 } END { print t, r, w }'; }
read -r fast_us reads writes < <(summary "$default_sim")
read -r slow_us slow_reads slow_writes < <(summary "$slow")
echo "400 kHz: $fast_us us; 100 kHz: $slow_us us; $reads reads, $writes writes"
[ "$reads" = "$slow_reads" ] && [ "$writes" = "$slow_writes" ] || fail "the two builds made different transfers"
expected=$(awk -v f="$fast_us" -v r="$reads" -v w="$writes" 'BEGIN { printf "%.1f", f + r * 300 + w * 225 }')
[ "$slow_us" = "$expected" ] || fail "the 100 kHz boot takes $slow_us us; the formula gives $expected us"

# The export checked as a capture of itself.
export_matches_itself "$slow" 100 "$build" zq3201

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "ok: a plain Release build at 100 kHz builds warning-free, takes the formula's time and matches its own export"
