#!/usr/bin/env bash
# A constant that does not fit its field stops the build (core/regs.h:
# write_field, field_prep), and one that fits, or a value known only at run
# time, builds as before. Each case is a small file of driver code compiled
# as the driver is (C++20, -O2 as the host builds, warnings as errors) by
# each compiler given; a case that must fail must fail with the message
# that names the field, not with some other error.
# usage: field_constant_build.sh SOURCE_DIR GENERATED_INCLUDE_DIR WORK_DIR COMPILER...
set -euo pipefail
if [ $# -lt 4 ]; then
  echo "usage: field_constant_build.sh SOURCE_DIR GENERATED_INCLUDE_DIR WORK_DIR COMPILER..." >&2
  exit 2
fi
src="$1" generated="$2" work="$3"
shift 3
rm -rf "$work"
mkdir -p "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }

# NAME EXPECT BODY: EXPECT is "builds" or the text the error must contain.
names=()
expects=()
add() {
  names+=("$1")
  expects+=("$2")
  printf '#include "core/regs.h"\nnamespace murvane {\n%s\n}  // namespace murvane\n' "$3" >"$work/$1.cpp"
}
add fitting_constants builds '
constexpr uint8_t mode_cont = field_prep(bits(3, 2), 2);
uint32_t f(const reg_field& runtime, uint8_t value) {
  write_field({0x04, bits(3, 2)}, mode_cont);
  write_field({0x04, bits(3, 2)}, bits(3, 2));
  write_field({0x04, bit(0)}, 0x01);
  write_field(runtime, 0x00);
  write_field(runtime, runtime.mask);
  write_field({0x04, bits(3, 2)}, field_prep(bits(3, 2), 3));
  return write_field(runtime, value);
}'
add run_time_values builds '
uint32_t f(uint8_t value, uint32_t wide) {
  write_field({0x04, bits(3, 2)}, value);
  return write_field({0x05, bit(0)}, field_prep(bits(3, 2), wide));
}'
add write_field_too_wide 'a constant does not fit its field' '
uint32_t f() { return write_field({0x05, bit(0)}, 0x40); }'
add write_field_run_time_field 'a constant other than 0 written to a field known only at run time' '
uint32_t f(const reg_field& standby) { return write_field(standby, 0x40); }'
add field_prep_too_wide_in_code 'a constant does not fit its field' '
uint32_t f() { return write_field({0x04, bits(3, 2)}, field_prep(bits(3, 2), 4)); }'
add field_prep_too_wide_named_value 'constant_does_not_fit_its_field' '
constexpr uint8_t mode_too_wide = field_prep(bits(3, 2), 4);
uint32_t f() { return write_field({0x04, bits(3, 2)}, mode_too_wide); }'

for cxx in "$@"; do
  command -v "$cxx" >/dev/null || { fail "$cxx: no such compiler (scripts/deps.sh installs it)"; continue; }
  for i in "${!names[@]}"; do
    name="${names[$i]}" expect="${expects[$i]}" file="$work/${names[$i]}.cpp"
    if "$cxx" -std=c++20 -O2 -Wall -Wextra -Werror -fno-exceptions -fno-rtti -I"$src" -I"$generated" \
      -c "$file" -o "$work/$name.o" 2>"$work/$name.err"; then
      [ "$expect" = builds ] && pass "$cxx: $name builds" || fail "$cxx: $name builds; it must stop with \"$expect\""
    elif [ "$expect" = builds ]; then
      fail "$cxx: $name does not build:"$'\n'"$(sed 's/^/    /' "$work/$name.err")"
    elif grep -qF -- "$expect" "$work/$name.err"; then
      pass "$cxx: $name stops the build: $(grep -m1 -F -- "$expect" "$work/$name.err" | sed 's/^.*error: //')"
    else
      fail "$cxx: $name stops the build, but not with \"$expect\":"$'\n'"$(sed 's/^/    /' "$work/$name.err")"
    fi
  done
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "constants that do not fit their fields stop the build"
