// Behavioural model of a zq320x chip.
#pragma once

#include "sim/models/chip_model.h"

namespace sim {

class ZQ320xModel final : public ChipModel {
 public:
  constexpr ZQ320xModel() : ChipModel("zq320x", layout, 0x00) {}

 private:
  static constexpr sram_layout layout = {0x2D, 0x2E, 0x40, 0x41, 0x42, 0x43, 0x08};
};

}  // namespace sim
