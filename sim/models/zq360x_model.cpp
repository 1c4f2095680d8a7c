#include "sim/models/zq360x_model.h"

#include "sim/models/family_facts.h"

namespace sim {

namespace {

constexpr uint8_t reg_id = 0x00;
constexpr uint8_t reg_id_hi = 0x57;
constexpr uint8_t reg_id_lo = 0x58;
constexpr uint8_t soft_reset_value = 0xAA;

constexpr uint8_t reg_play_cfg = 0x08;
constexpr uint8_t play_mode_mask = 0x03;
constexpr uint8_t play_mode_cont = 0x02;
constexpr uint8_t play_mode_stop = 0x03;
constexpr uint8_t reg_play_ctrl = 0x09;
constexpr uint8_t play_ctrl_go = 0x01;
constexpr uint8_t play_ctrl_stop = 0x02;

constexpr uint8_t reg_sysctrl = 0x18;
constexpr uint8_t f0_det_en = 0x20;
constexpr uint8_t reg_f0_hi = 0x25;
constexpr uint8_t reg_f0_lo = 0x26;
constexpr uint32_t f0_count_scale = 3840000;

constexpr uint8_t reg_state = 0x3F;
constexpr uint8_t reg_sysctrl2 = 0x45;
constexpr uint8_t ram_access = 0x04;
constexpr uint8_t force_standby = 0x20;

constexpr uint8_t reg_ofs_trig = 0x4D;
constexpr uint8_t reg_d2s_cfg = 0x4E;
constexpr uint8_t d2s_mode_mask = 0x78;
constexpr uint8_t d2s_mode_offset = 0x20;
constexpr uint8_t reg_ofs_hi = 0x4F;
constexpr uint8_t reg_ofs_lo = 0x50;

constexpr uint8_t reg_key = 0x5E;
constexpr uint8_t key_open_value = 0xE3;
constexpr uint8_t protected_regs[] = {0x56, 0x6F, 0x70, 0x72, 0x77, 0x7D};

constexpr uint8_t reg_qualify = 0x67;
constexpr uint8_t qualified = 0x80;

bool is_protected(uint8_t r) {
  for (uint8_t p : protected_regs) {
    if (p == r) {
      return true;
    }
  }
  return false;
}

bool is_read_only(uint8_t r) {
  switch (r) {
    case reg_id_hi:
    case reg_id_lo:
    case reg_qualify:
    case reg_state:
    case reg_f0_hi:
    case reg_f0_lo:
    case reg_ofs_hi:
    case reg_ofs_lo:
      return true;
    default:
      return false;
  }
}

}  // namespace

void zq360x_model::set_power_on_values() {
  run_ns = default_run_ns;
  stop_ns = default_stop_ns;
  never_standby = false;
  offset_measurements_ = 0;
  f0_measurements_ = 0;

  // Power-on values. Several registers come up with bits the driver must
  // keep, so that a masked update that clobbers them shows.
  power_on_[0x06] = 0x0C;
  power_on_[reg_play_cfg] = 0x41;
  power_on_[0x12] = 0x0A;
  power_on_[reg_sysctrl] = 0x41;
  power_on_[0x1C] = 0x35;
  power_on_[0x1D] = 0x10;
  power_on_[reg_state] = 0x00;
  power_on_[reg_sysctrl2] = 0x01;
  power_on_[0x4C] = 0x7F;
  power_on_[reg_ofs_trig] = 0x50;
  power_on_[reg_d2s_cfg] = 0x8B;
  power_on_[reg_ofs_hi] = 0xA8;
  power_on_[0x56] = 0x0F;
  power_on_[0x5D] = 0x80;
  power_on_[reg_qualify] = qualified;
}

void zq360x_model::reset_behaviour() {
  key_open_ = false;
  busy_ = false;
  measuring_f0_ = false;
  busy_until_ns_ = 0;
  offset_running_ = false;
  offset_start_ns_ = 0;
}

void zq360x_model::advance() {
  if (busy_ && !never_standby && now_ns() >= busy_until_ns_) {
    enter_standby(true);
  }
}

void zq360x_model::start_run(uint64_t duration_ns) {
  busy_ = true;
  busy_until_ns_ = now_ns() + duration_ns;
  regs_[reg_state] = state_busy;
}

void zq360x_model::enter_standby(bool run_completed) {
  busy_ = false;
  regs_[reg_state] = 0;
  if (run_completed && measuring_f0_) {
    uint32_t count = lra_f0 != 0 ? f0_count_scale / lra_f0 : 0;
    if (count > 0xFFFF) {
      count = 0xFFFF;
    }
    regs_[reg_f0_hi] = static_cast<uint8_t>(count >> 8);
    regs_[reg_f0_lo] = static_cast<uint8_t>(count);
    ++f0_measurements_;
  }
  measuring_f0_ = false;
}

void zq360x_model::play_control(uint8_t value) {
  regs_[reg_play_ctrl] = value;
  const uint8_t mode = regs_[reg_play_cfg] & play_mode_mask;
  if (value == play_ctrl_go && mode != play_mode_stop) {
    mark_go();
    measuring_f0_ = mode == play_mode_cont && (regs_[reg_sysctrl] & f0_det_en) != 0;
    start_run(run_ns);
    return;
  }
  if (value == play_ctrl_go || value == play_ctrl_stop) {
    // A stop request cuts a run short (and any measurement with it); an
    // idle chip stays idle.
    if (busy_) {
      measuring_f0_ = false;
      const uint64_t stop_at = now_ns() + stop_ns;
      if (stop_at < busy_until_ns_) {
        busy_until_ns_ = stop_at;
      }
    }
    return;
  }
  add_violation(reg_play_ctrl, value, "unknown play control value");
}

void zq360x_model::offset_trigger(uint8_t value) {
  regs_[reg_ofs_trig] = value;
  const uint8_t run = value & 0x03;
  if (run == 1 && !offset_running_) {
    if ((regs_[reg_sysctrl2] & ram_access) == 0) {
      add_violation(reg_ofs_trig, value, "offset measurement started without bit 2 of 0x45");
      return;
    }
    if ((regs_[reg_d2s_cfg] & d2s_mode_mask) != d2s_mode_offset) {
      add_violation(reg_ofs_trig, value, "offset measurement started outside offset mode");
      return;
    }
    offset_running_ = true;
    offset_start_ns_ = now_ns();
    return;
  }
  if (run == 0 && offset_running_) {
    offset_running_ = false;
    if (now_ns() - offset_start_ns_ < offset_min_ns) {
      add_violation(reg_ofs_trig, value, "offset measurement cut short");
      return;
    }
    const uint16_t code = offset_code & 0x3FF;
    regs_[reg_ofs_hi] = static_cast<uint8_t>((regs_[reg_ofs_hi] & 0xFC) | (code >> 8));
    regs_[reg_ofs_lo] = static_cast<uint8_t>(code);
    ++offset_measurements_;
  }
}

uint8_t zq360x_model::read_register(uint8_t r) {
  advance();
  return regs_[r];
}

void zq360x_model::write_register(uint8_t r, uint8_t value) {
  advance();
  if (r == reg_id) {
    if (value == soft_reset_value) {
      reset_pulse();
    } else {
      add_violation(r, value, "identifier register written");
    }
    return;
  }
  if (is_read_only(r)) {
    add_violation(r, value, "read-only register written");
    return;
  }
  if (is_protected(r) && !key_open_) {
    add_violation(r, value, "protected register written outside the key window");
    return;
  }
  switch (r) {
    case reg_key:
      regs_[r] = value;
      key_open_ = value == key_open_value;
      break;
    case reg_play_ctrl:
      play_control(value);
      break;
    case reg_sysctrl2:
      regs_[r] = value;
      if ((value & force_standby) != 0 && busy_) {
        enter_standby(false);
      }
      break;
    case reg_ofs_trig:
      offset_trigger(value);
      break;
    default:
      regs_[r] = value;
      break;
  }
}

namespace {

// clang-format off: one register a line keeps the table scannable.
constexpr reg_field_bits zq360x_bring_up_fields[] = {{0x06, 0x20}, {0x08, 0x03}, {0x12, 0xF0}, {0x18, 0x80},
                                                     {0x1C, 0x0F}, {0x45, 0x04}, {0x4C, 0x40}, {0x4D, 0x03},
                                                     {0x4E, 0x7F}, {0x56, 0x03}};

constexpr reg_name zq360x_reg_names[] = {
    {0x06, "boost"},
    {0x07, "gain"},
    {0x08, "play mode"},
    {0x09, "play control"},
    {0x18, "f0 detect/cal skip"},
    {0x19, "f0 measure 0x19"},
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
    {0x4C, "continuous mode"},
    {0x4D, "offset measure 0x4D"},
    {0x4E, "offset measure 0x4E"},
    {0x4F, "offset measure 0x4F"},
    {0x50, "offset measure 0x50"},
    {0x56, "fixed 0x56"},
    {0x5D, "trim LRA"},
    {0x5E, "key"},
    {0x67, "qualification"},
    {0x6F, "fixed 0x6F"},
    {0x70, "fixed 0x70"},
    {0x72, "fixed 0x72"},
    {0x77, "fixed 0x77"},
    {0x7D, "fixed 0x7D"},
};
// clang-format on

}  // namespace

constexpr family_facts zq360x_facts = {
    .qualification = {0x67, 0x80},
    .state_reg = 0x3F,
    .state_mask = 0xFF,
    .go_reg = 0x09,
    .stop_mode_reg = 0x08,
    .gain_reg = 0x07,
    .ram_mode = {0x08, 0x03},
    .period_lo = 0x26,
    .offset = {0x4D, 0x50, 1, "Murvane: offset calibration out of range"},
    .bring_up_fields = zq360x_bring_up_fields,
    .make_slowest =
        [](chip_model& m) {
          static_cast<zq360x_model&>(m).never_standby = true;
          m.offset_code = 0;
        },
    .seq_base = 0x0A,
    .loop_base = 0x12,
    .reg_names = zq360x_reg_names,
};

}  // namespace sim
