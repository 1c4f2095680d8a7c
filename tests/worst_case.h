// The longest modeled time a call can take on each family, whatever the
// chip does: every poll running to its count, every retry taken, the longest
// branch everywhere. Derived from the driver's constants (docs/reliability.md
// shows the arithmetic).
#pragma once

#include <cstdint>
#include <string>

#include "sim/models/model_table.h"
#include "sim/models/worst_case/paths.h"

namespace murvane_test {

// A path's cost on the virtual clock (sim/models/worst_case/paths.h).
using sim::worst_case_cost;

// call: "entry", "start", or a slot name ("get_f0", "set_play_mode", ...);
// a slot's bound covers every argument value. An unknown call aborts.
worst_case_cost worst_case(sim::family_id family, const std::string& call);

// Microseconds; the bus time of the transfers is included.
uint64_t worst_case_us(sim::family_id family, const std::string& call);

// The largest bound of a call over every family.
uint64_t worst_case_any_family_us(const std::string& call);

// The bound tables of docs/reliability.md (one column a family in the last),
// as scripts/update-docs-figures.sh writes them and test_worst_case checks.
std::string worst_case_tables();
// The terms of the bring-up's whole sequence, a column a family
// (docs/reliability.md, written by scripts/update-docs-figures.sh).
std::string bringup_terms_table();
// "44850 µs (44.9 ms)".
std::string worst_case_ms(uint64_t us);

// Every family, from core/family_list.h.
using sim::all_families;

}  // namespace murvane_test
