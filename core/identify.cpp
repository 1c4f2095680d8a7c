#include "core/identify.h"

#include "core/driver_state.h"
#include "core/family.h"
#include "core/regs.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "platform/protocols.h"

namespace murvane {

namespace {

constexpr int id_passes = 2;

void pulse_reset_pin() {
  located_korm = nullptr;
  const EFI_STATUS status = locate_protocol(EFI_KORM_PROTOCOL_GUID, &located_korm);
  auto* korm = static_cast<EFI_KORM_PROTOCOL*>(located_korm);
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

// The identifier, or -1 when a read failed.
int64_t read_id() {
  const reg_byte short_id = reg_read_byte(reg_chip_id);
  if (!short_id.ok()) {
    return -1;
  }
  if (check_short_id(short_id.value()) == EFI_SUCCESS) {
    return short_id.value();
  }
  const reg_byte hi = reg_read_byte(reg_chip_id_hi, short_id.value());
  if (!hi.ok()) {
    return -1;
  }
  const reg_byte lo = reg_read_byte(reg_chip_id_lo);
  if (!lo.ok()) {
    return -1;
  }
  return static_cast<int64_t>(hi.value()) << 8 | lo.value();
}

// Up to two passes of (reset pulse,) identifier read-out and look-up; after
// a pass that finds no chip, unknown_message (given the identifier) and a
// wait. The identifier is kept across passes: a failed read re-checks the
// last value.
const chip_id_entry* find_known_chip(bool pulse_reset, const char* unknown_message) {
  uint32_t id = 0;
  for (int pass = 0; pass < id_passes; ++pass) {
    if (pulse_reset) {
      pulse_reset_pin();
    }
    const int64_t value = read_id();
    if (value < 0) {
      log_error("Murvane: read chip id fail\n");
    } else {
      id = static_cast<uint32_t>(value);
    }
    const chip_id_entry* chip = find_chip_id(id);
    if (chip != nullptr) {
      return chip;
    }
    log_error(unknown_message, id);
    stall(id_retry_wait_us);
  }
  return nullptr;
}

}  // namespace

EFI_STATUS check_short_id(uint8_t id) {
  // 0x00..0x03 and 0x80..0x83 mark a 16-bit identifier in 0x57/0x58.
  return (id & 0x7C) == 0 ? EFI_DEVICE_ERROR : EFI_SUCCESS;
}

EFI_STATUS read_chip_id(uint32_t* id) {
  const int64_t value = read_id();
  if (value < 0) {
    return EFI_DEVICE_ERROR;
  }
  *id = static_cast<uint32_t>(value);
  return EFI_SUCCESS;
}

EFI_STATUS reset_and_select_family() {
  const chip_id_entry* chip = find_known_chip(true, "Murvane: unexpected chipid!\n");
  if (chip == nullptr) {
    return EFI_DEVICE_ERROR;
  }
  current_family = chip_families[chip->family];
  return EFI_SUCCESS;
}

EFI_STATUS identify_chip() {
  const chip_id_entry* chip = find_known_chip(false, "Murvane: unsupport device revision (0x%02X)\n");
  if (chip == nullptr) {
    return EFI_UNSUPPORTED;
  }
  log_detected(*chip);
  return EFI_SUCCESS;
}

}  // namespace murvane
