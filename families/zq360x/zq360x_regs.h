// zq360x (zq3601, zq3602, zq3603) register map: every register the family
// touches, with its fields. A masked update is written
// write_field({REG, FIELD}, value): FIELD takes the value, the register's
// other bits stay as they are.
#pragma once

#include <stdint.h>

#include "core/regs.h"

namespace murvane {

// Boost converter control.
inline constexpr uint8_t ZQ360X_REG_BOOST_CTRL = 0x06;
inline constexpr uint8_t ZQ360X_BOOST_EN = bit(5);  // 1 boost, 0 bypass

inline constexpr uint8_t ZQ360X_REG_GAIN = 0x07;

// Play configuration.
inline constexpr uint8_t ZQ360X_REG_PLAY_CFG = 0x08;
inline constexpr uint8_t ZQ360X_PLAY_MODE_MASK = bits(1, 0);
inline constexpr uint8_t ZQ360X_PLAY_MODE_RAM = field_prep(ZQ360X_PLAY_MODE_MASK, 0b00);
inline constexpr uint8_t ZQ360X_PLAY_MODE_CONT = field_prep(ZQ360X_PLAY_MODE_MASK, 0b10);
inline constexpr uint8_t ZQ360X_PLAY_MODE_STOP = field_prep(ZQ360X_PLAY_MODE_MASK, 0b11);
inline constexpr uint8_t ZQ360X_PLAY_CFG_F0_DET = bit(2);  // set for the f0 measurement, restored after

// Play control: a write starts (GO) or ends playback.
inline constexpr uint8_t ZQ360X_REG_PLAY_CTRL = 0x09;
inline constexpr uint8_t ZQ360X_PLAY_CTRL_GO = 0x01;
inline constexpr uint8_t ZQ360X_PLAY_CTRL_STOP = 0x02;

// Sequencer: one waveform number per slot, two loop counts per register
// (even slot in bits 7:4, odd slot in bits 3:0).
inline constexpr uint8_t ZQ360X_REG_WAVSEQ1 = 0x0A;
inline constexpr uint8_t ZQ360X_REG_WAVLOOP1 = 0x12;

inline constexpr uint8_t ZQ360X_REG_SYSCTRL = 0x18;
inline constexpr uint8_t ZQ360X_SYSCTRL_OFFSET_SKIP = bit(7);  // takes bit 0 of offset_cali_skip
inline constexpr uint8_t ZQ360X_SYSCTRL_F0_DET_EN = bit(5);

// Continuous (f0 tracking) drive set-up; the cont_reg* record fields name
// the registers they go to.
inline constexpr uint8_t ZQ360X_REG_CONT_PERIOD = 0x19;     // expected drive period, from f0_pre
inline constexpr uint8_t ZQ360X_REG_CONT_DRV_WIDTH = 0x1A;  // period less the margins
inline constexpr uint8_t ZQ360X_REG_CONT_CFG1C = 0x1C;
inline constexpr uint8_t ZQ360X_CONT_CFG1C_MASK = bits(3, 0);
inline constexpr uint8_t ZQ360X_REG_CONT_CFG1D = 0x1D;
inline constexpr uint8_t ZQ360X_CONT_CFG1D_EN = bit(7);
inline constexpr uint8_t ZQ360X_REG_CONT_CFG1E = 0x1E;
inline constexpr uint8_t ZQ360X_REG_CONT_CFG1F = 0x1F;
inline constexpr uint8_t ZQ360X_REG_CONT_CFG20 = 0x20;
inline constexpr uint8_t ZQ360X_REG_CONT_CFG21 = 0x21;
inline constexpr uint8_t ZQ360X_REG_CONT_TRACK_MARGIN = 0x22;

// Measured period count, big-endian.
inline constexpr uint8_t ZQ360X_REG_F0_PERIOD_HI = 0x25;
inline constexpr uint8_t ZQ360X_REG_F0_PERIOD_LO = 0x26;

// SRAM window: base address and RAM address pointer, big-endian, and the
// data register the pointer advances behind.
inline constexpr uint8_t ZQ360X_REG_RAM_BASE_HI = 0x2D;
inline constexpr uint8_t ZQ360X_REG_RAM_BASE_LO = 0x2E;
inline constexpr uint8_t ZQ360X_REG_RAM_ADDR_HI = 0x40;
inline constexpr uint8_t ZQ360X_REG_RAM_ADDR_LO = 0x41;
inline constexpr uint8_t ZQ360X_REG_RAM_DATA = 0x42;

// Global state: 0 in standby.
inline constexpr uint8_t ZQ360X_REG_GLB_STATE = 0x3F;
inline constexpr uint8_t ZQ360X_GLB_STATE_MASK = bits(7, 0);  // the whole byte is the state
inline constexpr uint8_t ZQ360X_GLB_STATE_STANDBY = field_prep(ZQ360X_GLB_STATE_MASK, 0);

inline constexpr uint8_t ZQ360X_REG_SYSCTRL2 = 0x45;
inline constexpr uint8_t ZQ360X_SYSCTRL2_RAM_ACCESS = bit(2);     // host owns the SRAM (also during offset measurement)
inline constexpr uint8_t ZQ360X_SYSCTRL2_FORCE_STANDBY = bit(5);  // pulsed

inline constexpr uint8_t ZQ360X_REG_CONT_CTRL = 0x4C;
inline constexpr uint8_t ZQ360X_CONT_CTRL_EN = bit(6);

// Offset measurement.
inline constexpr uint8_t ZQ360X_REG_OFS_TRIG = 0x4D;
inline constexpr uint8_t ZQ360X_OFS_TRIG_MASK = bits(1, 0);
inline constexpr uint8_t ZQ360X_OFS_TRIG_RUN = field_prep(ZQ360X_OFS_TRIG_MASK, 1);
inline constexpr uint8_t ZQ360X_REG_D2S_CFG = 0x4E;
inline constexpr uint8_t ZQ360X_D2S_GAIN_MASK = bits(2, 0);
inline constexpr uint8_t ZQ360X_D2S_MODE_MASK = bits(6, 3);
inline constexpr uint8_t ZQ360X_D2S_MODE_OFFSET = field_prep(ZQ360X_D2S_MODE_MASK, 0b0100);
inline constexpr uint8_t ZQ360X_REG_OFS_CODE_HI = 0x4F;
inline constexpr uint8_t ZQ360X_OFS_CODE_HI_MASK = bits(1, 0);
inline constexpr uint8_t ZQ360X_REG_OFS_CODE_LO = 0x50;
inline constexpr uint8_t ZQ360X_OFS_CODE_LO_MASK = bits(7, 0);

// Protected analogue settings: writable only while the key register holds
// ZQ360X_KEY_OPEN.
inline constexpr uint8_t ZQ360X_REG_ANA_56 = 0x56;
inline constexpr uint8_t ZQ360X_ANA_56_MODE_MASK = bits(1, 0);
inline constexpr uint8_t ZQ360X_REG_ANA_6F = 0x6F;
inline constexpr uint8_t ZQ360X_ANA_6F_INIT = 0x1C;
inline constexpr uint8_t ZQ360X_REG_ANA_70 = 0x70;
inline constexpr uint8_t ZQ360X_ANA_70_INIT = 0x0E;
inline constexpr uint8_t ZQ360X_REG_ANA_72 = 0x72;
inline constexpr uint8_t ZQ360X_ANA_72_INIT = 0x03;
inline constexpr uint8_t ZQ360X_REG_ANA_77 = 0x77;
inline constexpr uint8_t ZQ360X_ANA_77_INIT = 0x80;
inline constexpr uint8_t ZQ360X_REG_ANA_7D = 0x7D;
inline constexpr uint8_t ZQ360X_ANA_7D_INIT = 0x41;

// LRA trim; written plainly (no key), cut to its field.
inline constexpr uint8_t ZQ360X_REG_TRIM_LRA = 0x5D;
inline constexpr uint8_t ZQ360X_TRIM_LRA_MASK = bits(6, 0);

inline constexpr uint8_t ZQ360X_REG_KEY = 0x5E;
inline constexpr uint8_t ZQ360X_KEY_OPEN = 0xE3;
inline constexpr uint8_t ZQ360X_KEY_CLOSE = 0x00;

inline constexpr uint8_t ZQ360X_REG_QUALIFY = 0x67;
inline constexpr uint8_t ZQ360X_QUALIFIED = bit(7);

}  // namespace murvane
