// Steps that several families share word for word. Where the families
// differ only in which register or bit they use, the family passes a small
// constant table of its own registers (named in its <f>_regs.h), listed in
// the order the step writes them.
#pragma once

#include <stdint.h>

#include "core/family.h"
#include "core/regs.h"
#include "platform/efi.h"

namespace murvane {

// Constants every family's steps share, defined here once.
// Host SRAM access takes 1 ms to settle after it is opened (the download and
// every offset measurement hold it).
inline constexpr uint32_t ram_access_wait_us = 1000;
// An offset measurement runs 3 ms once started. Its 10-bit code counts from
// offset_code_zero, offset_code_step a code over the divisor of the gain the
// chip used; within +-offset_limit the part passes.
inline constexpr uint32_t offset_run_us = 3000;
inline constexpr int32_t offset_code_zero = 512;
inline constexpr int32_t offset_code_step = 2440;
inline constexpr int32_t offset_limit = 15;
// The f0 measurement drives the actuator this long before it polls for standby.
inline constexpr uint32_t f0_drive_run_us = 20000;

// The trim kinds write_trim_lra takes, compared as a whole 32-bit value.
inline constexpr int32_t trim_zero = 0;
inline constexpr int32_t trim_f0_cali = 1;
inline constexpr int32_t trim_osc_cali = 2;

// How a trim write names the calibration byte it carries (a format with the
// byte as its one argument), one line for f0_cali_data and one for
// osc_cali_data. Families B to F share trim_lines_written; family A has
// wording of its own.
struct trim_lines {
  const char* f0_cali;
  const char* osc_cali;
};
inline constexpr trim_lines trim_lines_written = {
    .f0_cali = "Murvane: write f0_cali_data to trim_lra = 0x%02X\n",
    .osc_cali = "Murvane: write osc_cali_data to trim_lra = 0x%02X\n",
};

// The byte a trim write carries for a kind, after logging which one:
// trim_zero zero, trim_f0_cali f0_cali_data, trim_osc_cali osc_cali_data (in
// the family's wording), anything else an error and f0_cali_data.
uint8_t select_trim_value(int32_t kind, const trim_lines& lines = trim_lines_written);

// A poll of a state register: up to count readings, each into a cleared
// byte, until (byte & mask) is want or also_want (set both alike for one
// awaited state). By default the wait follows each miss (none when wait_us
// is 0); wait_first waits before every reading instead, for a chip that
// needs time before its first answer means anything. A reading whose
// transfer failed is never the awaited state: the poll stops at once, with
// no wait after it, and reports a time-out.
struct poll_spec {
  uint8_t reg;
  uint8_t mask;
  uint8_t want;
  uint8_t also_want;
  uint32_t count;
  uint32_t wait_us;
  bool wait_first;
};
// True when the state was seen.
bool poll_reg(const poll_spec& poll);

// wait_standby of families C and D: the poll (waiting first); standby seen
// logs "enter standby!" and gives 0, otherwise "do not enter standby
// automatically" and -1.
int32_t wait_standby_logged(const poll_spec& poll);

// The sequencer and SRAM window as all six families lay them out.
// set_sequence: write (first_wave + index) <- wave, the register number
// wrapping at 256 as the chip's 8-bit addressing does.
uint32_t write_sequence(uint8_t first_wave, uint8_t index, uint8_t wave);
// set_sequence_loop: two slots a register from first_loop; even slots in the
// high nibble: update R (keep 0x0F) <- loop << 4; odd slots in the low
// nibble: update R (keep 0xF0) <- loop.
uint32_t write_sequence_loop(uint8_t first_loop, uint8_t index, uint8_t loop);
// set_ram_base: base address and RAM address pointer, high byte first, both
// to the image's SRAM base. The bus status of the last write.
struct sram_base_regs {
  uint8_t base_hi;
  uint8_t base_lo;
  uint8_t addr_hi;
  uint8_t addr_lo;
};
uint32_t write_sram_base(sram_base_regs regs);

// set_ram_access of every family: update access <- its bits to open the
// host's SRAM window, then ram_access_wait_us for it to take (the result is
// the stall's); <- 0 to close it, no wait (the update's bus status).
int32_t set_ram_access_bit(uint8_t on, reg_field access);

// set_boost_mode of families B to F: mode 0 logs "bypass mode" and clears
// the boost bit, 1 logs "boost mode" and sets it; any other mode is refused
// with "boost mode error" and -1. Otherwise the bus status of the update.
int32_t set_boost_bit(uint8_t mode, reg_field boost);

// qualify_check of families B, C, D and F: one reading of the qualification
// register; the part is qualified when the bit is set. A reading that fails
// leaves the cleared byte: an unqualified part ("unqualified chip").
EFI_STATUS check_qualified(reg_field qualified);

// The playback registers of families B to F, for set_play_mode and stop.
struct playback_regs {
  reg_field play_mode;  // the play-mode field
  uint8_t mode_ram;     // its values: RAM playback, continuous drive, stop
  uint8_t mode_cont;
  uint8_t mode_stop;
  reg_value go;       // play control and its GO value
  reg_field standby;  // standby request: raised, then dropped at once
  reg_field boost;    // set for RAM playback, cleared for continuous drive
  reg_field cont;     // cleared for RAM playback, set for continuous drive
  // A register continuous drive presets, written before cont is set; reg 0: none.
  reg_value cont_preset;
};

// set_play_mode of families B to F (B has its own standby), after logging
// the mode:
//   standby: update standby <- bit, then <- 0 (always: the bit must not stay set)
//   ram:     update play_mode <- mode_ram, boost on, update cont <- 0
//   cont:    update play_mode <- mode_cont, boost off, [write cont_preset,]
//            update cont <- bit
// The bus status of the last access; -1 for an unknown mode ("error play
// mode", nothing touched).
int32_t switch_play_mode(uint8_t mode, const playback_regs& regs);

// The stop request of families B to F: the stop mode, then GO. True when
// GO was sent.
bool request_stop(const playback_regs& regs);

// stop of families C to F: logs "enter", request_stop, then the family's
// standby wait: 0 when the chip got there, else force_message and the
// standby request's result.
int32_t stop_playback(const playback_regs& regs, int32_t (*wait_standby)(), const char* force_message);

// offset_calibration of families B, D and F: the record's gain code into the
// gain field, the access bit held and ram_access_wait_us to settle, [offset
// mode,] a run on the trigger field (offset_run_us), [the trigger dropped,]
// then the gain and the code read back; the access bit dropped. The code
// counts from offset_code_zero, offset_code_step a code, over the divisor of
// the gain the chip reports; within +-offset_limit passes. Every access is
// issued whatever the others did, but a run with a failed transfer cannot
// pass: it logs fail_message, as an offset out of range does.
struct offset_measure_regs {
  reg_field gain;       // the gain code; read back whole after the run
  reg_field mode;       // the measurement mode, set before the run; reg 0: none
  uint8_t mode_offset;  // its offset-measurement value
  reg_field access;     // held during the measurement
  reg_field trigger;    // written trigger_run to start
  uint8_t trigger_run;
  bool trigger_drops;       // the trigger is cleared after the run (the code is latched then)
  reg_field code_hi;        // the code's high bits, in this field
  reg_field code_lo;        // and its low bits, in this one
  const int32_t* divisors;  // by gain code
  // A family that takes the whole gain byte as its index: a byte beyond the
  // table fails with this message. Null: the gain field indexes the table.
  const char* gain_error_message;
  bool record_may_skip;  // offset_cali_skip set in the record: no measurement, 0
  const char* fail_message;
};
int32_t measure_offset(const family_dts& dts, const offset_measure_regs& regs);

// Families B to F count the measured period in a 384 kHz clock: lra_f0 (in
// 0.1 Hz) = lra_f0_dividend / count.
inline constexpr uint32_t lra_f0_dividend = 3840000;

// The offset measurement's divisors of families D and F by gain code: 1023
// times the gain factor of each code (family B has its own).
inline constexpr uint32_t d2s_gain_codes = 8;
inline constexpr int32_t d2s_divisor_table_x1023[d2s_gain_codes] = {2046, 3069, 5115, 9207, 11253, 17391, 21483, 41943};

// The continuous-drive parameters written before the measurement, in order.
struct cont_drive_regs {
  reg_field drive_enable;  // update <- the enable bit, then the rest of the register <- cont_reg1d
  uint8_t band;            // band_value(divisor)
  uint8_t cont_1f;         // cont_reg1f
  uint8_t cont_20;         // cont_reg20
  uint8_t track_margin;    // cont_track_margin
  uint16_t band_divisor;
  // When set, a zero cont_track_margin is reported with this message instead
  // of being written; when null it is written whatever its value.
  const char* zero_margin_message;
};

// Writes the parameters.
void write_cont_drive(const family_dts& dts, const cont_drive_regs& regs);

// Band factor (1809 below 180.0 Hz, 1990 from there) x cont_reg1e_scale /
// divisor, at most 127. The product is taken in 64 bits: a large scale must
// saturate, not wrap around to a small value.
uint8_t band_value(const family_dts& dts, uint32_t divisor);

// The drive width: 240000 / f0_pre less cont_reg1c, cont_track_margin and
// 8, clamped to 0..255. f0_pre must not be 0.
inline constexpr uint32_t drive_period_dividend = 240000;
uint8_t drive_width_value(const family_dts& dts);

// Reads the measured period, high byte then low byte, each into a cleared
// byte. Callers tell a failed transfer by their transfer_watch.
uint32_t read_period(uint8_t hi_reg, uint8_t lo_reg);

// lra_f0 = lra_f0_dividend / period, logged ("lra_f0=%d"); a zero period
// leaves lra_f0 at 0 and logs "lra_f0 is error, f0_reg=0".
void store_lra_f0(uint32_t period);

// get_f0 of families B to F: lra_f0 <- f0_pre, the family's stop, then
//   update detector <- bit; [read play_cfg_detect's register, update it <- bit;]
//   continuous drive (switch_play_mode), the drive parameters; with f0_pre 0
//   it ends here (-1, nothing undone); the drive width, [the drive period],
//   GO, f0_drive_run_us of drive, the family's standby wait, the period into
//   lra_f0 (however the wait ended, unless no_standby_message is set: then a
//   failed wait logs it and reads no period), the detector bit cleared and
//   the detection bit put back. Every access is issued whatever the others
//   did; when a transfer of the call failed the period counts as 0 (the
//   zero-period message). 0.
struct f0_measure_regs {
  int32_t (*stop)();
  int32_t (*go)();  // null: write go_write
  int32_t (*wait_standby)();
  const playback_regs* playback;
  cont_drive_regs drive;
  reg_field detector;
  reg_field play_cfg_detect;  // reg 0: none
  reg_value go_write;         // play control and GO
  uint8_t drive_width;        // drive_width_value
  uint8_t drive_period;       // 240000 / f0_pre, at most 255; 0: none
  uint8_t period_hi;
  uint8_t period_lo;
  const char* no_standby_message;
};
int32_t measure_f0(const family_dts& dts, const f0_measure_regs& regs);

}  // namespace murvane
