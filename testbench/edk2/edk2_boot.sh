#!/usr/bin/env bash
# shellcheck disable=SC2054 # commas inside QEMU option values, not between array elements
# One boot through EDK2's own I2C stack and GPIO driver, in EDK2's UEFI
# Shell under QEMU (virt with ACPI off, so its PL061 is there), then the
# checks of that boot (murvane-edk2-check).
#
# The Shell's startup.nsh loads EdkController.efi (the controller and the
# chip, testbench/edk2/controller.cpp), PL061GpioDxe.efi and I2cDxe.efi
# (EDK2's, from scripts/edk2-deps.sh), connects them (`connect -r`), loads
# the bridge and then Murvane.efi, and loads EdkController.efi again, which
# prints what its master was asked to do. QEMU's own trace of the PL061
# (`-trace 'pl061*'`) is kept beside the serial log.
#
# --case picks what happens after the first connect:
#   boot        the driver's bring-up (the default);
#   reconnect   the driver, then `disconnect` of the controller, a consumer's
#               Start (Consumer.efi, the kit's example), `connect -r`, and the
#               consumer's Start again;
#   master      the bridge in master mode beside EDK2's host: it must refuse;
#   unload      the driver, then `unload` of the bridge.
# --polarity active-high|active-low picks the controller and bridge built
# for a reset line driven directly or through an inverter.
#
# The traffic is compared with the dry run: `murvane-board --dry-run --chip
# MODEL`, or for no chip (the dry run needs one) `murvane-sim --chip absent`.
#
# usage: edk2_boot.sh --scenario TEXT --images DIR --edk2 DIR --work DIR --checker CMD
#                     --dry-run MURVANE_BOARD --sim MURVANE_SIM [--case CASE] [--polarity P] [--qemu Q] [--firmware FD]
#                     [--mkfs M --mcopy M]
#        edk2_boot.sh --help
set -euo pipefail
# shellcheck source=testbench/qemu/console_boot.sh
source "$(dirname "$0")/../qemu/console_boot.sh"

usage() { sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0" | grep -v '^shellcheck'; }

scenario="" images="" edk2="" work="" checker="" dry_run="" sim="" case_name=boot polarity=active-high
qemu=qemu-system-aarch64 firmware=/usr/share/qemu-efi-aarch64/QEMU_EFI.fd mkfs=mkfs.vfat mcopy=mcopy
while [ $# -gt 0 ]; do
  case "$1" in
    -h | --help) usage; exit 0 ;;
    --scenario) scenario="$2" ;;
    --images) images="$2" ;;
    --edk2) edk2="$2" ;;
    --work) work="$2" ;;
    --checker) checker="$2" ;;
    --dry-run) dry_run="$2" ;;
    --sim) sim="$2" ;;
    --case) case_name="$2" ;;
    --polarity) polarity="$2" ;;
    --qemu) qemu="$2" ;;
    --firmware) firmware="$2" ;;
    --mkfs) mkfs="$2" ;;
    --mcopy) mcopy="$2" ;;
    *) echo "edk2_boot.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  if [ $# -lt 2 ]; then
    echo "edk2_boot.sh: $1 needs a value" >&2
    exit 2
  fi
  shift 2
done
for v in scenario images edk2 work checker dry_run sim; do
  if [ -z "${!v}" ]; then
    echo "edk2_boot.sh: --${v//_/-} is required (--help)" >&2
    exit 2
  fi
done
case "$case_name" in boot | reconnect | master | unload) ;; *)
  echo "edk2_boot.sh: unknown --case $case_name (boot, reconnect, master or unload)" >&2
  exit 2
  ;;
esac
case "$polarity" in
  active-high) controller="$images/EdkController.efi" bridge="$images/MurvaneBridgeEdk.efi" ;;
  active-low) controller="$images/EdkControllerLow.efi" bridge="$images/MurvaneBridgeEdkLow.efi" ;;
  *) echo "edk2_boot.sh: unknown --polarity $polarity (active-high or active-low)" >&2; exit 2 ;;
esac
if [ "$case_name" = master ]; then
  bridge="$images/MurvaneBridgeEdkMaster.efi"
fi
for f in "$controller" "$bridge" "$images/Murvane.efi" "$images/Consumer.efi" "$edk2/I2cDxe.efi" \
  "$edk2/PL061GpioDxe.efi"; do
  if [ ! -f "$f" ]; then
    echo "edk2_boot.sh: missing $f (build the images; scripts/edk2-deps.sh builds EDK2's drivers)" >&2
    exit 1
  fi
done

mkdir -p "$work"
disk="$work/disk.img" serial="$work/serial.log" trace="$work/pl061.trace"
rm -f "$disk" "$serial" "$trace" "$work/console.in"
truncate -s 8M "$disk"
"$mkfs" -n MURVANE "$disk" >/dev/null
"$mcopy" -i "$disk" "$controller" ::/EdkController.efi
"$mcopy" -i "$disk" "$edk2/PL061GpioDxe.efi" ::/PL061GpioDxe.efi
"$mcopy" -i "$disk" "$edk2/I2cDxe.efi" ::/I2cDxe.efi
"$mcopy" -i "$disk" "$bridge" ::/MurvaneBridge.efi
"$mcopy" -i "$disk" "$images/Murvane.efi" ::/Murvane.efi
"$mcopy" -i "$disk" "$images/Consumer.efi" ::/Consumer.efi
printf '%s\n' "$scenario" >"$work/sim.cfg"
"$mcopy" -i "$disk" "$work/sim.cfg" ::/sim.cfg

nsh=('@echo -off' 'fs0:' 'load EdkController.efi' 'load PL061GpioDxe.efi' 'load I2cDxe.efi' 'connect -r'
  'echo "[edk2] bridge: begin"' 'load MurvaneBridge.efi' 'echo "[fwtest] entry: begin"' 'load Murvane.efi')
if [ "$case_name" = boot ] || [ "$case_name" = master ]; then
  nsh+=('echo "[edk2] controller: begin"' 'load EdkController.efi' 'reset -s')
fi
# The other cases go on at the Shell's prompt: the script types each step
# once the prompt is back (steps below), as one would by hand, and finds the
# handles the steps name in `dh`'s output.
printf '%s\r\n' "${nsh[@]}" >"$work/startup.nsh"
"$mcopy" -i "$disk" "$work/startup.nsh" ::/startup.nsh

prompt='FS0:\> '
prompts() { tr -d '\r' <"$serial" | grep -cF -- "$prompt" || true; }
# Types one command at the prompt and waits (at most 20 s) for the next one.
type_step() {
  local before
  before=$(prompts)
  printf '%s\r' "$1" >&3
  for _ in $(seq 200); do
    if [ "$(prompts)" -gt "$before" ] || ! kill -0 "$qemu_pid" 2>/dev/null; then
      return 0
    fi
    sleep 0.1
  done
  echo "edk2_boot.sh: no prompt after \"$1\"" >&2
  return 1
}
# The handle `dh -p PROTOCOL` lists on the line that matches PATTERN.
handle_of() {
  type_step "dh -p $1" || return 1
  tr -d '\r' <"$serial" | sed 's/\x1b\[[0-9;]*[a-zA-Z]//g' | awk -v p="$2" '
    /^FS0:\\> dh -p / { n = 0 } $0 ~ "^ *[0-9A-F]+: " && index($0, p) { sub(/^ */, ""); sub(/:.*/, ""); h = $0 }
    END { print h }'
}
steps() {
  local h
  case "$case_name" in
    reconnect)
      h=$(handle_of I2cMaster I2cEnumerate)
      [ -n "$h" ] || { echo "edk2_boot.sh: no controller handle in dh's output" >&2; return 1; }
      type_step 'echo "[edk2] step: disconnect"' && type_step "disconnect $h" &&
        type_step 'echo "[edk2] step: start"' && type_step 'Consumer.efi' &&
        type_step 'echo "[edk2] step: connect"' && type_step "connect $h" &&
        type_step 'echo "[edk2] step: start"' && type_step 'Consumer.efi'
      ;;
    unload)
      h=$(handle_of LoadedImage 'LoadedImage(\MurvaneBridge.efi)')
      [ -n "$h" ] || { echo "edk2_boot.sh: no MurvaneBridge.efi image handle in dh's output" >&2; return 1; }
      type_step 'echo "[edk2] step: unload"' && type_step "unload -n $h" &&
        type_step 'echo "[edk2] step: start"' && type_step 'Consumer.efi'
      ;;
  esac || return 1
  type_step 'echo "[edk2] controller: begin"' && type_step 'load EdkController.efi' && printf 'reset -s\r' >&3
}

stepped=0
dead_ends=("Synchronous Exception")
if [ "$case_name" = boot ] || [ "$case_name" = master ]; then
  # Nothing is typed: the Shell's prompt means startup.nsh went wrong.
  dead_ends+=("Shell> " "$prompt")
fi
# Stops at a dead end; types a key at the Shell's wait, and the steps at
# its first prompt.
console_watch() {
  console_dead_end
  if [ -n "$stopped" ]; then
    return 0
  fi
  console_any_key
  if [ $stepped -eq 0 ] && [ "$(prompts)" -gt 0 ] && ! { [ "$case_name" = boot ] || [ "$case_name" = master ]; }; then
    stepped=1
    steps || stopped="a step found no prompt or handle"
  fi
}
console_boot "EDK2's I2C stack, $case_name, $polarity" "$work" "$qemu" -M virt,acpi=off -cpu cortex-a57 -m 512 \
  -display none -monitor none -serial stdio -no-reboot -nic none -bios "$firmware" -boot menu=on,splash-time=0 \
  -drive if=none,format=raw,file="$disk",id=d0 -device virtio-blk-device,drive=d0 -trace 'pl061*' -D "$trace"
if [ -n "$stopped" ]; then
  status=125
fi

model=${scenario%% *}
if [ "$model" = absent ]; then
  dry_cmd=("$sim" --chip absent --trace "$work/dry-run.jsonl")
else
  dry_cmd=("$dry_run" --dry-run --chip "$model" --trace "$work/dry-run.jsonl")
fi
"${dry_cmd[@]}" >"$work/dry-run.out" 2>&1 || {
  echo "FAILED: the dry run (${dry_cmd[*]}) did not run:"
  cat "$work/dry-run.out"
  exit 1
}
exec "$checker" --scenario "$scenario" --serial "$serial" --pl061 "$trace" --qemu-status "$status" \
  --case "$case_name" --polarity "$polarity" --dry-run "$work/dry-run.jsonl"
