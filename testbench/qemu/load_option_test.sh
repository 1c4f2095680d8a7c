#!/usr/bin/env bash
# The driver loaded from load options (Driver####, DriverOrder), as
# platforms do that load drivers with no dispatcher evaluating their
# dependency expression. One QEMU run of EDK2 with a writable snapshot of
# an empty variable store, two boots:
#
#   1. LoadOpt.efi (the removable-media loader) writes an active Driver####
#      per image in the case's order, each a file path on the disk, and
#      DriverOrder, then resets (warm: the snapshot keeps the variables
#      within this QEMU run).
#   2. The boot manager loads and starts those images before it boots
#      anything; then LoadOpt.efi reports what it finds, calls Start and
#      powers off.
#
# --case platform-first   Driver0000 = SimPlatform.efi, Driver0001 = Murvane.efi:
#                         the driver's entry brings the chip up before the
#                         boot manager boots; its log is the host's entry log.
# --case driver-first     Driver0000 = Murvane.efi alone: no bus protocol at
#                         its entry. It logs the missing protocol, installs
#                         its own and returns EFI_SUCCESS (the image stays);
#                         the application then loads the platform and
#                         Start brings the chip up, as on the host.
#
# usage: load_option_test.sh --case CASE --scenario MODEL --images DIR --work DIR
#          --checker murvane-fw-check [--qemu CMD] [--code FILE] [--vars FILE]
#          [--mkfs CMD] [--mmd CMD] [--mcopy CMD]
set -euo pipefail
# shellcheck source=scripts/uefi-disk-boot.sh
source "$(dirname "$0")/../../scripts/uefi-disk-boot.sh"

case_name="" scenario="" images="" work="" checker="" qemu=qemu-system-aarch64
code=/usr/share/AAVMF/AAVMF_CODE.fd vars=/usr/share/AAVMF/AAVMF_VARS.fd
mkfs=/usr/sbin/mkfs.vfat mmd=mmd mcopy=mcopy
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || { echo "load_option_test.sh: $1 needs a value" >&2; exit 2; }
  case "$1" in
    --case) case_name="$2" ;;
    --scenario) scenario="$2" ;;
    --images) images="$2" ;;
    --work) work="$2" ;;
    --checker) checker="$2" ;;
    *) uefi_boot_option "$1" "$2" || { echo "load_option_test.sh: unknown argument $1" >&2; exit 2; } ;;
  esac
  shift 2
done
case "$case_name" in
  platform-first) order="ConRecord.efi SimPlatform.efi Murvane.efi" ;;
  driver-first) order="ConRecord.efi Murvane.efi" ;;
  *) echo "load_option_test.sh: --case platform-first|driver-first" >&2; exit 2 ;;
esac
for f in "$images/LoadOpt.efi" "$images/ConRecord.efi" "$images/SimPlatform.efi" "$images/Murvane.efi" "$code" \
  "$vars"; do
  [ -f "$f" ] || { echo "missing $f: build the images first" >&2; exit 1; }
done

rm -rf "$work"
mkdir -p "$work"
disk="$work/esp.img" serial="$work/serial.log"
printf '%s\n' "$scenario" >"$work/sim.cfg"
printf '%s\n' "$order" >"$work/loadopt.cfg"
uefi_boot_disk "$disk" LOADOPT "$images/LoadOpt.efi" "$images/ConRecord.efi" "$images/SimPlatform.efi" \
  "$images/Murvane.efi" "$work/sim.cfg" "$work/loadopt.cfg"

# No -no-reboot: the warm reset must restart the machine in this run.
start=$(date +%s.%N)
uefi_boot_args "$serial" "$vars,snapshot=on" "$disk"
timeout 60 "$qemu" "${uefi_boot_args[@]}" </dev/null &
qemu_pid=$!
# Stop at a dead end (or a second first boot: the variables did not survive
# the reset) instead of waiting for the time-out.
stopped=""
while kill -0 "$qemu_pid" 2>/dev/null; do
  if [ -s "$serial" ]; then
    for line in "Synchronous Exception" "No bootable option or device was found" "Shell> " \
                "BdsDxe: failed to load"; do
      if grep -qF -- "$line" "$serial"; then
        stopped="dead end: \"${line% }\""
      fi
    done
    if [ "$(grep -c 'first boot: no DriverOrder' "$serial")" -ge 2 ]; then
      stopped="a second first boot"
    fi
    if [ -n "$stopped" ]; then
      kill "$qemu_pid" 2>/dev/null || true
      break
    fi
  fi
  sleep 0.1
done
status=0
wait "$qemu_pid" || status=$?
end=$(date +%s.%N)
echo "QEMU, two boots ($case_name): $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }') s," \
  "exit status $status${stopped:+, stopped: $stopped}"

log="$work/clean.log"
sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' "$serial" | tr -d '\r' >"$log"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok:   $*"; }
# line_of TEXT: the first line number holding TEXT exactly as a whole line, or 0.
line_of() { grep -nxF -m1 -- "$1" "$log" | cut -d: -f1 || true; }
# The numbered lines of the log between two whole lines (exclusive).
between() { awk -v a="$1" -v b="$2" '$0 == b && on { exit } on { print } $0 == a { on = 1 }' "$log"; }

reset_at=$(line_of "[loadopt] warm reset")
booted_at=$(line_of "[loadopt] booted with DriverOrder:$(i=0; for _ in $order; do printf ' Driver%04X' $i; i=$((i + 1)); done)")
[ -n "$reset_at" ] && ok "first boot wrote the options and reset" || fail "no \"[loadopt] warm reset\" in the first boot"
[ -n "$booted_at" ] && ok "second boot came up with the options" || fail "the second boot did not report the options"

# What the host virtual platform says the same chip does.
expected="$work/expected.txt"
"$checker" --scenario "$scenario" --expected >"$expected"
expected_section() {  # NAME: the lines between "[fwtest] NAME: begin" and the blank line before its status
  awk -v n="$1" '$0 == "[fwtest] " n ": begin" { on = 1; next } on && $0 == "" { exit } on { print }' "$expected"
}
version_line="Murvane: zq uefi driver version is v$(sed -n 's/^Murvane: zq uefi driver version is v//p' "$expected" | head -n1)"
install_line="Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Success"

# EDK2 starts Driver#### images before it connects any console: what they
# print reaches no device. ConRecord.efi, the first option, kept a copy,
# which the application prints between these lines.
record="$work/record.log"
awk '/^\[loadopt\] console record: end/ { exit } on { print } $0 == "[loadopt] console record: begin" { on = 1 }' \
  "$log" >"$record"
if [ -n "$reset_at" ] && [ -n "$booted_at" ]; then
  record_at=$(line_of "[loadopt] console record: begin")
  if grep -qxF -- "$version_line" <(sed -n "$((reset_at + 1)),$((${record_at:-$booted_at} - 1))p" "$log"); then
    echo "note: the driver's lines reached the console before the boot manager's boot"
  else
    echo "note: as expected of EDK2, none of the driver's lines reached the console live (no console yet)"
  fi
  # The driver's entry: from its version line to its install line.
  entry=$(awk -v first="$version_line" -v last="$install_line" '$0 == first { on = 1 } on { print }
    on && $0 == last { exit }' "$record")
  if [ "$case_name" = platform-first ]; then
    want_entry="$(expected_section entry)"
  else
    want_entry="$(printf '%s\n' "$version_line" "Failed to get I2C protocol 0x0000000e" \
      "Failed to initialize instance 5 I2C 1" "Murvane: hw init err 7" "$install_line")"
  fi
  if [ "$entry" = "$want_entry" ]; then
    ok "the driver's entry ran from its load option: its $(wc -l <<<"$entry") lines as expected"
  else
    fail "the driver's entry log, as recorded during the driver options, differs:"
    diff <(echo "$want_entry") <(echo "$entry") | sed 's/^/    /' || true
  fi
  driver_at=$(grep -nxF -m1 -- "$version_line" "$record" | cut -d: -f1 || true)
  if [ "$case_name" = platform-first ]; then
    chip_at=$(grep -nxF -m1 -- "[SimPlatform] chip: $scenario" "$record" | cut -d: -f1 || true)
    [ -n "$chip_at" ] && [ -n "$driver_at" ] && [ "$chip_at" -lt "$driver_at" ] \
      && ok "SimPlatform.efi (Driver0001) came up before the driver (Driver0002)" \
      || fail "SimPlatform.efi did not report its chip before the driver's first line"
  fi
  boot_at=$(grep -n -m1 '^BdsDxe: loading Boot' "$record" | cut -d: -f1 || true)
  [ -n "$boot_at" ] && [ -n "$driver_at" ] && [ "$driver_at" -lt "$boot_at" ] \
    && ok "the driver ran before the boot manager loaded a boot option" \
    || fail "the driver's first line (${driver_at:-none}) is not before the boot manager's \"loading Boot\" (${boot_at:-none})"
fi

want() { grep -qxF -- "$1" "$log" && ok "$2" || fail "no \"$1\" ($2)"; }
if [ "$case_name" = platform-first ]; then
  want "[loadopt] SimPlatform.efi: loaded before this application" "the platform was there before the application"
  grep -q "^\[loadopt\] bus before this application's calls: opens 1, .*, reset pulses 1, bad requests 0$" "$log" \
    && ok "the entry opened the bus and pulsed the reset pin before the application" \
    || fail "no bus open and reset pulse before the application"
else
  want "[loadopt] SimPlatform.efi: not there before this application; loaded now: Success" \
    "no platform before the application; loaded then"
  want "[loadopt] bus before this application's calls: opens 0, reads 0, writes 0, failed transfers 0, reset pulses 0, bad requests 0" \
    "the early entry reached no bus and no pin"
fi
want "[loadopt] protocol: revision 0x00010005 ok, installed before this application on the image of \\Murvane.efi" \
  "the protocol, installed from the load option, on the driver's image"

# Start after the platform is there: the chip comes up exactly as Start on the host.
start_log=$(between "[loadopt] start: begin" "")
want_start=$(expected_section start)
if [ "$start_log" = "$want_start" ]; then
  ok "Start's log is the host's ($(wc -l <<<"$start_log") lines)"
else
  fail "Start's log differs from the host's:"
  diff <(echo "$want_start") <(echo "$start_log") | sed 's/^/    /' || true
fi
want "[loadopt] start: status $(sed -n 's/^\[fwtest\] start: status //p' "$expected")" "Start's status is the host's"
while IFS= read -r v; do
  want "[loadopt] ${v#\[fwtest\] }" "verdict: ${v#\[fwtest\] }"
done < <(grep '^\[fwtest\] verdict' "$expected")
want "[loadopt] done" "the application ran to its end"

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed; the serial log:"
  cat "$log"
  exit 1
fi
echo "load options ($case_name): all checks passed"
