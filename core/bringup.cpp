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
constexpr uint8_t play_mode_ram = 1;

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

  log_error("Murvane: zq ram init\n");
  // The image goes only into an open SRAM window, and the window is always
  // closed again: data streamed into a closed window is not the image.
  const bool window_opened = ops.set_ram_access(1) == 0;
  if (window_opened) {
    ops.set_ram_base();
    ops.write_ram();
  }
  const bool window_closed = ops.set_ram_access(0) == 0;

  log_error("Murvane: zq ram play\n");
  ops.set_sequence(0, boot_waveform);
  ops.set_sequence(1, 0);
  ops.set_sequence_loop(0, boot_loop);
  ops.set_gain(boot_gain);
  const bool ram_mode = ops.set_play_mode(play_mode_ram) == 0;
  // Playback starts only from a complete set-up: image loaded, host off the
  // SRAM, chip in RAM mode. Otherwise the failed access has been logged and
  // the chip is left quiet rather than playing whatever its SRAM holds.
  if (window_opened && window_closed && ram_mode) {
    ops.set_go(1);
  }
  log_error("Murvane: zq uefi driver end\n");
  return EFI_SUCCESS;
}

}  // namespace murvane
