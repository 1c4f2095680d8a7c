#!/usr/bin/env bash
# The real-kernel rig's guests and emulator (testbench/linux/), from Debian's
# packages, downloaded and unpacked into a cache folder; nothing of it is
# installed on this machine:
#   arm64/  linux-image-*-arm64 (vmlinuz, freescale/imx8mp-evk.dtb, modules)
#           and busybox-static for arm64
#   armhf/  linux-image-*-armmp (vmlinuz, imx7d-sdb.dtb, modules) and
#           busybox-static for armhf
#   qemu/   QEMU 10's qemu-system-arm from bookworm-backports (its
#           imx8mp-evk machine, and an at24c that serves as a register file),
#           beside the installed QEMU, which the firmware tests keep using
# The backports source is made from the archive the machine's own apt
# configuration names, in a private apt configuration under the cache folder
# (scripts/private-apt.sh): nothing is added to the machine's. Run by
# scripts/deps.sh; does nothing when all is there.
#
# usage: scripts/rig-deps.sh    (as root; MURVANE_RIG_CACHE overrides the
#                                folder, default /var/cache/murvane-rig)
set -euo pipefail
cache="${MURVANE_RIG_CACHE:-/var/cache/murvane-rig}"
stamp="$cache/ready"

if [ -f "$stamp" ] && [ -x "$cache/qemu/usr/bin/qemu-system-aarch64" ] && [ -x "$cache/qemu/usr/bin/qemu-system-arm" ] &&
  compgen -G "$cache/arm64/boot/vmlinuz-*" >/dev/null && compgen -G "$cache/armhf/boot/vmlinuz-*" >/dev/null &&
  [ -x "$cache/arm64/bin/busybox" ] && [ -x "$cache/armhf/bin/busybox" ]; then
  exit 0
fi

# The archive the machine's own apt configuration names, reached through a
# private apt configuration in the cache folder: the machine's own apt
# sources, lists and architectures are left as they were.
# shellcheck source=scripts/private-apt.sh
. "$(dirname "$0")/private-apt.sh"
. /etc/os-release
suite="$VERSION_CODENAME"
archive_source_lines rig-deps.sh deb "$suite" "$suite-backports"
PRIVATE_APT_ARCHS="$(dpkg --print-architecture) arm64 armhf" private_apt_init "$cache/apt" "${archive_lines[@]}"

# The kernel behind each flavour's metapackage (linux-image-arm64 depends on
# linux-image-6.1.0-N-arm64, and so on).
kernel_of() {
  private_apt_cache depends "linux-image-$1:$2" 2>/dev/null | awk '/Depends: linux-image-/ { sub(/:.*$/, "", $2); print $2; exit }'
}
k64=$(kernel_of arm64 arm64)
k32=$(kernel_of armmp armhf)
if [ -z "$k64" ] || [ -z "$k32" ]; then
  echo "rig-deps.sh: could not resolve Debian's arm64/armmp kernel packages" >&2
  exit 1
fi

downloads="$cache/debs"
mkdir -p "$downloads"
rm -f "$downloads"/*.deb
(
  cd "$downloads"
  private_apt download -qq "$k64:arm64" busybox-static:arm64 "$k32:armhf" busybox-static:armhf
  private_apt download -qq -t "$suite-backports" qemu-system-arm
)

rm -rf "$cache/arm64" "$cache/armhf" "$cache/qemu"
mkdir -p "$cache/arm64" "$cache/armhf" "$cache/qemu"
for deb in "$downloads"/*.deb; do
  case "$(basename "$deb")" in
    linux-image-*_arm64.deb | busybox-static_*_arm64.deb) dpkg-deb -x "$deb" "$cache/arm64" ;;
    linux-image-*_armhf.deb | busybox-static_*_armhf.deb) dpkg-deb -x "$deb" "$cache/armhf" ;;
    qemu-system-arm_*.deb) dpkg-deb -x "$deb" "$cache/qemu" ;;
  esac
done
rm -f "$downloads"/*.deb

# QEMU 10 runs with this machine's libraries: install any it needs that the
# installed QEMU did not bring.
missing_libs=$(ldd "$cache/qemu/usr/bin/qemu-system-aarch64" | awk '/not found/ { print $1 }')
if [ -n "$missing_libs" ]; then
  echo "rig-deps.sh: QEMU 10 needs libraries this machine lacks: $missing_libs" >&2
  exit 1
fi
"$cache/qemu/usr/bin/qemu-system-aarch64" --version | sed -n 1p
printf '%s\n%s\n' "$k64" "$k32" >"$stamp"
