#!/usr/bin/env bash
# The script tests (tests/scripts/, and the bridge settings test) can say
# no: each is run on a scratch source tree whose script misbehaves one way
# (or, for the checks the board builds share, on a trace and a capture
# check that do not agree), and must fail, naming what it found.
#   help_test.sh               scripts/test.sh starting the build at --help,
#                              qemu_test.sh taking an unknown option
#   update_family_files_test.sh  update-family-files.sh writing a file and
#                              exiting 1 on a build it cannot use
#   run_sh_test.sh             run.sh printing a build line on standard output
#   field_constant_build.sh    compilers that build every case, or none for
#                              the reason the case names
#   bridge_settings_test.sh    bridge settings that check nothing
#   sim_build_checks.sh        transfers without the clock asked for, an
#                              export that departs from itself
# usage: script_checks_fail.sh SOURCE_DIR WORK_DIR MURVANE_SIM
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: script_checks_fail.sh SOURCE_DIR WORK_DIR MURVANE_SIM" >&2
  exit 2
fi
src="$1" work="$2" sim="$3"
rm -rf "$work"
mkdir -p "$work"
tests="$src/tests/scripts"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# must_fail NAME PATTERN COMMAND...: COMMAND exits 1 and prints a line
# matching PATTERN (grep -E).
must_fail() {
  local name="$1" pattern="$2" status=0
  shift 2
  "$@" >"$work/$name.out" 2>&1 || status=$?
  if [ "$status" -eq 1 ] && grep -qE -- "$pattern" "$work/$name.out"; then
    echo "ok:   $name fails: $(grep -m1 -E -- "$pattern" "$work/$name.out")"
  else
    fail "$name: exit $status, and no line /$pattern/:"$'\n'"$(sed 's/^/    /' "$work/$name.out")"
  fi
}

# A scratch source tree with the given scripts.
tree() {
  rm -rf "${work:?}/$1"
  mkdir -p "$work/$1/scripts" "$work/$1/testbench/qemu"
}

tree help
printf '#!/bin/sh\ncmake --build build/default\necho "usage: test.sh"\n' >"$work/help/scripts/test.sh"
printf '#!/bin/sh\necho "usage: qemu_test.sh"\nexit 0\n' >"$work/help/testbench/qemu/qemu_test.sh"
must_fail help_test 'FAIL: scripts/test.sh --help started: cmake --build build/default' \
  bash "$tests/help_test.sh" "$work/help" "$work/help-work"
grep -q 'FAIL: testbench/qemu/qemu_test.sh --no-such-option exits 0' "$work/help_test.out" \
  || fail "help_test: an unknown option taken with exit 0 goes unnoticed"

tree family
cat >"$work/family/scripts/update-family-files.sh" <<'EOF'
#!/bin/sh
echo "rewritten" >"$(dirname "$0")/../golden.jsonl"
echo "update-family-files: the build is configured with MURVANE_FIRMWARE=OFF; nothing was changed" >&2
exit 1
EOF
chmod +x "$work/family/scripts/update-family-files.sh"
must_fail update_family_files_test 'FAIL: MURVANE_FIRMWARE=OFF: exit status 1, not 2' \
  bash "$tests/update_family_files_test.sh" "$work/family" "$work/family-work"
grep -q 'FAIL: MURVANE_FIRMWARE=OFF: files were written or changed' "$work/update_family_files_test.out" \
  || fail "update_family_files_test: a file written goes unnoticed"

tree run
printf '#!/bin/sh\necho "[1/1] Linking CXX executable tools/murvane-sim"\nexec "%s" "$@"\n' "$sim" \
  >"$work/run/scripts/run.sh"
chmod +x "$work/run/scripts/run.sh"
must_fail run_sh_test 'FAIL: run.sh --trace - \(jsonl\) differs from murvane-sim.s own output' \
  bash "$tests/run_sh_test.sh" "$work/run" "$sim"

# field_constant_build.sh with compilers that build everything, or nothing
# for the right reason.
printf '#!/bin/sh\nexit 0\n' >"$work/builds-all"
printf '#!/bin/sh\necho "error: out of memory" >&2\nexit 1\n' >"$work/builds-none"
chmod +x "$work/builds-all" "$work/builds-none"
must_fail field_constant_build_all "FAIL: $work/builds-all: [a-z_]+ builds; it must stop with" \
  bash "$tests/field_constant_build.sh" "$src" "$work" "$work/field-all" "$work/builds-all"
must_fail field_constant_build_none "FAIL: $work/builds-none: [a-z_]+ stops the build, but not with" \
  bash "$tests/field_constant_build.sh" "$src" "$work" "$work/field-none" "$work/builds-none"
grep -q "FAIL: $work/builds-none: fitting_constants does not build" "$work/field_constant_build_none.out" \
  || fail "field_constant_build: a case that must build and does not goes unnoticed"

# bridge_settings_test.sh on a tree whose bridge settings check nothing
# and write nothing.
tree bridge
cp -R "$src/cmake" "$work/bridge/cmake"
mkdir -p "$work/bridge/bridge"
echo '# checks nothing' >"$work/bridge/bridge/settings.cmake"
must_fail bridge_settings_test 'FAIL: a good set of settings did not configure' \
  bash "$src/tests/bridge/bridge_settings_test.sh" "$work/bridge" "$work/bridge-work"
grep -q 'FAIL: -DMURVANE_BRIDGE_MODE=slave was accepted' "$work/bridge_settings_test.out" \
  || fail "bridge_settings_test: a bad mode accepted goes unnoticed"

# The checks the other-board builds share, sourced as they source them, in
# a subshell of their own (they keep their own count): it exits 1 at the
# first that does not fail.
# shellcheck disable=SC2031
(
  # shellcheck source=tests/scripts/sim_build_checks.sh
  . "$tests/sim_build_checks.sh"
  "$sim" --chip zq3101 --trace "$work/trace.jsonl" --quiet
  n=$(grep -c '"ev":"i2c_\(read\|write\)"' "$work/trace.jsonl")
  transfers_carry "$work/trace.jsonl" '"config":\[400,' "the 400 kHz clock" >"$work/carry-ok.out"
  [ "$failures" -eq 0 ] || { echo "FAIL: the default build's transfers do not carry 400 kHz"; exit 1; }
  transfers_carry "$work/trace.jsonl" '"config":\[1000,' "the 1000 kHz clock" >"$work/carry.out"
  grep -qx "FAIL: 0 of $n transfers carry the 1000 kHz clock" "$work/carry.out" \
    || { echo "FAIL: transfers_carry passes a trace at 400 kHz for 1000 kHz: $(cat "$work/carry.out")"; exit 1; }
  echo "ok:   transfers_carry fails: $(cat "$work/carry.out")"
  : >"$work/empty.jsonl"
  failures=0
  transfers_carry "$work/empty.jsonl" '"config"' "anything" >"$work/empty.out"
  [ "$failures" -eq 1 ] || { echo "FAIL: transfers_carry passes a trace with no transfer"; exit 1; }
  echo "ok:   transfers_carry fails on no transfer: $(cat "$work/empty.out")"
  # A capture check that always departs.
  printf '#!/bin/sh\ncase "$*" in *--check-capture*) echo "departs at transfer 1 of 1"; exit 1 ;; esac\nexec "%s" "$@"\n' \
    "$sim" >"$work/departing-sim"
  chmod +x "$work/departing-sim"
  failures=0
  export_matches_itself "$work/departing-sim" 400 "$work" zq3201 >"$work/self.out"
  [ "$failures" -eq 2 ] && grep -q "^FAIL: the 400 kHz export of --chip zq3101 does not match itself: departs" \
    "$work/self.out" || { echo "FAIL: export_matches_itself passes a departing export: $(cat "$work/self.out")"; exit 1; }
  echo "ok:   export_matches_itself fails: $(head -n 1 "$work/self.out")"
) || failures=$((failures + 1))

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "every script test failed where it had to"
