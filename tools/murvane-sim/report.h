// What murvane-sim prints for a person: the driver's log, the register
// trace (both from tools/common) and the summary.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "sim/virtual_platform.h"
#include "tools/common/event_text.h"
#include "tools/murvane-sim/run.h"

namespace murvane_sim {

// The family whose register names describe the run best: the one the
// driver selected, else the simulated chip's.
std::string naming_family(const Simulation& sim);

void write_report(std::ostream& out, const Simulation& sim);

}  // namespace murvane_sim
