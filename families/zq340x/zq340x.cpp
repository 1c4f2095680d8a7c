// The zq340x family (zq3401, zq3402): register defaults, SRAM download,
// playback control, offset calibration and the f0 measurement.
#include "families/zq340x/zq340x.h"

#include "core/family_common.h"
#include "core/regs.h"
#include "core/waveform.h"
#include "families/zq340x/zq340x_regs.h"
#include "platform/log.h"
#include "platform/platform.h"

namespace murvane {

static_assert(ZQ340X_REG_RAM_DATA == reg_ram_data, "the shared download streams into the RAM data register");

constexpr family_dts zq340x_dts = {
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

namespace zq340x {

namespace {

// Offset measurement: the code is latched as the trigger drops.
constexpr offset_measure_regs offset_measure = {
    .gain = {ZQ340X_REG_D2S, ZQ340X_D2S_GAIN_MASK},
    .mode = {ZQ340X_REG_D2S, ZQ340X_D2S_MODE_MASK},
    .mode_offset = ZQ340X_D2S_MODE_OFFSET,
    .access = {ZQ340X_REG_RAM_CTRL, ZQ340X_RAM_CTRL_HOST_ACCESS},
    .trigger = {ZQ340X_REG_OFFSET_CTRL, ZQ340X_OFFSET_CTRL_MASK},
    .trigger_run = ZQ340X_OFFSET_CTRL_RUN,
    .trigger_drops = true,
    .code_hi = {ZQ340X_REG_OFFSET_HI, ZQ340X_OFFSET_HI_MASK},
    .code_lo = {ZQ340X_REG_OFFSET_LO, ZQ340X_OFFSET_LO_MASK},
    .divisors = d2s_divisor_table_x1023,
    .gain_error_message = nullptr,
    .record_may_skip = true,
    .fail_message = "offset calibration out of range\n",
};
static_assert(ZQ340X_OFFSET_CTRL_IDLE == 0x00, "a run ends with the trigger field cleared");

constexpr playback_regs playback = {
    .play_mode = {ZQ340X_REG_PLAY_MODE, ZQ340X_PLAY_MODE_MASK},
    .mode_ram = ZQ340X_PLAY_MODE_RAM,
    .mode_cont = ZQ340X_PLAY_MODE_CONT,
    .mode_stop = ZQ340X_PLAY_MODE_STOP,
    .go = {ZQ340X_REG_PLAY_CTRL, ZQ340X_PLAY_CTRL_GO},
    .standby = {ZQ340X_REG_RAM_CTRL, ZQ340X_RAM_CTRL_STANDBY_REQ},
    .boost = {ZQ340X_REG_SYSCTRL, ZQ340X_SYSCTRL_BOOST},
    .cont = {ZQ340X_REG_CONT_CTRL, ZQ340X_CONT_CTRL_CONT_EN},
    .cont_preset = {0, 0},
};

// As on family C: the wait comes before every reading.
constexpr poll_spec standby_poll = {
    .reg = ZQ340X_REG_STATE,
    .mask = ZQ340X_STATE_MASK,
    .want = ZQ340X_STATE_STANDBY,
    .also_want = ZQ340X_STATE_STANDBY,
    .count = standby_poll_count,
    .wait_us = standby_poll_wait_us,
    .wait_first = true,
};

}  // namespace

int32_t wait_standby() { return wait_standby_logged(standby_poll); }

int32_t set_boost_mode(uint8_t mode) { return set_boost_bit(mode, playback.boost); }

int32_t set_go(uint8_t flag) {
  return slot_result(reg_write(ZQ340X_REG_PLAY_CTRL, flag != 0 ? ZQ340X_PLAY_CTRL_GO : ZQ340X_PLAY_CTRL_HALT));
}

int32_t stop() { return stop_playback(playback, &wait_standby, "Murvane: force to enter standby\n"); }

void write_ram() { stream_waveform(waveform_image, &waveform_image_len); }

int32_t set_ram_base() {
  return slot_result(write_sram_base(
      {ZQ340X_REG_RAM_BASE_HI, ZQ340X_REG_RAM_BASE_LO, ZQ340X_REG_RAM_ADDR_HI, ZQ340X_REG_RAM_ADDR_LO}));
}

int32_t chip_init(const family_dts& dts) {
  write_field({ZQ340X_REG_DETECT_CTRL, ZQ340X_DETECT_CTRL_OFFSET_SKIP},
              field_prep(ZQ340X_DETECT_CTRL_OFFSET_SKIP, dts.offset_cali_skip));
  reg_write(ZQ340X_REG_CONT_CFG21, dts.cont_reg21);
  write_field({ZQ340X_REG_CONT_CFG1C, ZQ340X_CONT_CFG1C_MASK}, dts.cont_reg1c);
  write_field({ZQ340X_REG_SYSCTRL, ZQ340X_SYSCTRL_INIT}, ZQ340X_SYSCTRL_INIT);

  // The protected registers take writes only between the two key writes.
  reg_write(ZQ340X_REG_KEY, ZQ340X_KEY_OPEN);
  write_field({ZQ340X_REG_PROT56, ZQ340X_PROT56_CLEAR}, 0x00);
  write_field({ZQ340X_REG_PROT6B, ZQ340X_PROT6B_SET}, ZQ340X_PROT6B_SET);
  reg_write(ZQ340X_REG_PROT73, ZQ340X_PROT73_DEFAULT);
  reg_write(ZQ340X_REG_PROT76, ZQ340X_PROT76_DEFAULT);
  return slot_result(reg_write(ZQ340X_REG_KEY, ZQ340X_KEY_CLOSE));
}
int32_t set_gain(uint8_t gain) { return slot_result(reg_write(ZQ340X_REG_GAIN, gain)); }

int32_t set_play_mode(uint8_t mode) { return switch_play_mode(mode, playback); }

int32_t set_sequence(uint8_t index, uint8_t wave) {
  return slot_result(write_sequence(ZQ340X_REG_SEQ_WAVE0, index, wave));
}

int32_t set_sequence_loop(uint8_t index, uint8_t loop) {
  return slot_result(write_sequence_loop(ZQ340X_REG_SEQ_LOOP0, index, loop));
}

int32_t set_ram_access(uint8_t on) {
  return set_ram_access_bit(on, {ZQ340X_REG_RAM_CTRL, ZQ340X_RAM_CTRL_HOST_ACCESS});
}

// A failed read leaves 0: not qualified.
EFI_STATUS qualify_check() { return check_qualified({ZQ340X_REG_QUALIFY, ZQ340X_QUALIFY_OK}); }

int32_t offset_calibration(const family_dts& dts) { return measure_offset(dts, offset_measure); }

// f0 measurement: 0x1E is the band factor x cont_reg1e_scale / 40000, the
// margin written whatever its value; bit 2 of 0x08 is not touched.
constexpr f0_measure_regs f0_measure = {
    .stop = zq340x::stop,
    .go = nullptr,
    .wait_standby = &wait_standby,
    .playback = &playback,
    .drive =
        {
            .drive_enable = {ZQ340X_REG_CONT_CFG1D, ZQ340X_CONT_CFG1D_EN},
            .band = ZQ340X_REG_CONT_CFG1E,
            .cont_1f = ZQ340X_REG_CONT_CFG1F,
            .cont_20 = ZQ340X_REG_CONT_CFG20,
            .track_margin = ZQ340X_REG_CONT_TRACK_MARGIN,
            .band_divisor = 40000,
            .zero_margin_message = nullptr,
        },
    .detector = {ZQ340X_REG_DETECT_CTRL, ZQ340X_DETECT_CTRL_F0_EN},
    .play_cfg_detect = {0, 0},
    .go_write = {ZQ340X_REG_PLAY_CTRL, ZQ340X_PLAY_CTRL_GO},
    .drive_width = ZQ340X_REG_CONT_DRV_WIDTH,
    .drive_period = 0,
    .period_hi = ZQ340X_REG_F0_PERIOD_HI,
    .period_lo = ZQ340X_REG_F0_PERIOD_LO,
    .no_standby_message = nullptr,
};

int32_t get_f0(const family_dts& dts) { return measure_f0(dts, f0_measure); }

int32_t write_trim_lra(int32_t kind) {
  const uint8_t value = select_trim_value(kind);
  return slot_result(write_field({ZQ340X_REG_TRIM_LRA, ZQ340X_TRIM_LRA_MASK}, value));
}

}  // namespace zq340x

namespace {

constexpr haptic_ops zq340x_ops = {
    .get_f0 = [] { return zq340x::get_f0(zq340x_dts); },
    .offset_calibration = [] { return zq340x::offset_calibration(zq340x_dts); },
    .set_go = zq340x::set_go,
    .stop = zq340x::stop,
    .write_ram = zq340x::write_ram,
    .set_ram_base = zq340x::set_ram_base,
    .chip_init = [] { return zq340x::chip_init(zq340x_dts); },
    .set_gain = zq340x::set_gain,
    .set_play_mode = zq340x::set_play_mode,
    .write_trim_lra = zq340x::write_trim_lra,
    .set_sequence = zq340x::set_sequence,
    .set_sequence_loop = zq340x::set_sequence_loop,
    .set_ram_access = zq340x::set_ram_access,
    .qualify_check = zq340x::qualify_check,
};

}  // namespace

constexpr chip_family zq340x_family = {&zq340x_dts, &zq340x_ops, "zq340x"};

}  // namespace murvane
