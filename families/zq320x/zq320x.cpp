// The zq320x family: zq3201 (0x05), zq3202 (0x04), zq3203 (0x07) and
// zq3204 (0x06).
#include "families/zq320x/zq320x.h"

#include "core/family_common.h"
#include "core/regs.h"
#include "core/waveform.h"
#include "families/zq320x/zq320x_regs.h"
#include "platform/log.h"
#include "platform/platform.h"

namespace murvane {

static_assert(ZQ320X_REG_RAM_DATA == reg_ram_data, "the shared download streams into the RAM data register");

constexpr family_dts zq320x_dts = {
    .f0_pre = 1700,
    .init_6d_71 = {0x20, 0x24, 0x96, 0x40, 0x11},
    .d2s_gain = 4,
    .cont_reg1d = 0x7F,
    .cont_reg21 = 0x08,
    .cont_reg1c = 0x08,
    .cont_reg1f = 0x04,
    .cont_reg20 = 0x14,
    .cont_track_margin = 0x0F,
    .cont_reg1e_scale = 1000,
};

namespace zq320x {

constexpr int32_t d2s_divisor_table[d2s_gain_codes] = {2048, 3072, 5120, 9216, 11264, 17408, 21504, 27648};

namespace {

// The standby request, the stop mode and GO serve this family's own stop
// (it polls and forces standby its own way); the RAM and continuous modes
// are the shared switch, continuous drive with the 0x3C preset.
constexpr playback_regs playback = {
    .play_mode = {ZQ320X_REG_PLAY_CFG, ZQ320X_PLAY_MODE_MASK},
    .mode_ram = ZQ320X_PLAY_MODE_RAM,
    .mode_cont = ZQ320X_PLAY_MODE_CONT,
    .mode_stop = ZQ320X_PLAY_MODE_STOP,
    .go = {ZQ320X_REG_PLAY_CMD, ZQ320X_PLAY_CMD_GO},
    .standby = {ZQ320X_REG_STANDBY_CTRL, ZQ320X_STANDBY_FORCE},
    .boost = {ZQ320X_REG_BOOST_CTRL, ZQ320X_BOOST_EN},
    .cont = {ZQ320X_REG_SYS_CTRL, ZQ320X_SYS_CTRL_CONT_MODE},
    .cont_preset = {ZQ320X_REG_CONT_3C, ZQ320X_CONT_3C_VALUE},
};

// stop takes either standby state; the f0 measurement only the first.
constexpr poll_spec stop_standby_poll = {
    .reg = ZQ320X_REG_GLB_STATE,
    .mask = ZQ320X_GLB_STATE_MASK,
    .want = ZQ320X_GLB_STATE_STANDBY,
    .also_want = ZQ320X_GLB_STATE_STANDBY_ALT,
    .count = stop_poll_count,
    .wait_us = stop_poll_wait_us,
    .wait_first = false,
};
constexpr poll_spec f0_standby_poll = {
    .reg = ZQ320X_REG_GLB_STATE,
    .mask = ZQ320X_GLB_STATE_MASK,
    .want = ZQ320X_GLB_STATE_STANDBY,
    .also_want = ZQ320X_GLB_STATE_STANDBY,
    .count = f0_poll_count,
    .wait_us = f0_poll_wait_us,
    .wait_first = false,
};

// The offset measurement: no mode to set, the start bit is not dropped, the
// code's high bits are the whole of 0x54, and the gain index is the whole
// byte read back (this family's own divisors).
constexpr offset_measure_regs offset_measure = {
    .gain = {ZQ320X_REG_D2S_GAIN, ZQ320X_D2S_GAIN_MASK},
    .mode = {0, 0},
    .mode_offset = 0,
    .access = {ZQ320X_REG_SYS_CTRL, ZQ320X_SYS_CTRL_RAM_ACCESS},
    .trigger = {ZQ320X_REG_OFFSET_CAL, ZQ320X_OFFSET_CAL_START},
    .trigger_run = ZQ320X_OFFSET_CAL_START,
    .trigger_drops = false,
    .code_hi = {ZQ320X_REG_OFFSET_HI, ZQ320X_OFFSET_HI_MASK},
    .code_lo = {ZQ320X_REG_OFFSET_LO, ZQ320X_OFFSET_LO_MASK},
    .divisors = d2s_divisor_table,
    .gain_error_message = "Murvane: d2s_gain is error\n",
    .record_may_skip = false,
    .fail_message = "Murvane: offset calibration out of range\n",
};

}  // namespace

int32_t set_boost_mode(uint8_t mode) { return set_boost_bit(mode, playback.boost); }

int32_t set_go(uint8_t flag) {
  return slot_result(reg_write(ZQ320X_REG_PLAY_CMD, flag != 0 ? ZQ320X_PLAY_CMD_GO : ZQ320X_PLAY_CMD_HALT));
}

int32_t stop() {
  log_error("Murvane: enter\n");
  request_stop(playback);
  // The reading that shows standby is followed by its wait too.
  if (poll_reg(stop_standby_poll)) {
    log_error("Murvane: enter standby mode\n");
    return wait_result(stall(stop_poll_wait_us));
  }
  log_error("Murvane: force to enter standby mode\n");
  write_field(playback.standby, playback.standby.mask);
  return slot_result(write_field(playback.standby, 0x00));
}

void write_ram() { stream_waveform(waveform_image, &waveform_image_len); }

int32_t set_ram_base() {
  return slot_result(write_sram_base(
      {ZQ320X_REG_RAM_BASE_HI, ZQ320X_REG_RAM_BASE_LO, ZQ320X_REG_RAM_ADDR_HI, ZQ320X_REG_RAM_ADDR_LO}));
}

int32_t chip_init(const family_dts& dts) {
  for (uint8_t i = 0; i < ZQ320X_INIT_COUNT; ++i) {
    reg_write(static_cast<uint8_t>(ZQ320X_REG_INIT_BASE + i), dts.init_6d_71[i]);
  }
  reg_write(ZQ320X_REG_CONT_21, dts.cont_reg21);
  write_field({ZQ320X_REG_CONT_1C, ZQ320X_CONT_1C_MASK}, dts.cont_reg1c);
  return slot_result(write_field({ZQ320X_REG_INIT_71, ZQ320X_INIT_71_BIT7}, 0x00));
}

int32_t set_gain(uint8_t gain) { return slot_result(reg_write(ZQ320X_REG_GAIN, gain)); }

// Standby is this family's stop; RAM playback and continuous drive are the
// shared switch.
int32_t set_play_mode(uint8_t mode) {
  if (mode == play_mode_standby) {
    log_error("Murvane: standby mode\n");
    return stop();
  }
  return switch_play_mode(mode, playback);
}

int32_t write_trim_lra(int32_t kind) {
  const uint8_t value = select_trim_value(kind);
  return slot_result(write_field({ZQ320X_REG_TRIM_LRA, ZQ320X_TRIM_LRA_MASK}, value));
}

int32_t set_sequence(uint8_t index, uint8_t wave) {
  return slot_result(write_sequence(ZQ320X_REG_SEQ_WAVE_BASE, index, wave));
}

int32_t set_sequence_loop(uint8_t index, uint8_t loop) {
  return slot_result(write_sequence_loop(ZQ320X_REG_SEQ_LOOP_BASE, index, loop));
}

int32_t set_ram_access(uint8_t on) { return set_ram_access_bit(on, {ZQ320X_REG_SYS_CTRL, ZQ320X_SYS_CTRL_RAM_ACCESS}); }

EFI_STATUS qualify_check() { return check_qualified({ZQ320X_REG_QUALIFY, ZQ320X_QUALIFY_OK}); }

// The f0 measurement: 0x1E is the band factor x cont_reg1e_scale / 30500,
// a zero margin reported, not written; no period register. The standby
// wait after the drive takes only the first standby state, and a wait that
// never sees it reads no period.
constexpr f0_measure_regs f0_measure = {
    .stop = zq320x::stop,
    .go = nullptr,
    .wait_standby =
        [] {
          if (!poll_reg(f0_standby_poll)) {
            return -1;
          }
          log_error("Murvane: entered standby mode\n");
          return 0;
        },
    .playback = &playback,
    .drive =
        {
            .drive_enable = {ZQ320X_REG_CONT_1D, ZQ320X_CONT_1D_EN},
            .band = ZQ320X_REG_CONT_1E,
            .cont_1f = ZQ320X_REG_CONT_1F,
            .cont_20 = ZQ320X_REG_CONT_20,
            .track_margin = ZQ320X_REG_CONT_TRACK_MARGIN,
            .band_divisor = 30500,
            .zero_margin_message = "Murvane: zq320x_dts.cont_track_margin = 0\n",
        },
    .detector = {ZQ320X_REG_F0_CTRL, ZQ320X_F0_CTRL_TRACK_EN},
    .play_cfg_detect = {ZQ320X_REG_PLAY_CFG, ZQ320X_PLAY_CFG_F0_DETECT},
    .go_write = {ZQ320X_REG_PLAY_CMD, ZQ320X_PLAY_CMD_GO},
    .drive_width = ZQ320X_REG_CONT_DRV_WIDTH,
    .drive_period = 0,
    .period_hi = ZQ320X_REG_F0_PERIOD_HI,
    .period_lo = ZQ320X_REG_F0_PERIOD_LO,
    .no_standby_message = "Murvane: enter standby mode failed, stop read f0\n",
};

int32_t get_f0(const family_dts& dts) { return measure_f0(dts, f0_measure); }

int32_t offset_calibration(const family_dts& dts) { return measure_offset(dts, offset_measure); }

}  // namespace zq320x

namespace {

constexpr haptic_ops zq320x_ops = {
    .get_f0 = [] { return zq320x::get_f0(zq320x_dts); },
    .offset_calibration = [] { return zq320x::offset_calibration(zq320x_dts); },
    .set_go = zq320x::set_go,
    .stop = zq320x::stop,
    .write_ram = zq320x::write_ram,
    .set_ram_base = zq320x::set_ram_base,
    .chip_init = [] { return zq320x::chip_init(zq320x_dts); },
    .set_gain = zq320x::set_gain,
    .set_play_mode = zq320x::set_play_mode,
    .write_trim_lra = zq320x::write_trim_lra,
    .set_sequence = zq320x::set_sequence,
    .set_sequence_loop = zq320x::set_sequence_loop,
    .set_ram_access = zq320x::set_ram_access,
    .qualify_check = zq320x::qualify_check,
};

}  // namespace

constexpr chip_family zq320x_family = {&zq320x_dts, &zq320x_ops, "zq320x"};

}  // namespace murvane
