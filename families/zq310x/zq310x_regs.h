// zq310x (zq3101, zq3102) register map: register numbers, and each field by
// the bits it spans (bit, bits), with the values the driver puts in it
// placed by field_prep. A masked update names the field it changes:
//   write_field({ZQ310X_REG_SYSCTRL2, ZQ310X_SYSCTRL2_STANDBY}, ZQ310X_SYSCTRL2_STANDBY)
// reads "update 0x04 (keep 0xFE) <- 0x01".
#pragma once

#include <stdint.h>

#include "core/regs.h"

namespace murvane {

// 0x00: chip identifier (0x95 zq3101, 0x97 zq3102).
inline constexpr uint8_t ZQ310X_REG_ID = 0x00;

// 0x02: interrupt status, read to clear; the driver reads and discards it
// before leaving standby and before starting an f0 detection.
inline constexpr uint8_t ZQ310X_REG_SYSINT = 0x02;

// 0x03: system control 1.
inline constexpr uint8_t ZQ310X_REG_SYSCTRL1 = 0x03;
inline constexpr uint8_t ZQ310X_SYSCTRL1_BIT5 = bit(5);  // cleared when leaving standby

// 0x04: system control 2: standby, boost, play mode, host SRAM access.
inline constexpr uint8_t ZQ310X_REG_SYSCTRL2 = 0x04;
inline constexpr uint8_t ZQ310X_SYSCTRL2_STANDBY = bit(0);
inline constexpr uint8_t ZQ310X_SYSCTRL2_BOOST = bit(1);  // 1 boost, 0 bypass
inline constexpr uint8_t ZQ310X_SYSCTRL2_PLAY_MODE = bits(3, 2);
inline constexpr uint8_t ZQ310X_SYSCTRL2_PLAY_MODE_RAM = field_prep(ZQ310X_SYSCTRL2_PLAY_MODE, 0);
inline constexpr uint8_t ZQ310X_SYSCTRL2_PLAY_MODE_CONT = field_prep(ZQ310X_SYSCTRL2_PLAY_MODE, 2);
inline constexpr uint8_t ZQ310X_SYSCTRL2_RAM_ACCESS = bit(5);  // also held during offset calibration

// 0x05: playback trigger.
inline constexpr uint8_t ZQ310X_REG_PLAYCTRL = 0x05;
inline constexpr uint8_t ZQ310X_PLAYCTRL_GO = bit(0);

// 0x07 + i: waveform number of sequencer slot i (0 ends the sequence).
inline constexpr uint8_t ZQ310X_REG_WAVSEQ1 = 0x07;

// 0x0F + i/2: loop counts, two sequencer slots per register; even slots in
// the high nibble, odd slots in the low nibble.
inline constexpr uint8_t ZQ310X_REG_WAVLOOP1 = 0x0F;

// 0x21/0x22: SRAM base address, high byte then low byte.
inline constexpr uint8_t ZQ310X_REG_RAM_BASE_HI = 0x21;
inline constexpr uint8_t ZQ310X_REG_RAM_BASE_LO = 0x22;

// 0x2B: f0 detection set-up, both bits of the field set while detecting.
inline constexpr uint8_t ZQ310X_REG_DETCFG = 0x2B;
inline constexpr uint8_t ZQ310X_DETCFG_F0 = bits(6, 5);
inline constexpr uint8_t ZQ310X_DETCFG_F0_ON = field_prep(ZQ310X_DETCFG_F0, 0b11);

// 0x31: analog trim sequence, written three times in a row.
inline constexpr uint8_t ZQ310X_REG_ANACFG1 = 0x31;

// 0x34 and 0x35: analog defaults, each in its field.
inline constexpr uint8_t ZQ310X_REG_ANACFG4 = 0x34;
inline constexpr uint8_t ZQ310X_ANACFG4_MASK = bits(2, 0);
inline constexpr uint8_t ZQ310X_ANACFG4_DEFAULT = field_prep(ZQ310X_ANACFG4_MASK, 1);
inline constexpr uint8_t ZQ310X_REG_ANACFG5 = 0x35;
inline constexpr uint8_t ZQ310X_ANACFG5_MASK = bits(3, 2);
inline constexpr uint8_t ZQ310X_ANACFG5_DEFAULT = field_prep(ZQ310X_ANACFG5_MASK, 0b11);

// 0x39: playback gain.
inline constexpr uint8_t ZQ310X_REG_PLAYCFG_GAIN = 0x39;

// 0x40/0x41: SRAM address pointer, high byte then low byte; 0x42: SRAM data,
// the pointer advances after every byte.
inline constexpr uint8_t ZQ310X_REG_RAM_ADDR_HI = 0x40;
inline constexpr uint8_t ZQ310X_REG_RAM_ADDR_LO = 0x41;
inline constexpr uint8_t ZQ310X_REG_RAM_DATA = 0x42;

// 0x46: chip state, low four bits 0 when idle.
inline constexpr uint8_t ZQ310X_REG_GLBRD = 0x46;
inline constexpr uint8_t ZQ310X_GLBRD_STATE = bits(3, 0);
inline constexpr uint8_t ZQ310X_GLBRD_STATE_IDLE = field_prep(ZQ310X_GLBRD_STATE, 0);

// 0x48: the f0 detector state, 01 while a detection runs, 10 afterwards.
inline constexpr uint8_t ZQ310X_REG_CONTCFG = 0x48;
inline constexpr uint8_t ZQ310X_CONTCFG_F0_DET = bits(3, 2);
inline constexpr uint8_t ZQ310X_CONTCFG_F0_DET_RUN = field_prep(ZQ310X_CONTCFG_F0_DET, 0b01);
inline constexpr uint8_t ZQ310X_CONTCFG_F0_DET_DONE = field_prep(ZQ310X_CONTCFG_F0_DET, 0b10);

// 0x49/0x4A: expected f0 period handed to the detector, high then low byte.
inline constexpr uint8_t ZQ310X_REG_F0_PRE_HI = 0x49;
inline constexpr uint8_t ZQ310X_REG_F0_PRE_LO = 0x4A;

// 0x4D, 0x5D: chip_init defaults from the record.
inline constexpr uint8_t ZQ310X_REG_INIT_4D = 0x4D;
inline constexpr uint8_t ZQ310X_REG_INIT_5D = 0x5D;

// 0x5B: trim_lra.
inline constexpr uint8_t ZQ310X_REG_TRIM_LRA = 0x5B;

// 0x5F: write the busy bit to start the offset calibration; reads 1 while busy.
inline constexpr uint8_t ZQ310X_REG_OFFSET_CALI = 0x5F;
inline constexpr uint8_t ZQ310X_OFFSET_CALI_BUSY = bit(0);

// 0x66: the bit is 1 in continuous mode, 0 in RAM mode.
inline constexpr uint8_t ZQ310X_REG_CONTCFG2 = 0x66;
inline constexpr uint8_t ZQ310X_CONTCFG2_CONT = bit(6);

// 0x68/0x69: measured f0 period, high byte then low byte.
inline constexpr uint8_t ZQ310X_REG_F0_PERIOD_HI = 0x68;
inline constexpr uint8_t ZQ310X_REG_F0_PERIOD_LO = 0x69;

// 0x74..0x77: four chip_init defaults from the record.
inline constexpr uint8_t ZQ310X_REG_INIT_74 = 0x74;

// 0x7B, 0x7D, 0x7E, 0x7F: f0 detection parameters from the record; 0x7D
// carries f0_7d_hi in its high nibble and f0_7d_lo in its low nibble.
inline constexpr uint8_t ZQ310X_REG_F0_7B = 0x7B;
inline constexpr uint8_t ZQ310X_REG_F0_7D = 0x7D;
inline constexpr uint8_t ZQ310X_REG_F0_7E = 0x7E;
inline constexpr uint8_t ZQ310X_REG_F0_7F = 0x7F;

}  // namespace murvane
