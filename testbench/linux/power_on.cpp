// murvane-power-on MODEL [--f0 TENTHS]: the chip model's power-on register
// values, as the real-kernel rig preloads them into the register file that
// stands in for the chip (a register file has no power-on values of its
// own). One "0xRR 0xVV" line per register, all 256, read from the model in
// sim/models as it comes out of its power-on reset.
//
// With --f0, the f0 detector's two period registers hold instead what the
// model reports once it has measured an actuator resonating at TENTHS
// (0.1 Hz), after a bring-up and a get_f0 on the virtual platform: a
// register file never measures, so the rig puts there the period a chip
// would have left, and the driver's get_f0 reads it over the real bus.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/driver_state.h"
#include "host/harness.h"
#include "sim/model_factory.h"
#include "sim/models/family_facts.h"
#include "sim/virtual_platform.h"

int main(int argc, char** argv) {
  const bool with_f0 = argc == 4 && std::string(argv[2]) == "--f0";
  if (argc != 2 && !with_f0) {
    static_cast<void>(std::fputs("usage: murvane-power-on MODEL [--f0 TENTHS]\n", stderr));
    return 2;
  }
  const auto handle = sim::make_model(argv[1]);
  if (handle == nullptr) {
    static_cast<void>(std::fprintf(stderr, "murvane-power-on: no chip model is named %s\n", argv[1]));
    return 2;
  }
  uint8_t values[sim::chip_model::register_count];
  for (size_t r = 0; r < sim::chip_model::register_count; ++r) {
    values[r] = handle->model().reg(static_cast<uint8_t>(r));
  }
  if (with_f0) {
    char* end = nullptr;
    const unsigned long tenths = std::strtoul(argv[3], &end, 10);
    if (*argv[3] == '\0' || *end != '\0' || tenths == 0 || tenths > 100000) {
      static_cast<void>(std::fprintf(stderr, "murvane-power-on: --f0 %s is not a frequency in 0.1 Hz\n", argv[3]));
      return 2;
    }
    const auto measured = sim::make_model(argv[1]);
    measured->model().lra_f0 = static_cast<uint32_t>(tenths);
    murvane::reset_driver_state();
    sim::VirtualPlatform platform(&measured->model());
    host::call_entry(platform);
    host::call_slot(platform, "get_f0", {});
    // Every family keeps the period's high byte just below its low byte.
    const uint8_t lo = sim::facts_of(handle->info().family).period_lo;
    values[lo - 1] = measured->model().reg(static_cast<uint8_t>(lo - 1));
    values[lo] = measured->model().reg(lo);
  }
  for (size_t r = 0; r < sim::chip_model::register_count; ++r) {
    std::printf("0x%02zX 0x%02X\n", r, values[r]);
  }
  return 0;
}
