#include "core/bringup.h"

#include "core/family.h"
#include "core/identify.h"
#include "core/regs.h"
#include "murvane/version.h"
#include "platform/log.h"

namespace murvane {

namespace {

// Written to the identifier register when the offset calibration fails.
constexpr uint8_t offset_fail_marker = 0xAA;
constexpr uint8_t boot_waveform = 1;
constexpr uint8_t boot_loop = 4;
constexpr uint8_t boot_gain = 0x80;

}  // namespace

EFI_STATUS bringup() {
  log_error(version_line);

  EFI_STATUS status = bus_open();
  if (status != EFI_SUCCESS) {
    log_error("Murvane: hw init err %d\n", status);
    return status;
  }
  status = reset_and_select_family();
  if (status != EFI_SUCCESS) {
    log_error("Murvane: func init error\n");
    return status;
  }
  const haptic_ops& ops = *current_family->ops;
  status = ops.qualify_check();
  if (status != EFI_SUCCESS) {
    log_error("Murvane: qualify check failed\n");
    return status;
  }
  status = identify_chip();
  if (status != EFI_SUCCESS) {
    log_error("Murvane: read chipid fail\n");
    return status;
  }
  if (ops.offset_calibration() != 0) {
    reg_write(reg_chip_id, offset_fail_marker);
  }
  ops.chip_init();

  // From here on no result is looked at: a failed access has been logged by
  // the primitive, and the integrator's bus capture shows every step.
  log_error("Murvane: zq ram init\n");
  ops.set_ram_access(1);
  ops.set_ram_base();
  ops.write_ram();
  ops.set_ram_access(0);

  log_error("Murvane: zq ram play\n");
  ops.set_sequence(0, boot_waveform);
  ops.set_sequence(1, 0);
  ops.set_sequence_loop(0, boot_loop);
  ops.set_gain(boot_gain);
  ops.set_play_mode(play_mode_ram);
  ops.set_go(1);
  log_error("Murvane: zq uefi driver end\n");
  return EFI_SUCCESS;
}

}  // namespace murvane
