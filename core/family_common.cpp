#include "core/family_common.h"

#include "core/family.h"
#include "core/regs.h"
#include "platform/log.h"
#include "platform/platform.h"

namespace murvane {

uint8_t select_trim_value(int32_t kind) {
  switch (kind) {
    case 0:
      log_error("Murvane: write zero to trim_lra\n");
      return 0;
    case 1:
      log_error("Murvane: write f0_cali_data to trim_lra = 0x%02X\n", haptic_dev.f0_cali_data);
      return haptic_dev.f0_cali_data;
    case 2:
      log_error("Murvane: write osc_cali_data to trim_lra = 0x%02X\n", haptic_dev.osc_cali_data);
      return haptic_dev.osc_cali_data;
    default:
      log_error("Murvane: error param, write f0_cali_data to trim_lra\n");
      return haptic_dev.f0_cali_data;
  }
}

bool poll_reg(uint8_t reg, uint8_t mask, uint8_t want, uint32_t count, uint32_t wait_us) {
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t value = 0;
    if (reg_read(reg, &value) != 0) {
      return false;
    }
    if ((value & mask) == want) {
      return true;
    }
    if (wait_us != 0) {
      stall(wait_us);
    }
  }
  return false;
}

}  // namespace murvane
