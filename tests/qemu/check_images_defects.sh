#!/usr/bin/env bash
# The image checks (testbench/qemu/check_images.sh) find what they are there
# to find: a copy of the built images with defects planted in it (a driver
# image that is an application, an image without NX_COMPAT, one image
# missing, an object with a static constructor, memory routines that call
# something, no board settings) must fail, each defect with its own line.
# usage: check_images_defects.sh CHECK_IMAGES IMAGE_DIR WORK_DIR LLVM_READOBJ LLVM_OBJDUMP LLVM_NM CLANGXX
set -euo pipefail

if [ $# -ne 7 ]; then
  echo "usage: check_images_defects.sh CHECK_IMAGES IMAGE_DIR WORK_DIR LLVM_READOBJ LLVM_OBJDUMP LLVM_NM CLANGXX" >&2
  exit 2
fi
check="$1" images="$2" work="$3" readobj="$4" objdump="$5" nm="$6" cxx="$7"
rm -rf "$work"
mkdir -p "$work/images" "$work/objects"
cp "$images"/*.efi "$images"/*_objects.txt "$images"/board-settings.txt "$work/images/"
copy="$work/images"

# A driver image that is an application; one without NX_COMPAT (bit 0x0100
# of DllCharacteristics, 70 bytes into a PE32+ optional header); one missing;
# no board settings.
cp "$copy/BOOTAA64.efi" "$copy/Murvane.efi"
python3 - "$copy/Consumer.efi" <<'EOF'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
at = struct.unpack_from("<I", data, 0x3C)[0] + 24 + 70
struct.pack_into("<H", data, at, struct.unpack_from("<H", data, at)[0] & ~0x0100)
open(sys.argv[1], "wb").write(data)
EOF
rm "$copy/FakeBoardLow.efi" "$copy/board-settings.txt"

# An object with a static constructor among the test image's, and memory
# routines that call something in place of the driver's.
target=(--target=aarch64-unknown-windows -ffreestanding -fno-exceptions -O2 -c -x c++)
echo 'struct made { made(); }; made at_start;' | "$cxx" "${target[@]}" - -o "$work/objects/constructor.cpp.obj"
echo 'extern "C" void note(); extern "C" void* memset(void* d, int, unsigned long) { note(); return d; }' |
  "$cxx" "${target[@]}" - -o "$work/objects/mem.cpp.obj"
echo "$work/objects/constructor.cpp.obj" >>"$copy/test_objects.txt"
grep -v '/mem\.cpp\.obj$' "$images/driver_objects.txt" >"$copy/driver_objects.txt"
echo "$work/objects/mem.cpp.obj" >>"$copy/driver_objects.txt"

status=0
bash "$check" "$copy" "$readobj" "$objdump" "$nm" >"$work/out.txt" 2>&1 || status=$?
failures=0
expect() {
  if grep -qF -- "$1" "$work/out.txt"; then
    echo "ok:   found: $1"
  else
    echo "FAIL: no line \"$1\""
    failures=$((failures + 1))
  fi
}
expect "FAIL: Murvane.efi: subsystem is not IMAGE_SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER"
expect "FAIL: Consumer.efi: no NX_COMPAT"
expect "FAIL: FakeBoardLow.efi: missing"
expect "FAIL: constructor.cpp.obj: has a .CRT\$X (static constructor) section"
expect "FAIL: memory routines contain 1 calls"
expect "FAIL: no board-settings.txt beside the images"
if [ $status -eq 1 ] && tail -n 1 "$work/out.txt" | grep -q 'check(s) failed$'; then
  echo "ok:   exit 1: $(tail -n 1 "$work/out.txt")"
else
  echo "FAIL: check_images.sh exits $status on the broken copy, not 1"
  failures=$((failures + 1))
fi
# The untouched checks still pass on the copy: a defect is reported where it is.
expect "ok:   SimPlatform.efi: subsystem IMAGE_SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER"
if [ $failures -ne 0 ]; then
  echo "---- check_images.sh on the broken copy ----"
  cat "$work/out.txt"
  exit 1
fi
echo "every planted defect was found"
