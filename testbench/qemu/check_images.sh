#!/usr/bin/env bash
# Hygiene of the UEFI images and of every object that goes into them.
# usage: check_images.sh IMAGE_DIR LLVM_READOBJ LLVM_OBJDUMP LLVM_NM
set -uo pipefail

dir="$1" readobj="$2" objdump="$3" nm="$4"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }

check_image() {
  local image="$1" subsystem="$2"
  local name; name=$(basename "$image")
  if [ ! -f "$image" ]; then fail "$name: missing"; return; fi
  local hdr; hdr=$("$readobj" --file-headers --sections "$image" 2>&1)

  grep -q 'Magic: 0x20B' <<<"$hdr" && grep -q 'Machine: IMAGE_FILE_MACHINE_ARM64' <<<"$hdr" \
    && pass "$name: PE32+ for ARM64" || fail "$name: not a PE32+ ARM64 image"
  grep -q "Subsystem: $subsystem" <<<"$hdr" && pass "$name: subsystem $subsystem" \
    || fail "$name: subsystem is not $subsystem"
  grep -q 'SectionAlignment: 4096$' <<<"$hdr" && pass "$name: section alignment 4096" \
    || fail "$name: section alignment is not 4096"
  grep -q 'IMAGE_DLL_CHARACTERISTICS_NX_COMPAT' <<<"$hdr" && pass "$name: NX_COMPAT" || fail "$name: no NX_COMPAT"
  grep -q 'IMAGE_DLL_CHARACTERISTICS_DYNAMIC_BASE' <<<"$hdr" && pass "$name: DYNAMIC_BASE" \
    || fail "$name: no DYNAMIC_BASE"

  # Per section: name, address, writable, executable.
  local bad="" n=0 sname va w x
  while read -r sname va w x; do
    n=$((n + 1))
    if [ $(( va % 4096 )) -ne 0 ]; then bad+="$sname is not 4 KiB aligned ($va); "; fi
    if [ "$w" = 1 ] && [ "$x" = 1 ]; then bad+="$sname is writable and executable; "; fi
  done < <(awk '
    /^  Section \{/ { name = ""; va = ""; w = 0; x = 0 }
    /^    Name: / { name = $2 }
    /^    VirtualAddress: / { va = $2 }
    /IMAGE_SCN_MEM_WRITE/ { w = 1 }
    /IMAGE_SCN_MEM_EXECUTE/ { x = 1 }
    /^  \}/ { if (name != "") print name, va, w, x }' <<<"$hdr")
  if [ "$n" -eq 0 ]; then
    fail "$name: no sections found"
  elif [ -n "$bad" ]; then
    fail "$name: $bad"
  else
    pass "$name: $n sections, 4 KiB aligned, none both writable and executable"
  fi

  # Imports would be symbols left for a loader that UEFI does not have.
  if "$readobj" --coff-imports "$image" 2>&1 | grep -q 'Import {'; then
    fail "$name: has an import table"
  else
    pass "$name: no imports"
  fi
}

check_image "$dir/Murvane.efi" IMAGE_SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER
check_image "$dir/SimPlatform.efi" IMAGE_SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER
check_image "$dir/BOOTAA64.efi" IMAGE_SUBSYSTEM_EFI_APPLICATION
check_image "$dir/Consumer.efi" IMAGE_SUBSYSTEM_EFI_APPLICATION
check_image "$dir/MurvaneBridge.efi" IMAGE_SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER
check_image "$dir/MurvaneBridgeIo.efi" IMAGE_SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER
check_image "$dir/FakeBoard.efi" IMAGE_SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER
check_image "$dir/MurvaneBridgeLow.efi" IMAGE_SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER
check_image "$dir/FakeBoardLow.efi" IMAGE_SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER
if "$readobj" --sections "$dir/Murvane.efi" | grep -q 'Name: .reloc'; then
  pass "Murvane.efi: base relocations present (it can load at any address)"
else
  fail "Murvane.efi: no .reloc section"
fi

mapfile -t driver_objs <"$dir/driver_objects.txt"
mapfile -t test_objs <"$dir/test_objects.txt"
mapfile -t bridge_objs <"$dir/bridge_objects.txt"
mapfile -t fakeboard_objs <"$dir/fakeboard_objects.txt"

# No static constructors: with no C runtime, a .CRT$X initialiser never runs.
crt=0
for o in "${driver_objs[@]}" "${test_objs[@]}" "${bridge_objs[@]}" "${fakeboard_objs[@]}"; do
  if "$objdump" -h "$o" | grep -q '\.CRT\$X'; then
    fail "$(basename "$o"): has a .CRT\$X (static constructor) section"
    crt=1
  fi
done
[ $crt -eq 0 ] && pass "no .CRT\$X sections in $(( ${#driver_objs[@]} + ${#test_objs[@]} + ${#bridge_objs[@]} + ${#fakeboard_objs[@]} )) objects"

# Every symbol the driver's objects use is defined by them (the linker
# defines __ImageBase).
undef=$("$nm" -u "${driver_objs[@]}" 2>/dev/null | awk 'NF == 2 && $1 == "U" { print $2 }' | sort -u)
defined=$("$nm" --defined-only "${driver_objs[@]}" 2>/dev/null | awk 'NF == 3 { print $3 }' | sort -u)
missing=$(comm -23 <(echo "$undef") <(echo "$defined") | grep -v '^__ImageBase$' | grep -v '^$' || true)
if [ -n "$missing" ]; then
  fail "driver objects leave unresolved symbols: $(tr '\n' ' ' <<<"$missing")"
else
  pass "driver objects resolve every symbol among themselves"
fi

# Which functions of an object call __security_check_cookie.
protected_functions() {
  "$objdump" -d -r "$1" | awk '
    /^[0-9a-f]+ <.*>:$/ { fn = substr($2, 2, length($2) - 3) }
    /IMAGE_REL_ARM64_BRANCH26[ \t]+__security_check_cookie$/ { print fn }' | sort -u
}
all_protected=""
for o in "${driver_objs[@]}"; do
  all_protected+=$(protected_functions "$o")$'\n'
done
count=$(grep -c . <<<"$all_protected" || true)
if [ "$count" -gt 0 ]; then
  pass "stack protector: $count driver functions check the guard"
else
  fail "stack protector: no driver function calls __security_check_cookie"
fi
for fn in efi_main obtain_stack_guard@murvane __security_check_cookie stack_guard_failed; do
  if grep -qF "$fn" <<<"$all_protected"; then
    fail "stack protector: $fn checks the guard, but it runs while the guard is set or failing"
  else
    pass "stack protector: $fn is unprotected"
  fi
done

# memset/memcpy/memmove/memcmp must not call anything (least of all themselves).
mem_obj=$(printf '%s\n' "${driver_objs[@]}" | grep '/mem\.cpp\.obj$')
calls=$("$objdump" -d -r "$mem_obj" | grep -c 'IMAGE_REL_ARM64_BRANCH26' || true)
if [ "$calls" -eq 0 ]; then
  pass "memory routines call nothing"
else
  fail "memory routines contain $calls calls"
fi

# The bridge links the driver's platform layer, every file of it (one list
# for both images), and nothing of core/ or families/.
platform_of() { printf '%s\n' "$@" | grep '/platform/[^/]*\.obj$' | sed 's|.*/||' | sort; }
driver_platform=$(platform_of "${driver_objs[@]}")
bridge_platform=$(platform_of "${bridge_objs[@]}")
if [ -n "$driver_platform" ] && [ "$driver_platform" = "$bridge_platform" ]; then
  pass "bridge and driver link the same platform files ($(tr '\n' ' ' <<<"$driver_platform"))"
else
  fail "platform files: the driver links $(tr '\n' ' ' <<<"$driver_platform"), the bridge $(tr '\n' ' ' <<<"$bridge_platform")"
fi
driver_in_bridge=$(printf '%s\n' "${bridge_objs[@]}" | grep -E '/(core|families)/' || true)
[ -z "$driver_in_bridge" ] && pass "bridge objects: nothing of core/ or families/" \
  || fail "bridge objects include the driver's: $(tr '\n' ' ' <<<"$driver_in_bridge")"

# The bridge: its own objects resolve among themselves, it can load at any
# address, its entry sets the guard unprotected, and it fits in 8 KiB.
undef=$("$nm" -u "${bridge_objs[@]}" 2>/dev/null | awk 'NF == 2 && $1 == "U" { print $2 }' | sort -u)
defined=$("$nm" --defined-only "${bridge_objs[@]}" 2>/dev/null | awk 'NF == 3 { print $3 }' | sort -u)
missing=$(comm -23 <(echo "$undef") <(echo "$defined") | grep -v '^__ImageBase$' | grep -v '^$' || true)
[ -z "$missing" ] && pass "bridge objects resolve every symbol among themselves" \
  || fail "bridge objects leave unresolved symbols: $(tr '\n' ' ' <<<"$missing")"
"$readobj" --sections "$dir/MurvaneBridge.efi" | grep -q 'Name: .reloc' \
  && pass "MurvaneBridge.efi: base relocations present" || fail "MurvaneBridge.efi: no .reloc section"
bridge_protected=""
for o in "${bridge_objs[@]}"; do
  bridge_protected+=$(protected_functions "$o")$'\n'
done
for fn in bridge_main obtain_stack_guard@murvane; do
  if grep -qF "$fn" <<<"$bridge_protected"; then
    fail "stack protector: the bridge's $fn checks the guard, but it runs while the guard is set"
  else
    pass "stack protector: the bridge's $fn is unprotected"
  fi
done
bridge_size=$(stat -c %s "$dir/MurvaneBridge.efi")
if [ "$bridge_size" -le 8192 ]; then
  pass "MurvaneBridge.efi is $bridge_size bytes (at most 8 KiB)"
else
  fail "MurvaneBridge.efi is $bridge_size bytes, more than 8 KiB"
fi

size=$(stat -c %s "$dir/Murvane.efi")
echo "info: Murvane.efi is $size bytes ($(( (size + 1023) / 1024 )) KiB; the goal is at most 16 KiB)"

# The board the image is for (cmake/board_settings.cmake), as the release
# bundle records it.
if [ -f "$dir/board-settings.txt" ]; then
  while IFS= read -r setting; do
    echo "info: board setting $setting"
  done < <(grep -v '^#' "$dir/board-settings.txt")
else
  fail "no board-settings.txt beside the images"
fi

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all image checks passed"
