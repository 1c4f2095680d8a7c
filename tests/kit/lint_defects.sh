#!/usr/bin/env bash
# The module-file lint finds what it is there to find: each defect planted in
# a fresh copy of the kit's package must fail the lint with its own message,
# and the untouched copy must pass.
# Usage: lint_defects.sh LINT_SCRIPT PACKAGE_SOURCE_DIR WORK_DIR
set -uo pipefail

lint="$1" source="$2" work="$3"
failures=0

fresh() {
  rm -rf "$work/MurvanePkg"
  mkdir -p "$work"
  cp -r "$source" "$work/MurvanePkg"
  # Stand-ins for the build outputs the module lists.
  : >"$work/MurvanePkg/Murvane/Murvane.efi"
  : >"$work/MurvanePkg/Murvane/Murvane.depex"
  : >"$work/MurvanePkg/MurvaneBridge/MurvaneBridge.efi"
  : >"$work/MurvanePkg/MurvaneBridge/MurvaneBridge.depex"
}

inf="$work/MurvanePkg/Murvane/Murvane.inf"
bridge_inf="$work/MurvanePkg/MurvaneBridge/MurvaneBridge.inf"
dec="$work/MurvanePkg/MurvanePkg.dec"

# expect WHAT MESSAGE COMMAND...: plant the defect with COMMAND, lint, and
# require a failure whose report has MESSAGE.
expect() {
  local what="$1" message="$2"
  shift 2
  fresh
  "$@"
  local out status=0
  out=$(bash "$lint" "$work/MurvanePkg" 2>&1) || status=$?
  if [ "$status" -ne 0 ] && grep -qF -- "$message" <<<"$out"; then
    echo "ok:   $what"
  else
    echo "FAIL: $what: lint exit status $status, wanted a report with \"$message\":"
    sed 's/^/    /' <<<"$out"
    failures=$((failures + 1))
  fi
}

fresh
if out=$(bash "$lint" "$work/MurvanePkg" 2>&1); then
  echo "ok:   the kit as it is passes"
else
  echo "FAIL: the kit as it is does not pass:"
  sed 's/^/    /' <<<"$out"
  failures=$((failures + 1))
fi

expect "misspelt section" "unknown section [Binary.AARCH64]" sed -i 's/^\[Binaries.AARCH64\]/[Binary.AARCH64]/' "$inf"
expect "unknown architecture" "unknown architecture in [Binaries.ARM64]" \
  sed -i 's/^\[Binaries.AARCH64\]/[Binaries.ARM64]/' "$inf"
expect "no INF_VERSION" "INF_VERSION '' is not" sed -i '/INF_VERSION/d' "$inf"
expect "bad INF_VERSION" "INF_VERSION '1.x' is not" sed -i 's/\(INF_VERSION *= *\).*/\11.x/' "$inf"
expect "FILE_GUID one digit short" "FILE_GUID '70B2354E-85A6-4BEE-BA93-C799D1D3EA7' is not in registry format" \
  sed -i 's/\(FILE_GUID *= *.*\)9$/\1/' "$inf"
expect "FILE_GUID with braces" "is not in registry format" sed -i 's/\(FILE_GUID *= *\)\(.*\)$/\1{\2}/' "$inf"
second_module() {
  mkdir -p "$work/MurvanePkg/Murvane2"
  cp "$work/MurvanePkg/Murvane/"* "$work/MurvanePkg/Murvane2/"
}
expect "FILE_GUID of two modules" "FILE_GUID: GUID also used by" second_module
expect "FILE_GUID equal to a protocol's" "FILE_GUID: GUID also used by" \
  sed -i 's/\(FILE_GUID *= *\).*/\16B0F3C2E-91D4-4A57-8E6B-2F19C04D7A31/' "$inf"
expect "MODULE_TYPE" "MODULE_TYPE 'DXE_DRVER' is not a module type" sed -i 's/= DXE_DRIVER/= DXE_DRVER/' "$inf"
expect "image not built" "Murvane.efi is not in" rm "$work/MurvanePkg/Murvane/Murvane.efi"
expect "depex not built" "Murvane.depex is not in" rm "$work/MurvanePkg/Murvane/Murvane.depex"
expect "unknown binary type" "unknown binary file type 'PE'" sed -i 's/^\( *\)PE32|/\1PE|/' "$inf"
expect "Depex GUID not declared" "[Depex] names gEfiKormPinProtocolGuid, not declared" \
  sed -i 's/AND gEfiKormProtocolGuid/AND gEfiKormPinProtocolGuid/' "$inf"
expect "Depex operator" "[Depex] word '&&' is neither" sed -i 's/Guid AND g/Guid \&\& g/' "$inf"
expect "protocol not declared" "gEfiZeltI2cHapticProtocolGuid is not declared" \
  sed -i '/^ *gEfiZeltI2cHapticProtocolGuid *=/d' "$dec"
expect "no DEC_SPECIFICATION" "DEC_SPECIFICATION '' is not" sed -i '/DEC_SPECIFICATION/d' "$dec"
expect "PACKAGE_GUID malformed" "PACKAGE_GUID 'E27DDDB4-0A68-47C0-8EBD' is not" \
  sed -i 's/\(PACKAGE_GUID *= *\).*/\1E27DDDB4-0A68-47C0-8EBD/' "$dec"
expect "GUID of seven bytes" "gEfiKormProtocolGuid = '{ 0xc47e1a05" sed -i 's/0xf3, 0x64 }}/0xf3 }}/' "$dec"
expect "GUID declared twice" "GUID also used by" sed -i 's/0x2d95e7b4, 0x6a13, 0x4c08, { 0xb7, 0xf2, 0xe4, 0xa1, 0x90, 0x3c, 0x5d, 0x86/0xc47e1a05, 0x3b92, 0x4f6d, { 0xa1, 0xe8, 0x5d, 0x20, 0xb7, 0xc9, 0xf3, 0x64/' "$dec"
expect "name declared twice" "gEfiKormProtocolGuid declared twice" \
  sed -i 's/^\( *\)gEfiZeltI2cProtocolGuid\( *\)=/\1gEfiKormProtocolGuid\2=/' "$dec"
expect "include directory" "include directory Include does not exist" rm -r "$work/MurvanePkg/Include"
expect "bridge: a standard protocol without its package" \
  "[Depex] names gEmbeddedGpioProtocolGuid, not declared" sed -i '/EmbeddedPkg\/EmbeddedPkg.dec/d' "$bridge_inf"
expect "bridge: image not staged" "MurvaneBridge.efi is not in" rm "$work/MurvanePkg/MurvaneBridge/MurvaneBridge.efi"

if [ "$failures" -ne 0 ]; then
  echo "$failures planted defect(s) not found as expected"
  exit 1
fi
echo "every planted defect was found"
