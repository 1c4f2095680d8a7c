#include "sim/models/chip_model.h"

namespace sim {

void chip_model::configure(uint32_t id) {
  for (size_t i = 0; i < register_count; ++i) {
    regs_[i] = 0;
    power_on_[i] = 0;
  }
  for (uint8_t& b : sram_) {
    b = 0;
  }
  now_ns_ = 0;
  go_time_ns_ = 0;
  ram_base_ = 0;
  ram_ptr_ = 0;
  sram_writes_ = 0;
  violation_count_ = 0;
  script_count_ = 0;
  script_head_ = 0;
  for (uint16_t& s : stuck_) {
    s = 0;
  }
  lra_f0 = 1700;
  offset_code = 512;
  on_configure();
  set_chip_id(id);
  reset_pulse();
}

uint8_t chip_model::read(uint8_t r) {
  for (size_t i = script_head_; i < script_count_; ++i) {
    if (!script_used_[i] && script_[i].reg == r) {
      script_used_[i] = true;
      while (script_head_ < script_count_ && script_used_[script_head_]) {
        ++script_head_;
      }
      return script_[i].value;
    }
  }
  const uint8_t v = on_read(r);
  return (stuck_[r] & stuck_flag) != 0 ? static_cast<uint8_t>(stuck_[r]) : v;
}

void chip_model::write(uint8_t r, uint8_t value) {
  const bool window = r == layout_.base_hi || r == layout_.base_lo || r == layout_.ptr_hi || r == layout_.ptr_lo;
  if (r == layout_.data) {
    sram_write(value);
    return;
  }
  if (window && !host_access_open()) {
    add_violation(r, value, "SRAM address written while host access is closed");
  }
  on_write(r, value);
  if (r == layout_.base_hi || r == layout_.base_lo) {
    ram_base_ = static_cast<uint16_t>((regs_[layout_.base_hi] << 8) | regs_[layout_.base_lo]);
  }
  if (r == layout_.ptr_hi || r == layout_.ptr_lo) {
    ram_ptr_ = static_cast<uint16_t>((regs_[layout_.ptr_hi] << 8) | regs_[layout_.ptr_lo]);
  }
}

void chip_model::sram_write(uint8_t value) {
  if (!host_access_open()) {
    add_violation(layout_.data, value, "SRAM data written while host access is closed");
    return;
  }
  sram_[ram_ptr_ % sram_size] = value;
  ram_ptr_ = static_cast<uint16_t>((ram_ptr_ + 1) % sram_size);
  regs_[layout_.ptr_hi] = static_cast<uint8_t>(ram_ptr_ >> 8);
  regs_[layout_.ptr_lo] = static_cast<uint8_t>(ram_ptr_);
  ++sram_writes_;
}

void chip_model::reset_pulse() {
  for (size_t i = 0; i < register_count; ++i) {
    regs_[i] = power_on_[i];
  }
  go_time_ns_ = 0;
  on_reset();
}

void chip_model::set_register(uint8_t r, uint8_t value) {
  regs_[r] = value;
  power_on_[r] = value;
}

bool chip_model::script_read(uint8_t r, uint8_t value) {
  if (script_count_ >= max_scripted) {
    return false;
  }
  script_used_[script_count_] = false;
  script_[script_count_++] = {r, value};
  return true;
}

void chip_model::set_chip_id(uint32_t id) {
  chip_id_ = id;
  if (id <= 0xFF) {
    set_register(0x00, static_cast<uint8_t>(id));
    return;
  }
  set_register(0x00, id_marker_);
  set_register(0x57, static_cast<uint8_t>(id >> 8));
  set_register(0x58, static_cast<uint8_t>(id));
}

void chip_model::add_violation(uint8_t r, uint8_t value, const char* what) {
  if (violation_count_ < max_violations) {
    violations_[violation_count_] = {r, value, what};
  }
  ++violation_count_;
}

}  // namespace sim
