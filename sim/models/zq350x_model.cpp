#include "sim/models/zq350x_model.h"

#include "sim/models/family_facts.h"

namespace sim {

namespace {

// Power-on values: non-zero neighbours around every field the driver changes,
// so a masked update that loses them shows.
struct power_on_value {
  uint8_t reg;
  uint8_t value;
};

constexpr power_on_value power_on_values[] = {
    {0x06, 0x12}, {0x07, 0x40}, {0x08, 0x10}, {0x12, 0x0B}, {0x13, 0xA3}, {0x18, 0x01}, {0x1C, 0x35},
    {0x1D, 0x20}, {0x45, 0x41}, {0x48, 0xC3}, {0x4C, 0x4A}, {0x4E, 0x2B}, {0x61, 0x85}, {0x62, 0x21},
    {0x63, 0x0B}, {0x71, 0x2A}, {0x74, 0x11}, {0x75, 0x1F}, {0x79, 0x15},
};

constexpr uint8_t play_mode_mask = 0x03;
constexpr uint8_t play_mode_ram = 0x00;
constexpr uint8_t play_mode_cont = 0x02;
constexpr uint8_t play_mode_stop = 0x03;
constexpr uint8_t play_cfg_f0_det = 0x04;
constexpr uint8_t f0_ctrl_track = 0x20;
constexpr uint8_t ctrl_go = 0x01;
constexpr uint8_t ctrl_stop = 0x02;
constexpr uint8_t sys_ram_access = 0x04;
constexpr uint8_t sys_force_standby = 0x20;
constexpr uint8_t qual_ok = 0x80;
constexpr uint8_t flag_bad = 0x80;
constexpr uint32_t period_ticks = 3840000;

}  // namespace

void zq350x_model::load_power_on() {
  for (const power_on_value& p : power_on_values) {
    power_on_[p.reg] = p.value;
  }
  qualified = true;
  flag_fault = false;
  level_fault = false;
  repairable = true;
  never_standby = false;
  brake_us = 3000;
  ram_play_us = 30000;
  f0_measure_us = 60000;
}

void zq350x_model::reset_state() {
  key_open_ = false;
  repair_armed_ = false;
  repair_at_ns_ = 0;
  repaired_ = false;
  repair_triggers_ = 0;
  state_ = state_standby;
  busy_until_ns_ = 0;
  go_count_ = 0;
}

bool zq350x_model::protected_reg(uint8_t r) {
  return r == 0x48 || r == reg_repair || r == 0x70 || r == 0x71 || r == 0x74 || r == 0x75 || r == reg_trim;
}

bool zq350x_model::read_only_reg(uint8_t r) {
  return r == reg_state || r == reg_period_hi || r == reg_period_lo || r == 0x57 || r == 0x58 || r == reg_qual ||
         r == reg_qual_flag || r == reg_qual_level;
}

uint8_t zq350x_model::read_reg(uint8_t r) {
  switch (r) {
    case reg_state:
      advance();
      return state_;
    case reg_period_hi:
    case reg_period_lo:
      advance();
      return regs_[r];
    case reg_qual:
      return qualified ? static_cast<uint8_t>(regs_[r] | qual_ok) : static_cast<uint8_t>(regs_[r] & ~qual_ok);
    case reg_qual_flag:
      return flag_fault && !repaired_ ? static_cast<uint8_t>(regs_[r] | flag_bad) : regs_[r];
    case reg_qual_level:
      return level_fault && !repaired_ ? level_fault_value : regs_[r];
    case reg_repair:
      touch_repair();
      return regs_[r];
    default:
      return regs_[r];
  }
}

void zq350x_model::write_reg(uint8_t r, uint8_t value) {
  if (read_only_reg(r)) {
    add_violation(r, value, "read-only register written");
    return;
  }
  if (protected_reg(r) && !key_open_) {
    add_violation(r, value, "protected register written outside its key window");
    return;
  }
  switch (r) {
    case reg_key:
      regs_[r] = value;
      if (value == key_open_value) {
        key_open_ = true;
        return;
      }
      if (value != key_close_value) {
        add_violation(r, value, "unknown key value");
      }
      key_open_ = false;
      if (repair_armed_ && repairable && now_ns() - repair_at_ns_ >= repair_settle_ns) {
        repaired_ = true;
      }
      repair_armed_ = false;
      return;
    case reg_repair:
      regs_[r] = value;
      touch_repair();
      return;
    case reg_play_ctrl:
      regs_[r] = value;
      play_control(value);
      return;
    case reg_sys_ctrl:
      regs_[r] = value;
      if ((value & sys_force_standby) != 0) {
        state_ = state_standby;
        busy_until_ns_ = 0;
      }
      return;
    default:
      regs_[r] = value;
      return;
  }
}

void zq350x_model::touch_repair() {
  if (key_open_ && (regs_[reg_sys_ctrl] & sys_ram_access) != 0) {
    repair_armed_ = true;
    repair_at_ns_ = now_ns();
    ++repair_triggers_;
  }
}

void zq350x_model::start(uint8_t state, uint32_t us) {
  state_ = state;
  busy_until_ns_ = us == 0 ? UINT64_MAX : now_ns() + static_cast<uint64_t>(us) * 1000;
}

void zq350x_model::play_control(uint8_t value) {
  advance();
  if (value == ctrl_stop) {
    start(state_brake, brake_us);
    return;
  }
  if (value != ctrl_go) {
    add_violation(reg_play_ctrl, value, "unknown play control value");
    return;
  }
  if (host_access_open()) {
    add_violation(reg_play_ctrl, value, "GO while host SRAM access is open");
  }
  const uint8_t cfg = regs_[reg_play_cfg];
  switch (cfg & play_mode_mask) {
    case play_mode_ram:
      mark_go();
      ++go_count_;
      start(state_ram_play, ram_play_us);
      return;
    case play_mode_cont:
      mark_go();
      ++go_count_;
      if ((cfg & play_cfg_f0_det) != 0 && (regs_[reg_f0_ctrl] & f0_ctrl_track) != 0) {
        start(state_f0_detect, f0_measure_us);
      } else {
        start(state_cont_play, 0);  // drives until stopped
      }
      return;
    case play_mode_stop:
      start(state_brake, brake_us);
      return;
    default:
      add_violation(reg_play_ctrl, value, "GO in an undefined play mode");
      return;
  }
}

void zq350x_model::advance() {
  if (state_ == state_standby || never_standby || now_ns() < busy_until_ns_) {
    return;
  }
  if (state_ == state_f0_detect) {
    uint32_t period = lra_f0 != 0 ? period_ticks / lra_f0 : 0;
    if (period > 0xFFFF) {
      period = 0xFFFF;
    }
    regs_[reg_period_hi] = static_cast<uint8_t>(period >> 8);
    regs_[reg_period_lo] = static_cast<uint8_t>(period);
  }
  state_ = state_standby;
}

namespace {

// clang-format off: one register a line keeps the table scannable.
constexpr reg_field_bits zq350x_bring_up_fields[] = {{0x06, 0x80}, {0x08, 0x03}, {0x12, 0xF0}, {0x1C, 0x0F},
                                                     {0x45, 0x04}, {0x48, 0x80}, {0x4C, 0x40}, {0x4E, 0x07},
                                                     {0x71, 0x80}, {0x74, 0x80}, {0x75, 0x10}};

constexpr reg_name zq350x_reg_names[] = {
    {0x06, "boost"},
    {0x07, "gain"},
    {0x08, "play mode"},
    {0x09, "play control"},
    {0x18, "f0 measure 0x18"},
    {0x1A, "f0 measure 0x1A"},
    {0x1C, "cont reg 0x1C"},
    {0x1D, "f0 measure 0x1D"},
    {0x1E, "f0 measure 0x1E"},
    {0x1F, "f0 measure 0x1F"},
    {0x20, "f0 measure 0x20"},
    {0x21, "cont reg 0x21"},
    {0x22, "f0 measure 0x22"},
    {0x25, "f0 measure 0x25"},
    {0x26, "f0 measure 0x26"},
    {0x2D, "SRAM base high"},
    {0x2E, "SRAM base low"},
    {0x3F, "chip state"},
    {0x40, "RAM pointer high"},
    {0x41, "RAM pointer low"},
    {0x42, "RAM data"},
    {0x45, "SRAM access/standby"},
    {0x48, "fixed 0x48"},
    {0x4C, "continuous mode"},
    {0x4E, "d2s gain"},
    {0x5B, "key"},
    {0x5C, "repair 0x5C"},
    {0x61, "qualify 0x61"},
    {0x62, "qualify 0x62"},
    {0x63, "qualify 0x63"},
    {0x70, "fixed 0x70"},
    {0x71, "fixed 0x71"},
    {0x74, "fixed 0x74"},
    {0x75, "fixed 0x75"},
    {0x79, "trim LRA"},
};
// clang-format on

}  // namespace

constexpr family_facts zq350x_facts = {
    .qualification = {0x61, 0x80},
    .state_reg = 0x3F,
    .state_mask = 0xFF,
    .go_reg = 0x09,
    .stop_mode_reg = 0x08,
    .gain_reg = 0x07,
    .ram_mode = {0x08, 0x03},
    .period_lo = 0x26,
    .offset = {0x00, 0x00, 0, ""},
    .bring_up_fields = zq350x_bring_up_fields,
    .make_slowest =
        [](chip_model& m) {
          auto& z = static_cast<zq350x_model&>(m);
          z.never_standby = true;
          z.flag_fault = true;  // qualification goes through the repair window, which mends it
          z.offset_code = 0;
        },
    .seq_base = 0x0A,
    .loop_base = 0x12,
    .reg_names = zq350x_reg_names,
};

}  // namespace sim
