# shellcheck shell=bash
# What scripts/enroll-db.sh and testbench/qemu/load_option_test.sh share
# (sourced, not run): the QEMU options they both take, the FAT disk a
# removable-media loader boots from, and one QEMU boot of AArch64 UEFI with
# its code and variable store as pflash. The caller sets qemu, code, vars,
# mkfs, mmd and mcopy (its defaults), then lets uefi_boot_option read its
# options.

# uefi_boot_option NAME VALUE: takes --qemu, --code, --vars, --mkfs, --mmd or
# --mcopy; returns 1 for any other option.
# shellcheck disable=SC2034 # the caller's variables, set for it
uefi_boot_option() {
  case "$1" in
    --qemu) qemu="$2" ;;
    --code) code="$2" ;;
    --vars) vars="$2" ;;
    --mkfs) mkfs="$2" ;;
    --mmd) mmd="$2" ;;
    --mcopy) mcopy="$2" ;;
    *) return 1 ;;
  esac
}

# uefi_boot_disk IMAGE LABEL LOADER [FILE ...]: a 4 MiB FAT disk whose
# removable-media loader (\EFI\BOOT\BOOTAA64.EFI) is LOADER, with the FILEs
# in its root.
uefi_boot_disk() {
  local image="$1" label="$2" loader="$3"
  shift 3
  "$mkfs" -C -n "$label" "$image" 4096 >/dev/null
  "$mmd" -i "$image" ::/EFI ::/EFI/BOOT
  "$mcopy" -i "$image" "$loader" ::/EFI/BOOT/BOOTAA64.EFI
  if [ $# -gt 0 ]; then
    "$mcopy" -i "$image" "$@" ::/
  fi
}

# uefi_boot_args SERIAL VARS_DRIVE DISK: sets uefi_boot_args to the QEMU
# options that boot $code with the variable store VARS_DRIVE (a file, and
# drive options after a comma) and DISK, the serial console into the file
# SERIAL. The caller runs QEMU itself, in the foreground or not.
# shellcheck disable=SC2054 # the commas belong to QEMU's options
uefi_boot_args() {
  uefi_boot_args=(-M virt -cpu cortex-a57 -m 512 -display none -monitor none -serial "file:$1" -nic none
    -boot menu=on,splash-time=0
    -drive if=pflash,format=raw,unit=0,file="$code",readonly=on
    -drive if=pflash,format=raw,unit=1,file="$2"
    -drive if=none,format=raw,file="$3",id=d0 -device virtio-blk-device,drive=d0)
}
