# shellcheck shell=bash
# What testbench/qemu/qemu_test.sh and testbench/edk2/edk2_boot.sh share
# (sourced, not run): one QEMU boot with the serial console on QEMU's stdin
# and stdout, the input a pipe kept open so that the caller can type at the
# firmware's prompts, watched until QEMU ends or the caller has seen enough.
#
# console_boot LABEL WORK QEMU ARG...: runs QEMU ARG... for 60 s at most,
#   its stdin the pipe WORK/console.in (the caller types on fd 3), its stdout
#   the file $serial, its stderr WORK/qemu.err; sets qemu_pid. Every 0.1 s,
#   once $serial holds something, calls the caller's console_watch, which
#   sets stopped to why QEMU is to be stopped (or leaves it empty) and must
#   return 0. Then stops QEMU when stopped says so, sets status to QEMU's
#   exit status and reports the boot as "QEMU boot (LABEL): ...", its time,
#   status and stop, followed by QEMU's own messages.
# console_dead_end: sets stopped when $serial holds a line of dead_ends,
#   the lines after which the firmware goes nowhere.
# console_any_key: "Press ESC in 5 seconds to skip startup.nsh or any other
#   key to continue": types a key there, once (key_sent), to save the wait.

# shellcheck disable=SC2154 # $serial is the caller's
console_boot() {
  local label="$1" work="$2"
  shift 2
  mkfifo "$work/console.in"
  exec 3<>"$work/console.in"
  local start end
  start=$(date +%s.%N)
  timeout 60 "$@" <"$work/console.in" >"$serial" 2>"$work/qemu.err" &
  qemu_pid=$!
  status=0 stopped="" key_sent=0
  while kill -0 "$qemu_pid" 2>/dev/null; do
    if [ -s "$serial" ]; then
      console_watch
      if [ -n "$stopped" ]; then
        break
      fi
    fi
    sleep 0.1
  done
  if [ -n "$stopped" ]; then
    kill "$qemu_pid" 2>/dev/null || true
  fi
  wait "$qemu_pid" || status=$?
  exec 3>&-
  end=$(date +%s.%N)
  echo "QEMU boot ($label): $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }') s, exit status $status${stopped:+, stopped: $stopped}"
  # QEMU's own messages, but not the one about being stopped here.
  grep -v 'terminating on signal' "$work/qemu.err" | sed 's/^/qemu: /' || true
}

# shellcheck disable=SC2154 # dead_ends is the caller's
console_dead_end() {
  local line
  for line in "${dead_ends[@]}"; do
    if grep -qF -- "$line" "$serial"; then
      stopped="dead end: \"${line% }\""
      return 0
    fi
  done
}

console_any_key() {
  if [ "$key_sent" -eq 0 ] && grep -q 'any other key to continue' "$serial"; then
    printf ' ' >&3
    key_sent=1
  fi
}
