// --vcd: the run's bus drawn as murvane-sim's Value Change Dump, with the
// chip and the bus settings in its comment.
#include <cstdio>
#include <stdexcept>
#include <string>

#include "tools/common/bus.h"
#include "tools/common/vcd.h"
#include "tools/murvane-sim/bus_files.h"

namespace murvane_sim {

using murvane_tools::BusConfig;
using murvane_tools::Waveform;

void write_vcd_file(const Simulation& sim, const std::string& path) {
  const std::vector<sim::Event>& events = sim.platform().events();
  Waveform w = murvane_tools::draw_bus(events);
  w.comment = "murvane-sim run of " + sim.scenario().chip;
  for (const sim::Event& e : events) {
    if (e["ev"] == "i2c_read" || e["ev"] == "i2c_write") {
      const BusConfig c = murvane_tools::bus_config(e);
      char address[8];
      static_cast<void>(std::snprintf(address, sizeof address, "0x%02X", c.address));
      w.comment += std::string("; I2C address ") + address + " at " + std::to_string(c.khz) +
                   " kHz, from the driver's slave configuration";
      break;
    }
  }
  murvane_tools::write_vcd_file(path, w);
}

}  // namespace murvane_sim
