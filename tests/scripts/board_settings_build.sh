#!/usr/bin/env bash
# A board other than the reference one: configures and builds murvane-sim in
# its own build directory with non-default board settings, boots a healthy
# zq3101 and checks that the trace carries the board's bus instance, bus
# clock (1000 kHz), chip address and reset pin word, and that nothing else
# changed: with those values put back, the trace is byte for byte the
# reference board's golden trace (which keeps no times). At that clock the
# tool's own VCD export, checked as a capture, must match too.
# usage: board_settings_build.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src="$1" build="$2"
# shellcheck source=tests/scripts/sim_build_checks.sh
source "$(dirname "$0")/sim_build_checks.sh"

instance=3 address=0x2C pin=0x20001234 khz=1000
address_dec=$((address)) pin_dec=$((pin))
ref_address_dec=$((0x5A)) ref_pin_dec=$((0x200EC1E0))

echo "configuring $build with MURVANE_I2C_INSTANCE=$instance MURVANE_I2C_SPEED_KHZ=$khz" \
  "MURVANE_I2C_ADDRESS=$address MURVANE_RESET_PIN_WORD=$pin"
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMURVANE_TESTS=OFF -DMURVANE_BENCH=OFF -DMURVANE_FIRMWARE=OFF -DMURVANE_I2C_INSTANCE=$instance \
  -DMURVANE_I2C_SPEED_KHZ=$khz -DMURVANE_I2C_ADDRESS=$address -DMURVANE_RESET_PIN_WORD=$pin >/dev/null
grep -qx "MURVANE_I2C_ADDRESS=0x2C" "$build/board-settings.txt" || {
  echo "FAIL: $build/board-settings.txt does not record the address:"; cat "$build/board-settings.txt"; exit 1; }
grep -q "reference_board = false" "$build/generated/murvane/board_settings.h" || {
  echo "FAIL: the generated header does not say it is another board"; exit 1; }
cmake --build "$build" --target murvane-sim >/dev/null

trace="$build/zq3101-board.jsonl"
"$build/tools/murvane-sim" --chip zq3101 --trace - >"$trace"

grep -q "^{\"ev\":\"i2c_open\",\"instance\":$instance," "$trace" || fail "i2c_open does not carry instance $instance"
transfers_carry "$trace" "\"config\":\[$khz,$address_dec,0,500,0,0\]" \
  "the slave configuration [$khz,$address_dec,0,500,0,0]"
pins=$(grep -c '"ev":"pin_\(config\|set\)"' "$trace" || true)
carried=$(grep -c "\"ev\":\"pin_\(config\|set\)\",\"word\":$pin_dec," "$trace" || true)
[ "$pins" -eq 3 ] && [ "$carried" -eq 3 ] || fail "$carried of $pins pin-control calls carry the word $pin"

# Put the reference values back: what remains must be the golden trace.
sed -e "s/^{\"ev\":\"i2c_open\",\"instance\":$instance,/{\"ev\":\"i2c_open\",\"instance\":5,/" \
    -e "s/\"config\":\[$khz,$address_dec,0,500,0,0\]/\"config\":[400,$ref_address_dec,0,500,0,0]/" \
    -e "s/\"word\":$pin_dec,/\"word\":$ref_pin_dec,/" "$trace" |
  sed -E 's/,"t_us":[0-9]+(\.[0-9]+)?}$/}/' >"$trace.as-reference"  # the golden traces keep no times
if ! diff -u "$src/tests/golden/zq3101.jsonl" "$trace.as-reference" | head -40; then
  fail "with the board's values put back, the trace differs from tests/golden/zq3101.jsonl (above)"
fi

# The export at 1000 kHz, checked as a capture of itself: a healthy boot and
# a run whose polls run to their count.
export_matches_itself "$build/tools/murvane-sim" "$khz" "$build" zq3601

# A value that cannot be right stops the configure step with its name.
bad="$build-refused"
rm -rf "$bad"
if cmake -S "$src" -B "$bad" -G Ninja -DMURVANE_TESTS=OFF -DMURVANE_BENCH=OFF -DMURVANE_FIRMWARE=OFF \
     -DMURVANE_I2C_ADDRESS=0x80 >"$bad.log" 2>&1; then
  fail "an I2C address of 0x80 was accepted"
elif ! grep -q 'MURVANE_I2C_ADDRESS: 0x80 is out of range' "$bad.log"; then
  fail "an I2C address of 0x80 was refused without naming it: $(grep -m1 Error "$bad.log")"
fi
rm -rf "$bad"
if cmake -S "$src" -B "$bad" -G Ninja -DMURVANE_TESTS=OFF -DMURVANE_BENCH=OFF -DMURVANE_FIRMWARE=OFF \
     -DMURVANE_RESET_PIN_WORD=0x200EC1EO >"$bad.log" 2>&1; then
  fail "a reset pin word with a letter O was accepted"
fi
rm -rf "$bad" "$bad.log"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; trace: $trace"
  exit 1
fi
echo "ok: the trace carries instance $instance, $khz kHz, address $address and reset pin word $pin," \
  "nothing else changed, and the export matches itself"
