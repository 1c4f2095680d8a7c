// Register map of the zq320x family (zq3201..zq3204): register numbers,
// fields and the values the driver writes into them.
#pragma once

#include <stdint.h>

#include "core/regs.h"

namespace murvane {

// Boost converter control.
inline constexpr uint8_t ZQ320X_REG_BOOST_CTRL = 0x06;
inline constexpr uint8_t ZQ320X_BOOST_EN = bit(6);  // 1 boost, 0 bypass

// Playback gain.
inline constexpr uint8_t ZQ320X_REG_GAIN = 0x07;

// Play configuration.
inline constexpr uint8_t ZQ320X_REG_PLAY_CFG = 0x08;
inline constexpr uint8_t ZQ320X_PLAY_MODE_MASK = bits(1, 0);
inline constexpr uint8_t ZQ320X_PLAY_MODE_RAM = field_prep(ZQ320X_PLAY_MODE_MASK, 0b00);
inline constexpr uint8_t ZQ320X_PLAY_MODE_CONT = field_prep(ZQ320X_PLAY_MODE_MASK, 0b10);
inline constexpr uint8_t ZQ320X_PLAY_MODE_STOP =
    field_prep(ZQ320X_PLAY_MODE_MASK, 0b11);  // GO in this mode takes the chip to standby
inline constexpr uint8_t ZQ320X_PLAY_CFG_F0_DETECT = bit(2);

// Play command: whole-register writes.
inline constexpr uint8_t ZQ320X_REG_PLAY_CMD = 0x09;
inline constexpr uint8_t ZQ320X_PLAY_CMD_GO = 0x01;
inline constexpr uint8_t ZQ320X_PLAY_CMD_HALT = 0x02;

// Sequencer: waveform number of slot i at 0x0A + i; loop counts two slots a
// register from 0x12, even slot in the high nibble, odd slot in the low one.
inline constexpr uint8_t ZQ320X_REG_SEQ_WAVE_BASE = 0x0A;
inline constexpr uint8_t ZQ320X_REG_SEQ_LOOP_BASE = 0x12;

// f0 tracking control.
inline constexpr uint8_t ZQ320X_REG_F0_CTRL = 0x18;
inline constexpr uint8_t ZQ320X_F0_CTRL_TRACK_EN = bit(3);

// Continuous-mode parameters used by the f0 measurement and chip_init.
inline constexpr uint8_t ZQ320X_REG_CONT_DRV_WIDTH = 0x1A;  // drive window derived from f0_pre
inline constexpr uint8_t ZQ320X_REG_CONT_1C = 0x1C;
inline constexpr uint8_t ZQ320X_CONT_1C_MASK = bits(3, 0);
inline constexpr uint8_t ZQ320X_REG_CONT_1D = 0x1D;
inline constexpr uint8_t ZQ320X_CONT_1D_EN = bit(7);
inline constexpr uint8_t ZQ320X_REG_CONT_1E = 0x1E;
inline constexpr uint8_t ZQ320X_REG_CONT_1F = 0x1F;
inline constexpr uint8_t ZQ320X_REG_CONT_20 = 0x20;
inline constexpr uint8_t ZQ320X_REG_CONT_21 = 0x21;
inline constexpr uint8_t ZQ320X_REG_CONT_TRACK_MARGIN = 0x22;

// Measured f0 period.
inline constexpr uint8_t ZQ320X_REG_F0_PERIOD_HI = 0x25;
inline constexpr uint8_t ZQ320X_REG_F0_PERIOD_LO = 0x26;

// SRAM base address.
inline constexpr uint8_t ZQ320X_REG_RAM_BASE_HI = 0x2D;
inline constexpr uint8_t ZQ320X_REG_RAM_BASE_LO = 0x2E;

// Written on entering continuous mode.
inline constexpr uint8_t ZQ320X_REG_CONT_3C = 0x3C;
inline constexpr uint8_t ZQ320X_CONT_3C_VALUE = 0x0C;

// Chip state.
inline constexpr uint8_t ZQ320X_REG_GLB_STATE = 0x3F;
inline constexpr uint8_t ZQ320X_GLB_STATE_MASK = bits(3, 0);
inline constexpr uint8_t ZQ320X_GLB_STATE_STANDBY = field_prep(ZQ320X_GLB_STATE_MASK, 0);
inline constexpr uint8_t ZQ320X_GLB_STATE_STANDBY_ALT =
    field_prep(ZQ320X_GLB_STATE_MASK, 0xA);  // also accepted as standby by stop

// SRAM address pointer and data (the pointer advances after each data byte).
inline constexpr uint8_t ZQ320X_REG_RAM_ADDR_HI = 0x40;
inline constexpr uint8_t ZQ320X_REG_RAM_ADDR_LO = 0x41;
inline constexpr uint8_t ZQ320X_REG_RAM_DATA = 0x42;

// System control: host SRAM access, continuous-mode select.
inline constexpr uint8_t ZQ320X_REG_SYS_CTRL = 0x43;
inline constexpr uint8_t ZQ320X_SYS_CTRL_RAM_ACCESS = bit(3);
inline constexpr uint8_t ZQ320X_SYS_CTRL_CONT_MODE = bit(7);

// Forced standby: a set-then-clear pulse of the bit.
inline constexpr uint8_t ZQ320X_REG_STANDBY_CTRL = 0x44;
inline constexpr uint8_t ZQ320X_STANDBY_FORCE = bit(6);

// Offset calibration: gain index, start, result.
inline constexpr uint8_t ZQ320X_REG_D2S_GAIN = 0x49;
inline constexpr uint8_t ZQ320X_D2S_GAIN_MASK = bits(2, 0);
inline constexpr uint8_t ZQ320X_REG_OFFSET_CAL = 0x52;
inline constexpr uint8_t ZQ320X_OFFSET_CAL_START = bit(0);
inline constexpr uint8_t ZQ320X_REG_OFFSET_HI = 0x54;
inline constexpr uint8_t ZQ320X_OFFSET_HI_MASK = bits(7, 0);  // the result's high bits
inline constexpr uint8_t ZQ320X_REG_OFFSET_LO = 0x57;
inline constexpr uint8_t ZQ320X_OFFSET_LO_MASK = bits(3, 2);  // its two low bits

// LRA trim.
inline constexpr uint8_t ZQ320X_REG_TRIM_LRA = 0x5A;
inline constexpr uint8_t ZQ320X_TRIM_LRA_MASK = bits(5, 0);

// Qualification: set on a qualified part.
inline constexpr uint8_t ZQ320X_REG_QUALIFY = 0x64;
inline constexpr uint8_t ZQ320X_QUALIFY_OK = bit(7);

// chip_init defaults: five consecutive registers from 0x6D; bit 7 of the
// last one is cleared afterwards.
inline constexpr uint8_t ZQ320X_REG_INIT_BASE = 0x6D;
inline constexpr uint8_t ZQ320X_INIT_COUNT = 5;
inline constexpr uint8_t ZQ320X_REG_INIT_71 = 0x71;
inline constexpr uint8_t ZQ320X_INIT_71_BIT7 = bit(7);

}  // namespace murvane
