// Register map of the zq330x family (zq3301, zq3302, zq3303, zq3304): the
// registers and fields this driver touches, by number and bit.
#pragma once

#include <stdint.h>

#include "core/regs.h"

namespace murvane {

// Boost converter control.
inline constexpr uint8_t ZQ330X_REG_BOOST_CTRL = 0x06;
inline constexpr uint8_t ZQ330X_BOOST_EN = bit(4);  // 1 boost, 0 bypass

// Playback gain, whole byte.
inline constexpr uint8_t ZQ330X_REG_GAIN = 0x07;

// Play configuration: the play mode and the f0 detection enable.
inline constexpr uint8_t ZQ330X_REG_PLAY_CFG = 0x08;
inline constexpr uint8_t ZQ330X_PLAY_MODE_MASK = bits(1, 0);
inline constexpr uint8_t ZQ330X_PLAY_MODE_RAM = field_prep(ZQ330X_PLAY_MODE_MASK, 0b00);
inline constexpr uint8_t ZQ330X_PLAY_MODE_CONT = field_prep(ZQ330X_PLAY_MODE_MASK, 0b10);
inline constexpr uint8_t ZQ330X_PLAY_MODE_STOP =
    field_prep(ZQ330X_PLAY_MODE_MASK, 0b11);  // followed by GO: brake back to standby
inline constexpr uint8_t ZQ330X_F0_DETECT_EN = bit(2);

// Play control: a write triggers the action.
inline constexpr uint8_t ZQ330X_REG_PLAY_CTRL = 0x09;
inline constexpr uint8_t ZQ330X_PLAY_GO = 0x01;
inline constexpr uint8_t ZQ330X_PLAY_HALT = 0x02;

// Sequencer: waveform number of slot i in 0x0A + i; loop counts two slots
// per register from 0x12 (even slot high nibble, odd slot low nibble).
inline constexpr uint8_t ZQ330X_REG_SEQ0 = 0x0A;
inline constexpr uint8_t ZQ330X_REG_SEQ_LOOP0 = 0x12;

// f0 tracking arm.
inline constexpr uint8_t ZQ330X_REG_TRACK_CTRL = 0x18;
inline constexpr uint8_t ZQ330X_TRACK_EN = bit(5);

// Continuous-mode (f0 detection) parameters.
inline constexpr uint8_t ZQ330X_REG_CONT_DRV_WIDTH = 0x1A;  // detection window computed from f0_pre
inline constexpr uint8_t ZQ330X_REG_CONT_1C = 0x1C;         // cont_reg1c in the field
inline constexpr uint8_t ZQ330X_CONT_1C_MASK = bits(3, 0);
inline constexpr uint8_t ZQ330X_REG_CONT_1D = 0x1D;  // the enable bit, cont_reg1d in the rest
inline constexpr uint8_t ZQ330X_CONT_1D_EN = bit(7);
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

// Chip state: the whole byte is the state, 0 in standby.
inline constexpr uint8_t ZQ330X_REG_GLB_STATE = 0x3F;
inline constexpr uint8_t ZQ330X_GLB_STATE_MASK = bits(7, 0);
inline constexpr uint8_t ZQ330X_GLB_STATE_STANDBY = field_prep(ZQ330X_GLB_STATE_MASK, 0);

// Host access to the SRAM.
inline constexpr uint8_t ZQ330X_REG_RAM_CTRL = 0x43;
inline constexpr uint8_t ZQ330X_RAM_HOST_ACCESS = bit(3);

// Standby request: a set-then-clear pulse forces standby.
inline constexpr uint8_t ZQ330X_REG_SYS_CTRL = 0x44;
inline constexpr uint8_t ZQ330X_FORCE_STANDBY = bit(5);

// Bit 6 set in continuous mode, clear in RAM mode.
inline constexpr uint8_t ZQ330X_REG_PLAY_SEL = 0x50;
inline constexpr uint8_t ZQ330X_CONT_SEL = bit(6);

// D2S gain.
inline constexpr uint8_t ZQ330X_REG_D2S = 0x52;
inline constexpr uint8_t ZQ330X_D2S_GAIN_MASK = bits(2, 0);

// LRA trim.
inline constexpr uint8_t ZQ330X_REG_TRIM_LRA = 0x5A;
inline constexpr uint8_t ZQ330X_TRIM_LRA_MASK = bits(5, 0);

// Qualification: the bit is set on a qualified part.
inline constexpr uint8_t ZQ330X_REG_QUALIFY = 0x61;
inline constexpr uint8_t ZQ330X_QUALIFIED = bit(7);

}  // namespace murvane
