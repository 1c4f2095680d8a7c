#!/usr/bin/env bash
# Lints the EDK2 module and package files of a package directory for what an
# EDK2 build would reject and we can check without EDK2: section names,
# INF_VERSION / DEC_SPECIFICATION, the required [Defines], GUID formats,
# FILE_GUID well-formed and unique, GUID names used but not declared, and the
# files a binary module lists, which must exist beside its .inf (lint the
# staged kit, build/default/integration/MurvanePkg, where the build put them).
# Usage: scripts/lint-edk2-modules.sh PACKAGE_DIR
set -uo pipefail

pkg="${1:?usage: lint-edk2-modules.sh PACKAGE_DIR}"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

registry_guid='^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$'
h='0x[0-9A-Fa-f]'
c_guid="^\{ *${h}{1,8} *, *${h}{1,4} *, *${h}{1,4} *, *\{ *(${h}{1,2} *, *){7}${h}{1,2} *\} *\}$"
version='^(0x[0-9A-Fa-f]{8}|[0-9]+\.[0-9]+)$'

# Lines of a file without comments and surrounding blanks, as "LINENO<TAB>TEXT".
content() { awk '{ sub(/#.*/, ""); gsub(/^[ \t]+|[ \t\r]+$/, ""); if ($0 != "") print NR "\t" $0 }' "$1"; }

# The value of "KEY = VALUE" in [Defines].
define() {
  content "$1" | awk -F'\t' -v key="$2" '
    /^[0-9]+\t\[/ { inside = ($2 ~ /^\[Defines(\.[A-Za-z0-9_]+)?\]$/); next }
    inside { split($2, kv, /[ \t]*=[ \t]*/); if (kv[1] == key) { print kv[2]; exit } }'
}

# Section headers must be known ones; "[A, B]" lists several, each may carry
# ".ARCH" (and more dotted qualifiers in EDK2; we allow one or two).
check_sections() {
  local file="$1" known="$2" line text name
  while IFS=$'\t' read -r line text; do
    [[ "$text" == \[* ]] || continue
    if [[ ! "$text" =~ ^\[[^]]+\]$ ]]; then
      fail "$file:$line: malformed section header $text"
      continue
    fi
    IFS=',' read -ra names <<<"${text:1:${#text}-2}"
    for name in "${names[@]}"; do
      name="${name// /}"
      local base="${name%%.*}"
      if [[ ! " $known " == *" $base "* ]]; then
        fail "$file:$line: unknown section [$name]"
      elif [[ "$name" == *.* && ! "$name" =~ ^[A-Za-z]+(\.(IA32|X64|ARM|AARCH64|RISCV64|LOONGARCH64|EBC|common|COMMON)(\.[A-Za-z_]+)?)$ ]]; then
        fail "$file:$line: unknown architecture in [$name]"
      fi
    done
  done < <(content "$file")
}

# Lines of one section (any architecture), as "LINENO<TAB>TEXT".
section() {
  content "$1" | awk -F'\t' -v want="$2" '
    /^[0-9]+\t\[/ { s = $2; gsub(/[][ ]/, "", s); n = split(s, parts, ","); inside = 0
                    for (i = 1; i <= n; i++) { split(parts[i], q, "."); if (q[1] == want) inside = 1 }
                    next }
    inside { print }'
}

mapfile -t decs < <(find "$pkg" -name '*.dec' | sort)
mapfile -t infs < <(find "$pkg" -name '*.inf' | sort)
[ "${#decs[@]}" -gt 0 ] || fail "$pkg: no .dec file"
[ "${#infs[@]}" -gt 0 ] || fail "$pkg: no .inf file"

declare -A declared=()    # GUID C name -> file
declare -A guid_owner=()  # normalised GUID value -> where
# A C initializer "{ 0x1, 0x2, ... }" or a registry-format GUID, as 32 upper-case hex digits.
norm_c() {
  local -a n
  read -ra n <<<"$(grep -oE '0x[0-9A-Fa-f]+' <<<"$1" | tr '\n' ' ')"
  printf '%08X%04X%04X' "${n[0]}" "${n[1]}" "${n[2]}"
  printf '%02X' "${n[@]:3}"
  echo
}
norm_registry() { tr -d '-' <<<"$1" | tr '[:lower:]' '[:upper:]'; }
claim_guid() {
  local value="$1" where="$2"
  if [ -n "${guid_owner[$value]:-}" ]; then
    fail "$where: GUID also used by ${guid_owner[$value]}"
  else
    guid_owner[$value]="$where"
  fi
}

for dec in "${decs[@]}"; do
  check_sections "$dec" "Defines Includes Guids Protocols Ppis LibraryClasses PcdsFixedAtBuild PcdsPatchableInModule PcdsFeatureFlag PcdsDynamic PcdsDynamicEx UserExtensions"
  decver=$(define "$dec" DEC_SPECIFICATION)
  [[ "$decver" =~ $version ]] || fail "$dec: DEC_SPECIFICATION '$decver' is not 0xMMMMmmmm or M.m"
  for key in PACKAGE_NAME PACKAGE_VERSION; do
    [ -n "$(define "$dec" "$key")" ] || fail "$dec: no $key in [Defines]"
  done
  pguid=$(define "$dec" PACKAGE_GUID)
  if [[ "$pguid" =~ $registry_guid ]]; then
    claim_guid "$(norm_registry "$pguid")" "$dec PACKAGE_GUID"
  else
    fail "$dec: PACKAGE_GUID '$pguid' is not in registry format"
  fi
  while IFS=$'\t' read -r line text; do
    dir="$(dirname "$dec")/$text"
    [ -d "$dir" ] || fail "$dec:$line: include directory $text does not exist"
  done < <(section "$dec" Includes)
  for kind in Guids Protocols Ppis; do
    while IFS=$'\t' read -r line text; do
      name="${text%%=*}" name="${name// /}" value="${text#*=}" value="${value#"${value%%[! ]*}"}"
      if [[ ! "$name" =~ ^g[A-Za-z0-9_]+Guid$ ]]; then
        fail "$dec:$line: GUID name '$name' does not have the gXxxGuid form"
      fi
      if [[ ! "$value" =~ $c_guid ]]; then
        fail "$dec:$line: $name = '$value' is not a C GUID initializer { 0x..., 0x..., 0x..., { 8 bytes } }"
        continue
      fi
      if [ -n "${declared[$name]:-}" ]; then
        fail "$dec:$line: $name declared twice"
      fi
      declared[$name]="$dec"
      claim_guid "$(norm_c "$value")" "$dec:$line $name"
    done < <(section "$dec" "$kind")
  done
done

module_types=" BASE SEC PEI_CORE PEIM DXE_CORE DXE_DRIVER DXE_RUNTIME_DRIVER DXE_SAL_DRIVER DXE_SMM_DRIVER \
MM_STANDALONE MM_CORE_STANDALONE SMM_CORE UEFI_DRIVER UEFI_APPLICATION USER_DEFINED HOST_APPLICATION "
binary_types=" PE32 TE PIC DXE_DEPEX PEI_DEPEX SMM_DEPEX UI VER BIN RAW ACPI ASL SUBTYPE_GUID FV GUID LIB DISPOSABLE "
depex_words=" AND OR NOT TRUE FALSE BEFORE AFTER SOR ( ) "
# GUID names the standard packages declare, of those our modules use: a
# module may name them when its [Packages] lists that package.
standard_names() {
  case "$1" in
    MdePkg/MdePkg.dec) echo "gEfiI2cMasterProtocolGuid gEfiI2cIoProtocolGuid gEfiI2cEnumerateProtocolGuid" ;;
    EmbeddedPkg/EmbeddedPkg.dec) echo "gEmbeddedGpioProtocolGuid" ;;
  esac
}

for inf in "${infs[@]}"; do
  check_sections "$inf" "Defines Sources Binaries Packages LibraryClasses Protocols Ppis Guids Pcd FixedPcd PatchPcd FeaturePcd PcdEx Depex BuildOptions UserExtensions"
  iv=$(define "$inf" INF_VERSION)
  [[ "$iv" =~ $version ]] || fail "$inf: INF_VERSION '$iv' is not 0xMMMMmmmm or M.m"
  for key in BASE_NAME VERSION_STRING; do
    [ -n "$(define "$inf" "$key")" ] || fail "$inf: no $key in [Defines]"
  done
  mt=$(define "$inf" MODULE_TYPE)
  [[ "$module_types" == *" $mt "* && -n "$mt" ]] || fail "$inf: MODULE_TYPE '$mt' is not a module type"
  fguid=$(define "$inf" FILE_GUID)
  if [[ "$fguid" =~ $registry_guid ]]; then
    claim_guid "$(norm_registry "$fguid")" "$inf FILE_GUID"
  else
    fail "$inf: FILE_GUID '$fguid' is not in registry format (8-4-4-4-12 hex digits)"
  fi
  known=" "
  while IFS=$'\t' read -r line text; do
    known+="$(standard_names "$text") "
  done < <(section "$inf" Packages)
  nbin=0
  while IFS=$'\t' read -r line text; do
    nbin=$((nbin + 1))
    IFS='|' read -r type path _ <<<"$text"
    type="${type// /}" path="${path// /}"
    [[ "$binary_types" == *" $type "* && -n "$type" ]] || fail "$inf:$line: unknown binary file type '$type'"
    [ -f "$(dirname "$inf")/$path" ] || fail "$inf:$line: $path is not in $(dirname "$inf") (build the kit first)"
  done < <(section "$inf" Binaries)
  if [ "$nbin" -eq 0 ] && [ -z "$(section "$inf" Sources)" ]; then
    fail "$inf: neither [Sources] nor [Binaries]"
  fi
  while IFS=$'\t' read -r line text; do
    name="${text%%[ |]*}"
    [[ "$name" == g*Guid && -z "${declared[$name]:-}" && "$known" != *" $name "* ]] &&
      fail "$inf:$line: $name is not declared in a .dec of $pkg or of a standard package in [Packages]"
  done < <(section "$inf" Protocols; section "$inf" Guids; section "$inf" Ppis)
  while IFS=$'\t' read -r line text; do
    spaced="${text//(/ ( }" spaced="${spaced//)/ ) }"
    read -ra words <<<"$spaced"
    for word in "${words[@]}"; do
      if [[ "$depex_words" == *" $word "* ]]; then continue; fi
      if [[ "$word" == g*Guid ]]; then
        [[ -n "${declared[$word]:-}" || "$known" == *" $word "* ]] ||
          fail "$inf:$line: [Depex] names $word, not declared in a .dec of $pkg or of a standard package in [Packages]"
      else
        fail "$inf:$line: [Depex] word '$word' is neither a GUID name nor an operator"
      fi
    done
  done < <(section "$inf" Depex)
done

if [ "$failures" -ne 0 ]; then
  echo "$failures problem(s) in the module files of $pkg"
  exit 1
fi
echo "module files of $pkg: ${#decs[@]} .dec, ${#infs[@]} .inf, ${#guid_owner[@]} GUIDs: no problems"
