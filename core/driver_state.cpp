// Core's variables, each with its load value, and the one reset to those
// values. A variable of the driver that lives from one call to the next is
// defined here and reset below, and nowhere else (the layout_driver_state
// test holds the driver library to that).
#include "core/driver_state.h"

#include "core/family.h"
#include "core/regs.h"
#include "platform/platform.h"
#include "platform/stack_guard.h"

namespace murvane {

constinit haptic_device haptic_dev = {0, 0, haptic_dev_lra_f0_at_load};
constinit const chip_family* current_family = nullptr;
constinit void* located_korm = nullptr;
constinit uint32_t bus_failed_transfers = 0;
constinit EFI_ZELT_I2C_PROTOCOL* i2c_iface = nullptr;
constinit uint64_t bus_handle = 0;
constinit void* located_i2c = nullptr;
constinit uint32_t slave_config[slave_config_words] = {};

void reset_driver_state() {
  haptic_dev = {0, 0, haptic_dev_lra_f0_at_load};
  current_family = nullptr;
  located_korm = nullptr;
  bus_failed_transfers = 0;
  i2c_iface = nullptr;
  bus_handle = 0;
  located_i2c = nullptr;
  for (uint32_t& w : slave_config) {
    w = 0;
  }
  support_teardown();
  stack_guard_reset();
}

}  // namespace murvane
