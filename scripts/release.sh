#!/usr/bin/env bash
# The release bundle: murvane-<version>-aarch64.tar.gz, for integrators with
# no source tree: Murvane.efi, its linker map, SHA256SUMS, the board
# settings the image was built with, a README of its own
# (integration/bundle/README.md, with the version and the chip models
# filled in), the integrator's EDK2 package, MurvanePkg/ (the .dec, the
# binary module's .inf with Murvane.efi and its encoded dependency
# expression beside it, the C headers of the three protocols and of the
# board settings), and examples/ (a C consumer of the protocol and a stub
# of the two platform protocols). No developer documents.
# Beside the driver, MurvaneBridge.efi, its map and bridge-settings.txt, and
# its module in MurvanePkg/MurvaneBridge/ (the .inf with the [Depex] of the
# bridge's mode, the image, its encoded expression): for boards with EDK2's
# I2C stack.
# For Linux boards, murvane-board as Debian packages,
# murvane-board_<version>_arm64.deb and _armhf.deb (scripts/board-package.sh),
# in the bundle's board/ and beside the bundle.
#
# The version is the project's (project(... VERSION ...) in CMakeLists.txt),
# the same value the driver prints in its first log line; the script refuses
# an image whose version line says otherwise.
#
# usage: scripts/release.sh [--build DIR] [--out DIR] [-DMURVANE_...=VALUE ...]
#   --build DIR  an already configured UEFI build (for example build/default/efi,
#                the host build's sub-build); default: the efi preset, build/efi,
#                configured here with the given -D board settings
#   --out DIR    where the bundle goes (default: build/release)
#   MURVANE_DEPEX_TOOL (environment): the host build's murvane-depex, which
#                encodes the dependency expressions (default:
#                build/default/integration/depex/murvane-depex, built here when missing)
#   MURVANE_BOARD_ARM64, MURVANE_BOARD_ARMHF (environment): the static
#                murvane-board builds to package (default: those the host build
#                build/default makes in rig/arm64 and rig/armhf; when it has
#                none, the presets aarch64-linux and armhf-linux, built here)
# Progress goes to standard error; standard output gets the bundle's path.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

build="" out="build/release" defs=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    -D*) defs+=("$1"); shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "release: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
done
depex_tool="${MURVANE_DEPEX_TOOL:-}"
if [ -n "$depex_tool" ] && [ ! -x "$depex_tool" ]; then
  echo "release: MURVANE_DEPEX_TOOL=$depex_tool is not an executable" >&2
  exit 2
fi
declare -A board_tool=([arm64]="${MURVANE_BOARD_ARM64:-}" [armhf]="${MURVANE_BOARD_ARMHF:-}")
for arch in arm64 armhf; do
  if [ -n "${board_tool[$arch]}" ] && [ ! -x "${board_tool[$arch]}" ]; then
    echo "release: MURVANE_BOARD_${arch^^}=${board_tool[$arch]} is not an executable" >&2
    exit 2
  fi
done

if [ -z "$build" ]; then
  ./scripts/deps.sh >&2
  build=build/efi
  cmake --preset efi "${defs[@]}" >&2
elif [ "${#defs[@]}" -gt 0 ]; then
  cmake "$build" "${defs[@]}" >&2
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  echo "release: $build is not a configured build directory" >&2
  exit 1
fi
if ! grep -q '^MURVANE_EFI:BOOL=ON$' "$build/CMakeCache.txt"; then
  echo "release: $build is not a UEFI build (configure it with the efi preset)" >&2
  exit 1
fi
cmake --build "$build" --target murvane_efi murvane_efi_bridge >&2

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
if [ -z "$version" ]; then
  echo "release: no project version in $build/CMakeCache.txt" >&2
  exit 1
fi
image="$build/images/Murvane.efi"
if ! grep -aqF "Murvane: zq uefi driver version is v$version" "$image"; then
  echo "release: $image does not print version $version; rebuild it" >&2
  exit 1
fi

name="murvane-$version-aarch64"
mkdir -p "$out"
out=$(cd "$out" && pwd)
stage="$out/$name"
rm -rf "$stage" "$out/$name.tar.gz"
mkdir -p "$stage/examples"
cp "$image" "$build/images/Murvane.map" "$build/images/board-settings.txt" "$stage/"
cp -R "$root/integration/MurvanePkg" "$stage/MurvanePkg"
cp "$image" "$stage/MurvanePkg/Murvane/Murvane.efi"
cp "$build/generated/murvane/MurvaneBoardSettings.h" "$stage/MurvanePkg/Include/MurvaneBoardSettings.h"
cp "$root/integration/examples/Consumer.c" "$stage/examples/Consumer.c"
cp "$root/integration/examples/StubPlatform.c" "$stage/examples/StubPlatform.c"
# The bundle's README: the version, and a row per chip model from the one
# list of models (core/family_list.h).
models=$(sed -n 's/^ *FAMILY(\([a-z0-9]*\), *\([A-Z]\)).*/F \1 \2/p; s/^ *MODEL(\([a-z0-9]*\), *\(0x[0-9A-Fa-f]*\), *\([a-z0-9]*\)).*/M \1 \2 \3/p' \
  "$root/core/family_list.h" | awk '$1 == "F" { letter[$2] = $3; next }
    { printf "| `%s` | %s | %s (`%s`) | `Murvane: detected %s.` |\n", $2, $3, letter[$4], $4, $2 }')
if [ -z "$models" ]; then
  echo "release: no chip models found in core/family_list.h" >&2
  exit 1
fi
awk -v version="$version" -v models="$models" '{ gsub(/@VERSION@/, version) } $0 == "@MODELS@" { print models; next } { print }' \
  "$root/integration/bundle/README.md" >"$stage/README.md"
# The dependency expression comes from the driver's own GUIDs, by the host
# tool the host build makes (built here when it is not there yet).
if [ -z "$depex_tool" ]; then
  depex_tool="$root/build/default/integration/depex/murvane-depex"
  if [ ! -x "$depex_tool" ]; then
    cmake --preset default >/dev/null
    cmake --build --preset default --target murvane-depex >&2
  fi
fi
"$depex_tool" --out "$stage/MurvanePkg/Murvane/Murvane.depex"
# The bridge, in the mode it was built for (its module file names master
# mode's protocol; an I2C IO build's names the I2C IO protocol instead,
# written by integration/bridge_inf.cmake as the kit's staging writes it).
bridge_mode=$(sed -n 's/^MURVANE_BRIDGE_MODE=//p' "$build/images/bridge-settings.txt")
cp "$build/images/MurvaneBridge.efi" "$build/images/MurvaneBridge.map" "$build/images/bridge-settings.txt" "$stage/"
cp "$build/images/MurvaneBridge.efi" "$stage/MurvanePkg/MurvaneBridge/MurvaneBridge.efi"
"$depex_tool" --bridge "$bridge_mode" --out "$stage/MurvanePkg/MurvaneBridge/MurvaneBridge.depex"
cmake -DMODE="$bridge_mode" -DIN="$root/integration/MurvanePkg/MurvaneBridge/MurvaneBridge.inf" \
  -DOUT="$stage/MurvanePkg/MurvaneBridge/MurvaneBridge.inf" -P "$root/integration/bridge_inf.cmake" >&2
bash "$root/scripts/lint-edk2-modules.sh" "$stage/MurvanePkg" >&2

# murvane-board's packages, from the host build's cross sub-builds or the
# Linux presets' builds.
mkdir -p "$stage/board"
for arch in arm64 armhf; do
  tool="${board_tool[$arch]}"
  if [ -z "$tool" ]; then
    tool="$root/build/default/rig/$arch/tools/murvane-board/murvane-board"
    if [ ! -x "$tool" ]; then
      preset=$([ "$arch" = arm64 ] && echo aarch64-linux || echo armhf-linux)
      cmake --preset "$preset" >&2
      cmake --build --preset "$preset" --target murvane-board >&2
      tool="$root/build/$preset/tools/murvane-board/murvane-board"
    fi
  fi
  deb=$("$root/scripts/board-package.sh" --arch "$arch" --tool "$tool" --out "$out")
  cp "$deb" "$stage/board/"
done

(cd "$stage" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum >SHA256SUMS)

# The same tree always gives the same archive: fixed order, owner and time.
mtime=$(git log -1 --format=%ct 2>/dev/null || echo 0)
tar -C "$out" --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$mtime" -cf - "$name" \
  | gzip -n -9 >"$out/$name.tar.gz"
rm -rf "$stage"
echo "release: murvane-board packages beside it: $(cd "$out" && echo murvane-board_"$version"_*.deb)" >&2
echo "release: $(tar -tzf "$out/$name.tar.gz" | grep -vc '/$') files, board settings:" >&2
grep -v '^#' "$build/images/board-settings.txt" | sed 's/^/  /' >&2
echo "$out/$name.tar.gz"
