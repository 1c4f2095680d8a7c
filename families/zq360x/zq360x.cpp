// zq360x family (zq3601, zq3602, zq3603): qualification, register defaults
// behind the key window, SRAM download, playback, standby handling, the
// offset measurement, the f0 measurement and the LRA trim.
#include "families/zq360x/zq360x.h"

#include "core/family_common.h"
#include "core/regs.h"
#include "core/waveform.h"
#include "families/zq360x/zq360x_regs.h"
#include "platform/log.h"
#include "platform/platform.h"

namespace murvane {

static_assert(ZQ360X_REG_RAM_DATA == reg_ram_data, "the shared download streams into the RAM data register");

constexpr family_dts zq360x_dts = {
    .f0_pre = 1700,
    .d2s_gain = 4,
    .cont_reg1d = 0x7F,
    .cont_reg21 = 8,
    .cont_reg1c = 8,
    .cont_reg1f = 4,
    .cont_reg20 = 20,
    .cont_track_margin = 15,
    .cont_reg1e_scale = 1000,
};

namespace zq360x {

namespace {

// Offset measurement (1023 x the gain in the divisors): the code is latched
// when the trigger falls.
constexpr offset_measure_regs offset_measure = {
    .gain = {ZQ360X_REG_D2S_CFG, ZQ360X_D2S_GAIN_MASK},
    .mode = {ZQ360X_REG_D2S_CFG, ZQ360X_D2S_MODE_MASK},
    .mode_offset = ZQ360X_D2S_MODE_OFFSET,
    .access = {ZQ360X_REG_SYSCTRL2, ZQ360X_SYSCTRL2_RAM_ACCESS},
    .trigger = {ZQ360X_REG_OFS_TRIG, ZQ360X_OFS_TRIG_MASK},
    .trigger_run = ZQ360X_OFS_TRIG_RUN,
    .trigger_drops = true,
    .code_hi = {ZQ360X_REG_OFS_CODE_HI, ZQ360X_OFS_CODE_HI_MASK},
    .code_lo = {ZQ360X_REG_OFS_CODE_LO, ZQ360X_OFS_CODE_LO_MASK},
    .divisors = d2s_divisor_table_x1023,
    .gain_error_message = nullptr,
    .record_may_skip = true,
    .fail_message = "Murvane: offset calibration out of range",
};

constexpr playback_regs playback = {
    .play_mode = {ZQ360X_REG_PLAY_CFG, ZQ360X_PLAY_MODE_MASK},
    .mode_ram = ZQ360X_PLAY_MODE_RAM,
    .mode_cont = ZQ360X_PLAY_MODE_CONT,
    .mode_stop = ZQ360X_PLAY_MODE_STOP,
    .go = {ZQ360X_REG_PLAY_CTRL, ZQ360X_PLAY_CTRL_GO},
    .standby = {ZQ360X_REG_SYSCTRL2, ZQ360X_SYSCTRL2_FORCE_STANDBY},
    .boost = {ZQ360X_REG_BOOST_CTRL, ZQ360X_BOOST_EN},
    .cont = {ZQ360X_REG_CONT_CTRL, ZQ360X_CONT_CTRL_EN},
    .cont_preset = {0, 0},
};

}  // namespace

int32_t wait_standby(uint32_t polls) {
  const poll_spec poll = {
      .reg = ZQ360X_REG_GLB_STATE,
      .mask = ZQ360X_GLB_STATE_MASK,
      .want = ZQ360X_GLB_STATE_STANDBY,
      .also_want = ZQ360X_GLB_STATE_STANDBY,
      .count = polls,
      .wait_us = standby_poll_wait_us,
      .wait_first = false,
  };
  if (!poll_reg(poll)) {
    return -1;
  }
  log_error("Murvane: entered standby\n");
  return 0;
}

int32_t set_boost_mode(uint8_t boost) { return set_boost_bit(boost, playback.boost); }

EFI_STATUS qualify_check() { return check_qualified({ZQ360X_REG_QUALIFY, ZQ360X_QUALIFIED}); }

int32_t chip_init(const family_dts& dts) {
  write_field({ZQ360X_REG_SYSCTRL, ZQ360X_SYSCTRL_OFFSET_SKIP},
              field_prep(ZQ360X_SYSCTRL_OFFSET_SKIP, dts.offset_cali_skip));
  write_field({ZQ360X_REG_CONT_CFG1C, ZQ360X_CONT_CFG1C_MASK}, dts.cont_reg1c);
  reg_write(ZQ360X_REG_CONT_CFG21, dts.cont_reg21);

  // The analogue settings take writes only between the two key writes.
  reg_write(ZQ360X_REG_KEY, ZQ360X_KEY_OPEN);
  write_field({ZQ360X_REG_ANA_56, ZQ360X_ANA_56_MODE_MASK}, 0);
  reg_write(ZQ360X_REG_ANA_6F, ZQ360X_ANA_6F_INIT);
  reg_write(ZQ360X_REG_ANA_70, ZQ360X_ANA_70_INIT);
  reg_write(ZQ360X_REG_ANA_72, ZQ360X_ANA_72_INIT);
  reg_write(ZQ360X_REG_ANA_77, ZQ360X_ANA_77_INIT);
  reg_write(ZQ360X_REG_ANA_7D, ZQ360X_ANA_7D_INIT);
  return slot_result(reg_write(ZQ360X_REG_KEY, ZQ360X_KEY_CLOSE));
}

int32_t set_play_mode(uint8_t mode) { return switch_play_mode(mode, playback); }

int32_t set_go(uint8_t flag) {
  return slot_result(reg_write(ZQ360X_REG_PLAY_CTRL, flag != 0 ? ZQ360X_PLAY_CTRL_GO : ZQ360X_PLAY_CTRL_STOP));
}

int32_t stop() {
  return stop_playback(
      playback, [] { return wait_standby(stop_standby_polls); }, "Murvane: force to enter standby mode\n");
}

void write_ram() { stream_waveform(waveform_image, &waveform_image_len); }

int32_t set_ram_base() {
  return slot_result(write_sram_base(
      {ZQ360X_REG_RAM_BASE_HI, ZQ360X_REG_RAM_BASE_LO, ZQ360X_REG_RAM_ADDR_HI, ZQ360X_REG_RAM_ADDR_LO}));
}

int32_t set_gain(uint8_t gain) { return slot_result(reg_write(ZQ360X_REG_GAIN, gain)); }

int32_t set_sequence(uint8_t index, uint8_t wave) {
  return slot_result(write_sequence(ZQ360X_REG_WAVSEQ1, index, wave));
}

int32_t set_sequence_loop(uint8_t index, uint8_t loop) {
  return slot_result(write_sequence_loop(ZQ360X_REG_WAVLOOP1, index, loop));
}

int32_t set_ram_access(uint8_t on) { return set_ram_access_bit(on, {ZQ360X_REG_SYSCTRL2, ZQ360X_SYSCTRL2_RAM_ACCESS}); }

int32_t offset_calibration(const family_dts& dts) { return measure_offset(dts, offset_measure); }

// f0 measurement: 0x1E is the band constant x cont_reg1e_scale / 40000, a
// zero margin reported instead of written; 0x1A (the drive width) and 0x19
// (the period) come from the expected period.
constexpr f0_measure_regs f0_measure = {
    .stop = zq360x::stop,
    .go = nullptr,
    .wait_standby = [] { return wait_standby(f0_standby_polls); },
    .playback = &playback,
    .drive =
        {
            .drive_enable = {ZQ360X_REG_CONT_CFG1D, ZQ360X_CONT_CFG1D_EN},
            .band = ZQ360X_REG_CONT_CFG1E,
            .cont_1f = ZQ360X_REG_CONT_CFG1F,
            .cont_20 = ZQ360X_REG_CONT_CFG20,
            .track_margin = ZQ360X_REG_CONT_TRACK_MARGIN,
            .band_divisor = 40000,
            .zero_margin_message = "Murvane: zq360x_dts.cont_track_margin = 0",
        },
    .detector = {ZQ360X_REG_SYSCTRL, ZQ360X_SYSCTRL_F0_DET_EN},
    .play_cfg_detect = {ZQ360X_REG_PLAY_CFG, ZQ360X_PLAY_CFG_F0_DET},
    .go_write = {ZQ360X_REG_PLAY_CTRL, ZQ360X_PLAY_CTRL_GO},
    .drive_width = ZQ360X_REG_CONT_DRV_WIDTH,
    .drive_period = ZQ360X_REG_CONT_PERIOD,
    .period_hi = ZQ360X_REG_F0_PERIOD_HI,
    .period_lo = ZQ360X_REG_F0_PERIOD_LO,
    .no_standby_message = nullptr,
};

int32_t get_f0(const family_dts& dts) { return measure_f0(dts, f0_measure); }

int32_t write_trim_lra(int32_t kind) {
  const auto value = static_cast<uint8_t>(select_trim_value(kind) & ZQ360X_TRIM_LRA_MASK);
  return slot_result(reg_write(ZQ360X_REG_TRIM_LRA, value));
}

}  // namespace zq360x

namespace {

constexpr haptic_ops zq360x_ops = {
    .get_f0 = [] { return zq360x::get_f0(zq360x_dts); },
    .offset_calibration = [] { return zq360x::offset_calibration(zq360x_dts); },
    .set_go = zq360x::set_go,
    .stop = zq360x::stop,
    .write_ram = zq360x::write_ram,
    .set_ram_base = zq360x::set_ram_base,
    .chip_init = [] { return zq360x::chip_init(zq360x_dts); },
    .set_gain = zq360x::set_gain,
    .set_play_mode = zq360x::set_play_mode,
    .write_trim_lra = zq360x::write_trim_lra,
    .set_sequence = zq360x::set_sequence,
    .set_sequence_loop = zq360x::set_sequence_loop,
    .set_ram_access = zq360x::set_ram_access,
    .qualify_check = zq360x::qualify_check,
};

}  // namespace

constexpr chip_family zq360x_family = {&zq360x_dts, &zq360x_ops, "zq360x"};

}  // namespace murvane
