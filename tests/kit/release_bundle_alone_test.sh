#!/usr/bin/env bash
# The release bundle on its own, as an integrator with no source tree gets
# it: scripts/release.sh makes it, and everything else happens in an empty
# folder with nothing but the archive, under an empty environment:
#
# - its checksums hold;
# - no file names a path of the source or build tree, a developer document
#   or a tool the bundle does not ship, and every file the README names is
#   in the bundle;
# - each C header compiles alone as C99 (-pedantic -Wall -Wextra -Werror),
#   and after gnu-efi's <efi.h> where that is installed (as after EDK2's
#   <Uefi.h>: other UEFI definitions first);
# - the README's build commands, run as written, make Consumer.efi and
#   StubPlatform.efi (AArch64 PE32+, application and boot-service driver),
#   and the examples also compile for the host.
#
# The README's QEMU recipe (the stub platform, the bundle's driver and the
# consumer in the UEFI Shell, with its whole expected output) is the test
# recipe_bundle-qemu (tests/recipes/).
#
# usage: release_bundle_alone_test.sh SOURCE_DIR EFI_BUILD_DIR WORK_DIR
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: release_bundle_alone_test.sh SOURCE_DIR EFI_BUILD_DIR WORK_DIR" >&2
  exit 2
fi
src="$1" efi="$2" work="$3"
rm -rf "$work"
mkdir -p "$work"

bundle=$("$src/scripts/release.sh" --build "$efi" --out "$work/out" 2>"$work/release.log") \
  || { cat "$work/release.log"; echo "FAIL: release.sh failed"; exit 1; }
alone="$work/alone"
mkdir -p "$alone"
cp "$bundle" "$alone/"
cd "$alone"
tar -xzf "$(basename "$bundle")"
top=$(basename "$bundle" .tar.gz)
cd "$top"
# Nothing of the caller's environment: no paths into the tree, no variables.
run() { env -i PATH=/usr/bin:/bin:/usr/sbin:/sbin HOME="$alone" LC_ALL=C "$@"; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok:   $*"; }

run sha256sum --check --strict --quiet SHA256SUMS && ok "SHA256SUMS holds, in the unpacked folder" \
  || fail "sha256sum --check SHA256SUMS failed"

# What an integrator cannot follow: the source and build trees, developer
# documents and tools that stay at home.
forbidden='build/|core/|families/|platform/|testbench/|scripts/|tools/|docs/|integration/|house-style|CMake|cmake|murvane-depex|murvane-sim|uefi_c\.h|protocols\.h|board_settings\.h|/work/|/tmp/'
text_files=$(find . -type f \( -name '*.md' -o -name '*.h' -o -name '*.c' -o -name '*.inf' -o -name '*.dec' \
  -o -name '*.txt' \) | sort)
scan() {  # FILES...: the forbidden references, one "file: line" each
  grep -nE -- "$forbidden" "$@" /dev/null || true
}
hits=$(scan $text_files)
[ -z "$hits" ] && ok "no file refers to the source tree, the build tree or developer tools" \
  || fail "references an integrator cannot follow:"$'\n'"$(sed 's/^/    /' <<<"$hits")"
# The scan can fail: the developers' README is full of such references.
[ -n "$(scan "$src/README.md")" ] || fail "the scan does not even catch the source tree's README"
[ "$(find . -name '*.md' | sort)" = "./README.md" ] && ok "README.md is the only document" \
  || fail "documents other than README.md: $(find . -name '*.md' ! -name README.md | tr '\n' ' ')"
# Every file the README names in backquotes is here.
missing_names() {  # README: the names it gives in backquotes that are not in the bundle
  local name missing=""
  while IFS= read -r name; do
    [ -e "$name" ] || [ -n "$(find . -path "*/$name" -o -name "$name" | head -n1)" ] || missing+=" $name"
  done < <(grep -oE '`[A-Za-z0-9_./-]+\.(h|c|efi|inf|dec|depex|txt|map|md)`' "$1" | tr -d '`' | sort -u |
    grep -vE '^(out/|YourPlatformPkg/|protected\.key$|db\.key$|db\.pem$|db\.esl$|db\.auth$|Murvane\.signed\.efi$)' |
    grep -vE '^(KEK\.(key|pem))$')
  echo "$missing"
}
missing=$(missing_names README.md)
[ -z "$missing" ] && ok "every file the README names is in the bundle" || fail "the README names files not here:$missing"
# That check can fail: a README that names a header the bundle lacks.
{ cat README.md; echo 'See `MurvanePkg/Include/NotShipped.h`.'; } >"$alone/README.more.md"
[ "$(missing_names "$alone/README.more.md")" = " MurvanePkg/Include/NotShipped.h" ] \
  || fail "a README naming MurvanePkg/Include/NotShipped.h passes the check"
grep -qF "@VERSION@" README.md && fail "README.md still has @VERSION@"
grep -q '^| `zq3603` |' README.md && ok "the README lists the chip models" || fail "the README's model table is missing"

# Each header alone, C99; then after gnu-efi's definitions.
for h in $(cd MurvanePkg/Include && find . -name '*.h' | sed 's|^\./||' | sort); do
  if printf '#include "%s"\ntypedef int alone;\n' "$h" | run cc -std=c99 -pedantic -Wall -Wextra -Werror -fsyntax-only \
    -IMurvanePkg/Include -x c - 2>"$alone/cc.err"; then
    ok "$h compiles alone (C99)"
  else
    fail "$h does not compile alone as C99:"$'\n'"$(sed 's/^/    /' "$alone/cc.err")"
  fi
  case "$h" in Protocol/*) ;; *) continue ;; esac
  # gnu-efi is one of scripts/deps.sh's packages: its absence is a failure.
  if [ ! -f /usr/include/efi/efi.h ] || [ ! -d /usr/include/efi/x86_64 ]; then
    fail "$h not compiled after gnu-efi's <efi.h>: gnu-efi's headers are not installed (scripts/deps.sh installs gnu-efi)"
    continue
  fi
  printf '#include <efi.h>\n#include "%s"\ntypedef int alone;\n' "$h" | run cc -std=c99 -Wall -Wextra -Werror -fsyntax-only \
    -DGNU_EFI_USE_MS_ABI -isystem /usr/include/efi -isystem /usr/include/efi/x86_64 -IMurvanePkg/Include -x c - \
    2>"$alone/cc.err" && ok "$h compiles after gnu-efi's <efi.h>" \
    || fail "$h does not compile after gnu-efi's <efi.h>:"$'\n'"$(sed 's/^/    /' "$alone/cc.err")"
done

# The README's build commands, as written.
awk '/^## Building the examples/ { on = 1; next } on && /^## / { exit } on && /^    / { print substr($0, 5) }' \
  README.md >"$alone/build.sh"
[ -s "$alone/build.sh" ] || fail "no build commands under \"## Building the examples\" in README.md"
if run bash -euo pipefail "$alone/build.sh" >"$alone/build.out" 2>&1; then
  ok "the README's build commands ran ($(wc -l <"$alone/build.sh") lines)"
else
  fail "the README's build commands failed:"$'\n'"$(sed 's/^/    /' "$alone/build.out")"
fi
u16() { od -An -t u2 -j "$2" -N 2 "$1" | tr -d ' '; }
u32() { od -An -t u4 -j "$2" -N 4 "$1" | tr -d ' '; }
pe_kind() {  # FILE: "machine subsystem" of a PE32+ image, or "not PE"
  local pe
  [ -f "$1" ] && [ "$(head -c 2 "$1")" = MZ ] || { echo "not PE"; return; }
  pe=$(u32 "$1" 60)
  [ "$(od -An -c -j "$pe" -N 4 "$1" | tr -d ' ')" = 'PE\0\0' ] || { echo "not PE"; return; }
  echo "$(printf '0x%04X' "$(u16 "$1" $((pe + 4)))") $(u16 "$1" $((pe + 24 + 68)))"
}
for want in "out/Consumer.efi 0xAA64 10" "out/StubPlatform.efi 0xAA64 11"; do
  read -r f machine subsystem <<<"$want"
  got=$(pe_kind "$f")
  [ "$got" = "$machine $subsystem" ] && ok "$f: AArch64 PE32+, subsystem $subsystem" \
    || fail "$f: wanted machine $machine subsystem $subsystem, got \"$got\""
done
# The image check can fail: the README is no image, an application no driver.
[ "$(pe_kind README.md)" = "not PE" ] || fail "README.md passes for a PE image"
[ "$(pe_kind out/Consumer.efi)" != "0xAA64 11" ] || fail "the application Consumer.efi passes for a driver"
for c in examples/*.c; do
  run cc -std=c99 -pedantic -Wall -Wextra -Werror -fsyntax-only -IMurvanePkg/Include "$c" 2>"$alone/cc.err" \
    && ok "$c compiles for the host too" || fail "$c does not compile for the host:"$'\n'"$(cat "$alone/cc.err")"
done

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed (the unpacked bundle: $alone/$top)"
  exit 1
fi
echo "the bundle stands alone"
