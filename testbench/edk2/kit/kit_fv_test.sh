#!/usr/bin/env bash
# EDK2's build reads the integrator's kit: MurvaneKitFv.dsc and .fdf name the
# kit's two modules by their .inf (Murvane.inf, MurvaneBridge.inf), EDK2's
# `build` reads them and MurvanePkg.dec, and GenFds makes one firmware
# volume of their FFS files. Then, for each module:
#   - its DEPEX section in the volume, as EDK2 put it there, equals byte for
#     byte the kit's .depex (integration/depex/, murvane-depex);
#   - the module's [Depex], as EDK2's own encoder encodes it (EDK2's build
#     reads no [Depex] of a binary-only module: encode_depex.py asks its INF
#     and DEC parsers and its encoder), equals it too;
#   - its PE32 section is the kit's image.
# The kit is copied first; nothing is written into it.
#
# --break depex|binaries breaks the copy's Murvane.inf first (its [Depex]
# names another protocol; its [Binaries] name an image that is not there)
# and requires the test to fail, on the comparison or in EDK2's build: a
# test that shows the test can fail.
#
# usage: kit_fv_test.sh --kit DIR --edk2 DIR --work DIR [--break depex|binaries]
#        (--kit: build/default/integration/MurvanePkg; --edk2: the folder
#        scripts/edk2-deps.sh fills, whose `source` names the EDK2 tree)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
kit="" edk2="" work="" break_it=""
while [ $# -gt 0 ]; do
  case "$1" in
    --kit | --edk2 | --work | --break)
      if [ $# -lt 2 ]; then
        echo "kit_fv_test.sh: $1 needs a value" >&2
        exit 2
      fi
      case "$1" in
        --kit) kit="$2" ;;
        --edk2) edk2="$2" ;;
        --work) work="$2" ;;
        --break) break_it="$2" ;;
      esac
      shift 2
      ;;
    *) echo "kit_fv_test.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
if [ -z "$kit" ] || [ -z "$edk2" ] || [ -z "$work" ]; then
  echo "kit_fv_test.sh: --kit, --edk2 and --work are required" >&2
  exit 2
fi
case "$break_it" in "" | depex | binaries) ;; *)
  echo "kit_fv_test.sh: --break takes depex or binaries, not \"$break_it\"" >&2
  exit 2
  ;;
esac
src=$(cat "$edk2/source" 2>/dev/null || true)
if [ ! -f "$src/.murvane-basetools" ]; then
  echo "kit_fv_test.sh: no EDK2 tree with BaseTools built ($edk2/source): run scripts/edk2-deps.sh" >&2
  exit 1
fi
if [ ! -f "$kit/Murvane/Murvane.inf" ] || [ ! -f "$kit/Murvane/Murvane.efi" ]; then
  echo "kit_fv_test.sh: no staged kit with its images in $kit: build first" >&2
  exit 1
fi

# The test proper, on a copy of the kit, broken first when $1 says how.
run_test() {
  local how=$1 ws="$work/ws"
  rm -rf "$work"
  mkdir -p "$ws" "$work/sections" "$work/encoded"
  cp -r "$kit" "$ws/MurvanePkg"
  cp "$here/MurvaneKitFv.dsc" "$here/MurvaneKitFv.fdf" "$ws/"
  local inf="$ws/MurvanePkg/Murvane/Murvane.inf"
  case "$how" in
    depex) sed -i 's/^  gEfiZeltI2cProtocolGuid AND gEfiKormProtocolGuid$/  gEfiZeltI2cHapticProtocolGuid AND gEfiKormProtocolGuid/' "$inf" ;;
    binaries) sed -i 's/^  PE32|Murvane.efi|\*$/  PE32|MurvaneDriver.efi|*/' "$inf" ;;
  esac
  if [ -n "$how" ] && cmp -s "$inf" "$kit/Murvane/Murvane.inf"; then
    echo "FAILED: could not break Murvane.inf ($how): its text is not what this test expects"
    return 2
  fi
  export WORKSPACE="$ws" PACKAGES_PATH="$ws:$src" EDK_TOOLS_PATH="$src/BaseTools" CONF_PATH="$src/Conf"
  export GCC5_AARCH64_PREFIX=aarch64-linux-gnu-
  set +u
  # shellcheck disable=SC1091 # EDK2's own environment script
  . "$src/edksetup.sh" BaseTools >/dev/null
  set -u
  local start end
  start=$(date +%s.%N)
  if ! (cd "$ws" && build -a AARCH64 -t GCC5 -b RELEASE -p MurvaneKitFv.dsc >"$work/build.log" 2>&1); then
    echo "FAILED: EDK2's build of the kit's volume failed:"
    grep -iE 'error|warning' "$work/build.log" | head -n 20
    return 1
  fi
  end=$(date +%s.%N)
  local fv="$ws/Build/MurvaneKitFv/RELEASE_GCC5/FV/MURVANEKIT.Fv"
  echo "EDK2's build and GenFds: $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }') s, $(stat -c %s "$fv") bytes"
  python3 "$here/fv_sections.py" "$fv" "$work/sections" || return 1
  (cd "$ws" && python3 "$here/encode_depex.py" "$work/encoded" MurvanePkg/Murvane/Murvane.inf \
    MurvanePkg/MurvaneBridge/MurvaneBridge.inf) || return 1
  local failed=0 module guid
  for module in Murvane MurvaneBridge; do
    guid=$(awk '$1 == "FILE_GUID" { print toupper($3) }' "$ws/MurvanePkg/$module/$module.inf")
    check() {
      if cmp -s "$1" "$2"; then
        echo "$module: $3: identical ($(stat -c %s "$1") bytes)"
      else
        echo "FAILED: $module: $3: differ ($1 against $2)"
        failed=1
      fi
    }
    if [ ! -f "$work/sections/$guid.depex" ]; then
      echo "FAILED: $module: no file $guid with a DEPEX section in the volume"
      failed=1
      continue
    fi
    check "$work/sections/$guid.depex" "$kit/$module/$module.depex" \
      "the volume's DEPEX section and the kit's $module.depex"
    check "$work/encoded/$module.depex" "$kit/$module/$module.depex" \
      "the .inf's [Depex] as EDK2 encodes it and the kit's $module.depex"
    check "$work/sections/$guid.pe32" "$kit/$module/$module.efi" "the volume's PE32 section and $module.efi"
  done
  return $failed
}

if [ -z "$break_it" ]; then
  if run_test ""; then
    echo "PASSED"
    exit 0
  fi
  exit 1
fi
# Broken: the same test must fail.
set +e
(run_test "$break_it")
status=$?
set -e
echo "----"
if [ $status -eq 1 ]; then
  echo "PASSED: with Murvane.inf broken ($break_it) the test fails, as it must"
  exit 0
fi
echo "FAILED: with Murvane.inf broken ($break_it) the test ended with $status, not a failure of the comparison or build"
exit 1
