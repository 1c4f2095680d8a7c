#include "sim/models/zq320x_model.h"

#include "sim/models/family_facts.h"

namespace sim {

namespace {

constexpr uint8_t play_mode_mask = 0x03;
constexpr uint8_t play_mode_ram = 0x00;
constexpr uint8_t play_mode_cont = 0x02;
constexpr uint8_t play_mode_stop = 0x03;
constexpr uint8_t play_cfg_f0_detect = 0x04;
constexpr uint8_t f0_ctrl_track_en = 0x08;
constexpr uint8_t cmd_go = 0x01;
constexpr uint8_t cmd_halt = 0x02;
constexpr uint8_t sys_ctrl_ram_access = 0x08;
constexpr uint8_t standby_force = 0x40;
constexpr uint8_t offset_cal_start = 0x01;
constexpr uint8_t offset_lo_field = 0x0C;
constexpr uint8_t qualify_ok = 0x80;
// Bits of 0x57 outside the offset field hold other chip data; a non-zero
// pattern makes a driver that does not mask the field read a wrong code.
constexpr uint8_t offset_lo_other_bits = 0xF3;
constexpr uint32_t f0_period_dividend = 3840000;

}  // namespace

void zq320x_model::set_power_on() {
  knobs = zq320x_knobs{};
  power_on_[reg_qualify] = qualify_ok;
  power_on_[reg_offset_lo] = offset_lo_other_bits;
  power_on_[reg_state] = state_standby;
}

void zq320x_model::clear_behaviour() {
  pending_ = pending::none;
  due_ns_ = 0;
  cal_running_ = false;
  cal_due_ns_ = 0;
}

void zq320x_model::set_state(uint8_t s) {
  regs_[reg_state] = static_cast<uint8_t>((regs_[reg_state] & 0xF0) | (s & 0x0F));
}

void zq320x_model::schedule(pending what, uint32_t after_us) {
  pending_ = what;
  due_ns_ = now_ns() + static_cast<uint64_t>(after_us) * 1000;
}

void zq320x_model::advance() {
  if (cal_running_ && now_ns() >= cal_due_ns_) {
    cal_running_ = false;
    regs_[reg_offset_cal] = static_cast<uint8_t>(regs_[reg_offset_cal] & ~offset_cal_start);
    const uint16_t code = static_cast<uint16_t>(offset_code & 0x3FF);
    regs_[reg_offset_hi] = static_cast<uint8_t>(code >> 2);
    regs_[reg_offset_lo] = static_cast<uint8_t>((regs_[reg_offset_lo] & ~offset_lo_field) | ((code & 0x3) << 2));
  }
  if (pending_ == pending::none || knobs.never_standby || now_ns() < due_ns_) {
    return;
  }
  if (pending_ == pending::f0) {
    const uint32_t period = lra_f0 == 0 ? 0 : f0_period_dividend / lra_f0;
    const uint16_t reported = period > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(period);
    regs_[reg_f0_period_hi] = static_cast<uint8_t>(reported >> 8);
    regs_[reg_f0_period_lo] = static_cast<uint8_t>(reported);
  }
  pending_ = pending::none;
  set_state(state_standby);
}

void zq320x_model::start_go() {
  const auto mode = static_cast<uint8_t>(regs_[reg_play_cfg] & play_mode_mask);
  if (mode == play_mode_stop) {
    set_state(state_stopping);
    schedule(pending::stop, knobs.stop_time_us);
    return;
  }
  if (mode == play_mode_ram) {
    if ((regs_[reg_sys_ctrl] & sys_ctrl_ram_access) != 0) {
      add_violation(reg_play_cmd, cmd_go, "RAM playback started while host SRAM access is open");
    }
    mark_go();
    set_state(state_ram_play);
    pending_ = pending::none;
    return;
  }
  if (mode == play_mode_cont) {
    set_state(state_cont_play);
    const bool f0_detect =
        (regs_[reg_f0_ctrl] & f0_ctrl_track_en) != 0 && (regs_[reg_play_cfg] & play_cfg_f0_detect) != 0;
    if (f0_detect) {
      schedule(pending::f0, knobs.f0_detect_time_us);
    } else {
      pending_ = pending::none;  // plays until stopped
    }
    return;
  }
  add_violation(reg_play_cmd, cmd_go, "GO in a reserved play mode");
}

uint8_t zq320x_model::read_register(uint8_t r) {
  advance();
  return regs_[r];
}

void zq320x_model::write_register(uint8_t r, uint8_t value) {
  advance();
  switch (r) {
    case reg_state:
    case reg_f0_period_hi:
    case reg_f0_period_lo:
    case reg_offset_hi:
      return;  // read-only
    case reg_offset_lo:
      // Only the bits outside the offset field are writable.
      regs_[r] = static_cast<uint8_t>((regs_[r] & offset_lo_field) | (value & ~offset_lo_field));
      return;
    case reg_play_cmd:
      regs_[r] = value;
      if (value == cmd_go) {
        start_go();
      } else if (value == cmd_halt) {
        if (state() != state_standby) {
          set_state(state_stopping);
          schedule(pending::stop, knobs.stop_time_us);
        }
      }
      return;
    case reg_standby_ctrl:
      regs_[r] = value;
      if ((value & standby_force) != 0) {
        pending_ = pending::none;
        set_state(state_standby);
      }
      return;
    case reg_offset_cal:
      regs_[r] = value;
      if ((value & offset_cal_start) != 0 && !cal_running_) {
        if ((regs_[reg_sys_ctrl] & sys_ctrl_ram_access) == 0) {
          add_violation(r, value, "offset calibration started without 0x43 bit 3");
        }
        cal_running_ = true;
        cal_due_ns_ = now_ns() + static_cast<uint64_t>(knobs.offset_cal_time_us) * 1000;
      }
      return;
    default:
      regs_[r] = value;
      return;
  }
}

zq320x_knobs* zq320x_knobs_of(chip_model& m) {
  const char* want = "zq320x";
  const char* name = m.family_name();
  while (*want != '\0' && *want == *name) {
    ++want;
    ++name;
  }
  if (*want != '\0' || *name != '\0') {
    return nullptr;
  }
  return &static_cast<zq320x_model&>(m).knobs;
}

namespace {

// clang-format off: one register a line keeps the table scannable.
constexpr reg_field_bits zq320x_bring_up_fields[] = {{0x06, 0x40}, {0x08, 0x03}, {0x12, 0xF0}, {0x1C, 0x0F},
                                                     {0x43, 0x88}, {0x49, 0x07}, {0x52, 0x01}, {0x71, 0x00}};

constexpr reg_name zq320x_reg_names[] = {
    {0x06, "boost"},
    {0x07, "gain"},
    {0x08, "play mode"},
    {0x09, "play command"},
    {0x18, "f0 detect control"},
    {0x1A, "cont param 0x1A"},
    {0x1C, "init 0x1C"},
    {0x1D, "cont param 0x1D"},
    {0x1E, "cont param 0x1E"},
    {0x1F, "cont param 0x1F"},
    {0x20, "cont param 0x20"},
    {0x21, "init 0x21"},
    {0x22, "cont param 0x22"},
    {0x25, "f0 period high"},
    {0x26, "f0 period low"},
    {0x2D, "SRAM base high"},
    {0x2E, "SRAM base low"},
    {0x3C, "continuous 0x3C"},
    {0x3F, "chip state"},
    {0x40, "RAM pointer high"},
    {0x41, "RAM pointer low"},
    {0x42, "RAM data"},
    {0x43, "SRAM access, mode"},
    {0x44, "force standby"},
    {0x49, "d2s gain"},
    {0x52, "offset cal start"},
    {0x54, "offset result 0x54"},
    {0x57, "offset res./ID high"},
    {0x5A, "trim LRA"},
    {0x64, "qualification"},
    {0x6D, "init 0x6D"},
    {0x6E, "init 0x6E"},
    {0x6F, "init 0x6F"},
    {0x70, "init 0x70"},
    {0x71, "init 0x71"},
};
// clang-format on

}  // namespace

constexpr family_facts zq320x_facts = {
    .qualification = {0x64, 0x80},
    .state_reg = 0x3F,
    .state_mask = 0x0F,
    .standby_also = {.stop = 0x0A, .f0 = 0},
    .go_reg = 0x09,
    .stop_mode_reg = 0x08,
    .gain_reg = 0x07,
    .ram_mode = {0x08, 0x03},
    .period_lo = 0x26,
    .offset = {0x52, 0x57, 1, "Murvane: offset calibration out of range\n"},
    .bring_up_fields = zq320x_bring_up_fields,
    .make_slowest =
        [](chip_model& m) {
          zq320x_knobs_of(m)->never_standby = true;
          m.offset_code = 0;
        },
    .seq_base = 0x0A,
    .loop_base = 0x12,
    .reg_names = zq320x_reg_names,
};

}  // namespace sim
