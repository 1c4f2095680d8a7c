// Behavioural model of a zq350x chip (zq3501..zq3504).
//
// - Identifier in 0x57 (high) / 0x58 (low); 0x00 reads the marker 0x00.
// - Qualification: 0x61 bit 7 set on a qualified part. 0x62 bit 7 and
//   0x63 >= 0x10 flag a lost trim that the repair window reloads: host SRAM
//   access on (0x45 bit 2), key open, one access to 0x5C, then at least 2 ms
//   before the key closes.
// - Key window: 0x5B <- 0xE3 opens it, <- 0x00 closes it. Writes to 0x48,
//   0x5C, 0x70, 0x71, 0x74, 0x75 and 0x79 outside it are violations and are
//   ignored; reads are free.
// - SRAM behind 0x2D/0x2E (base), 0x40/0x41 (pointer), 0x42 (data), open to
//   the host while 0x45 bit 2 is set.
// - Chip state in 0x3F, 0 in standby. GO (0x09 <- 1) starts the mode in bits
//   1:0 of 0x08: RAM playback, continuous drive (an f0 measurement when 0x08
//   bit 2 and 0x18 bit 5 are set), or the brake of mode 3; 0x09 <- 2 brakes.
//   Each returns to standby after its modeled time; a pulse of 0x45 bit 5
//   forces standby at once. A finished f0 measurement leaves 0x25/0x26 =
//   3840000 / lra_f0.
#pragma once

#include "sim/models/chip_model.h"

namespace sim {

class zq350x_model final : public chip_model {
 public:
  static constexpr uint8_t id_marker = 0x00;

  static constexpr uint8_t reg_play_cfg = 0x08;
  static constexpr uint8_t reg_play_ctrl = 0x09;
  static constexpr uint8_t reg_f0_ctrl = 0x18;
  static constexpr uint8_t reg_period_hi = 0x25;
  static constexpr uint8_t reg_period_lo = 0x26;
  static constexpr uint8_t reg_state = 0x3F;
  static constexpr uint8_t reg_sys_ctrl = 0x45;
  static constexpr uint8_t reg_key = 0x5B;
  static constexpr uint8_t reg_repair = 0x5C;
  static constexpr uint8_t reg_qual = 0x61;
  static constexpr uint8_t reg_qual_flag = 0x62;
  static constexpr uint8_t reg_qual_level = 0x63;
  static constexpr uint8_t reg_trim = 0x79;

  static constexpr uint8_t key_open_value = 0xE3;
  static constexpr uint8_t key_close_value = 0x00;
  static constexpr uint64_t repair_settle_ns = 2000000;
  // What 0x63 reads while its trim is lost.
  static constexpr uint8_t level_fault_value = 0x14;

  // Codes of 0x3F outside standby.
  static constexpr uint8_t state_standby = 0x00;
  static constexpr uint8_t state_ram_play = 0x01;
  static constexpr uint8_t state_cont_play = 0x02;
  static constexpr uint8_t state_f0_detect = 0x03;
  static constexpr uint8_t state_brake = 0x04;

  constexpr zq350x_model() : chip_model("zq350x", layout, id_marker) {}

  // Scenario knobs, back to these defaults at every configure(). Read live,
  // so a test may change them after the model is built.
  bool qualified = true;           // 0x61 bit 7
  bool flag_fault = false;         // 0x62 bit 7 set until repaired
  bool level_fault = false;        // 0x63 >= 0x10 until repaired
  bool repairable = true;          // whether the repair window reloads the trim
  bool never_standby = false;      // never returns to standby by itself
  uint32_t brake_us = 3000;        // stop: mode 3 + GO, or 0x09 <- 2
  uint32_t ram_play_us = 30000;    // RAM playback of the boot waveform
  uint32_t f0_measure_us = 60000;  // continuous drive with f0 detection

  bool key_is_open() const { return key_open_; }
  bool repaired() const { return repaired_; }
  // 0x5C accesses seen inside a proper window.
  uint32_t repair_triggers() const { return repair_triggers_; }
  uint8_t state() const { return state_; }
  uint32_t go_count() const { return go_count_; }

 protected:
  // Inline, so the class has no key function: the translation units built
  // with RTTI (host tests) then emit its type information, which checked
  // downcasts from chip_model& need.
  uint8_t on_read(uint8_t r) override { return read_reg(r); }
  void on_write(uint8_t r, uint8_t value) override { write_reg(r, value); }
  void on_configure() override { load_power_on(); }
  void on_reset() override { reset_state(); }

 private:
  uint8_t read_reg(uint8_t r);
  void write_reg(uint8_t r, uint8_t value);
  void load_power_on();
  void reset_state();
  static constexpr sram_layout layout = {0x2D, 0x2E, 0x40, 0x41, 0x42, 0x45, 0x04};

  static bool protected_reg(uint8_t r);
  static bool read_only_reg(uint8_t r);
  void touch_repair();
  void start(uint8_t state, uint32_t us);
  void play_control(uint8_t value);
  void advance();

  bool key_open_ = false;
  bool repair_armed_ = false;
  uint64_t repair_at_ns_ = 0;
  bool repaired_ = false;
  uint32_t repair_triggers_ = 0;
  uint8_t state_ = state_standby;
  uint64_t busy_until_ns_ = 0;
  uint32_t go_count_ = 0;
};

}  // namespace sim
