# shellcheck shell=bash
# The checks board_settings_build.sh and bus_speed_build.sh both make of a
# murvane-sim built with other board settings (sourced, not run).

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# transfers_carry TRACE PATTERN WHAT: every I2C read and write of the jsonl
# trace matches PATTERN (a grep pattern); WHAT names it in the failure.
transfers_carry() {
  local transfers carried
  transfers=$(grep -c '"ev":"i2c_\(read\|write\)"' "$1" || true)
  carried=$(grep -c "$2" "$1" || true)
  [ "$transfers" -gt 0 ] && [ "$transfers" -eq "$carried" ] || fail "$carried of $transfers transfers carry $3"
}

# export_matches_itself SIM KHZ DIR CHIP: the command's VCD export, checked
# as a capture of itself, matches for a healthy zq3101 boot and for a CHIP
# whose polls run to their count.
export_matches_itself() {
  local sim="$1" khz="$2" dir="$3" stuck="$3/stuck-$4.json" run verdict
  printf '{"chip": "%s", "stuck": {"0x3F": 1}, "calls": ["entry", {"slot": "get_f0"}, {"slot": "stop"}]}\n' "$4" \
    >"$stuck"
  for run in "--chip zq3101" "$stuck"; do
    # shellcheck disable=SC2086 # the run's arguments, split on purpose
    "$sim" $run --vcd "$dir/self.vcd" --quiet
    # shellcheck disable=SC2086
    verdict=$("$sim" $run --check-capture "$dir/self.vcd" || true)
    case "$verdict" in
      matches:*) echo "$khz kHz export of $run: $verdict" ;;
      *) fail "the $khz kHz export of $run does not match itself: $verdict" ;;
    esac
  done
}
