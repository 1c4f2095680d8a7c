// murvane-fw-check's verdict on one boot: what the command line asked for,
// the checks that apply to it, how QEMU ended, and the report printed.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "testbench/qemu/bridge_check.h"
#include "testbench/qemu/fw_check.h"
#include "testbench/qemu/sim_scenario.h"

namespace fwcheck {

// What the command line asks for, and the scenario and bridge boot it names.
struct options {
  std::string scenario_text;
  std::string serial_path;
  bool expected = false;
  bool expect_halt = false;
  bool consumer = false;
  bool expect_refused = false;
  bool shell = false;
  unsigned loads = 1;
  guard_source guard = guard_source::any;
  bool have_scenario = false;
  int qemu_status = 0;
  std::string bridge_mode;
  std::string board_text;
  fwsim::scenario sc = {};
  bridge_boot bridge;
};

// QEMU's exit status as run under `timeout` (124: timed out; 125: the
// harness stopped it at the firmware's dead end; above 128: ended by a
// signal): the finding that fails the boot, nothing for 0.
std::optional<std::string> qemu_exit_finding(int status);

// The firmware run against the host: the bridge's lines (taken out of the
// record first), the boot (or the halt, or the refusal), the consumer's
// part, then how QEMU ended and whether there was a log at all, those first
// in the report.
comparison judge(const options& o, const run_record& host, firmware_record& fw, const std::string& log, bool opened);

// Prints the findings; on a failure, the serial log after them. Returns the
// exit status: 0 when the boot passed, 1 when it did not.
int report(std::ostream& out, const options& o, const run_record& host, const firmware_record& fw, const comparison& c,
           const std::string& log);

}  // namespace fwcheck
