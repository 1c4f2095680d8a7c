// Behavioural model of a zq340x chip.
#pragma once

#include "sim/models/chip_model.h"

namespace sim {

class ZQ340xModel final : public ChipModel {
 public:
  constexpr ZQ340xModel() : ChipModel("zq340x", layout, 0x00) {}

 private:
  static constexpr sram_layout layout = {0x2D, 0x2E, 0x40, 0x41, 0x42, 0x45, 0x04};
};

}  // namespace sim
