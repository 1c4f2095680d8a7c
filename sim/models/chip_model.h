// Behavioural chip models: the register file a haptic chip presents on the
// bus, with the SRAM window, scripted answers and the protocol violations
// the model saw. Freestanding (fixed-size state, no heap, no library) so the
// same models also run inside the firmware test image.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace sim {

struct violation {
  uint8_t reg;
  uint8_t value;
  const char* what;  // string literal
};

// Where a family keeps its SRAM window registers and its host-access bit.
struct sram_layout {
  uint8_t base_hi;
  uint8_t base_lo;
  uint8_t ptr_hi;
  uint8_t ptr_lo;
  uint8_t data;
  uint8_t access_reg;
  uint8_t access_mask;
};

class chip_model {
 public:
  static constexpr size_t register_count = 256;
  static constexpr size_t sram_size = 0x2000;
  static constexpr size_t max_violations = 32;
  // Enough for a poll of a few thousand readings written out in a scenario.
  static constexpr size_t max_scripted = 8192;

  // Puts the model in its power-on state as chip id (everything cleared:
  // registers, SRAM, script, violations, clock), then applies a reset.
  void configure(uint32_t id);

  // One bus read of reg: a scripted answer if one is queued for reg, else
  // the stuck value if reg is held at one, else the family's behaviour (the
  // family still sees a read of a stuck register).
  uint8_t read(uint8_t reg);
  void write(uint8_t reg, uint8_t value);
  // A reset pulse on the reset pin: registers back to their power-on values.
  void reset_pulse();
  // The virtual clock, in nanoseconds since the run began.
  void set_time(uint64_t now_ns) { now_ns_ = now_ns; }
  uint64_t now_ns() const { return now_ns_; }

  // Sets a register now and at every later reset (a scenario's override).
  void set_register(uint8_t reg, uint8_t value);
  // Queues an answer for the next read of reg not yet answered by the queue.
  bool script_read(uint8_t reg, uint8_t value);
  // Every later read of reg answers value (once its script is used up).
  void set_stuck(uint8_t reg, uint8_t value) { stuck_[reg] = static_cast<uint16_t>(stuck_flag | value); }
  // Reports id instead of the model's own: one-byte identifiers in 0x00,
  // 16-bit ones in 0x57/0x58 with 0x00 reading the family's marker.
  void set_chip_id(uint32_t id);
  uint32_t chip_id() const { return chip_id_; }

  // The simulated actuator and offset measurement.
  uint32_t lra_f0 = 1700;      // 0.1 Hz
  uint16_t offset_code = 512;  // 10-bit code

  uint8_t reg(uint8_t r) const { return regs_[r]; }
  const uint8_t* sram() const { return sram_; }
  uint16_t ram_base() const { return ram_base_; }
  uint16_t ram_pointer() const { return ram_ptr_; }
  size_t sram_bytes_written() const { return sram_writes_; }
  // Every violation seen; the first max_violations are kept for inspection.
  size_t violation_count() const { return violation_count_; }
  size_t violations_kept() const { return violation_count_ < max_violations ? violation_count_ : max_violations; }
  const violation& violation_at(size_t i) const { return violations_[i < max_violations ? i : max_violations - 1]; }
  // Time at which the last playback trigger was seen, 0 when none.
  uint64_t go_time_ns() const { return go_time_ns_; }
  bool playing() const { return go_time_ns_ != 0; }
  const char* family_name() const { return family_; }

 protected:
  constexpr chip_model(const char* family, sram_layout layout, uint8_t id_marker)
      : family_(family), layout_(layout), id_marker_(id_marker) {}
  ~chip_model() = default;
  chip_model(const chip_model&) = delete;
  chip_model& operator=(const chip_model&) = delete;
  chip_model(chip_model&&) = delete;
  chip_model& operator=(chip_model&&) = delete;

  // The family's behaviour. The defaults act as a plain register file.
  virtual uint8_t on_read(uint8_t r) { return regs_[r]; }
  virtual void on_write(uint8_t r, uint8_t value) { regs_[r] = value; }
  // Sets the family's power-on register values (power_on_), once per configure.
  virtual void on_configure() {}
  // After registers return to their power-on values; clears behaviour state.
  virtual void on_reset() {}

  void add_violation(uint8_t r, uint8_t value, const char* what);
  void mark_go() { go_time_ns_ = now_ns_ != 0 ? now_ns_ : 1; }
  bool host_access_open() const { return (regs_[layout_.access_reg] & layout_.access_mask) != 0; }

  uint8_t regs_[register_count] = {};
  uint8_t power_on_[register_count] = {};

 private:
  void sram_write(uint8_t value);

  const char* family_;
  sram_layout layout_;
  uint8_t id_marker_;
  uint32_t chip_id_ = 0;
  uint64_t now_ns_ = 0;
  uint64_t go_time_ns_ = 0;
  uint8_t sram_[sram_size] = {};
  uint16_t ram_base_ = 0;
  uint16_t ram_ptr_ = 0;
  size_t sram_writes_ = 0;
  violation violations_[max_violations] = {};
  size_t violation_count_ = 0;
  struct scripted {
    uint8_t reg;
    uint8_t value;
  };
  // Queued answers in order; those before script_head_ are all used.
  scripted script_[max_scripted] = {};
  bool script_used_[max_scripted] = {};
  size_t script_head_ = 0;
  size_t script_count_ = 0;
  static constexpr uint16_t stuck_flag = 0x100;
  uint16_t stuck_[register_count] = {};
};

}  // namespace sim
