#!/usr/bin/env bash
# What testbench/qemu/qemu_test.sh and load_option_test.sh decide
# themselves, shown failing without a firmware: QEMU is a stand-in that
# prints a serial log and ends one way, the disk tools are stand-ins, the
# checker is the real murvane-fw-check.
#   - a boot whose log is the host's and whose QEMU powers off passes;
#   - the same log with QEMU exiting 1 fails, the status named;
#   - a firmware that stops at a dead end fails as one (status 125);
#   - a stop at another dead end than the one expected fails;
#   - load options: the driver's entry after the boot manager's boot, an
#     extra line in Start, or no warm reset between the two boots fails;
#   - a --qemu-status that is not an exit status is refused.
# usage: qemu_harness_fails.sh SOURCE_DIR WORK_DIR MURVANE_FW_CHECK
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: qemu_harness_fails.sh SOURCE_DIR WORK_DIR MURVANE_FW_CHECK" >&2
  exit 2
fi
src="$1" work="$2" checker="$3"
rm -rf "$work"
mkdir -p "$work/images" "$work/bin"
for f in BOOTAA64.efi SimPlatform.efi Murvane.efi; do
  : >"$work/images/$f"
done
printf '#!/bin/sh\nexit 0\n' >"$work/bin/disk-tool"
chmod +x "$work/bin/disk-tool"

# The serial log of a boot that agrees with the host: the application's
# lines around what the checker expects of the driver.
{
  echo "[fwtest] scenario: zq3201"
  "$checker" --scenario zq3201 --expected | sed '/^\[fwtest\] entry: status/a [fwtest] stack guard: shared\n[fwtest] protocol: revision 0x00010005 ok'
  echo "[fwtest] bad requests: 0"
  echo "[fwtest] done"
} >"$work/agreeing.log"

# stand_in NAME EXIT [LINE]: a QEMU that prints the agreeing log (or only
# LINE) and exits EXIT, or, with EXIT "wait", then waits to be stopped.
stand_in() {
  local log="$work/agreeing.log"
  if [ $# -eq 3 ]; then
    printf 'UEFI firmware\n%s\n' "$3" >"$work/$1.log"
    log="$work/$1.log"
  fi
  if [ "$2" = wait ]; then
    printf '#!/bin/sh\ncat "%s"\nexec sleep 30\n' "$log" >"$work/bin/$1"
  else
    printf '#!/bin/sh\ncat "%s"\nexit %s\n' "$log" "$2" >"$work/bin/$1"
  fi
  chmod +x "$work/bin/$1"
}

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# boot NAME WANT_STATUS PATTERN [qemu_test.sh options]: the harness on the
# stand-in NAME exits WANT_STATUS and prints a line matching PATTERN.
boot() {
  local name="$1" want="$2" pattern="$3" status=0
  shift 3
  bash "$src/testbench/qemu/qemu_test.sh" --kind edk2 --scenario zq3201 --images "$work/images" \
    --work "$work/$name" --checker "$checker" --qemu "$work/bin/$name" --firmware /dev/null \
    --mkfs "$work/bin/disk-tool" --mmd "$work/bin/disk-tool" --mcopy "$work/bin/disk-tool" "$@" \
    >"$work/$name.out" 2>&1 || status=$?
  if [ "$status" -eq "$want" ] && grep -qE -- "$pattern" "$work/$name.out"; then
    echo "ok:   $name: exit $status, $(grep -m1 -E -- "$pattern" "$work/$name.out" | sed 's/^ *//')"
  else
    fail "$name: exit $status (not $want) or no line /$pattern/:"$'\n'"$(sed 's/^/    /' "$work/$name.out")"
  fi
}

stand_in powered-off 0
boot powered-off 0 '^PASSED$'
stand_in exits-1 1
boot exits-1 1 '^  QEMU: exited with status 1$'
grep -q '^FAILED: the firmware run differs from the host virtual platform$' "$work/exits-1.out" \
  || fail "exits-1: no FAILED line"
stand_in dead-end wait "Synchronous Exception at 0x0000000000001A2C"
boot dead-end 1 '^  QEMU: stopped where the firmware went no further \(a dead end, see above\)$'
grep -q 'stopped: dead end: "Synchronous Exception"' "$work/dead-end.out" || fail "dead-end: the stop is not named"
stand_in other-dead-end wait "BdsDxe: failed to load Boot0001 \"UEFI Misc Device\""
boot other-dead-end 1 '^FAILED: expected a stop at the dead end "prompt", got: dead end: "BdsDxe: failed to load"$' \
  --expect-dead-end prompt

# load_option_test.sh's own checks of its two boots, on a stand-in QEMU
# that writes a log into its serial file: the platform-first case as the
# firmware logs it passes; with the driver's entry after the boot
# manager's boot, an extra line in Start, or no warm reset, it fails.
for f in LoadOpt.efi ConRecord.efi; do
  : >"$work/images/$f"
done
: >"$work/code.fd"
: >"$work/vars.fd"
"$checker" --scenario zq3201 --expected >"$work/expected.txt"
section() {  # NAME: the driver's lines of one call in the expected output
  awk -v n="$1" '$0 == "[fwtest] " n ": begin" { on = 1; next } on && $0 == "" { exit } on { print }' \
    "$work/expected.txt"
}
two_boots() {  # ENTRY_BEFORE_BOOT START_EXTRA RESET: the serial log of the two boots
  echo "[loadopt] first boot: no DriverOrder; writing Driver0000 Driver0001 Driver0002"
  [ "$3" = reset ] && echo "[loadopt] warm reset"
  echo "[loadopt] booted with DriverOrder: Driver0000 Driver0001 Driver0002"
  echo "[loadopt] console record: begin"
  echo "[SimPlatform] chip: zq3201"
  [ "$1" = before ] || echo "BdsDxe: loading Boot0001 \"UEFI Misc Device\""
  section entry
  [ "$1" = before ] && echo "BdsDxe: loading Boot0001 \"UEFI Misc Device\""
  echo "[loadopt] console record: end"
  echo "[loadopt] SimPlatform.efi: loaded before this application"
  echo "[loadopt] bus before this application's calls: opens 1, reads 18, writes 172, failed transfers 0, reset pulses 1, bad requests 0"
  echo "[loadopt] protocol: revision 0x00010005 ok, installed before this application on the image of \\Murvane.efi"
  echo "[loadopt] start: begin"
  section start
  [ -n "$2" ] && echo "$2"
  echo
  echo "[loadopt] start: status $(sed -n 's/^\[fwtest\] start: status //p' "$work/expected.txt")"
  sed -n 's/^\[fwtest\] verdict/[loadopt] verdict/p' "$work/expected.txt"
  echo "[loadopt] done"
}
# options NAME LOG: a stand-in QEMU that writes LOG into its -serial file.
options() {
  cp "$2" "$work/$1.serial"
  # shellcheck disable=SC2016 # the stand-in's own variables, expanded when it runs
  printf '#!/bin/sh\nwhile [ $# -gt 0 ]; do [ "$1" = -serial ] && cp "%s" "${2#file:}"; shift; done\n' \
    "$work/$1.serial" >"$work/bin/$1"
  chmod +x "$work/bin/$1"
}
load_options() {  # NAME WANT_STATUS PATTERN
  local status=0
  bash "$src/testbench/qemu/load_option_test.sh" --case platform-first --scenario zq3201 --images "$work/images" \
    --work "$work/$1" --checker "$checker" --qemu "$work/bin/$1" --code "$work/code.fd" --vars "$work/vars.fd" \
    --mkfs "$work/bin/disk-tool" --mmd "$work/bin/disk-tool" --mcopy "$work/bin/disk-tool" >"$work/$1.out" 2>&1 \
    || status=$?
  if [ "$status" -eq "$2" ] && grep -qE -- "$3" "$work/$1.out"; then
    echo "ok:   $1: exit $status, $(grep -m1 -E -- "$3" "$work/$1.out")"
  else
    fail "$1: exit $status (not $2) or no line /$3/:"$'\n'"$(sed 's/^/    /' "$work/$1.out")"
  fi
}
two_boots before "" reset >"$work/options.log"
options options-sound "$work/options.log"
load_options options-sound 0 '^load options \(platform-first\): all checks passed$'
two_boots after "" reset >"$work/options.log"
options options-late "$work/options.log"
load_options options-late 1 "^FAIL: the driver's first line \([0-9]+\) is not before the boot manager's"
two_boots before "Murvane: func init error" reset >"$work/options.log"
options options-extra "$work/options.log"
load_options options-extra 1 "^FAIL: Start's log differs from the host's:"
two_boots before "" no-reset >"$work/options.log"
options options-no-reset "$work/options.log"
load_options options-no-reset 1 '^FAIL: no "\[loadopt\] warm reset" in the first boot'

# A status that is not QEMU's cannot pass for 0: the checker refuses it.
for bad in abc 256 -1 ""; do
  status=0
  "$checker" --scenario zq3201 --serial "$work/agreeing.log" --qemu-status "$bad" >"$work/bad.out" 2>"$work/bad.err" \
    || status=$?
  first=$(head -n 1 "$work/bad.err")
  if [ "$status" -eq 2 ] && [ ! -s "$work/bad.out" ] &&
    [ "$first" = "murvane-fw-check: --qemu-status takes QEMU's exit status, 0 to 255, not $bad" ]; then
    echo "ok:   --qemu-status \"$bad\": exit 2, $first"
  else
    fail "--qemu-status \"$bad\": exit $status, \"$first\""
  fi
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "the harness fails every boot it must"
