#!/usr/bin/env bash
# --help on the test scripts a newcomer runs first, scripts/test.sh,
# testbench/qemu/qemu_test.sh and testbench/edk2/edk2_boot.sh: usage on
# standard output, exit 0, and nothing started. Every tool they could start (package installation, the build,
# QEMU, the checker) is replaced by a stand-in that notes its call; none may
# be called. An unknown argument is one line and exit 2.
# usage: help_test.sh SOURCE_DIR WORK_DIR
set -euo pipefail
src="$1" work="$2"
rm -rf "$work"
mkdir -p "$work/bin"
for tool in apt-get sudo dpkg cmake ctest ninja qemu-system-aarch64 mkfs.vfat mcopy mmd timeout; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/called"\nexit 0\n' "$tool" "$work" >"$work/bin/$tool"
  chmod +x "$work/bin/$tool"
done

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for script in scripts/test.sh testbench/qemu/qemu_test.sh testbench/edk2/edk2_boot.sh; do
  rm -f "$work/called"
  status=0
  PATH="$work/bin:$PATH" bash "$src/$script" --help >"$work/out" 2>"$work/err" || status=$?
  [ "$status" -eq 0 ] || fail "$script --help exits $status"
  grep -q '^usage: ' "$work/out" || fail "$script --help prints no usage line: $(head -3 "$work/out")"
  [ ! -s "$work/err" ] || fail "$script --help writes to standard error: $(cat "$work/err")"
  [ ! -e "$work/called" ] || fail "$script --help started: $(cat "$work/called")"

  status=0
  PATH="$work/bin:$PATH" bash "$src/$script" --no-such-option >"$work/out" 2>"$work/err" || status=$?
  [ "$status" -eq 2 ] || fail "$script --no-such-option exits $status"
  [ "$(wc -l <"$work/err")" -eq 1 ] || fail "$script --no-such-option: not one line: $(cat "$work/err")"
  [ ! -e "$work/called" ] || fail "$script --no-such-option started: $(cat "$work/called")"
done

if [ "$failures" -ne 0 ]; then
  exit 1
fi
echo "ok: --help prints usage and starts nothing; an unknown option is one line and exit 2"
