// The zq350x family (zq3501..zq3504): its configuration record and its
// operations. Operations that read the record take it as an argument so
// they can run against an alternate one; the family's slots bind zq350x_dts.
#pragma once

#include <stdint.h>

#include "core/family.h"
#include "platform/efi.h"

namespace murvane {

extern const family_dts zq350x_dts;

namespace zq350x {

// Waits on the chip state register.
inline constexpr uint32_t standby_poll_wait_us = 2000;
inline constexpr uint32_t stop_standby_polls = 40;
inline constexpr uint32_t f0_standby_polls = 1000;
// The qualification repair window: how long the chip takes to reload its trim.
inline constexpr uint32_t repair_settle_us = 2000;

// Slots. Every access of a sequence is issued whatever the one before it
// did; a slot nobody branches on gives the bus status of its last access.
int32_t get_f0(const family_dts& dts);
int32_t offset_calibration();
int32_t set_go(uint8_t flag);
int32_t stop();
void write_ram();
int32_t set_ram_base();
int32_t chip_init(const family_dts& dts);
int32_t set_gain(uint8_t gain);
int32_t set_play_mode(uint8_t mode);  // -1 for an unknown mode
int32_t write_trim_lra(int32_t kind);
int32_t set_sequence(uint8_t index, uint8_t wave);
int32_t set_sequence_loop(uint8_t index, uint8_t loop);
int32_t set_ram_access(uint8_t on);
EFI_STATUS qualify_check();

// Internal steps, exposed for tests.
// Polls the chip state up to polls times, standby_poll_wait_us apart: 0 when
// standby was seen, -1 otherwise (also at once on a failed reading).
int32_t wait_standby(uint32_t polls);
// 1 boost, 0 bypass; anything else is refused with a message.
int32_t set_boost_mode(uint8_t boost);

}  // namespace zq350x

}  // namespace murvane
