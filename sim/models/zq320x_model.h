// Behavioural model of a zq320x chip (zq3201..zq3204).
//
// What it models:
// - the one-byte identifier in 0x00 and the qualification bit (0x64 bit 7,
//   set at power-on; a scenario clears it with set_register);
// - the chip state in 0x3F bits 3..0: 0 standby (at power-on), otherwise
//   busy. GO (0x09 <- 1) in play mode 11, or a halt (0x09 <- 2), returns
//   the chip to standby after a stop time; a pulse of 0x44 bit 6 does it at
//   once; the chip can be set never to get there by itself;
// - RAM playback on GO in play mode 00 (SRAM accepted only while 0x43 bit 3
//   is set, as the base model checks);
// - the offset calibration started by 0x52 bit 0: after its run time 0x54
//   holds bits 9..2 of offset_code and 0x57 bits 3..2 its bits 1..0 (the
//   other bits of 0x57 read 0xF3 & ~0x0C from power-on);
// - the f0 measurement: GO in continuous mode (play mode 10) with 0x18
//   bit 3 and 0x08 bit 2 set runs for its detection time, then returns to
//   standby with 0x25/0x26 = 3840000 / lra_f0.
// The times and the never-standby case are knobs (zq320x_knobs).
#pragma once

#include "sim/models/chip_model.h"

namespace sim {

// Scenario knobs of a zq320x model; back to these defaults at configure().
struct zq320x_knobs {
  // From a stop (GO in play mode 11, or a halt) to standby.
  uint32_t stop_time_us = 3000;
  // From the GO that starts an f0 measurement to standby with the result.
  uint32_t f0_detect_time_us = 150000;
  // From the start of an offset calibration to its result.
  uint32_t offset_cal_time_us = 2000;
  // Neither a stop nor an f0 measurement ever returns the chip to standby by
  // itself (the forced-standby pulse and a reset still do).
  bool never_standby = false;
};

class zq320x_model final : public chip_model {
 public:
  constexpr zq320x_model() : chip_model("zq320x", layout, 0x00) {}

  // Chip states as 0x3F reports them (bits 3..0).
  static constexpr uint8_t state_standby = 0x0;
  static constexpr uint8_t state_ram_play = 0x1;
  static constexpr uint8_t state_cont_play = 0x2;
  static constexpr uint8_t state_stopping = 0x3;

  zq320x_knobs knobs;

 protected:
  // Inline on purpose: with no key function the vtable and type information
  // are emitted where the model is built (with RTTI on the host), not in the
  // models' own RTTI-free object, which the sanitizer's checks would miss.
  uint8_t on_read(uint8_t r) override { return read_register(r); }
  void on_write(uint8_t r, uint8_t value) override { write_register(r, value); }
  void on_configure() override { set_power_on(); }
  void on_reset() override { clear_behaviour(); }

 private:
  static constexpr uint8_t reg_play_cfg = 0x08;
  static constexpr uint8_t reg_play_cmd = 0x09;
  static constexpr uint8_t reg_f0_ctrl = 0x18;
  static constexpr uint8_t reg_f0_period_hi = 0x25;
  static constexpr uint8_t reg_f0_period_lo = 0x26;
  static constexpr uint8_t reg_state = 0x3F;
  static constexpr uint8_t reg_sys_ctrl = 0x43;
  static constexpr uint8_t reg_standby_ctrl = 0x44;
  static constexpr uint8_t reg_offset_cal = 0x52;
  static constexpr uint8_t reg_offset_hi = 0x54;
  static constexpr uint8_t reg_offset_lo = 0x57;
  static constexpr uint8_t reg_qualify = 0x64;

  static constexpr sram_layout layout = {0x2D, 0x2E, 0x40, 0x41, 0x42, 0x43, 0x08};

  enum class pending : uint8_t { none, stop, f0 };

  uint8_t read_register(uint8_t r);
  void write_register(uint8_t r, uint8_t value);
  void set_power_on();
  void clear_behaviour();
  // Applies what has become due by now_ns(): a stop or a measurement ending,
  // an offset calibration's result.
  void advance();
  void start_go();
  void schedule(pending what, uint32_t after_us);
  void set_state(uint8_t s);
  uint8_t state() const { return static_cast<uint8_t>(regs_[reg_state] & 0x0F); }

  pending pending_ = pending::none;
  uint64_t due_ns_ = 0;
  bool cal_running_ = false;
  uint64_t cal_due_ns_ = 0;
};

// The knobs of m when it is a zq320x model, else nullptr: for code that
// holds only the base class (tests, scenario tools).
zq320x_knobs* zq320x_knobs_of(chip_model& m);

}  // namespace sim
