// Behavioural model of a zq340x chip (zq3401, zq3402).
//
// What it models beyond a plain register file:
// - identification: 0x00 reads the marker of a 16-bit identifier, which the
//   chip reports in 0x57 (high) and 0x58 (low);
// - qualification: bit 7 of 0x64 is set at power-on (clear it with
//   set_register to model an unqualified part);
// - the state register 0x3F (0 = standby): GO in RAM mode starts playback;
//   GO in continuous mode with f0 detection on (0x18 bit 5) runs an f0
//   measurement that ends in standby after f0_measure_us and leaves the
//   period 3840000 / lra_f0 in 0x25/0x26; a stop (play mode 11 then GO, or
//   0x09 <- 0x02) reaches standby after stop_to_standby_us; a pulse on 0x45
//   bit 5 forces standby at once. never_standby keeps the chip from
//   reaching standby by itself;
// - SRAM through 0x2D/0x2E, 0x40/0x41 and 0x42, accepted only while 0x45
//   bit 2 is set;
// - the offset measurement: 0x4D bits 1..0 at 01, then back to 00, leaves
//   offset_code in 0x4F bits 1..0 (high) and 0x50 (low);
// - the key register 0x5A: 0xE3 opens it, any other value closes it; a write
//   to a protected register (0x56, 0x6B, 0x73, 0x76) while it is closed is
//   a violation.
#pragma once

#include <stdint.h>

#include "sim/models/chip_model.h"

namespace sim {

class zq340x_model final : public chip_model {
 public:
  static constexpr uint8_t id_marker = 0x00;
  static constexpr uint32_t default_stop_to_standby_us = 3000;
  static constexpr uint32_t default_f0_measure_us = 30000;

  constexpr zq340x_model() : chip_model("zq340x", layout, id_marker) {}

  // Behaviour knobs; configure() puts them back to their defaults.
  uint32_t stop_to_standby_us = default_stop_to_standby_us;
  uint32_t f0_measure_us = default_f0_measure_us;
  bool never_standby = false;  // the forced-standby pulse still works

  bool key_window_open() const { return key_open_; }
  // The period an f0 measurement leaves for the current lra_f0.
  uint16_t f0_period() const;

 protected:
  // Defined in the class: with no out-of-line virtual function the vtable
  // (and its type info in RTTI builds) is emitted where the model is
  // constructed, not in the model library built without RTTI, so host code
  // that checks dynamic types (UBSan's vptr check) can use the model.
  uint8_t on_read(uint8_t r) override { return read_register(r); }
  void on_write(uint8_t r, uint8_t value) override { write_register(r, value); }
  void on_configure() override { configure_defaults(); }
  void on_reset() override { reset_behaviour(); }

 private:
  static constexpr sram_layout layout = {0x2D, 0x2E, 0x40, 0x41, 0x42, 0x45, 0x04};

  uint8_t read_register(uint8_t r);
  void write_register(uint8_t r, uint8_t value);
  void configure_defaults();
  void reset_behaviour();
  // Brings the state up to the current time (standby reached, results in).
  void advance();
  void go();
  void request_stop();
  void force_standby();
  void schedule_standby(uint32_t after_us);

  bool key_open_ = false;
  bool standby_pending_ = false;
  uint64_t standby_due_ns_ = 0;
  bool measuring_f0_ = false;
  bool offset_running_ = false;
};

}  // namespace sim
