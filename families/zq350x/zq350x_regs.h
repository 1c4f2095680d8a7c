// Register map of the zq350x family (zq3501..zq3504): register numbers and
// the fields the driver touches. A masked update names the field it
// changes, write_field({REG, FIELD}, value), and keeps the register's
// other bits.
#pragma once

#include <stdint.h>

#include "core/regs.h"

namespace murvane {

// Boost converter.
inline constexpr uint8_t ZQ350X_REG_BOOST_CFG = 0x06;
inline constexpr uint8_t ZQ350X_BOOST_EN = bit(7);  // 1 boost, 0 bypass

// Playback gain.
inline constexpr uint8_t ZQ350X_REG_GAIN = 0x07;

// Play configuration: the play mode and the f0 detection enable.
inline constexpr uint8_t ZQ350X_REG_PLAY_CFG = 0x08;
inline constexpr uint8_t ZQ350X_PLAY_MODE_MASK = bits(1, 0);
inline constexpr uint8_t ZQ350X_PLAY_MODE_RAM = field_prep(ZQ350X_PLAY_MODE_MASK, 0b00);
inline constexpr uint8_t ZQ350X_PLAY_MODE_CONT = field_prep(ZQ350X_PLAY_MODE_MASK, 0b10);
inline constexpr uint8_t ZQ350X_PLAY_MODE_STOP = field_prep(ZQ350X_PLAY_MODE_MASK, 0b11);
inline constexpr uint8_t ZQ350X_PLAY_CFG_F0_DET = bit(2);

// Play control: GO starts the selected mode, STOP ends playback.
inline constexpr uint8_t ZQ350X_REG_PLAY_CTRL = 0x09;
inline constexpr uint8_t ZQ350X_PLAY_CTRL_GO = 0x01;
inline constexpr uint8_t ZQ350X_PLAY_CTRL_STOP = 0x02;

// Sequencer: waveform number of slot n at SEQ_WAVE + n; loop counts two slots
// a register from SEQ_LOOP (even slot in bits 7:4, odd slot in bits 3:0).
inline constexpr uint8_t ZQ350X_REG_SEQ_WAVE = 0x0A;
inline constexpr uint8_t ZQ350X_REG_SEQ_LOOP = 0x12;

// f0 tracking control.
inline constexpr uint8_t ZQ350X_REG_F0_CTRL = 0x18;
inline constexpr uint8_t ZQ350X_F0_CTRL_TRACK = bit(5);

// Continuous-drive (f0 measurement) settings.
inline constexpr uint8_t ZQ350X_REG_CONT_DRV_WIDTH = 0x1A;  // drive half-period window
inline constexpr uint8_t ZQ350X_REG_CONT_1C = 0x1C;
inline constexpr uint8_t ZQ350X_CONT_1C_MASK = bits(3, 0);
inline constexpr uint8_t ZQ350X_REG_CONT_1D = 0x1D;
inline constexpr uint8_t ZQ350X_CONT_1D_EN = bit(7);
inline constexpr uint8_t ZQ350X_REG_CONT_1E = 0x1E;
inline constexpr uint8_t ZQ350X_REG_CONT_1F = 0x1F;
inline constexpr uint8_t ZQ350X_REG_CONT_20 = 0x20;
inline constexpr uint8_t ZQ350X_REG_CONT_21 = 0x21;
inline constexpr uint8_t ZQ350X_REG_CONT_TRACK_MARGIN = 0x22;

// Measured period count, high byte first.
inline constexpr uint8_t ZQ350X_REG_F0_PERIOD_HI = 0x25;
inline constexpr uint8_t ZQ350X_REG_F0_PERIOD_LO = 0x26;

// SRAM base address and RAM address pointer (high byte first), RAM data.
inline constexpr uint8_t ZQ350X_REG_RAM_BASE_HI = 0x2D;
inline constexpr uint8_t ZQ350X_REG_RAM_BASE_LO = 0x2E;
inline constexpr uint8_t ZQ350X_REG_RAM_ADDR_HI = 0x40;
inline constexpr uint8_t ZQ350X_REG_RAM_ADDR_LO = 0x41;
inline constexpr uint8_t ZQ350X_REG_RAM_DATA = 0x42;

// Chip state: 0 in standby.
inline constexpr uint8_t ZQ350X_REG_STATE = 0x3F;
inline constexpr uint8_t ZQ350X_STATE_MASK = bits(7, 0);
inline constexpr uint8_t ZQ350X_STATE_STANDBY = field_prep(ZQ350X_STATE_MASK, 0);

// System control: host SRAM access (also opens the repair window), forced
// standby pulse.
inline constexpr uint8_t ZQ350X_REG_SYS_CTRL = 0x45;
inline constexpr uint8_t ZQ350X_SYS_CTRL_RAM_ACCESS = bit(2);
inline constexpr uint8_t ZQ350X_SYS_CTRL_FORCE_STANDBY = bit(5);

// Key-protected analog settings (written only between KEY_OPEN and KEY_CLOSE).
inline constexpr uint8_t ZQ350X_REG_ANA_48 = 0x48;
inline constexpr uint8_t ZQ350X_ANA_48_BIT7 = bit(7);
inline constexpr uint8_t ZQ350X_REG_ANA_70 = 0x70;
inline constexpr uint8_t ZQ350X_ANA_70_INIT = 0x0F;
inline constexpr uint8_t ZQ350X_REG_ANA_71 = 0x71;
inline constexpr uint8_t ZQ350X_ANA_71_BIT7 = bit(7);
inline constexpr uint8_t ZQ350X_REG_ANA_74 = 0x74;
inline constexpr uint8_t ZQ350X_ANA_74_BIT7 = bit(7);
inline constexpr uint8_t ZQ350X_REG_ANA_75 = 0x75;
inline constexpr uint8_t ZQ350X_ANA_75_BIT4 = bit(4);

// Continuous mode enable.
inline constexpr uint8_t ZQ350X_REG_CONT_MODE = 0x4C;
inline constexpr uint8_t ZQ350X_CONT_MODE_EN = bit(6);

// Drive-to-sense gain.
inline constexpr uint8_t ZQ350X_REG_D2S_GAIN = 0x4E;
inline constexpr uint8_t ZQ350X_D2S_GAIN_MASK = bits(2, 0);

// Key register guarding 0x48, 0x5C, 0x70, 0x71, 0x74, 0x75 and 0x79.
inline constexpr uint8_t ZQ350X_REG_KEY = 0x5B;
inline constexpr uint8_t ZQ350X_KEY_OPEN = 0xE3;
inline constexpr uint8_t ZQ350X_KEY_CLOSE = 0x00;

// Touched once inside the qualification repair window.
inline constexpr uint8_t ZQ350X_REG_REPAIR = 0x5C;

// Qualification: QUAL_OK in 0x61 marks a qualified part; QUAL_FLAG_BAD in 0x62 or 0x63 at
// or above the limit ask for the repair window.
inline constexpr uint8_t ZQ350X_REG_QUAL = 0x61;
inline constexpr uint8_t ZQ350X_QUAL_OK = bit(7);
inline constexpr uint8_t ZQ350X_REG_QUAL_FLAG = 0x62;
inline constexpr uint8_t ZQ350X_QUAL_FLAG_BAD = bit(7);
inline constexpr uint8_t ZQ350X_REG_QUAL_LEVEL = 0x63;
inline constexpr uint8_t ZQ350X_QUAL_LEVEL_LIMIT = 0x10;

// LRA trim (key protected). Playback is only started while the register reads
// below GO_LIMIT (both bits above the field clear).
inline constexpr uint8_t ZQ350X_REG_TRIM_LRA = 0x79;
inline constexpr uint8_t ZQ350X_TRIM_LRA_MASK = bits(5, 0);
inline constexpr uint8_t ZQ350X_TRIM_LRA_GO_LIMIT = 0x40;

}  // namespace murvane
