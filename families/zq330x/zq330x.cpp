#include "families/zq330x/zq330x.h"

#include "core/family_common.h"
#include "core/regs.h"
#include "core/waveform.h"
#include "families/zq330x/zq330x_regs.h"
#include "platform/log.h"
#include "platform/platform.h"

namespace murvane {

constexpr family_dts zq330x_dts = {
    .f0_pre = 1700,
    .init_31_seq = {},
    .init_74_77 = {},
    .f0_7b = 0,
    .f0_7d_hi = 0,
    .f0_7d_lo = 0,
    .f0_7e = 0,
    .f0_7f = 0,
    .f0_coeff = 0,
    .init_4d = 0,
    .init_5d = 0,
    .init_6d_71 = {},
    .d2s_gain = 4,
    .offset_cali_skip = 0,
    .cont_reg1d = 0x7F,
    .cont_reg21 = 8,
    .cont_reg1c = 8,
    .cont_reg1f = 4,
    .cont_reg20 = 20,
    .cont_track_margin = 15,
    .cont_reg1e_scale = 1000,
};

namespace zq330x {

namespace {

constexpr uint32_t standby_poll_count = 100;
constexpr uint32_t standby_poll_wait_us = 2000;
constexpr uint32_t ram_access_settle_us = 1000;
constexpr uint32_t f0_detect_run_us = 20000;

// Below this expected f0 the low-band factor sets the 0x1E value.
constexpr uint32_t cont_1e_band_limit = 1800;
constexpr uint32_t cont_1e_low_band = 1809;
constexpr uint32_t cont_1e_high_band = 1990;
constexpr uint32_t cont_1e_divisor = 40000;
constexpr uint32_t cont_1e_max = 127;
constexpr uint32_t cont_1a_numerator = 240000;
constexpr int32_t cont_1a_offset = 8;

int32_t as_result(uint32_t bus_status) { return static_cast<int32_t>(bus_status); }

// 0 when every transfer of a step went through, -1 when any of them failed.
int32_t step_result(bool all_done) { return all_done ? 0 : -1; }

// 0x1E: band factor x cont_reg1e_scale / 40000, at most 127. The product is
// taken in 64 bits: a large scale must saturate at 127, not wrap around to
// a small value.
constexpr uint8_t cont_1e_value(const family_dts& dts) {
  const uint64_t factor = dts.f0_pre < cont_1e_band_limit ? cont_1e_low_band : cont_1e_high_band;
  const uint64_t value = factor * dts.cont_reg1e_scale / cont_1e_divisor;
  return static_cast<uint8_t>(value < cont_1e_max ? value : cont_1e_max);
}

// 0x1A: 240000 / f0_pre less the tracking parameters, clamped to a byte.
// f0_pre must not be 0.
constexpr uint8_t cont_1a_value(const family_dts& dts) {
  const int32_t w = static_cast<int32_t>(cont_1a_numerator / dts.f0_pre) -
                    (static_cast<int32_t>(dts.cont_reg1c) + static_cast<int32_t>(dts.cont_track_margin)) -
                    cont_1a_offset;
  if (w <= 0) {
    return 0;
  }
  return static_cast<uint8_t>(w >= 0xFF ? 0xFF : w);
}

}  // namespace

int32_t wait_standby() {
  for (uint32_t i = 0; i < standby_poll_count; ++i) {
    stall(standby_poll_wait_us);
    uint8_t state = 0;
    // A reading that did not arrive says nothing about the chip: give up as
    // if the chip had never got there.
    if (reg_read(ZQ330X_REG_GLB_STATE, &state) != 0) {
      break;
    }
    if (state == ZQ330X_STATE_STANDBY) {
      log_error("Murvane: enter standby!\n");
      return 0;
    }
  }
  log_error("Murvane: do not enter standby automatically\n");
  return -1;
}

int32_t set_boost_mode(uint8_t mode) {
  switch (mode) {
    case 0:
      log_error("Murvane: bypass mode\n");
      return as_result(reg_write_bits(ZQ330X_REG_BOOST_CTRL, zq330x_keep_others(ZQ330X_BOOST_EN), 0x00));
    case 1:
      log_error("Murvane: boost mode\n");
      return as_result(reg_write_bits(ZQ330X_REG_BOOST_CTRL, zq330x_keep_others(ZQ330X_BOOST_EN), ZQ330X_BOOST_EN));
    default:
      log_error("Murvane: boost mode error\n");
      return -1;
  }
}

int32_t get_f0(const family_dts& dts) {
  haptic_dev.lra_f0 = dts.f0_pre;
  stop();

  // The detector measures only with tracking armed, detection enabled, the
  // chip in continuous mode and the 0x1D enable set. Each set-up step is
  // still issued when an earlier one failed (none depends on another), but
  // a set-up that did not complete starts no measurement.
  const bool tracking =
      reg_write_bits(ZQ330X_REG_TRACK_CTRL, zq330x_keep_others(ZQ330X_TRACK_EN), ZQ330X_TRACK_EN) == 0;
  uint8_t saved_play_cfg = 0;
  reg_read(ZQ330X_REG_PLAY_CFG, &saved_play_cfg);
  const bool detecting =
      reg_write_bits(ZQ330X_REG_PLAY_CFG, zq330x_keep_others(ZQ330X_F0_DETECT_EN), ZQ330X_F0_DETECT_EN) == 0;
  const bool continuous = set_play_mode(play_mode_cont) == 0;

  const bool cont_enabled =
      reg_write_bits(ZQ330X_REG_CONT_1D, zq330x_keep_others(ZQ330X_CONT_1D_EN), ZQ330X_CONT_1D_EN) == 0;
  reg_write_bits(ZQ330X_REG_CONT_1D, zq330x_keep_others(ZQ330X_CONT_1D_MASK), dts.cont_reg1d);
  reg_write(ZQ330X_REG_CONT_1E, cont_1e_value(dts));
  reg_write(ZQ330X_REG_CONT_1F, dts.cont_reg1f);
  reg_write(ZQ330X_REG_CONT_20, dts.cont_reg20);
  reg_write(ZQ330X_REG_CONT_TRACK_MARGIN, dts.cont_track_margin);
  if (dts.f0_pre == 0) {
    return -1;
  }
  reg_write(ZQ330X_REG_CONT_1A, cont_1a_value(dts));

  // Without a complete set-up, or when the GO itself did not arrive, the
  // period registers hold no measurement of this run: nothing is waited for
  // or read, lra_f0 keeps f0_pre and the caller gets -1. The detection
  // set-up is undone either way.
  const bool armed = tracking && detecting && continuous && cont_enabled;
  const bool measured = armed && reg_write(ZQ330X_REG_PLAY_CTRL, ZQ330X_PLAY_GO) == 0;
  if (measured) {
    stall(f0_detect_run_us);
    // The period is read even when the chip did not report standby.
    wait_standby();

    uint8_t period_hi = 0;
    uint8_t period_lo = 0;
    const uint32_t hi_status = reg_read(ZQ330X_REG_F0_PERIOD_HI, &period_hi);
    const uint32_t lo_status = reg_read(ZQ330X_REG_F0_PERIOD_LO, &period_lo);
    // A period with one byte missing would turn into a frequency the
    // actuator does not have: it counts as no period at all.
    const uint32_t f0_reg = hi_status == 0 && lo_status == 0 ? (static_cast<uint32_t>(period_hi) << 8) | period_lo : 0;
    if (f0_reg != 0) {
      haptic_dev.lra_f0 = f0_period_scale / f0_reg;
      log_error("Murvane: lra_f0=%d\n", haptic_dev.lra_f0);
    } else {
      haptic_dev.lra_f0 = 0;
      log_error("Murvane: lra_f0 is error, f0_reg=0\n");
    }
  }

  reg_write_bits(ZQ330X_REG_TRACK_CTRL, zq330x_keep_others(ZQ330X_TRACK_EN), 0x00);
  reg_write_bits(ZQ330X_REG_PLAY_CFG, zq330x_keep_others(ZQ330X_F0_DETECT_EN),
                 static_cast<uint8_t>(saved_play_cfg & ZQ330X_F0_DETECT_EN));
  return step_result(measured);
}

// The zq330x needs no offset calibration.
int32_t offset_calibration() { return 0; }

int32_t set_go(uint8_t flag) {
  return as_result(reg_write(ZQ330X_REG_PLAY_CTRL, flag != 0 ? ZQ330X_PLAY_GO : ZQ330X_PLAY_HALT));
}

int32_t stop() {
  log_error("Murvane: enter\n");
  // GO brakes only in the stop mode; in any other mode it would start
  // playback. Without the mode the chip is left to standby by itself or
  // forced there below.
  if (reg_write_bits(ZQ330X_REG_PLAY_CFG, zq330x_keep_others(ZQ330X_PLAY_MODE_MASK), ZQ330X_PLAY_MODE_STOP) == 0) {
    reg_write(ZQ330X_REG_PLAY_CTRL, ZQ330X_PLAY_GO);
  }
  if (wait_standby() == 0) {
    return 0;
  }
  log_error("Murvane: force to enter standby\n");
  return set_play_mode(play_mode_standby);
}

void write_ram() { stream_waveform(waveform_image, &waveform_image_len); }

int32_t set_ram_base() {
  constexpr auto base_hi = static_cast<uint8_t>(waveform_sram_base >> 8);
  constexpr auto base_lo = static_cast<uint8_t>(waveform_sram_base);
  reg_write(ZQ330X_REG_RAM_BASE_HI, base_hi);
  reg_write(ZQ330X_REG_RAM_BASE_LO, base_lo);
  reg_write(ZQ330X_REG_RAM_ADDR_HI, base_hi);
  return as_result(reg_write(ZQ330X_REG_RAM_ADDR_LO, base_lo));
}

int32_t chip_init(const family_dts& dts) {
  reg_write_bits(ZQ330X_REG_D2S, zq330x_keep_others(ZQ330X_D2S_GAIN_MASK), dts.d2s_gain);
  reg_write(ZQ330X_REG_CONT_21, dts.cont_reg21);
  return as_result(reg_write_bits(ZQ330X_REG_CONT_1C, zq330x_keep_others(ZQ330X_CONT_1C_MASK), dts.cont_reg1c));
}

int32_t set_gain(uint8_t gain) { return as_result(reg_write(ZQ330X_REG_GAIN, gain)); }

int32_t set_play_mode(uint8_t mode) {
  constexpr uint8_t keep_mode = zq330x_keep_others(ZQ330X_PLAY_MODE_MASK);
  constexpr uint8_t keep_sel = zq330x_keep_others(ZQ330X_CONT_SEL);
  switch (mode) {
    case play_mode_standby: {
      log_error("Murvane: standby mode\n");
      constexpr uint8_t keep = zq330x_keep_others(ZQ330X_FORCE_STANDBY);
      const bool raised = reg_write_bits(ZQ330X_REG_SYS_CTRL, keep, ZQ330X_FORCE_STANDBY) == 0;
      // The pulse is ended even when raising it failed: the bit must not stay set.
      const bool dropped = reg_write_bits(ZQ330X_REG_SYS_CTRL, keep, 0x00) == 0;
      return step_result(raised && dropped);
    }
    case play_mode_ram: {
      // Callers start playback on 0 only: every part of the mode must be in place.
      log_error("Murvane: ram mode\n");
      const bool mode_set = reg_write_bits(ZQ330X_REG_PLAY_CFG, keep_mode, ZQ330X_PLAY_MODE_RAM) == 0;
      const bool boost_set = set_boost_mode(1) == 0;
      const bool sel_set = reg_write_bits(ZQ330X_REG_PLAY_SEL, keep_sel, 0x00) == 0;
      return step_result(mode_set && boost_set && sel_set);
    }
    case play_mode_cont: {
      log_error("Murvane: cont mode\n");
      const bool mode_set = reg_write_bits(ZQ330X_REG_PLAY_CFG, keep_mode, ZQ330X_PLAY_MODE_CONT) == 0;
      const bool bypass_set = set_boost_mode(0) == 0;
      const bool sel_set = reg_write_bits(ZQ330X_REG_PLAY_SEL, keep_sel, ZQ330X_CONT_SEL) == 0;
      return step_result(mode_set && bypass_set && sel_set);
    }
    default:
      log_error("Murvane: error play mode\n");
      return -1;
  }
}

int32_t write_trim_lra(int32_t kind) {
  const uint8_t value = select_trim_value(kind);
  return as_result(reg_write_bits(ZQ330X_REG_TRIM_LRA, zq330x_keep_others(ZQ330X_TRIM_LRA_MASK), value));
}

int32_t set_sequence(uint8_t index, uint8_t wave) {
  return as_result(reg_write(static_cast<uint8_t>(ZQ330X_REG_SEQ0 + index), wave));
}

int32_t set_sequence_loop(uint8_t index, uint8_t loop) {
  const auto reg = static_cast<uint8_t>(ZQ330X_REG_SEQ_LOOP0 + (index >> 1));
  if ((index & 1) == 0) {
    return as_result(
        reg_write_bits(reg, zq330x_keep_others(ZQ330X_SEQ_LOOP_EVEN_MASK), static_cast<uint8_t>(loop << 4)));
  }
  return as_result(reg_write_bits(reg, zq330x_keep_others(ZQ330X_SEQ_LOOP_ODD_MASK), loop));
}

// 0 when the window was opened (or closed), -1 when the update failed: the
// caller streams the image only into a window that opened.
int32_t set_ram_access(uint8_t on) {
  constexpr uint8_t keep = zq330x_keep_others(ZQ330X_RAM_HOST_ACCESS);
  if (on == 0) {
    return step_result(reg_write_bits(ZQ330X_REG_RAM_CTRL, keep, 0x00) == 0);
  }
  const bool opened = reg_write_bits(ZQ330X_REG_RAM_CTRL, keep, ZQ330X_RAM_HOST_ACCESS) == 0;
  stall(ram_access_settle_us);
  return step_result(opened);
}

EFI_STATUS qualify_check() {
  uint8_t value = 0;
  reg_read(ZQ330X_REG_QUALIFY, &value);
  if ((value & ZQ330X_QUALIFIED) != 0) {
    return EFI_SUCCESS;
  }
  log_error("Murvane: unqualified chip\n");
  return EFI_DEVICE_ERROR;
}

namespace {

// With the shipped record: 1809 x 1000 / 40000 = 45 and 141 - 23 - 8 = 110.
static_assert(cont_1e_value(zq330x_dts) == 0x2D);
static_assert(cont_1a_value(zq330x_dts) == 0x6E);

constexpr haptic_ops zq330x_ops = {
    [] { return get_f0(zq330x_dts); },
    &offset_calibration,
    &set_go,
    &stop,
    &write_ram,
    &set_ram_base,
    [] { return chip_init(zq330x_dts); },
    &set_gain,
    &set_play_mode,
    &write_trim_lra,
    &set_sequence,
    &set_sequence_loop,
    &set_ram_access,
    &qualify_check,
};

}  // namespace

}  // namespace zq330x

constexpr chip_family zq330x_family = {&zq330x_dts, &zq330x::zq330x_ops, "zq330x"};

}  // namespace murvane
