// The family's operations murvane-board calls after the bring-up (--call),
// through the driver's own table as murvane-sim calls them, and what they
// returned: the whole of what the board run adds for them, in one place.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "host/platform.h"
#include "tools/common/calls.h"

namespace murvane_board {

struct CallResult {
  murvane_tools::SlotCall call;
  int64_t value = 0;  // the slot's result (an EFI_STATUS for qualify_check)
  // get_f0 only: the driver's lra_f0 after the call (0.1 Hz), and whether it
  // is a measurement (the driver logged one) or, when not, which of the
  // driver's paths it took.
  uint32_t lra_f0 = 0;
  enum class F0 { none, measured, zero_period, not_finished } f0 = F0::none;
};

// Makes the calls in order on the platform the bring-up ran on (a family
// must be selected), each traced as a call and a return.
std::vector<CallResult> make_calls(host::Platform& platform, const std::vector<murvane_tools::SlotCall>& calls);

// The question's line for the calls ("" when there are none): each by name,
// those that drive the actuator said to.
std::string calls_plan(const std::vector<murvane_tools::SlotCall>& calls);

// The summary's lines for the calls, under the entry's: each call and what
// it returned, then the f0 of each get_f0; or, when they did not run, that.
void write_call_results(std::ostream& out, const std::vector<murvane_tools::SlotCall>& asked,
                        const std::vector<CallResult>& results, bool ran);

// A get_f0 that measured nothing, in one line ("get_f0: not measured: ..."),
// or "" when every get_f0 measured.
std::string failed_measurement(const std::vector<CallResult>& results);

}  // namespace murvane_board
