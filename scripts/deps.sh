#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and tests need and
# this machine lacks. Safe to run again: it does nothing when all is there.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang-14 lld-14 llvm-14 libclang-rt-14-dev linux-libc-dev
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev libcli11-dev
  clang-tidy-14 clang-format-14 cppcheck
  qemu-system-arm qemu-efi-aarch64 mtools dosfstools
  gnu-efi
  sigrok-cli librsvg2-bin
  sbsigntool u-boot-qemu openssl efitools python3
  g++-aarch64-linux-gnu g++-arm-linux-gnueabihf cpio qemu-user-static lintian
  dpkg-dev make uuid-dev
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The real-kernel rig (testbench/linux/): Debian's arm64 and armhf kernels and
# busybox for the guests, and QEMU 10 (whose machines the rig boots), unpacked
# into a cache folder, never installed; the firmware tests keep the installed
# QEMU.
"${sudo_cmd[@]}" "$(dirname "$0")/rig-deps.sh"

# EDK2's own I2C stack and PL061 GPIO driver (testbench/edk2/), built with
# EDK2's build from Debian's edk2 source package in a cache folder.
"${sudo_cmd[@]}" "$(dirname "$0")/edk2-deps.sh"
