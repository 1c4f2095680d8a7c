// Behavioural model of a zq310x chip (zq3101, zq3102).
//
// What it models beyond the plain register file:
// - SRAM behind 0x21/0x22 (base), 0x40/0x41 (pointer) and 0x42 (data), open
//   only while 0x04 bit 5 is set (the base class);
// - GO (0x05 bit 0): RAM playback of the sequencer (0x07.., loops in 0x0F..)
//   for as long as the waveforms in SRAM last, continuous drive until GO is
//   cleared, or, with 0x48 bits 3..2 = 01 in continuous mode, an f0
//   detection that leaves the actuator's period in 0x68/0x69; 0x46 reads
//   non-zero while any of them runs;
// - the offset calibration: 0x5F bit 0 written 1 reads busy for a number of
//   readings, then clears;
// - 0x02 clears on read.
#pragma once

#include <stdint.h>

#include "sim/models/chip_model.h"

namespace sim {

class zq310x_model final : public chip_model {
 public:
  constexpr zq310x_model() : chip_model("zq310x", layout, 0x00) {}

  // Knobs a scenario may turn (they survive reset pulses, configure()
  // restores the defaults).
  static constexpr uint32_t default_offset_busy_reads = 3;
  static constexpr uint64_t default_sample_ns = 41667;  // 24 kHz playback
  static constexpr uint64_t default_stop_ns = 3000000;
  static constexpr uint64_t default_f0_detect_ns = 30000000;

  // Readings of 0x5F that still show busy after a calibration start.
  uint32_t offset_busy_reads = default_offset_busy_reads;
  // The offset calibration never finishes.
  bool offset_never_done = false;
  // 0x46 never reads idle (this family's standby state), whatever runs.
  bool never_standby = false;
  // Time one SRAM sample plays for.
  uint64_t sample_ns = default_sample_ns;
  // Time playback takes to wind down after GO is cleared.
  uint64_t stop_ns = default_stop_ns;
  // Duration of an f0 detection.
  uint64_t f0_detect_ns = default_f0_detect_ns;

  // Chip states 0x46 reports.
  static constexpr uint8_t state_idle = 0x00;
  static constexpr uint8_t state_ram_play = 0x01;
  static constexpr uint8_t state_cont_play = 0x06;
  static constexpr uint8_t state_f0_detect = 0x09;
  static constexpr uint8_t state_brake = 0x08;  // winding down after GO was cleared

  // What runs now, as 0x46 would report it.
  uint8_t state() const;
  // Detections that ran to their end since the last configure.
  uint32_t f0_detections() const { return f0_detections_; }
  // Offset calibrations started since the last configure.
  uint32_t offset_calibrations() const { return offset_calibrations_; }
  // The period an f0 detection reports for the simulated actuator:
  // 1000000000 / (lra_f0 x 260), 0 when the actuator does not resonate.
  uint16_t f0_period() const;
  // Length of the RAM playback GO would start now, from the sequencer and
  // the waveform table in SRAM.
  uint64_t ram_effect_ns() const;

 protected:
  // Defined here, so that the class has no key function: its vtable and
  // type information then come with every user (the host tests are built
  // with RTTI, the models without).
  uint8_t on_read(uint8_t r) override { return read_register(r); }
  void on_write(uint8_t r, uint8_t value) override { write_register(r, value); }
  void on_configure() override { configure_model(); }
  void on_reset() override { reset_model(); }

 private:
  enum class activity : uint8_t { idle, ram_play, cont_play, f0_detect, brake };

  uint8_t read_register(uint8_t r);
  void write_register(uint8_t r, uint8_t value);
  void configure_model();
  void reset_model();
  void start_go();
  void clear_go();
  // Ends what has run its time (and stores an f0 result).
  void settle();

  static constexpr sram_layout layout = {0x21, 0x22, 0x40, 0x41, 0x42, 0x04, 0x20};

  activity activity_ = activity::idle;
  uint64_t busy_until_ns_ = 0;  // end of everything but cont_play
  bool offset_busy_ = false;
  uint32_t offset_reads_left_ = 0;
  uint32_t f0_detections_ = 0;
  uint32_t offset_calibrations_ = 0;
};

}  // namespace sim
