// Register map of the zq330x family (zq3301, zq3302, zq3303, zq3304): the
// registers and fields this driver touches, by number and bit.
#pragma once

#include <stdint.h>

namespace murvane {

// Boost converter control.
inline constexpr uint8_t ZQ330X_REG_BOOST_CTRL = 0x06;
inline constexpr uint8_t ZQ330X_BOOST_EN = 0x10;  // bit 4: 1 boost, 0 bypass

// Playback gain, whole byte.
inline constexpr uint8_t ZQ330X_REG_GAIN = 0x07;

// Play configuration: mode in bits 1..0, f0 detection enable in bit 2.
inline constexpr uint8_t ZQ330X_REG_PLAY_CFG = 0x08;
inline constexpr uint8_t ZQ330X_PLAY_MODE_MASK = 0x03;
inline constexpr uint8_t ZQ330X_PLAY_MODE_RAM = 0x00;
inline constexpr uint8_t ZQ330X_PLAY_MODE_CONT = 0x02;
inline constexpr uint8_t ZQ330X_PLAY_MODE_STOP = 0x03;  // followed by GO: brake back to standby
inline constexpr uint8_t ZQ330X_F0_DETECT_EN = 0x04;    // bit 2

// Play control: a write triggers the action.
inline constexpr uint8_t ZQ330X_REG_PLAY_CTRL = 0x09;
inline constexpr uint8_t ZQ330X_PLAY_GO = 0x01;
inline constexpr uint8_t ZQ330X_PLAY_HALT = 0x02;

// Sequencer: waveform number of slot i in 0x0A + i; loop counts two slots
// per register from 0x12 (even slot high nibble, odd slot low nibble).
inline constexpr uint8_t ZQ330X_REG_SEQ0 = 0x0A;
inline constexpr uint8_t ZQ330X_REG_SEQ_LOOP0 = 0x12;

// f0 tracking arm, bit 5.
inline constexpr uint8_t ZQ330X_REG_TRACK_CTRL = 0x18;
inline constexpr uint8_t ZQ330X_TRACK_EN = 0x20;

// Continuous-mode (f0 detection) parameters.
inline constexpr uint8_t ZQ330X_REG_CONT_1A = 0x1A;  // detection window computed from f0_pre
inline constexpr uint8_t ZQ330X_REG_CONT_1C = 0x1C;  // bits 3..0: cont_reg1c
inline constexpr uint8_t ZQ330X_CONT_1C_MASK = 0x0F;
inline constexpr uint8_t ZQ330X_REG_CONT_1D = 0x1D;  // bit 7 enable, bits 6..0 cont_reg1d
inline constexpr uint8_t ZQ330X_CONT_1D_EN = 0x80;
inline constexpr uint8_t ZQ330X_REG_CONT_1E = 0x1E;  // computed from f0_pre and cont_reg1e_scale
inline constexpr uint8_t ZQ330X_REG_CONT_1F = 0x1F;
inline constexpr uint8_t ZQ330X_REG_CONT_20 = 0x20;
inline constexpr uint8_t ZQ330X_REG_CONT_21 = 0x21;
inline constexpr uint8_t ZQ330X_REG_CONT_TRACK_MARGIN = 0x22;

// Measured LRA period, high byte then low byte.
inline constexpr uint8_t ZQ330X_REG_F0_PERIOD_HI = 0x25;
inline constexpr uint8_t ZQ330X_REG_F0_PERIOD_LO = 0x26;

// SRAM window: base address, address pointer, data port.
inline constexpr uint8_t ZQ330X_REG_RAM_BASE_HI = 0x2D;
inline constexpr uint8_t ZQ330X_REG_RAM_BASE_LO = 0x2E;
inline constexpr uint8_t ZQ330X_REG_RAM_ADDR_HI = 0x40;
inline constexpr uint8_t ZQ330X_REG_RAM_ADDR_LO = 0x41;
inline constexpr uint8_t ZQ330X_REG_RAM_DATA = 0x42;

// Chip state: the whole byte reads 0 in standby.
inline constexpr uint8_t ZQ330X_REG_GLB_STATE = 0x3F;

// Host access to the SRAM, bit 3.
inline constexpr uint8_t ZQ330X_REG_RAM_CTRL = 0x43;
inline constexpr uint8_t ZQ330X_RAM_HOST_ACCESS = 0x08;

// Standby request, bit 5: a set-then-clear pulse forces standby.
inline constexpr uint8_t ZQ330X_REG_SYS_CTRL = 0x44;
inline constexpr uint8_t ZQ330X_FORCE_STANDBY = 0x20;

// Bit 6 set in continuous mode, clear in RAM mode.
inline constexpr uint8_t ZQ330X_REG_PLAY_SEL = 0x50;
inline constexpr uint8_t ZQ330X_CONT_SEL = 0x40;

// D2S gain, bits 2..0.
inline constexpr uint8_t ZQ330X_REG_D2S = 0x52;
inline constexpr uint8_t ZQ330X_D2S_GAIN_MASK = 0x07;

// LRA trim, bits 5..0.
inline constexpr uint8_t ZQ330X_REG_TRIM_LRA = 0x5A;
inline constexpr uint8_t ZQ330X_TRIM_LRA_MASK = 0x3F;

// Qualification, bit 7 set on a qualified part.
inline constexpr uint8_t ZQ330X_REG_QUALIFY = 0x61;
inline constexpr uint8_t ZQ330X_QUALIFIED = 0x80;

}  // namespace murvane
