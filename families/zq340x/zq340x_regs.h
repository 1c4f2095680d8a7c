// Register map of the zq340x family (zq3401, zq3402): every register and
// field the family's operations touch. A masked update names the register
// and the field it changes, write_field({REG, FIELD}, value): the bits of
// FIELD take value's, all others keep the register's own.
#pragma once

#include <stdint.h>

#include "core/regs.h"

namespace murvane {

// Output stage: boost or bypass, plus a bit chip_init sets.
inline constexpr uint8_t ZQ340X_REG_SYSCTRL = 0x06;
inline constexpr uint8_t ZQ340X_SYSCTRL_BOOST = bit(0);  // 1 boost, 0 bypass
inline constexpr uint8_t ZQ340X_SYSCTRL_INIT = bit(1);   // set by chip_init

inline constexpr uint8_t ZQ340X_REG_GAIN = 0x07;

// Play mode. Mode 11 is a stop request, taken on the next GO.
inline constexpr uint8_t ZQ340X_REG_PLAY_MODE = 0x08;
inline constexpr uint8_t ZQ340X_PLAY_MODE_MASK = bits(1, 0);
inline constexpr uint8_t ZQ340X_PLAY_MODE_RAM = field_prep(ZQ340X_PLAY_MODE_MASK, 0b00);
inline constexpr uint8_t ZQ340X_PLAY_MODE_CONT = field_prep(ZQ340X_PLAY_MODE_MASK, 0b10);
inline constexpr uint8_t ZQ340X_PLAY_MODE_STOP = field_prep(ZQ340X_PLAY_MODE_MASK, 0b11);

inline constexpr uint8_t ZQ340X_REG_PLAY_CTRL = 0x09;
inline constexpr uint8_t ZQ340X_PLAY_CTRL_GO = 0x01;
inline constexpr uint8_t ZQ340X_PLAY_CTRL_HALT = 0x02;  // what set_go(0) writes

// Sequencer: waveform number of slot i in 0x0A + i; loop counts two slots
// a register from 0x12, even slots in the high nibble.
inline constexpr uint8_t ZQ340X_REG_SEQ_WAVE0 = 0x0A;
inline constexpr uint8_t ZQ340X_REG_SEQ_LOOP0 = 0x12;

inline constexpr uint8_t ZQ340X_REG_DETECT_CTRL = 0x18;
inline constexpr uint8_t ZQ340X_DETECT_CTRL_F0_EN = bit(5);        // f0 detection on
inline constexpr uint8_t ZQ340X_DETECT_CTRL_OFFSET_SKIP = bit(7);  // of offset_cali_skip

// Continuous-mode / f0 detection parameters.
inline constexpr uint8_t ZQ340X_REG_CONT_DRV_WIDTH = 0x1A;  // from f0_pre
inline constexpr uint8_t ZQ340X_REG_CONT_CFG1C = 0x1C;
inline constexpr uint8_t ZQ340X_CONT_CFG1C_MASK = bits(3, 0);
inline constexpr uint8_t ZQ340X_REG_CONT_CFG1D = 0x1D;
inline constexpr uint8_t ZQ340X_CONT_CFG1D_EN = bit(7);
inline constexpr uint8_t ZQ340X_REG_CONT_CFG1E = 0x1E;
inline constexpr uint8_t ZQ340X_REG_CONT_CFG1F = 0x1F;
inline constexpr uint8_t ZQ340X_REG_CONT_CFG20 = 0x20;
inline constexpr uint8_t ZQ340X_REG_CONT_CFG21 = 0x21;
inline constexpr uint8_t ZQ340X_REG_CONT_TRACK_MARGIN = 0x22;

// Period count left by an f0 measurement, big-endian.
inline constexpr uint8_t ZQ340X_REG_F0_PERIOD_HI = 0x25;
inline constexpr uint8_t ZQ340X_REG_F0_PERIOD_LO = 0x26;

// SRAM window: base address and address pointer (big-endian), data port.
inline constexpr uint8_t ZQ340X_REG_RAM_BASE_HI = 0x2D;
inline constexpr uint8_t ZQ340X_REG_RAM_BASE_LO = 0x2E;
inline constexpr uint8_t ZQ340X_REG_RAM_ADDR_HI = 0x40;
inline constexpr uint8_t ZQ340X_REG_RAM_ADDR_LO = 0x41;
inline constexpr uint8_t ZQ340X_REG_RAM_DATA = 0x42;

// Chip state: the whole byte is the state, 0 in standby.
inline constexpr uint8_t ZQ340X_REG_STATE = 0x3F;
inline constexpr uint8_t ZQ340X_STATE_MASK = bits(7, 0);
inline constexpr uint8_t ZQ340X_STATE_STANDBY = field_prep(ZQ340X_STATE_MASK, 0);

inline constexpr uint8_t ZQ340X_REG_RAM_CTRL = 0x45;
inline constexpr uint8_t ZQ340X_RAM_CTRL_HOST_ACCESS = bit(2);  // also held for the offset measurement
inline constexpr uint8_t ZQ340X_RAM_CTRL_STANDBY_REQ = bit(5);  // pulsed to force standby

inline constexpr uint8_t ZQ340X_REG_CONT_CTRL = 0x4C;
inline constexpr uint8_t ZQ340X_CONT_CTRL_CONT_EN = bit(6);

// Offset measurement: run bits, gain code and fixed setting, 10-bit result.
inline constexpr uint8_t ZQ340X_REG_OFFSET_CTRL = 0x4D;
inline constexpr uint8_t ZQ340X_OFFSET_CTRL_MASK = bits(1, 0);
inline constexpr uint8_t ZQ340X_OFFSET_CTRL_RUN = field_prep(ZQ340X_OFFSET_CTRL_MASK, 1);
inline constexpr uint8_t ZQ340X_OFFSET_CTRL_IDLE = field_prep(ZQ340X_OFFSET_CTRL_MASK, 0);
inline constexpr uint8_t ZQ340X_REG_D2S = 0x4E;
inline constexpr uint8_t ZQ340X_D2S_GAIN_MASK = bits(2, 0);
inline constexpr uint8_t ZQ340X_D2S_MODE_MASK = bits(6, 3);
inline constexpr uint8_t ZQ340X_D2S_MODE_OFFSET = field_prep(ZQ340X_D2S_MODE_MASK, 0b0100);
inline constexpr uint8_t ZQ340X_REG_OFFSET_HI = 0x4F;
inline constexpr uint8_t ZQ340X_OFFSET_HI_MASK = bits(1, 0);
inline constexpr uint8_t ZQ340X_REG_OFFSET_LO = 0x50;
inline constexpr uint8_t ZQ340X_OFFSET_LO_MASK = bits(7, 0);

inline constexpr uint8_t ZQ340X_REG_TRIM_LRA = 0x59;
inline constexpr uint8_t ZQ340X_TRIM_LRA_MASK = bits(6, 0);

// Key register: the protected registers below take writes only between
// KEY_OPEN and KEY_CLOSE.
inline constexpr uint8_t ZQ340X_REG_KEY = 0x5A;
inline constexpr uint8_t ZQ340X_KEY_OPEN = 0xE3;
inline constexpr uint8_t ZQ340X_KEY_CLOSE = 0x00;

// Protected registers chip_init programs.
inline constexpr uint8_t ZQ340X_REG_PROT56 = 0x56;
inline constexpr uint8_t ZQ340X_PROT56_CLEAR = bits(1, 0);  // bits chip_init clears
inline constexpr uint8_t ZQ340X_REG_PROT6B = 0x6B;
inline constexpr uint8_t ZQ340X_PROT6B_SET = bit(5);  // bit chip_init sets
inline constexpr uint8_t ZQ340X_REG_PROT73 = 0x73;
inline constexpr uint8_t ZQ340X_PROT73_DEFAULT = 0xDB;
inline constexpr uint8_t ZQ340X_REG_PROT76 = 0x76;
inline constexpr uint8_t ZQ340X_PROT76_DEFAULT = 0x87;

inline constexpr uint8_t ZQ340X_REG_QUALIFY = 0x64;
inline constexpr uint8_t ZQ340X_QUALIFY_OK = bit(7);

}  // namespace murvane
