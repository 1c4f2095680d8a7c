// Behavioural model of a zq330x chip (zq3301, zq3302, zq3303, zq3304).
//
// What it answers: 0x00 reads the marker that sends the driver to 0x57/0x58
// for the 16-bit identifier; 0x61 bit 7 marks a qualified part; 0x3F reads
// the chip state, 0 in standby. What it does:
// - GO (0x09 <- 0x01) acts on the play mode in 0x08 bits 1..0: 00 plays the
//   RAM sequence (for ram_play_us), 10 runs the continuous mode (an f0
//   measurement when 0x18 bit 5 and 0x08 bit 2 are set, which ends after
//   f0_detect_us with 3840000 / lra_f0 in 0x25/0x26), 11 brakes to standby
//   (after stop_us). 0x09 <- 0x02 also brakes.
// - a rising edge of 0x44 bit 5 forces standby at once.
// - never_standby keeps the chip out of standby except when forced.
// - SRAM data and window writes are accepted only while 0x43 bit 3 is set.
// Register numbers are the chip's own here, not the driver's constants, so
// the two check each other.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "sim/models/chip_model.h"

namespace sim {

class zq330x_model final : public chip_model {
 public:
  // 0x00 reads this marker: the identifier is in 0x57 (high) and 0x58 (low).
  static constexpr uint8_t id_marker = 0x00;

  static constexpr uint8_t reg_marker = 0x00;
  static constexpr uint8_t reg_boost = 0x06;
  static constexpr uint8_t reg_play_cfg = 0x08;
  static constexpr uint8_t reg_play_ctrl = 0x09;
  static constexpr uint8_t reg_seq_loop0 = 0x12;
  static constexpr uint8_t reg_track = 0x18;
  static constexpr uint8_t reg_cont_1c = 0x1C;
  static constexpr uint8_t reg_cont_1d = 0x1D;
  static constexpr uint8_t reg_period_hi = 0x25;
  static constexpr uint8_t reg_period_lo = 0x26;
  static constexpr uint8_t reg_state = 0x3F;
  static constexpr uint8_t reg_ram_ctrl = 0x43;
  static constexpr uint8_t reg_sys_ctrl = 0x44;
  static constexpr uint8_t reg_play_sel = 0x50;
  static constexpr uint8_t reg_d2s = 0x52;
  static constexpr uint8_t reg_id_hi = 0x57;
  static constexpr uint8_t reg_id_lo = 0x58;
  static constexpr uint8_t reg_trim = 0x5A;
  static constexpr uint8_t reg_qualify = 0x61;

  // What 0x3F reads in each state.
  enum class State : uint8_t { standby = 0x00, ram_play = 0x01, continuous = 0x02, f0_detect = 0x03, braking = 0x04 };

  static constexpr uint32_t default_stop_us = 1000;
  static constexpr uint32_t default_f0_detect_us = 20000;
  static constexpr uint32_t default_ram_play_us = 30000;
  static constexpr uint32_t f0_period_scale = 3840000;

  constexpr zq330x_model() : chip_model("zq330x", layout, id_marker) {}

  // Knobs, back to their defaults at configure(); a reset pulse keeps them.
  uint32_t stop_us = default_stop_us;            // mode 11 + GO to standby
  uint32_t f0_detect_us = default_f0_detect_us;  // GO in f0 detection to period and standby
  uint32_t ram_play_us = default_ram_play_us;    // GO in RAM mode to standby
  bool never_standby = false;                    // only the forced pulse reaches standby

  // The state as of the last bus access.
  State state() const { return state_; }
  uint32_t forced_standbys() const { return forced_standbys_; }
  uint32_t f0_measurements() const { return f0_measurements_; }
  // The period an f0 measurement leaves for the model's lra_f0.
  uint16_t expected_period() const;

 protected:
  // Defined here so that the class has no key function: its vtable and type
  // information then come with every user, RTTI-built tests included.
  uint8_t on_read(uint8_t r) override {
    advance();
    return regs_[r];
  }
  void on_write(uint8_t r, uint8_t value) override { handle_write(r, value); }
  void on_configure() override { set_power_on(); }
  void on_reset() override { back_to_standby(); }

 private:
  static constexpr sram_layout layout = {0x2D, 0x2E, 0x40, 0x41, 0x42, 0x43, 0x08};

  void handle_write(uint8_t r, uint8_t value);
  void set_power_on();
  void back_to_standby();
  void advance();
  void enter(State s, uint32_t for_us);
  void go();

  State state_ = State::standby;
  uint64_t deadline_ns_ = 0;  // when the current state ends by itself; 0 never
  uint32_t forced_standbys_ = 0;
  uint32_t f0_measurements_ = 0;
};

}  // namespace sim
