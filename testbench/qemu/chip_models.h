// The chip models of the test platforms (SimPlatform.efi, FakeBoard.efi,
// EdkController.efi): one of each family of core/family_list.h, made at
// load (no heap in firmware), and the one a \sim.cfg scenario asks for.
#pragma once

#include "sim/models/chip_model.h"
#include "testbench/qemu/sim_scenario.h"

namespace fwsim {

// The model of the scenario's family, configured as its model and with the
// scenario applied; nullptr for a scenario without a chip. A family has one
// model: a platform that plays several scenarios in one boot sets it up
// again for each.
sim::chip_model* chip_for(const scenario& sc);

}  // namespace fwsim
