#include "core/identify.h"

#include "core/family.h"
#include "core/regs.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "platform/protocols.h"

namespace murvane {

namespace {

constexpr int id_passes = 2;

void pulse_reset_pin() {
  void* located = nullptr;
  const EFI_STATUS status = locate_protocol(EFI_KORM_PROTOCOL_GUID, &located);
  auto* korm = static_cast<EFI_KORM_PROTOCOL*>(located);
  if (status != EFI_SUCCESS || korm == nullptr) {
    log_error("failed to get korm protocol\n");
    return;
  }
  if (korm->Configure(reset_pin_config, 1) != EFI_SUCCESS) {
    log_error("failed to set gpio %d\n", reset_pin_gpio);
  }
  korm->SetOutput(reset_pin_config, 0);
  stall(reset_low_us);
  korm->SetOutput(reset_pin_config, 1);
  stall(reset_settle_us);
}

}  // namespace

EFI_STATUS check_short_id(uint8_t id) {
  // 0x00..0x03 and 0x80..0x83 mark a 16-bit identifier in 0x57/0x58.
  return (id & 0x7C) == 0 ? EFI_DEVICE_ERROR : EFI_SUCCESS;
}

EFI_STATUS read_chip_id(uint32_t* id) {
  uint8_t buf[2] = {0, 0};
  if (reg_read(reg_chip_id, &buf[0]) != 0) {
    return EFI_DEVICE_ERROR;
  }
  if (check_short_id(buf[0]) == EFI_SUCCESS) {
    *id = buf[0];
    return EFI_SUCCESS;
  }
  if (reg_read(reg_chip_id_hi, &buf[0]) != 0) {
    return EFI_DEVICE_ERROR;
  }
  if (reg_read(reg_chip_id_lo, &buf[1]) != 0) {
    return EFI_DEVICE_ERROR;
  }
  *id = (static_cast<uint32_t>(buf[0]) << 8) | buf[1];
  return EFI_SUCCESS;
}

EFI_STATUS reset_and_select_family() {
  uint32_t id = 0;  // kept across passes: a failed read re-checks the last value
  for (int pass = 0; pass < id_passes; ++pass) {
    pulse_reset_pin();
    if (read_chip_id(&id) != EFI_SUCCESS) {
      log_error("Murvane: read chip id fail\n");
    }
    const chip_id_entry* chip = find_chip_id(id);
    if (chip != nullptr) {
      current_family = chip_families[chip->family];
      return EFI_SUCCESS;
    }
    log_error("Murvane: unexpected chipid!\n");
    stall(id_retry_wait_us);
  }
  return EFI_DEVICE_ERROR;
}

EFI_STATUS identify_chip() {
  uint32_t id = 0;
  for (int pass = 0; pass < id_passes; ++pass) {
    if (read_chip_id(&id) != EFI_SUCCESS) {
      log_error("Murvane: read chip id fail\n");
    }
    const chip_id_entry* chip = find_chip_id(id);
    if (chip != nullptr) {
      log_detected(*chip);
      return EFI_SUCCESS;
    }
    log_error("Murvane: unsupport device revision (0x%02X)\n", id);
    stall(id_retry_wait_us);
  }
  return EFI_UNSUPPORTED;
}

}  // namespace murvane
