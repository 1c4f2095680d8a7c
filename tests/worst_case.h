// The longest modeled time a call can take on each family, whatever the
// chip does: every poll running to its count, every retry taken. Derived
// from the driver's constants (docs/reliability.md shows the arithmetic).
#pragma once

#include <cstdint>
#include <string>

#include "sim/models/model_table.h"

namespace murvane_test {

// Microseconds; the bus time of the transfers is included.
uint64_t worst_case_us(sim::family_id family, const std::string& call);

}  // namespace murvane_test
