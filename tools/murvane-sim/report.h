// What murvane-sim prints: the event trace as text, and the report for a
// person (the driver's log, the register trace, the summary).
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "sim/virtual_platform.h"
#include "tools/murvane-sim/run.h"

namespace murvane_sim {

// One aligned line per event, prefixed with the modeled time at which the
// event ended; registers named as family uses them. A poll's run of
// identical reads, each followed by the same wait, is one line saying how
// many.
void write_text_trace(std::ostream& out, const std::vector<sim::Event>& events, const std::string& family);

// The family whose register names describe the run best: the one the
// driver selected, else the simulated chip's.
std::string naming_family(const Simulation& sim);

void write_report(std::ostream& out, const Simulation& sim);

// The report's register trace alone: calls, pin changes, stalls and
// transfers, runs of writes to one register folded into a block.
void write_register_trace(std::ostream& out, const std::vector<sim::Event>& events, const std::string& family);

// A status by its UEFI name, or its hex digits when it has none.
std::string status_text(EFI_STATUS s);

// The identifier the driver's identification last read, put together from
// the trace as the driver does; none when no identifier read delivered.
std::optional<uint32_t> identifier_read(const std::vector<sim::Event>& events);

}  // namespace murvane_sim
