// The zq320x family (zq3201..zq3204). The bodies take the configuration
// record so tests can run them against an alternate one; the family's
// operations table binds them to zq320x_dts.
#pragma once

#include <stdint.h>

#include "core/family.h"
#include "core/family_common.h"
#include "platform/efi.h"

namespace murvane {

extern const family_dts zq320x_dts;

namespace zq320x {

// Offset divisor per gain index (this family's own values).
extern const int32_t d2s_divisor_table[d2s_gain_codes];

// The timing of the standby polls.
inline constexpr uint32_t stop_poll_count = 40;
inline constexpr uint32_t stop_poll_wait_us = 2000;
inline constexpr uint32_t f0_poll_count = 200;
inline constexpr uint32_t f0_poll_wait_us = 10000;

int32_t get_f0(const family_dts& dts);
int32_t offset_calibration(const family_dts& dts);
int32_t set_go(uint8_t flag);
int32_t stop();
void write_ram();
int32_t set_ram_base();
int32_t chip_init(const family_dts& dts);
int32_t set_gain(uint8_t gain);
int32_t set_play_mode(uint8_t mode);
int32_t write_trim_lra(int32_t kind);
int32_t set_sequence(uint8_t index, uint8_t wave);
int32_t set_sequence_loop(uint8_t index, uint8_t loop);
int32_t set_ram_access(uint8_t on);
EFI_STATUS qualify_check();
// 0 bypass, 1 boost; anything else is refused with a message.
int32_t set_boost_mode(uint8_t mode);

}  // namespace zq320x
}  // namespace murvane
