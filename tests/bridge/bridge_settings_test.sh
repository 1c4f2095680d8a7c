#!/usr/bin/env bash
# The bridge's board settings (bridge/settings.cmake) at configure
# time: a good set gives the header MurvaneBridge.efi is built with, and each
# value that cannot be right stops the configure step with its name. And the
# bridge's module file for each mode (integration/bridge_inf.cmake).
# usage: bridge_settings_test.sh SOURCE_DIR WORK_DIR
set -uo pipefail
src="$1" work="$2"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }

# The two settings files alone, as the configure step runs them.
configure() {
  rm -rf "$work"
  mkdir -p "$work"
  cat >"$work/run.cmake" <<CMAKE
set(CMAKE_BINARY_DIR "$work")
set(MURVANE_GENERATED_INCLUDE_DIR "$work/generated")
include("$src/cmake/board_settings.cmake")
include("$src/bridge/settings.cmake")
CMAKE
  (cd "$work" && cmake "$@" -P "$work/run.cmake" 2>&1)
}

out=$(configure -DMURVANE_BRIDGE_MODE=io -DMURVANE_BRIDGE_GPIO_POLARITY=active-low -DMURVANE_BRIDGE_MASTER=1 \
  -DMURVANE_BRIDGE_GPIO_PIN=0x20007 -DMURVANE_BRIDGE_DEVICE_GUID=0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9)
header="$work/generated/murvane/bridge_settings.h"
if [ -f "$header" ]; then
  for want in "io_mode = true" "master_index = 1;" "gpio_pin = 0x00020007" "gpio_active_low = true" \
              "device_guid = {0x0A1B2C3D, 0x4E5F, 0x6071, {0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9}}"; do
    grep -qF "$want" "$header" && pass "header: $want" || fail "header has no \"$want\""
  done
  grep -qx "MURVANE_BRIDGE_MODE=io" "$work/bridge-settings.txt" && pass "bridge-settings.txt records the mode" \
    || fail "bridge-settings.txt does not record MURVANE_BRIDGE_MODE=io"
else
  fail "a good set of settings did not configure: $out"
fi

refused() {
  local message="$1"
  shift
  local out
  if out=$(configure "$@"); then
    fail "$* was accepted"
  elif grep -qF -- "$message" <<<"$(tr -s ' \n' '  ' <<<"$out")"; then  # CMake wraps its messages
    pass "$* refused: $message"
  else
    fail "$* refused without \"$message\": $out"
  fi
}
refused 'MURVANE_BRIDGE_MODE: "slave" is neither master nor io' -DMURVANE_BRIDGE_MODE=slave
refused 'MURVANE_BRIDGE_MASTER: "first" is not a number' -DMURVANE_BRIDGE_MASTER=first
refused 'MURVANE_BRIDGE_MASTER: 16 is out of range (0..15)' -DMURVANE_BRIDGE_MASTER=16
refused 'MURVANE_BRIDGE_DEVICE_GUID: "8F4A2C71-5D3E-4B96-A0C8-7E19D62B4F3" is not a GUID' \
  -DMURVANE_BRIDGE_DEVICE_GUID=8F4A2C71-5D3E-4B96-A0C8-7E19D62B4F3
refused 'MURVANE_BRIDGE_DEVICE_GUID: "{8F4A2C71-5D3E-4B96-A0C8-7E19D62B4F35}" is not a GUID' \
  "-DMURVANE_BRIDGE_DEVICE_GUID={8F4A2C71-5D3E-4B96-A0C8-7E19D62B4F35}"
refused 'MURVANE_BRIDGE_GPIO_PIN: 0x100000000 does not fit in 32 bits' -DMURVANE_BRIDGE_GPIO_PIN=0x100000000
refused 'MURVANE_BRIDGE_GPIO_POLARITY: "low" is neither active-high' -DMURVANE_BRIDGE_GPIO_POLARITY=low

# The module file for each mode, from the one script the kit's staging and
# the release both run (integration/bridge_inf.cmake): master mode's is the
# package's file as it is, I2C IO mode's differs in its [Depex] alone.
inf="$src/integration/MurvanePkg/MurvaneBridge/MurvaneBridge.inf"
bridge_inf() { cmake -DMODE="$1" -DIN="$inf" -DOUT="$work/inf-$1/MurvaneBridge.inf" -P "$src/integration/bridge_inf.cmake" 2>&1; }
for mode in master io; do
  if ! out=$(bridge_inf "$mode"); then
    fail "MurvaneBridge.inf for $mode mode was not written: $out"
    continue
  fi
  got="$work/inf-$mode/MurvaneBridge.inf"
  if [ "$mode" = master ]; then
    cmp -s "$inf" "$got" && pass "master mode: MurvaneBridge.inf is the package's" \
      || fail "master mode: MurvaneBridge.inf differs from the package's"
  else
    changed=$(diff "$inf" "$got" | grep '^[<>]' | tr '\n' '|')
    [ "$changed" = "<   gEfiI2cMasterProtocolGuid AND gEmbeddedGpioProtocolGuid|>   gEfiI2cIoProtocolGuid AND gEmbeddedGpioProtocolGuid|" ] \
      && pass "io mode: MurvaneBridge.inf differs in its [Depex] alone" || fail "io mode: MurvaneBridge.inf changes $changed"
  fi
done
if out=$(bridge_inf slave); then
  fail "MurvaneBridge.inf written for a mode that is neither master nor io"
elif grep -qF '"slave" is neither master nor io' <<<"$out"; then
  pass "MurvaneBridge.inf: mode slave refused"
else
  fail "MurvaneBridge.inf: mode slave refused without saying why: $out"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "bridge settings: checked at configure time"
