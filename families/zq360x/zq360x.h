// zq360x family (zq3601, zq3602, zq3603): the operations behind the
// family's table. Bodies that read the configuration record take it as an
// argument; the table binds zq360x_dts.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/family.h"
#include "platform/efi.h"

namespace murvane {

extern const family_dts zq360x_dts;

namespace zq360x {

// Standby polls of stop, and their spacing.
inline constexpr uint32_t stop_standby_polls = 40;
inline constexpr uint32_t standby_poll_wait_us = 2000;
// Polls after the f0 measurement drive.
inline constexpr uint32_t f0_standby_polls = 1000;

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

// 0 once 0x3F reads standby within polls readings (2000 us apart), -1
// otherwise; a failed reading ends the wait at once with -1.
int32_t wait_standby(uint32_t polls);
// 1 boost, 0 bypass: the bus status of the update; anything else is
// refused with a message and -1.
int32_t set_boost_mode(uint8_t boost);

}  // namespace zq360x
}  // namespace murvane
