// The zq330x family (zq3301, zq3302, zq3303, zq3304): 16-bit identifiers,
// RAM playback with boost, continuous mode for f0 detection, no offset
// calibration. The operations that read the configuration record take it as
// an argument, so a test can run them against another record; the slots of
// zq330x_family bind zq330x_dts.
#pragma once

#include <stdint.h>

#include "core/family.h"

namespace murvane {

extern const family_dts zq330x_dts;

namespace zq330x {

// wait_standby: a wait before each of at most this many readings.
inline constexpr uint32_t standby_poll_count = 100;
inline constexpr uint32_t standby_poll_wait_us = 2000;

// Polls the chip state until it reads standby: a standby_poll_wait_us wait
// before each of at most standby_poll_count readings. 0 when standby was
// seen, -1 otherwise (a failed reading ends the poll at once as a time-out).
int32_t wait_standby();
// 0 bypass, 1 boost; anything else is refused with a message.
int32_t set_boost_mode(uint8_t mode);

// Slots whose result a caller acts on: get_f0 is 0 when a measurement ran
// and -1 when f0_pre is 0 (no measurement started, lra_f0 keeps f0_pre).
// The others give the bus status of their last access (or the stall's).
int32_t get_f0(const family_dts& dts);                   // slot 0
int32_t offset_calibration();                            // slot 1
int32_t set_go(uint8_t flag);                            // slot 2
int32_t stop();                                          // slot 3
void write_ram();                                        // slot 4
int32_t set_ram_base();                                  // slot 5
int32_t chip_init(const family_dts& dts);                // slot 6
int32_t set_gain(uint8_t gain);                          // slot 7
int32_t set_play_mode(uint8_t mode);                     // slot 8
int32_t write_trim_lra(int32_t kind);                    // slot 9
int32_t set_sequence(uint8_t index, uint8_t wave);       // slot 10
int32_t set_sequence_loop(uint8_t index, uint8_t loop);  // slot 11
int32_t set_ram_access(uint8_t on);                      // slot 12
EFI_STATUS qualify_check();                              // slot 13

}  // namespace zq330x

}  // namespace murvane
