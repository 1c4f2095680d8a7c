#!/usr/bin/env bash
# The hand QEMU recipe of docs/firmware.md ("Booting it in QEMU by hand"),
# run as written, twice in a row in the same scratch directory: the test
# application's boot and the UEFI Shell's unattended run with startup.nsh.
# Then, once, its Secure Boot commands on the partitioned disk: the test
# key's signed set boots, a fresh key enrolled by scripts/enroll-db.sh boots
# its signed set, and a driver signed with another key is refused. Every
# QEMU command of the section runs under `timeout`, and every one the test
# runs reads no terminal (`</dev/null`). Only the scratch directory is
# replaced by one of the test's own, and the recipe's files must not land
# in the source tree.
# usage: qemu_recipe_test.sh SOURCE_DIR IMAGE_DIR WORK_DIR
set -euo pipefail
src="$1" images="$2" work="$3"
rm -rf "$work"
mkdir -p "$work"

# The section's indented code blocks, one file each.
awk -v out="$work/block" '
  /^## Booting it in QEMU by hand/ { on = 1; next }
  on && /^## / { exit }
  !on { next }
  /^    / { if (!open) { n++; open = 1 } print substr($0, 5) > (out n); next }
  { open = 0 }' "$src/docs/firmware.md"
find_block() {  # the first block holding a text
  grep -l -F -- "$1" "$work"/block* | sort -V | head -n 1 || true
}
setup=$(find_block 'mkdir -p /tmp/murvane-qemu')
app=$(find_block 'BOOTAA64.EFI')
# The second block that makes a disk: the Shell's.
shell_disk=$(grep -l -- '^/usr/sbin/mkfs.vfat -C' "$work"/block* | sort -V | sed -n 2p || true)
startup=$(find_block 'startup.nsh ::/startup.nsh')
part_disk=$(find_block 'truncate -s 8M disk.img')
sb_test=$(find_block 'PkKek-1-snakeoil.key -passin')
sb_own=$(find_block 'enroll-db.sh" --out keys')
sb_other=$(find_block 'CN=not enrolled')
for b in setup app shell_disk startup part_disk sb_test sb_own sb_other; do
  [ -n "${!b}" ] || { echo "FAIL: no $b block in the section of docs/firmware.md"; exit 1; }
done

# The images the test is given stand for the ones the recipe names.
{
  echo 'set -euo pipefail'
  sed -e "s|^I=.*|I=$images|" -e "s|/tmp/murvane-qemu|$work/scratch|g" "$setup"
  cat "$app"
  echo 'cp serial.log app.log'
  cat "$shell_disk"
  cat "$startup"
} >"$work/recipe.sh"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
clean() { sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' "$1" | tr -d '\r'; }
# What the recipe writes, which must not land in the source tree (the
# recipe used to leave esp.img there). Only these names: the tree may be
# edited while the test runs.
written="esp.img sim.cfg startup.nsh serial.log disk.img keys snakeoil.key other.key other.pem BOOTAA64.signed.efi
  SimPlatform.signed.efi Murvane.signed.efi Murvane.other.efi"
present() { for f in $written; do [ -e "$src/$f" ] && echo "$f"; done; true; }
before=$(present)
for run in 1 2; do
  if ! (cd "$src" && bash "$work/recipe.sh") >"$work/run$run.out" 2>&1; then
    fail "run $run of the recipe failed:"
    tail -n 15 "$work/run$run.out"
    continue
  fi
  clean "$work/scratch/app.log" | grep -q '^\[fwtest\] verdict: go set' \
    || fail "run $run: the test application's boot did not reach its verdict"
  shell=$(clean "$work/scratch/serial.log")
  for want in 'Press ESC in 5 seconds to skip startup.nsh' 'Murvane: zq uefi driver end' \
              'Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Success' \
              "Handle dump by protocol '6B0F3C2E-91D4-4A57-8E6B-2F19C04D7A31'" 'reset -s'; do
    grep -qF -- "$want" <<<"$shell" || fail "run $run: the Shell run did not show \"$want\""
  done
  [ $failures -eq 0 ] && echo "ok:   run $run of the recipe"
done
# QEMU commands: each under `timeout`; each the test runs with </dev/null.
qemu_commands() {  # FILES...: each QEMU command, its continuation lines joined
  cat "$@" | awk '{ line = line $0 } /\\$/ { sub(/\\$/, "", line); next } { print line; line = "" }' |
    grep -E 'qemu-system-aarch64|^\$Q ' || true
}
# $Q stands for the command defined with Q=, whose time-out it carries.
q_timeout=0
grep -h '^Q="timeout [0-9]* qemu-system-aarch64 ' "$work"/block* >/dev/null && q_timeout=1
while IFS= read -r c; do
  case "$c" in
    *timeout*) ;;
    '$Q '*) [ $q_timeout -eq 1 ] || fail "a QEMU command without timeout (Q has none): $c" ;;
    *) fail "a QEMU command without timeout: $c" ;;
  esac
done < <(qemu_commands "$work"/block*)
while IFS= read -r c; do
  case "$c" in *'</dev/null'*) ;; *) fail "a QEMU command the test runs reads the terminal: $c" ;; esac
done < <(qemu_commands "$app" "$startup" "$sb_test" "$sb_own" "$sb_other")

# The Secure Boot commands, once, each part's output kept apart.
{
  echo 'set -euo pipefail'
  sed -e "s|^I=.*|I=$images|" -e "s|/tmp/murvane-qemu|$work/scratch|g" "$setup"
  cat "$part_disk"
  echo 'echo "==== test key"'
  cat "$sb_test"
  echo 'echo "==== own key"'
  cat "$sb_own"
  echo 'echo "==== other key"'
  cat "$sb_other"
} >"$work/secure.sh"
if (cd "$src" && bash "$work/secure.sh") >"$work/secure.out" 2>&1; then
  part() { sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' "$work/secure.out" | tr -d '\r' |
    awk -v p="==== $1" '$0 ~ /^==== / { on = ($0 == p); next } on'; }
  part "test key" | grep -q '^\[fwtest\] verdict: go set' && echo "ok:   Secure Boot, the test key's signed set" \
    || fail "Secure Boot with the test key's signed set did not reach the verdict"
  part "own key" | grep -q '^enroll-db: enrolled in' && part "own key" | grep -q '^\[fwtest\] verdict: go set' \
    && echo "ok:   Secure Boot, a fresh key enrolled and its signed set" \
    || fail "Secure Boot with a fresh key enrolled did not reach the verdict"
  part "other key" | grep -q '^\[fwtest\] entry: not loaded: Access Denied' \
    && ! part "other key" | grep -q '^Murvane: ' && echo "ok:   Secure Boot, another key's driver refused" \
    || fail "the driver signed with another key was not refused"
else
  fail "the Secure Boot commands failed:"
  tail -n 20 "$work/secure.out"
fi

after=$(present)
[ "$before" = "$after" ] || fail "the recipe left files in the source tree: $(echo $after)"

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed; the recipe as run: $work/recipe.sh"
  exit 1
fi
echo "the hand QEMU recipe works, twice in a row"
