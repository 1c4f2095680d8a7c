#include "sim/models/zq340x_model.h"

#include "sim/models/family_facts.h"

namespace sim {

namespace {

// The registers the model gives behaviour to. Spelled out here rather than
// taken from the driver, so that tests check one against the other.
constexpr uint8_t reg_play_mode = 0x08;
constexpr uint8_t play_mode_mask = 0x03;
constexpr uint8_t play_mode_ram = 0x00;
constexpr uint8_t play_mode_cont = 0x02;
constexpr uint8_t play_mode_stop = 0x03;
constexpr uint8_t reg_play_ctrl = 0x09;
constexpr uint8_t play_ctrl_go = 0x01;
constexpr uint8_t play_ctrl_halt = 0x02;
constexpr uint8_t reg_detect_ctrl = 0x18;
constexpr uint8_t detect_f0_en = 0x20;
constexpr uint8_t reg_period_hi = 0x25;
constexpr uint8_t reg_period_lo = 0x26;
constexpr uint8_t reg_state = 0x3F;
constexpr uint8_t reg_ram_ctrl = 0x45;
constexpr uint8_t ram_ctrl_standby_req = 0x20;
constexpr uint8_t reg_offset_ctrl = 0x4D;
constexpr uint8_t offset_ctrl_mask = 0x03;
constexpr uint8_t offset_ctrl_run = 0x01;
constexpr uint8_t reg_offset_hi = 0x4F;
constexpr uint8_t offset_hi_mask = 0x03;
constexpr uint8_t reg_offset_lo = 0x50;
constexpr uint8_t reg_key = 0x5A;
constexpr uint8_t key_open_value = 0xE3;
constexpr uint8_t reg_qualify = 0x64;
constexpr uint8_t qualify_ok = 0x80;

constexpr uint8_t protected_regs[] = {0x56, 0x6B, 0x73, 0x76};

// Values of the state register; only "0 = standby" is visible to a driver.
constexpr uint8_t state_standby = 0x00;
constexpr uint8_t state_ram_play = 0x01;
constexpr uint8_t state_cont_play = 0x02;
constexpr uint8_t state_braking = 0x03;

constexpr uint32_t period_numerator = 3840000;

bool is_protected(uint8_t r) {
  for (const uint8_t p : protected_regs) {
    if (p == r) {
      return true;
    }
  }
  return false;
}

}  // namespace

uint16_t zq340x_model::f0_period() const {
  if (lra_f0 == 0) {
    return 0;  // no resonance found
  }
  const uint32_t period = period_numerator / lra_f0;
  return static_cast<uint16_t>(period > 0xFFFF ? 0xFFFF : period);
}

void zq340x_model::configure_defaults() {
  power_on_[reg_qualify] = qualify_ok;
  stop_to_standby_us = default_stop_to_standby_us;
  f0_measure_us = default_f0_measure_us;
  never_standby = false;
}

void zq340x_model::reset_behaviour() {
  key_open_ = false;
  standby_pending_ = false;
  standby_due_ns_ = 0;
  measuring_f0_ = false;
  offset_running_ = false;
}

void zq340x_model::schedule_standby(uint32_t after_us) {
  standby_pending_ = true;
  standby_due_ns_ = now_ns() + static_cast<uint64_t>(after_us) * 1000;
}

void zq340x_model::advance() {
  if (!standby_pending_ || never_standby || now_ns() < standby_due_ns_) {
    return;
  }
  if (measuring_f0_) {
    const uint16_t period = f0_period();
    regs_[reg_period_hi] = static_cast<uint8_t>(period >> 8);
    regs_[reg_period_lo] = static_cast<uint8_t>(period);
    measuring_f0_ = false;
  }
  regs_[reg_state] = state_standby;
  standby_pending_ = false;
}

void zq340x_model::request_stop() {
  regs_[reg_state] = state_braking;
  measuring_f0_ = false;  // a stopped measurement leaves no result
  schedule_standby(stop_to_standby_us);
}

void zq340x_model::force_standby() {
  regs_[reg_state] = state_standby;
  measuring_f0_ = false;
  standby_pending_ = false;
}

void zq340x_model::go() {
  switch (regs_[reg_play_mode] & play_mode_mask) {
    case play_mode_ram:
      regs_[reg_state] = state_ram_play;
      measuring_f0_ = false;
      standby_pending_ = false;
      mark_go();
      break;
    case play_mode_cont:
      regs_[reg_state] = state_cont_play;
      standby_pending_ = false;
      measuring_f0_ = (regs_[reg_detect_ctrl] & detect_f0_en) != 0;
      if (measuring_f0_) {
        schedule_standby(f0_measure_us);
      }
      break;
    case play_mode_stop:
      request_stop();
      break;
    default:
      break;  // mode 01 plays nothing
  }
}

uint8_t zq340x_model::read_register(uint8_t r) {
  advance();
  return regs_[r];
}

void zq340x_model::write_register(uint8_t r, uint8_t value) {
  advance();
  if (is_protected(r) && !key_open_) {
    add_violation(r, value, "protected register written outside the key window");
  }
  switch (r) {
    case reg_state:
    case reg_period_hi:
    case reg_period_lo:
    case reg_offset_hi:
    case reg_offset_lo:
      return;  // status and results: read-only
    case reg_key:
      regs_[r] = value;
      key_open_ = value == key_open_value;
      return;
    case reg_play_ctrl:
      regs_[r] = value;
      if (value == play_ctrl_go) {
        go();
      } else if (value == play_ctrl_halt) {
        request_stop();
      }
      return;
    case reg_ram_ctrl:
      regs_[r] = value;
      if ((value & ram_ctrl_standby_req) != 0) {
        force_standby();
      }
      return;
    case reg_offset_ctrl: {
      const bool was_running = (regs_[r] & offset_ctrl_mask) == offset_ctrl_run;
      regs_[r] = value;
      const uint8_t run = value & offset_ctrl_mask;
      if (run == offset_ctrl_run) {
        offset_running_ = true;
      } else if (was_running && offset_running_ && run == 0) {
        const auto code = static_cast<uint16_t>(offset_code & 0x3FF);
        regs_[reg_offset_hi] = static_cast<uint8_t>((regs_[reg_offset_hi] & ~offset_hi_mask) | (code >> 8));
        regs_[reg_offset_lo] = static_cast<uint8_t>(code);
        offset_running_ = false;
      }
      return;
    }
    default:
      regs_[r] = value;
      return;
  }
}

namespace {

// clang-format off: one register a line keeps the table scannable.
constexpr reg_field_bits zq340x_bring_up_fields[] = {{0x06, 0x03}, {0x08, 0x03}, {0x12, 0xF0}, {0x18, 0x80},
                                                     {0x1C, 0x0F}, {0x45, 0x04}, {0x4C, 0x40}, {0x4D, 0x03},
                                                     {0x4E, 0x7F}, {0x56, 0x03}, {0x6B, 0x20}};

constexpr reg_name zq340x_reg_names[] = {
    {0x06, "boost"},
    {0x07, "gain"},
    {0x08, "play mode"},
    {0x09, "play control"},
    {0x18, "f0 detect/cal skip"},
    {0x1A, "f0 detect value"},
    {0x1C, "cont reg 0x1C"},
    {0x1D, "f0 detect 0x1D"},
    {0x1E, "f0 param 0x1E"},
    {0x1F, "f0 param 0x1F"},
    {0x20, "f0 param 0x20"},
    {0x21, "cont reg 0x21"},
    {0x22, "f0 param 0x22"},
    {0x25, "f0 period high"},
    {0x26, "f0 period low"},
    {0x2D, "SRAM base high"},
    {0x2E, "SRAM base low"},
    {0x3F, "chip state"},
    {0x40, "RAM pointer high"},
    {0x41, "RAM pointer low"},
    {0x42, "RAM data"},
    {0x45, "SRAM access/standby"},
    {0x4C, "continuous mode"},
    {0x4D, "offset measure"},
    {0x4E, "offset d2s gain"},
    {0x4F, "offset result high"},
    {0x50, "offset result low"},
    {0x56, "init 0x56"},
    {0x59, "trim LRA"},
    {0x5A, "key"},
    {0x64, "qualification"},
    {0x6B, "init 0x6B"},
    {0x73, "init 0x73"},
    {0x76, "init 0x76"},
};
// clang-format on

}  // namespace

constexpr family_facts zq340x_facts = {
    .qualification = {0x64, 0x80},
    .state_reg = 0x3F,
    .state_mask = 0xFF,
    .go_reg = 0x09,
    .stop_mode_reg = 0x08,
    .gain_reg = 0x07,
    .ram_mode = {0x08, 0x03},
    .period_lo = 0x26,
    .offset = {0x4D, 0x50, 1, "offset calibration out of range\n"},
    .bring_up_fields = zq340x_bring_up_fields,
    .make_slowest =
        [](chip_model& m) {
          static_cast<zq340x_model&>(m).never_standby = true;
          m.offset_code = 0;
        },
    .seq_base = 0x0A,
    .loop_base = 0x12,
    .reg_names = zq340x_reg_names,
};

}  // namespace sim
