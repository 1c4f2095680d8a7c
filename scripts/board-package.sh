#!/usr/bin/env bash
# The Debian package of murvane-board for one Arm Linux architecture,
# murvane-board_<version>_<arch>.deb, from a static cross build of the tool
# (presets aarch64-linux and armhf-linux, or the rig's sub-builds in
# build/default/rig/). It holds:
#   /usr/bin/murvane-board                       the tool, stripped
#   /usr/share/man/man1/murvane-board.1.gz       what the tool itself writes with
#                                                --man-page: its --help's option table
#   /usr/share/doc/murvane-board/copyright       tools/murvane-board/package/copyright
#   /usr/share/doc/murvane-board/changelog.gz    this version's entry (a native package)
#   /usr/share/lintian/overrides/murvane-board   the one lintian error kept, its reason
#                                                (static on purpose; docs/board-bringup.md)
# The tool runs here under Debian's qemu-user-static (or natively on an Arm
# machine): for its manual page, and to check that --version says the
# project's version (project(... VERSION ...) in CMakeLists.txt).
# Every file's time is the last commit's, so the same tool gives the same
# package.
#
# usage: scripts/board-package.sh --arch arm64|armhf --tool FILE --out DIR
# Standard output gets the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

usage="usage: scripts/board-package.sh --arch arm64|armhf --tool FILE --out DIR"
arch="" tool="" out=""
while [ $# -gt 0 ]; do
  case "$1" in
    --arch | --tool | --out)
      [ $# -ge 2 ] || { echo "board-package: $1 needs a value ($usage)" >&2; exit 2; }
      declare "${1#--}=$2"
      shift 2
      ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "board-package: unknown argument $1 ($usage)" >&2; exit 2 ;;
  esac
done
case "$arch" in
  arm64) triple=aarch64-linux-gnu qemu=qemu-aarch64-static ;;
  armhf) triple=arm-linux-gnueabihf qemu=qemu-arm-static ;;
  *) echo "board-package: --arch must be arm64 or armhf, not \"$arch\" ($usage)" >&2; exit 2 ;;
esac
[ -n "$out" ] || { echo "board-package: --out DIR is missing ($usage)" >&2; exit 2; }
[ -f "$tool" ] && [ -x "$tool" ] || { echo "board-package: --tool $tool is not an executable file" >&2; exit 2; }
version=$(sed -n 's/^project(murvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || { echo "board-package: no project version in CMakeLists.txt" >&2; exit 1; }

# The tool on this machine: natively on its own architecture, else under QEMU.
run=()
if [ "$(dpkg --print-architecture)" != "$arch" ]; then
  command -v "$qemu" >/dev/null || { echo "board-package: $qemu is missing (qemu-user-static)" >&2; exit 1; }
  run=("$qemu")
fi
said=$("${run[@]}" "$tool" --version)
if [ "$said" != "murvane-board v$version" ]; then
  echo "board-package: $tool --version says \"$said\", not murvane-board v$version; rebuild it" >&2
  exit 1
fi
machine=$(LC_ALL=C file -b "$tool" 2>/dev/null || true)
case "$arch:$machine" in
  arm64:*ARM\ aarch64*statically\ linked* | armhf:*ARM,\ EABI5*statically\ linked*) ;;
  *) [ -z "$machine" ] || { echo "board-package: $tool is not a static $arch executable ($machine)" >&2; exit 1; } ;;
esac

mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$(mktemp -d "$out/.murvane-board-$arch.XXXXXX")
trap 'rm -rf "$stage"' EXIT
doc="$stage/usr/share/doc/murvane-board"
install -d "$stage/DEBIAN" "$stage/usr/bin" "$stage/usr/share/man/man1" "$doc" "$stage/usr/share/lintian/overrides"
install -m 0755 "$tool" "$stage/usr/bin/murvane-board"
"$triple-strip" --remove-section=.comment --remove-section=.note --strip-unneeded "$stage/usr/bin/murvane-board"
"${run[@]}" "$tool" --man-page | gzip -9n >"$stage/usr/share/man/man1/murvane-board.1.gz"
install -m 0644 "$root/tools/murvane-board/package/copyright" "$doc/copyright"
install -m 0644 "$root/tools/murvane-board/package/lintian-overrides" "$stage/usr/share/lintian/overrides/murvane-board"

# The last commit's time stamps the changelog entry and every file.
when=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0)
maintainer=$(sed -n 's/^Maintainer: //p' "$root/tools/murvane-board/package/control.in")
{
  echo "murvane-board ($version) unstable; urgency=medium"
  echo
  echo "  * Murvane $version: murvane-board, static, for $arch Linux boards."
  echo
  echo " -- $maintainer  $(LC_ALL=C date -u -R -d "@$when")"
} | gzip -9n >"$doc/changelog.gz"
chmod 0644 "$doc/changelog.gz" "$stage/usr/share/man/man1/murvane-board.1.gz"

size=$(du -k -s --apparent-size "$stage/usr" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@SIZE@/$size/" \
  "$root/tools/murvane-board/package/control.in" >"$stage/DEBIAN/control"
(cd "$stage" && find usr -type f | LC_ALL=C sort | xargs md5sum >DEBIAN/md5sums)
chmod 0644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums"
find "$stage" -type d -exec chmod 0755 {} +
find "$stage" -exec touch -h -d "@$when" {} +

deb="$out/murvane-board_${version}_$arch.deb"
SOURCE_DATE_EPOCH=$when dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
echo "$deb"
