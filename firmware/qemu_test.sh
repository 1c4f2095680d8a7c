#!/usr/bin/env bash
# One boot of real UEFI firmware (QEMU, AArch64) for one scenario: builds
# the boot disk, boots it under a time-out and lets murvane-fw-check compare
# the serial log with the same chip on the host virtual platform.
#
# With --expect-halt the boot is expected to stop in the stack-guard check
# ("Murvane: system halted"); QEMU is stopped as soon as that line appears.
#
# --extra FILE (repeatable) copies one more file to the root of the disk, and
# --check-arg ARG (repeatable) passes one more argument to the checker: the
# C consumer's test adds Consumer.efi and --consumer.
set -euo pipefail

scenario="" images="" work="" checker="" qemu="qemu-system-aarch64"
firmware="/usr/share/qemu-efi-aarch64/QEMU_EFI.fd" mkfs="mkfs.vfat" mmd="mmd" mcopy="mcopy"
expect_halt=0
extras=() check_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --expect-halt) expect_halt=1; shift; continue ;;
    --scenario) scenario="$2" ;;
    --images) images="$2" ;;
    --work) work="$2" ;;
    --checker) checker="$2" ;;
    --qemu) qemu="$2" ;;
    --firmware) firmware="$2" ;;
    --mkfs) mkfs="$2" ;;
    --mmd) mmd="$2" ;;
    --mcopy) mcopy="$2" ;;
    --extra) extras+=("$2") ;;
    --check-arg) check_args+=("$2") ;;
    *) echo "qemu_test.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift 2
done

for f in Murvane.efi SimPlatform.efi BOOTAA64.efi; do
  if [ ! -f "$images/$f" ]; then
    echo "missing $images/$f: build the images first (the host build does)" >&2
    exit 1
  fi
done

mkdir -p "$work"
disk="$work/esp.img"
serial="$work/serial.log"
rm -f "$disk" "$serial"

# The boot disk: the test application where the firmware boots removable
# media from, the two images it loads, and the scenario for SimPlatform.
printf '%s\n' "$scenario" >"$work/sim.cfg"
"$mkfs" -C -n MURVANE "$disk" 4096 >/dev/null
"$mmd" -i "$disk" ::/EFI ::/EFI/BOOT
"$mcopy" -i "$disk" "$images/BOOTAA64.efi" ::/EFI/BOOT/BOOTAA64.EFI
"$mcopy" -i "$disk" "$images/SimPlatform.efi" ::/SimPlatform.efi
"$mcopy" -i "$disk" "$images/Murvane.efi" ::/Murvane.efi
"$mcopy" -i "$disk" "$work/sim.cfg" ::/sim.cfg
for f in ${extras[@]+"${extras[@]}"}; do
  "$mcopy" -i "$disk" "$f" "::/$(basename "$f")"
done

# menu=on,splash-time=0 skips the firmware's boot countdown. The application
# powers the machine off; a crash or a hang ends at the time-out instead.
qemu_args=(-M virt -cpu cortex-a57 -m 512 -bios "$firmware"
  -display none -monitor none -serial "file:$serial" -no-reboot -nic none
  -boot menu=on,splash-time=0
  -drive if=none,format=raw,file="$disk",id=d0 -device virtio-blk-device,drive=d0)
start=$(date +%s.%N)
status=0
if [ $expect_halt -eq 0 ]; then
  timeout 60 "$qemu" "${qemu_args[@]}" </dev/null || status=$?
else
  timeout 60 "$qemu" "${qemu_args[@]}" </dev/null &
  qemu_pid=$!
  while kill -0 "$qemu_pid" 2>/dev/null; do
    if grep -q 'Murvane: system halted' "$serial" 2>/dev/null; then
      kill "$qemu_pid" 2>/dev/null || true
      break
    fi
    sleep 0.1
  done
  wait "$qemu_pid" || status=$?
fi
end=$(date +%s.%N)
echo "QEMU boot: $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }') s, exit status $status"

if [ $expect_halt -eq 1 ]; then
  exec "$checker" --scenario "$scenario" --serial "$serial" --expect-halt
fi
exec "$checker" --scenario "$scenario" --serial "$serial" --qemu-status "$status" ${check_args[@]+"${check_args[@]}"}
