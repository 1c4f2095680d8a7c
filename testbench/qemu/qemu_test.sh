#!/usr/bin/env bash
# shellcheck disable=SC2054 # commas inside QEMU option values, not between array elements
# One boot of real UEFI firmware (QEMU, AArch64) for one scenario: builds
# the boot disk, boots it, stops QEMU as soon as the outcome is known and
# lets murvane-fw-check compare the serial log with the same chip on the
# host virtual platform.
#
# --kind picks the firmware path:
#   edk2         Debian's EDK2 build, Secure Boot off; the firmware boots the
#                test application from EFI/BOOT/BOOTAA64.EFI.
#   edk2-secure  the same firmware with Secure Boot enforced (AAVMF code, the
#                snakeoil VARS as a snapshot, so no 64 MiB copy per boot);
#                the disk holds the signed set from --signed, and --driver
#                picks which Murvane.efi goes on it: signed (default),
#                unsigned, tampered or otherkey.
#   uboot        U-Boot's UEFI through its default boot (`boot`, typed at
#                once instead of waiting out the countdown); --rng adds a
#                virtio RNG (U-Boot's EFI_RNG_PROTOCOL needs one).
#   shell        EDK2's UEFI Shell: no BOOTAA64.EFI, a startup.nsh loads
#                SimPlatform.efi and Murvane.efi with `load`, then runs the
#                test application as the driver's consumer.
# The disk is partitioned (MBR, one EFI system partition from 1 MiB), which
# U-Boot's default boot needs and EDK2 accepts.
#
# With --expect-halt the boot must stop in the stack-guard check; with
# --expect-refused the firmware must refuse Murvane.efi. --guard rng|counter
# says where the driver's stack guard must come from. --unsigned-loader puts
# the unsigned test application on a Secure Boot disk, --no-loader leaves it
# off the disk (nothing to boot), and --expect-dead-end
# TEXT requires the boot to stop at the firmware's dead end containing TEXT
# (a check of the harness itself: it must not wait for the time-out).
#
# --bridge master|io boots a stock EDK2 board instead: FakeBoard.efi (its I2C
# stack and GPIO over the chip) and MurvaneBridge.efi in that mode between it
# and the driver (master-low: a board and bridge with the reset line
# active-low, FakeBoardLow.efi and MurvaneBridgeLow.efi, test builds); --board TEXT is the fake board's \board.cfg (the behaviour
# of its master driver, see testbench/qemu/fake_board/fake_bus.h). The Shell then
# types `load FakeBoard.efi`, `load MurvaneBridge.efi`, `load Murvane.efi`.
# There, several scenarios separated by ',' are played in one boot, one after
# the other: the script loads FakeBoard.efi again to move the board to the
# next chip, then the driver again, and the checker judges each part of the
# log (from its "[fwtest] entry: begin" on) against its own scenario.
#
# --extra FILE (repeatable) copies one more file to the root of the disk, and
# --check-arg ARG (repeatable) passes one more argument to the checker: the
# C consumer's test adds Consumer.efi and --consumer.
#
# --loads N (--kind shell only, 1 to 8, default 1): startup.nsh loads
# Murvane.efi N times before the test application calls Start, as an
# integrator following the Shell recipe might; every load's output must be
# a fresh image's entry on the host.
#
# usage: qemu_test.sh --kind KIND --scenario TEXT --images DIR --work DIR --checker CMD [options above]
#        qemu_test.sh --help      (this text; nothing is built or started)
set -euo pipefail
# shellcheck source=testbench/qemu/console_boot.sh
source "$(dirname "$0")/console_boot.sh"

usage() { sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0" | grep -v '^shellcheck'; }

kind=edk2 scenario="" images="" signed="" driver=signed work="" checker="" qemu="qemu-system-aarch64"
firmware="/usr/share/qemu-efi-aarch64/QEMU_EFI.fd"
secure_code="/usr/share/AAVMF/AAVMF_CODE.fd" secure_vars="/usr/share/AAVMF/AAVMF_VARS.snakeoil.fd"
uboot="/usr/lib/u-boot/qemu_arm64/u-boot.bin"
mkfs="mkfs.vfat" mmd="mmd" mcopy="mcopy"
expect_halt=0 expect_refused=0 rng=0 guard="" unsigned_loader=0 no_loader=0 expect_dead_end=""
extras=() extra_check_args=() bridge="" board="" loads=1
while [ $# -gt 0 ]; do
  case "$1" in
    -h | --help) usage; exit 0 ;;
    --expect-halt) expect_halt=1; shift; continue ;;
    --expect-refused) expect_refused=1; shift; continue ;;
    --rng) rng=1; shift; continue ;;
    --unsigned-loader) unsigned_loader=1; shift; continue ;;
    --no-loader) no_loader=1; shift; continue ;;
    --expect-dead-end) expect_dead_end="$2" ;;
    --kind) kind="$2" ;;
    --scenario) scenario="$2" ;;
    --images) images="$2" ;;
    --signed) signed="$2" ;;
    --driver) driver="$2" ;;
    --guard) guard="$2" ;;
    --work) work="$2" ;;
    --checker) checker="$2" ;;
    --qemu) qemu="$2" ;;
    --firmware) firmware="$2" ;;
    --secure-code) secure_code="$2" ;;
    --secure-vars) secure_vars="$2" ;;
    --uboot) uboot="$2" ;;
    --mkfs) mkfs="$2" ;;
    --mmd) mmd="$2" ;;
    --mcopy) mcopy="$2" ;;
    --extra) extras+=("$2") ;;
    --bridge) bridge="$2" ;;
    --board) board="$2" ;;
    --check-arg) extra_check_args+=("$2") ;;
    --loads) loads="$2" ;;
    *) echo "qemu_test.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift 2
done

case "$kind" in
  edk2 | uboot | shell) src="$images" ;;
  edk2-secure)
    src="$signed"
    if [ -z "$src" ]; then
      echo "qemu_test.sh: --kind edk2-secure needs --signed DIR (the signed set)" >&2
      exit 2
    fi
    ;;
  *) echo "qemu_test.sh: unknown --kind $kind" >&2; exit 2 ;;
esac
# Loading the driver more than once is a Shell recipe (see --loads above).
case "$loads" in
  [1-8]) ;;
  *) echo "qemu_test.sh: --loads takes 1 to 8, not \"$loads\"" >&2; exit 2 ;;
esac
if [ "$loads" -gt 1 ] && [ "$kind" != shell ]; then
  echo "qemu_test.sh: --loads goes with --kind shell" >&2
  exit 2
fi
case "$driver" in
  signed) driver_file="$src/Murvane.efi" ;;
  unsigned | tampered | otherkey) driver_file="$src/Murvane.$driver.efi" ;;
  *) echo "qemu_test.sh: unknown --driver $driver" >&2; exit 2 ;;
esac
IFS=',' read -ra rounds <<<"$scenario"
if [ "${#rounds[@]}" -gt 1 ] && { [ "$kind" != shell ] || [ -z "$bridge" ]; }; then
  echo "qemu_test.sh: several scenarios (',') need --kind shell --bridge" >&2
  exit 2
fi
platform="$src/SimPlatform.efi" bridge_file=""
case "$bridge" in
  "") ;;
  master) platform="$src/FakeBoard.efi" bridge_file="$src/MurvaneBridge.efi" ;;
  io) platform="$src/FakeBoard.efi" bridge_file="$src/MurvaneBridgeIo.efi" ;;
  master-low) platform="$src/FakeBoardLow.efi" bridge_file="$src/MurvaneBridgeLow.efi" ;;
  *) echo "qemu_test.sh: unknown --bridge $bridge (master, io or master-low)" >&2; exit 2 ;;
esac
loader="$src/BOOTAA64.efi"
if [ $unsigned_loader -eq 1 ]; then
  loader="$images/BOOTAA64.efi"
fi
for f in "$loader" "$platform" ${bridge_file:+"$bridge_file"} "$driver_file"; do
  if [ ! -f "$f" ]; then
    echo "missing $f: build the images first (the host build does; signed copies come from the signing fixture)" >&2
    exit 1
  fi
done

mkdir -p "$work"
disk="$work/disk.img"
serial="$work/serial.log"
rm -f "$disk" "$serial" "$work/console.in"

# The disk: an MBR with one partition of type 0xEF (EFI system partition)
# from sector 2048 (1 MiB) to the end of 8 MiB, formatted FAT.
truncate -s 8M "$disk"
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)); }
# shellcheck disable=SC2059 # the format is the bytes
printf "\\x00\\xfe\\xff\\xff\\xef\\xfe\\xff\\xff$(le32 2048)$(le32 14336)" |
  dd of="$disk" bs=1 seek=446 conv=notrunc status=none
printf '\x55\xaa' | dd of="$disk" bs=1 seek=510 conv=notrunc status=none
"$mkfs" -n MURVANE --offset 2048 "$disk" 7168 >/dev/null
part="$disk@@1M"

# What goes on it: the test application (where firmware boots removable
# media from, or for the Shell beside the others), the two images it loads,
# and the scenario for SimPlatform.efi.
printf '%s\n' "$scenario" >"$work/sim.cfg"
if [ "$kind" = shell ]; then
  "$mcopy" -i "$part" "$loader" ::/FwTest.efi
  # `echo` marks where the driver's entry output begins; the Shell's own
  # "Image '...' loaded at ... - <status>" line ends it. Each load of the
  # driver (--loads) is marked alike.
  if [ -n "$bridge" ]; then
    {
      printf '%s\r\n' '@echo -off' 'fs0:' 'load FakeBoard.efi' 'load MurvaneBridge.efi'
      for ((i = 0; i < ${#rounds[@]}; i++)); do
        if [ "$i" -gt 0 ]; then printf '%s\r\n' 'load FakeBoard.efi'; fi
        printf '%s\r\n' 'echo "[fwtest] entry: begin"' 'load Murvane.efi' 'FwTest.efi'
      done
      printf '%s\r\n' 'reset -s'
    } >"$work/startup.nsh"
  else
    nsh=('@echo -off' 'fs0:' 'load SimPlatform.efi')
    for ((k = 0; k < loads; k++)); do
      nsh+=('echo "[fwtest] entry: begin"' 'load Murvane.efi')
    done
    printf '%s\r\n' "${nsh[@]}" 'FwTest.efi' 'reset -s' >"$work/startup.nsh"
  fi
  "$mcopy" -i "$part" "$work/startup.nsh" ::/startup.nsh
elif [ $no_loader -eq 0 ]; then
  "$mmd" -i "$part" ::/EFI ::/EFI/BOOT
  "$mcopy" -i "$part" "$loader" ::/EFI/BOOT/BOOTAA64.EFI
fi
if [ -n "$bridge" ]; then
  "$mcopy" -i "$part" "$platform" ::/FakeBoard.efi
  "$mcopy" -i "$part" "$bridge_file" ::/MurvaneBridge.efi
  printf '%s\n' "$board" >"$work/board.cfg"
  "$mcopy" -i "$part" "$work/board.cfg" ::/board.cfg
else
  "$mcopy" -i "$part" "$platform" ::/SimPlatform.efi
fi
"$mcopy" -i "$part" "$driver_file" ::/Murvane.efi
"$mcopy" -i "$part" "$work/sim.cfg" ::/sim.cfg
for f in ${extras[@]+"${extras[@]}"}; do
  "$mcopy" -i "$part" "$f" "::/$(basename "$f")"
done

qemu_args=(-M virt -cpu cortex-a57 -m 512 -display none -monitor none -serial stdio -no-reboot -nic none
  -drive if=none,format=raw,file="$disk",id=d0 -device virtio-blk-device,drive=d0)
# Lines after which the firmware goes nowhere: it waits for a key, a menu
# choice or a command. QEMU is stopped there instead of at the time-out.
dead_ends=("Synchronous Exception" "No bootable option or device was found" "Shell> ")
case "$kind" in
  edk2)
    qemu_args+=(-bios "$firmware" -boot menu=on,splash-time=0)
    dead_ends+=("BdsDxe: failed to load")
    ;;
  edk2-secure)
    # The code read-only, the variables (Secure Boot on, the snakeoil key
    # enrolled in db) as a snapshot: the firmware writes them every boot.
    qemu_args+=(-drive if=pflash,format=raw,unit=0,file="$secure_code",readonly=on
      -drive if=pflash,format=raw,unit=1,file="$secure_vars",snapshot=on -boot menu=on,splash-time=0)
    dead_ends+=("BdsDxe: failed to load")
    ;;
  shell)
    # The removable-media boot finds nothing (that "failed to load" is
    # expected); the firmware then starts its built-in Shell.
    qemu_args+=(-bios "$firmware" -boot menu=on,splash-time=0)
    ;;
  uboot)
    qemu_args+=(-bios "$uboot")
    dead_ends=("Synchronous Abort" "Couldn't find partition" "No EFI system partition")
    ;;
esac
if [ $rng -eq 1 ]; then
  qemu_args+=(-device virtio-rng-device)
fi

# Stops at the halt (--expect-halt) or a dead end; types at U-Boot's
# countdown and the Shell's.
console_watch() {
  if [ $expect_halt -eq 1 ] && grep -q 'Murvane: system halted' "$serial"; then
    stopped="halted"
    return 0
  fi
  console_dead_end
  if [ -n "$stopped" ]; then
    return 0
  fi
  if [ "$kind" = uboot ]; then
    # "Hit any key to stop autoboot: 2": a key and `boot` (which runs the
    # default boot command, bootcmd) save the two seconds of countdown.
    if [ $key_sent -eq 0 ] && grep -q 'Hit any key to stop autoboot' "$serial"; then
      printf ' ' >&3
      key_sent=1
    elif [ "$(tail -c 3 "$serial")" = "=> " ]; then
      if [ $key_sent -eq 1 ]; then
        printf 'boot\r' >&3
        key_sent=2
      elif [ $key_sent -eq 2 ] && [ "$(grep -c '^=> ' "$serial")" -ge 2 ]; then
        # Back at the prompt after the default boot: nothing booted.
        stopped="dead end: U-Boot's prompt"
        return 0
      fi
    fi
  fi
  if [ "$kind" = shell ]; then
    console_any_key
  fi
}
label="$kind"
if [ $rng -eq 1 ]; then label="$kind, virtio-rng"; fi
console_boot "$label" "$work" "$qemu" "${qemu_args[@]}"

if [ -n "$expect_dead_end" ]; then
  if [ "${stopped#dead end: *"$expect_dead_end"}" != "$stopped" ]; then
    echo "PASSED: stopped at the expected dead end"
    exit 0
  fi
  echo "FAILED: expected a stop at the dead end \"$expect_dead_end\", got: ${stopped:-no stop, exit status $status}"
  echo "---- serial log ----"
  tr -d '\r' <"$serial"
  exit 1
fi
if [ $expect_halt -eq 1 ]; then
  exec "$checker" --scenario "$scenario" --serial "$serial" --expect-halt
fi
if [ "${stopped#dead end}" != "$stopped" ]; then
  status=125
fi
check_args=(--scenario "$scenario" --serial "$serial" --qemu-status "$status")
if [ $expect_refused -eq 1 ]; then
  check_args+=(--expect-refused)
fi
if [ -n "$guard" ]; then
  check_args+=(--guard "$guard")
fi
if [ "$kind" = shell ]; then
  check_args+=(--shell --loads "$loads")
fi
if [ -n "$bridge" ]; then
  check_args+=(--bridge "${bridge%-low}" --board "$board")
fi
if [ "${#rounds[@]}" -gt 1 ]; then
  # One log per scenario: what came before the first round (the board and
  # the bridge installing), then that round's part.
  awk -v dir="$work" '
    /\[fwtest\] entry: begin/ { n++ }
    { if (n == 0) head = head $0 "\n"; else { f = dir "/serial." n ".log"; if (!(f in done)) { printf "%s", head > f; done[f] = 1 } print > f } }' "$serial"
  failed=0
  for ((i = 0; i < ${#rounds[@]}; i++)); do
    one=$(echo "${rounds[$i]}" | xargs)
    args=("${check_args[@]}")
    args[1]="$one" args[3]="$work/serial.$((i + 1)).log"
    echo "---- round $((i + 1)) of ${#rounds[@]}: $one ----"
    "$checker" "${args[@]}" ${extra_check_args[@]+"${extra_check_args[@]}"} || failed=1
  done
  exit $failed
fi
exec "$checker" "${check_args[@]}" ${extra_check_args[@]+"${extra_check_args[@]}"}
