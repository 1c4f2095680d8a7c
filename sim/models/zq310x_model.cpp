#include "sim/models/zq310x_model.h"

#include "sim/models/family_facts.h"

namespace sim {

namespace {

constexpr uint8_t reg_id = 0x00;
constexpr uint8_t reg_sysint = 0x02;
constexpr uint8_t reg_sysctrl2 = 0x04;
constexpr uint8_t sysctrl2_standby = 0x01;
constexpr uint8_t sysctrl2_play_mode = 0x0C;
constexpr uint8_t play_mode_ram = 0x00;
constexpr uint8_t play_mode_cont = 0x08;
constexpr uint8_t reg_playctrl = 0x05;
constexpr uint8_t playctrl_go = 0x01;
constexpr uint8_t reg_wavseq1 = 0x07;
constexpr uint8_t wavseq_slots = 8;
constexpr uint8_t reg_wavloop1 = 0x0F;
constexpr uint8_t reg_glbrd = 0x46;
constexpr uint8_t reg_contcfg = 0x48;
constexpr uint8_t contcfg_f0_det = 0x0C;
constexpr uint8_t contcfg_f0_det_run = 0x04;
constexpr uint8_t reg_offset_cali = 0x5F;
constexpr uint8_t offset_cali_busy = 0x01;
constexpr uint8_t reg_f0_h = 0x68;
constexpr uint8_t reg_f0_l = 0x69;

// The detector counts the period in units that make f0 (0.1 Hz) =
// 1000000000 / (period x 260).
constexpr uint64_t f0_period_scale = 1000000000;
constexpr uint64_t f0_coeff = 260;

}  // namespace

uint8_t zq310x_model::state() const {
  uint8_t s = state_idle;
  const bool ended = activity_ != activity::cont_play && now_ns() >= busy_until_ns_;
  if (!ended) {
    switch (activity_) {
      case activity::ram_play:
        s = state_ram_play;
        break;
      case activity::cont_play:
        s = state_cont_play;
        break;
      case activity::f0_detect:
        s = state_f0_detect;
        break;
      case activity::brake:
        s = state_brake;
        break;
      case activity::idle:
        break;
    }
  }
  if (never_standby && s == state_idle) {
    s = state_ram_play;
  }
  return s;
}

uint16_t zq310x_model::f0_period() const {
  if (lra_f0 == 0) {
    return 0;  // nothing resonates: the detector finds no period
  }
  const uint64_t period = f0_period_scale / (static_cast<uint64_t>(lra_f0) * f0_coeff);
  return period > 0xFFFF ? uint16_t{0xFFFF} : static_cast<uint16_t>(period);
}

uint64_t zq310x_model::ram_effect_ns() const {
  // Waveform n's table entry sits at base + 1 + 4 (n - 1): start and end
  // address (inclusive), big-endian.
  uint64_t samples = 0;
  for (uint8_t i = 0; i < wavseq_slots; ++i) {
    const uint8_t wave = regs_[reg_wavseq1 + i];
    if (wave == 0) {
      break;
    }
    const size_t entry = static_cast<size_t>(ram_base()) + 1 + 4 * static_cast<size_t>(wave - 1);
    if (entry + 3 >= sram_size) {
      continue;
    }
    const uint8_t* ram = sram();
    const size_t start = (static_cast<size_t>(ram[entry]) << 8) | ram[entry + 1];
    const size_t end = (static_cast<size_t>(ram[entry + 2]) << 8) | ram[entry + 3];
    if (end < start || end >= sram_size) {
      continue;
    }
    const uint8_t loops = regs_[reg_wavloop1 + i / 2];
    const uint8_t loop = (i % 2 == 0) ? static_cast<uint8_t>(loops >> 4) : static_cast<uint8_t>(loops & 0x0F);
    samples += static_cast<uint64_t>(end - start + 1) * (loop + 1U);
  }
  return samples * sample_ns;
}

void zq310x_model::settle() {
  if (activity_ == activity::idle || activity_ == activity::cont_play || now_ns() < busy_until_ns_) {
    return;
  }
  if (activity_ == activity::f0_detect) {
    const uint16_t period = f0_period();
    regs_[reg_f0_h] = static_cast<uint8_t>(period >> 8);
    regs_[reg_f0_l] = static_cast<uint8_t>(period);
    ++f0_detections_;
  }
  activity_ = activity::idle;
}

void zq310x_model::start_go() {
  mark_go();
  if ((regs_[reg_sysctrl2] & sysctrl2_standby) != 0) {
    add_violation(reg_playctrl, regs_[reg_playctrl], "GO while the chip is in standby");
    return;
  }
  if (host_access_open()) {
    add_violation(reg_playctrl, regs_[reg_playctrl], "GO while host SRAM access is open");
  }
  const uint8_t mode = regs_[reg_sysctrl2] & sysctrl2_play_mode;
  if (mode == play_mode_cont) {
    if ((regs_[reg_contcfg] & contcfg_f0_det) == contcfg_f0_det_run) {
      activity_ = activity::f0_detect;
      busy_until_ns_ = now_ns() + f0_detect_ns;
    } else {
      activity_ = activity::cont_play;
    }
  } else if (mode == play_mode_ram) {
    activity_ = activity::ram_play;
    busy_until_ns_ = now_ns() + ram_effect_ns();
  }
}

void zq310x_model::clear_go() {
  if (activity_ == activity::idle) {
    return;
  }
  // An aborted detection leaves no result; everything winds down within stop_ns.
  const uint64_t end = now_ns() + stop_ns;
  if (activity_ == activity::cont_play || activity_ == activity::f0_detect || end < busy_until_ns_) {
    busy_until_ns_ = end;
  }
  activity_ = activity::brake;
}

uint8_t zq310x_model::read_register(uint8_t r) {
  settle();
  switch (r) {
    case reg_glbrd:
      return static_cast<uint8_t>((regs_[r] & 0xF0) | state());
    case reg_sysint: {
      const uint8_t v = regs_[r];
      regs_[r] = 0;
      return v;
    }
    case reg_offset_cali:
      if (offset_busy_ && !offset_never_done) {
        if (offset_reads_left_ > 0) {
          --offset_reads_left_;
        } else {
          offset_busy_ = false;
          regs_[r] = static_cast<uint8_t>(regs_[r] & ~offset_cali_busy);
        }
      }
      return regs_[r];
    default:
      return regs_[r];
  }
}

void zq310x_model::write_register(uint8_t r, uint8_t value) {
  settle();
  switch (r) {
    case reg_id:
      return;  // the identifier is fixed; a write to it changes nothing
    case reg_glbrd:
    case reg_f0_h:
    case reg_f0_l:
      add_violation(r, value, "write to a read-only register");
      return;
    case reg_playctrl:
      regs_[r] = value;
      if ((value & playctrl_go) != 0) {
        start_go();
      } else {
        clear_go();
      }
      return;
    case reg_offset_cali:
      regs_[r] = value;
      if ((value & offset_cali_busy) != 0) {
        if (!host_access_open()) {
          add_violation(r, value, "offset calibration started without 0x04 bit 5 held");
        }
        offset_busy_ = true;
        offset_reads_left_ = offset_busy_reads;
        ++offset_calibrations_;
      }
      return;
    default:
      regs_[r] = value;
      return;
  }
}

void zq310x_model::configure_model() {
  offset_busy_reads = default_offset_busy_reads;
  offset_never_done = false;
  never_standby = false;
  sample_ns = default_sample_ns;
  stop_ns = default_stop_ns;
  f0_detect_ns = default_f0_detect_ns;
  f0_detections_ = 0;
  offset_calibrations_ = 0;
  power_on_[reg_sysctrl2] = sysctrl2_standby;  // the chip comes up in standby
}

void zq310x_model::reset_model() {
  activity_ = activity::idle;
  busy_until_ns_ = 0;
  offset_busy_ = false;
  offset_reads_left_ = 0;
}

namespace {

// clang-format off: one register a line keeps the table scannable.
constexpr reg_field_bits zq310x_bring_up_fields[] = {{0x03, 0x20}, {0x04, 0x2F}, {0x05, 0x01}, {0x0F, 0xF0},
                                                     {0x34, 0x07}, {0x35, 0x0C}, {0x5F, 0x01}, {0x66, 0x40}};

constexpr reg_name zq310x_reg_names[] = {
    {0x02, "status (discarded)"},
    {0x03, "active control"},
    {0x04, "system control"},
    {0x05, "GO"},
    {0x21, "SRAM base high"},
    {0x22, "SRAM base low"},
    {0x2B, "f0 detect control"},
    {0x31, "init 0x31"},
    {0x34, "init 0x34"},
    {0x35, "init 0x35"},
    {0x39, "gain"},
    {0x40, "RAM pointer high"},
    {0x41, "RAM pointer low"},
    {0x42, "RAM data"},
    {0x46, "chip state"},
    {0x48, "f0 detect state"},
    {0x49, "f0 detect per. hi"},
    {0x4A, "f0 detect per. lo"},
    {0x4D, "init 0x4D"},
    {0x5B, "trim LRA"},
    {0x5D, "init 0x5D"},
    {0x5F, "offset cal busy"},
    {0x66, "continuous mode"},
    {0x68, "f0 period high"},
    {0x69, "f0 period low"},
    {0x74, "init 0x74"},
    {0x75, "init 0x75"},
    {0x76, "init 0x76"},
    {0x77, "init 0x77"},
    {0x7B, "f0 param 0x7B"},
    {0x7D, "f0 param 0x7D"},
    {0x7E, "f0 param 0x7E"},
    {0x7F, "f0 param 0x7F"},
};
// clang-format on

}  // namespace

constexpr family_facts zq310x_facts = {
    .qualification = {0x00, 0x00},
    .state_reg = 0x46,
    .state_mask = 0x0F,
    .go_reg = 0x05,
    .stop_mode_reg = 0x00,
    .gain_reg = 0x39,
    .ram_mode = {0x04, 0x0D},  // the mode bits and the standby bit
    .period_lo = 0x69,
    .offset = {0x5F, 0x5F, 2, "Murvane: calibration offset failed\n"},
    .bring_up_fields = zq310x_bring_up_fields,
    .make_slowest =
        [](chip_model& m) {
          auto& z = static_cast<zq310x_model&>(m);
          z.never_standby = true;
          z.offset_never_done = true;
          z.offset_code = 0;
        },
    .seq_base = 0x07,
    .loop_base = 0x0F,
    .reg_names = zq310x_reg_names,
};

}  // namespace sim
