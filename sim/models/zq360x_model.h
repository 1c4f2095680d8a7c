// Behavioural model of a zq360x chip (zq3601, zq3602, zq3603).
//
// What it models:
// - identifier: 16 bits in 0x57/0x58, with 0x00 reading id_marker; 0x00,
//   0x57, 0x58 are read-only (0x00 <- 0xAA is a soft reset);
// - qualification: bit 7 of 0x67, set at power-on (a scenario clears it
//   with set_register);
// - key window: 0x56, 0x6F, 0x70, 0x72, 0x77 and 0x7D take writes only
//   while 0x5E holds 0xE3; a write outside is ignored and recorded;
// - SRAM behind 0x2D/0x2E (base), 0x40/0x41 (pointer) and 0x42 (data),
//   host access while bit 2 of 0x45 is set;
// - state in 0x3F (0 = standby): busy for run_ns after a GO, until stop_ns
//   after a stop request (or sooner when the run ends first), never again
//   on its own when never_standby is set; a pulse of bit 5 of 0x45 forces
//   standby at once;
// - offset measurement: bits 1:0 of 0x4D held at 1 for at least
//   offset_min_ns with bit 2 of 0x45 set and 0x4E bits 6:3 = 0100 latch
//   offset_code into 0x4F (bits 1:0) and 0x50;
// - f0 measurement: a GO in continuous mode (0x08 bits 1:0 = 2) with bit 5
//   of 0x18 set leaves 3840000 / lra_f0 in 0x25/0x26 when the run ends by
//   itself.
#pragma once

#include "sim/models/chip_model.h"

namespace sim {

class zq360x_model final : public chip_model {
 public:
  static constexpr uint8_t id_marker = 0x83;
  static constexpr uint64_t default_run_ns = 30'000'000;
  static constexpr uint64_t default_stop_ns = 1'000'000;
  static constexpr uint64_t offset_min_ns = 2'000'000;
  // What 0x3F reads while the chip is busy.
  static constexpr uint8_t state_busy = 0x01;

  constexpr zq360x_model() : chip_model("zq360x", layout, id_marker) {}

  // Back to their defaults at every configure.
  uint64_t run_ns = default_run_ns;
  uint64_t stop_ns = default_stop_ns;
  bool never_standby = false;

  bool key_open() const { return key_open_; }
  bool busy() const { return busy_; }
  // Offset measurements and f0 measurements completed since configure.
  uint32_t offset_measurements() const { return offset_measurements_; }
  uint32_t f0_measurements() const { return f0_measurements_; }

 protected:
  // Inline on purpose: with no out-of-line virtual the vtable and its type
  // information are emitted where the model is built and checked (host
  // code with RTTI), not in this freestanding, RTTI-less model library.
  uint8_t on_read(uint8_t r) override { return read_register(r); }
  void on_write(uint8_t r, uint8_t value) override { write_register(r, value); }
  void on_configure() override { set_power_on_values(); }
  void on_reset() override { reset_behaviour(); }

 private:
  uint8_t read_register(uint8_t r);
  void write_register(uint8_t r, uint8_t value);
  void set_power_on_values();
  void reset_behaviour();
  static constexpr sram_layout layout = {0x2D, 0x2E, 0x40, 0x41, 0x42, 0x45, 0x04};

  void advance();
  void start_run(uint64_t duration_ns);
  void enter_standby(bool run_completed);
  void play_control(uint8_t value);
  void offset_trigger(uint8_t value);

  bool key_open_ = false;
  bool busy_ = false;
  bool measuring_f0_ = false;
  uint64_t busy_until_ns_ = 0;
  bool offset_running_ = false;
  uint64_t offset_start_ns_ = 0;
  uint32_t offset_measurements_ = 0;
  uint32_t f0_measurements_ = 0;
};

}  // namespace sim
