// Chip reset through the pin-control protocol, identifier read-out and
// family selection.
#pragma once

#include <stdint.h>

#include "murvane/board_settings.h"
#include "platform/efi.h"

namespace murvane {

// Reset pin as the pin-control component knows it, and the GPIO number the
// messages call it by: the board's (build-time settings, murvane/board_settings.h).
inline constexpr uint32_t reset_pin_config = board::reset_pin_word;
inline constexpr int reset_pin_gpio = board::reset_pin_gpio;
inline constexpr uint32_t reset_low_us = 2000;
inline constexpr uint32_t reset_settle_us = 8000;
inline constexpr uint32_t id_retry_wait_us = 2000;

inline constexpr uint8_t reg_chip_id = 0x00;
inline constexpr uint8_t reg_chip_id_hi = 0x57;
inline constexpr uint8_t reg_chip_id_lo = 0x58;

EFI_STATUS check_short_id(uint8_t id);
EFI_STATUS read_chip_id(uint32_t* id);
EFI_STATUS reset_and_select_family();
EFI_STATUS identify_chip();

}  // namespace murvane
