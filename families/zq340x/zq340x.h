// The zq340x family (zq3401, zq3402): configuration record and operations.
// The slots of zq340x_family bind zq340x_dts; the bodies that read a record
// take it as an argument so they can also run against another one.
#pragma once

#include <stdint.h>

#include "core/family.h"
#include "platform/efi.h"

namespace murvane {

extern const family_dts zq340x_dts;

namespace zq340x {

// Slot bodies.
int32_t get_f0(const family_dts& dts);                   // 0
int32_t offset_calibration(const family_dts& dts);       // 1
int32_t set_go(uint8_t flag);                            // 2
int32_t stop();                                          // 3
void write_ram();                                        // 4
int32_t set_ram_base();                                  // 5
int32_t chip_init(const family_dts& dts);                // 6
int32_t set_gain(uint8_t gain);                          // 7
int32_t set_play_mode(uint8_t mode);                     // 8
int32_t write_trim_lra(int32_t kind);                    // 9
int32_t set_sequence(uint8_t index, uint8_t wave);       // 10
int32_t set_sequence_loop(uint8_t index, uint8_t loop);  // 11
int32_t set_ram_access(uint8_t on);                      // 12
EFI_STATUS qualify_check();                              // 13

// wait_standby: a wait before each of at most this many readings.
inline constexpr uint32_t standby_poll_count = 100;
inline constexpr uint32_t standby_poll_wait_us = 2000;

// Waits for the chip to report standby by itself: 0 when it did, -1 when
// it did not within the poll bound or its state could not be read.
int32_t wait_standby();
// 0 bypass, 1 boost; anything else is refused with a message.
int32_t set_boost_mode(uint8_t mode);

}  // namespace zq340x

}  // namespace murvane
