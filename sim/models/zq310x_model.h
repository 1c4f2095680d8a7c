// Behavioural model of a zq310x chip.
#pragma once

#include "sim/models/chip_model.h"

namespace sim {

class ZQ310xModel final : public ChipModel {
 public:
  constexpr ZQ310xModel() : ChipModel("zq310x", layout, 0x00) {}

 private:
  static constexpr sram_layout layout = {0x21, 0x22, 0x40, 0x41, 0x42, 0x04, 0x20};
};

}  // namespace sim
