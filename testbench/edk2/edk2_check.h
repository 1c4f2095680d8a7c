// The checks of murvane-edk2-check (edk2_check_main.cpp) that the unit tests
// drive too: the dry run's trace as the controller reports traffic, and
// QEMU's PL061 trace against the dry run's reset pulses.
#pragma once

#include <string>
#include <vector>

#include "testbench/qemu/fw_check.h"

namespace edk2check {

// One finding more, and the comparison failed.
void fail(fwcheck::comparison& c, const std::string& what);

// want and got line by line: one report line when equal; otherwise a
// failure at the first difference, with a few lines around it.
void compare_sequences(fwcheck::comparison& c, const std::string& what, const std::vector<std::string>& want,
                       const std::vector<std::string>& got);

// A jsonl trace (murvane-board --dry-run, murvane-sim --trace) as
// EdkController.efi prints what it saw: "reset line: held|released" at each
// change of the reset pin, "i2c: 5A r 0C 01", "i2c: 5A w 0C 01",
// "i2c: 5A w 0C 01 nack", "i2c: 5A r 0C nack" for each transfer.
std::vector<std::string> dry_run_events(const std::string& jsonl);

// The reset line's levels in the dry run, each change once (0 held, 1
// released).
std::vector<int> dry_run_reset_levels(const std::string& jsonl);

// QEMU's pl061 trace: the chip's reset line behind PL061 line `line`
// (released while the PL061 does not drive it; the PL061's level, inverted
// when active_low, while it does) must go through exactly the levels
// `reset_levels` give, from released; no other line may be made an output
// or written.
fwcheck::comparison check_pl061(const std::string& trace, unsigned line, bool active_low,
                                const std::vector<int>& reset_levels);

// A part of the driver's output in a boot: its entry, or a consumer's Start.
struct part {
  std::string name;
  std::string log;     // the lines printed meanwhile
  std::string status;  // the call's status, as the log names it
};

// The Starts the kit's C consumer (Consumer.efi) made in a stripped serial
// log, in order: what was printed between its "[consumer] start: begin" and
// "[consumer] start: status S" lines, and S.
std::vector<part> consumer_starts(const std::string& log);

// The Shell's answer ("Disconnect - ...", "Connect - ...", "Unload - ...")
// to the step typed after the line "[edk2] step: NAME"; empty when none.
std::string step_answer(const std::string& log, const std::string& name);

// The host run of a driver whose bus Open the bridge refuses with `status`
// (the virtual platform's Open fails, its status put back as the bridge's).
fwcheck::run_record run_open_refused(const fwsim::scenario& sc, uint32_t status);

}  // namespace edk2check
