#!/usr/bin/env bash
# EDK2's own I2C host and bus drivers (MdeModulePkg I2cDxe) and its PL061
# GPIO driver (ArmPlatformPkg PL061GpioDxe), built with EDK2's own `build`
# from Debian's `edk2` source package, for the boots through EDK2's I2C stack
# (testbench/edk2/). The source is fetched through a private apt
# configuration in the cache folder (scripts/private-apt.sh): nothing is added
# to the machine's apt configuration, nothing of EDK2 is installed.
#
#   src/VERSION/         the unpacked source, Debian's patches applied, its
#                        BaseTools built (once per source version)
#   drivers/VERSION-HASH I2cDxe.efi, PL061GpioDxe.efi, built from our DSC
#                        (testbench/edk2/MurvaneEdk2Drivers.dsc; HASH is its
#                        sha256), so a changed DSC builds again
#   current              the drivers/ folder of the last good build, with
#                        `source`, the path of the tree it was built from
#
# Run by scripts/deps.sh. A second run with the same DSC does nothing and
# asks no archive; the archive's newest edk2 source is taken when the DSC
# changes or the cache folder is removed.
#
# usage: scripts/edk2-deps.sh    (as root; MURVANE_EDK2_CACHE overrides the
#                                folder, default /var/cache/murvane-edk2)
set -euo pipefail
if [ "$#" -ne 0 ]; then
  echo "usage: scripts/edk2-deps.sh (no arguments; MURVANE_EDK2_CACHE picks the cache folder)" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
dsc="$here/../testbench/edk2/MurvaneEdk2Drivers.dsc"
cache="${MURVANE_EDK2_CACHE:-/var/cache/murvane-edk2}"
mkdir -p "$cache"

# One build at a time: another run waits here, then finds it done.
exec 9>"$cache/.lock"
flock 9

dsc_hash=$(sha256sum "$dsc" | cut -c1-16)
if [ -f "$cache/current/ready" ] && [ "$(cat "$cache/current/ready")" = "$dsc_hash" ] &&
  [ -f "$cache/current/I2cDxe.efi" ] && [ -f "$cache/current/PL061GpioDxe.efi" ] &&
  [ -f "$(cat "$cache/current/source" 2>/dev/null)/.murvane-basetools" ]; then
  exit 0
fi

# shellcheck source=scripts/private-apt.sh
. "$here/private-apt.sh"
. /etc/os-release
suite="$VERSION_CODENAME"
archive_source_lines edk2-deps.sh deb-src "$suite"
private_apt_init "$cache/apt" "${archive_lines[@]}"
version=$(private_apt_cache showsrc edk2 2>/dev/null | awk '/^Version:/ { print $2 }' | sort -V | tail -n1)
if [ -z "$version" ]; then
  echo "edk2-deps.sh: Debian's archive lists no edk2 source package for $suite" >&2
  exit 1
fi

src="$cache/src/$version"
if [ ! -f "$src/.murvane-basetools" ]; then
  fetch="$cache/fetch"
  rm -rf "$fetch" "$src"
  mkdir -p "$fetch" "$cache/src"
  (cd "$fetch" && private_apt source --download-only -qq "edk2=$version")
  # apt checked the files against the archive's signed index.
  dpkg-source --no-check -x "$fetch"/edk2_*.dsc "$src" >/dev/null
  rm -rf "$fetch"
  rm -f "$cache/src"/edk2_*.tar.*
  # The tarball lacks the prebuilt library every AARCH64 link of GCC5 asks
  # for; Debian's own rules assemble it from the source beside it.
  aarch64-linux-gnu-gcc -c -fpic "$src/ArmPkg/Library/GccLto/liblto-aarch64.s" \
    -o "$src/ArmPkg/Library/GccLto/liblto-aarch64.a"
  nice -n 10 make -C "$src/BaseTools" -j2 >"$cache/basetools.log" 2>&1 || {
    tail -n 30 "$cache/basetools.log" >&2
    echo "edk2-deps.sh: BaseTools did not build (log: $cache/basetools.log)" >&2
    exit 1
  }
  echo "$version" >"$src/.murvane-basetools"
fi

# EDK2's build, on a copy of our DSC placed in the tree (a DSC names its
# modules by paths in the workspace).
out="$cache/drivers/$version-$dsc_hash"
rm -rf "$out"
mkdir -p "$out" "$src/MurvaneEdk2"
cp "$dsc" "$src/MurvaneEdk2/MurvaneEdk2Drivers.dsc"
(
  cd "$src"
  export WORKSPACE="$src" PACKAGES_PATH="$src" GCC5_AARCH64_PREFIX=aarch64-linux-gnu-
  set +u
  . ./edksetup.sh BaseTools >/dev/null
  set -u
  nice -n 10 build -a AARCH64 -t GCC5 -b RELEASE -n 2 -p MurvaneEdk2/MurvaneEdk2Drivers.dsc >"$out/build.log" 2>&1
) || {
  tail -n 30 "$out/build.log" >&2
  echo "edk2-deps.sh: EDK2's build of testbench/edk2/MurvaneEdk2Drivers.dsc failed (log: $out/build.log)" >&2
  exit 1
}
for m in I2cDxe PL061GpioDxe; do
  f=$(find "$src/Build/MurvaneEdk2Drivers/RELEASE_GCC5/AARCH64" -name "$m.efi" -path '*/OUTPUT/*' | head -n1)
  [ -n "$f" ] || { echo "edk2-deps.sh: EDK2's build made no $m.efi" >&2; exit 1; }
  cp "$f" "$out/$m.efi"
done
echo "$version" >"$out/version"
# The tree, BaseTools built, for the tests that run EDK2's build themselves
# (the kit's firmware volume).
echo "$src" >"$out/source"
echo "$dsc_hash" >"$out/ready"
ln -sfn "drivers/$version-$dsc_hash" "$cache/current.new"
mv -T "$cache/current.new" "$cache/current"
echo "edk2-deps.sh: EDK2 $version drivers in $cache/current"
