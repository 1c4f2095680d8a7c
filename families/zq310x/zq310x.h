// zq310x family (zq3101, zq3102): the configuration record and the bodies
// of the 14 operations. The bodies that read the record take it; the
// family's slot table binds zq310x_dts, tests may pass another record.
#pragma once

#include <stdint.h>

#include "core/family.h"
#include "platform/efi.h"

namespace murvane {

extern const family_dts zq310x_dts;

namespace zq310x {

// Polls and waits.
inline constexpr uint32_t stop_poll_count = 100;
inline constexpr uint32_t stop_poll_wait_us = 2000;
inline constexpr uint32_t offset_poll_count = 2000;
inline constexpr uint32_t f0_poll_count = 50;
inline constexpr uint32_t f0_poll_wait_us = 10000;
// Numerators of the f0 formulas (frequencies in 0.1 Hz): detector period =
// f0_period_scale / (f0 x f0_coeff); the detection wait scales with
// f0_wait_scale / f0.
inline constexpr uint32_t f0_period_scale = 1000000000;
inline constexpr uint32_t f0_wait_scale = 10000;

// Boost modes set_boost_mode takes.
inline constexpr uint8_t boost_bypass = 0;
inline constexpr uint8_t boost_on = 1;

int32_t get_f0(const family_dts& dts);
int32_t offset_calibration();
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

// Internal steps of set_play_mode.
int32_t enter_active_mode();
int32_t set_boost_mode(uint8_t mode);

}  // namespace zq310x

}  // namespace murvane
