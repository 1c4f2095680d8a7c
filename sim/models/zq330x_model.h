// Behavioural model of a zq330x chip.
#pragma once

#include "sim/models/chip_model.h"

namespace sim {

class ZQ330xModel final : public ChipModel {
 public:
  constexpr ZQ330xModel() : ChipModel("zq330x", layout, 0x00) {}

 private:
  static constexpr sram_layout layout = {0x2D, 0x2E, 0x40, 0x41, 0x42, 0x43, 0x08};
};

}  // namespace sim
