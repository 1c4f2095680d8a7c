// murvane-power-on MODEL: the chip model's power-on register values, as the
// real-kernel rig preloads them into the register file that stands in for
// the chip (a register file has no power-on values of its own). One
// "0xRR 0xVV" line per register, all 256, read from the model in sim/models
// as it comes out of its power-on reset.
#include <cstddef>
#include <cstdio>
#include <string>

#include "sim/model_factory.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    static_cast<void>(std::fputs("usage: murvane-power-on MODEL\n", stderr));
    return 2;
  }
  const auto handle = sim::make_model(argv[1]);
  if (handle == nullptr) {
    static_cast<void>(std::fprintf(stderr, "murvane-power-on: no chip model is named %s\n", argv[1]));
    return 2;
  }
  for (size_t r = 0; r < sim::chip_model::register_count; ++r) {
    std::printf("0x%02zX 0x%02X\n", r, handle->model().reg(static_cast<uint8_t>(r)));
  }
  return 0;
}
