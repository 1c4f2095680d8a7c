#include "sim/models/zq330x_model.h"

#include "sim/models/family_facts.h"

namespace sim {

namespace {

constexpr uint8_t play_mode_mask = 0x03;
constexpr uint8_t play_mode_ram = 0x00;
constexpr uint8_t play_mode_cont = 0x02;
constexpr uint8_t play_mode_stop = 0x03;
constexpr uint8_t f0_detect_en = 0x04;  // 0x08 bit 2
constexpr uint8_t track_en = 0x20;      // 0x18 bit 5
constexpr uint8_t cmd_go = 0x01;
constexpr uint8_t cmd_halt = 0x02;
constexpr uint8_t force_standby = 0x20;  // 0x44 bit 5
constexpr uint8_t qualified = 0x80;      // 0x61 bit 7
constexpr uint64_t no_deadline = UINT64_MAX;

}  // namespace

uint16_t zq330x_model::expected_period() const {
  if (lra_f0 == 0) {
    return 0;  // nothing resonates: no period counted
  }
  const uint32_t period = f0_period_scale / lra_f0;
  return static_cast<uint16_t>(period > 0xFFFF ? 0xFFFF : period);
}

void zq330x_model::set_power_on() {
  stop_us = default_stop_us;
  f0_detect_us = default_f0_detect_us;
  ram_play_us = default_ram_play_us;
  never_standby = false;
  // Reset values with bits set beside the fields the driver changes, so a
  // masked update that clobbers its neighbours shows.
  power_on_[reg_boost] = 0x2C;
  power_on_[reg_play_cfg] = 0xA0;
  power_on_[reg_seq_loop0] = 0x03;
  power_on_[reg_track] = 0x01;
  power_on_[reg_cont_1c] = 0x53;
  power_on_[reg_cont_1d] = 0x15;
  power_on_[reg_ram_ctrl] = 0x02;
  power_on_[reg_sys_ctrl] = 0x01;
  power_on_[reg_play_sel] = 0x8A;
  power_on_[reg_d2s] = 0x9B;
  power_on_[reg_trim] = 0x95;
  power_on_[reg_qualify] = qualified;
}

void zq330x_model::back_to_standby() {
  state_ = State::standby;
  deadline_ns_ = no_deadline;
  forced_standbys_ = 0;
  f0_measurements_ = 0;
  regs_[reg_state] = static_cast<uint8_t>(State::standby);
}

void zq330x_model::enter(State s, uint32_t for_us) {
  state_ = s;
  deadline_ns_ = s == State::continuous ? no_deadline : now_ns() + static_cast<uint64_t>(for_us) * 1000;
  regs_[reg_state] = static_cast<uint8_t>(s);
}

// Lets the current state run out by the clock.
void zq330x_model::advance() {
  if (state_ == State::standby || never_standby || now_ns() < deadline_ns_) {
    return;
  }
  if (state_ == State::f0_detect) {
    const uint16_t period = expected_period();
    regs_[reg_period_hi] = static_cast<uint8_t>(period >> 8);
    regs_[reg_period_lo] = static_cast<uint8_t>(period);
    ++f0_measurements_;
  }
  state_ = State::standby;
  deadline_ns_ = no_deadline;
  regs_[reg_state] = static_cast<uint8_t>(State::standby);
}

void zq330x_model::go() {
  const uint8_t cfg = regs_[reg_play_cfg];
  switch (cfg & play_mode_mask) {
    case play_mode_ram:
      if (host_access_open()) {
        add_violation(reg_play_ctrl, cmd_go, "GO in RAM mode while host SRAM access is open");
      }
      enter(State::ram_play, ram_play_us);
      mark_go();
      return;
    case play_mode_cont:
      if ((cfg & f0_detect_en) != 0 && (regs_[reg_track] & track_en) != 0) {
        enter(State::f0_detect, f0_detect_us);
      } else {
        enter(State::continuous, 0);
      }
      mark_go();
      return;
    case play_mode_stop:
      enter(State::braking, stop_us);
      return;
    default:
      add_violation(reg_play_ctrl, cmd_go, "GO with the reserved play mode 01");
      return;
  }
}

void zq330x_model::handle_write(uint8_t r, uint8_t value) {
  advance();
  switch (r) {
    case reg_marker:
      return;  // identity: writes are ignored
    case reg_state:
    case reg_period_hi:
    case reg_period_lo:
    case reg_id_hi:
    case reg_id_lo:
    case reg_qualify:
      add_violation(r, value, "write to a read-only register");
      return;
    case reg_play_ctrl:
      regs_[r] = value;
      if (value == cmd_go) {
        go();
      } else if (value == cmd_halt) {
        if (state_ != State::standby) {
          enter(State::braking, stop_us);
        }
      } else {
        add_violation(r, value, "unknown play control command");
      }
      return;
    case reg_sys_ctrl: {
      const bool rising = (value & force_standby) != 0 && (regs_[r] & force_standby) == 0;
      regs_[r] = value;
      if (rising) {
        ++forced_standbys_;
        state_ = State::standby;
        deadline_ns_ = no_deadline;
        regs_[reg_state] = static_cast<uint8_t>(State::standby);
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
constexpr reg_field_bits zq330x_bring_up_fields[] = {{0x06, 0x10}, {0x08, 0x03}, {0x12, 0xF0}, {0x1C, 0x0F},
                                                     {0x43, 0x08}, {0x50, 0x40}, {0x52, 0x07}};

constexpr reg_name zq330x_reg_names[] = {
    {0x06, "boost"},
    {0x07, "gain"},
    {0x08, "play mode"},
    {0x09, "play control"},
    {0x18, "f0 detect control"},
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
    {0x43, "SRAM access"},
    {0x44, "standby request"},
    {0x50, "continuous mode"},
    {0x52, "d2s gain"},
    {0x5A, "trim LRA"},
    {0x61, "qualification"},
};
// clang-format on

}  // namespace

constexpr family_facts zq330x_facts = {
    .qualification = {0x61, 0x80},
    .state_reg = 0x3F,
    .state_mask = 0xFF,
    .go_reg = 0x09,
    .stop_mode_reg = 0x08,
    .gain_reg = 0x07,
    .ram_mode = {0x08, 0x03},
    .period_lo = 0x26,
    .offset = {0x00, 0x00, 0, ""},
    .bring_up_fields = zq330x_bring_up_fields,
    .make_slowest =
        [](chip_model& m) {
          static_cast<zq330x_model&>(m).never_standby = true;
          m.offset_code = 0;
        },
    .seq_base = 0x0A,
    .loop_base = 0x12,
    .reg_names = zq330x_reg_names,
};

}  // namespace sim
