#include "families/zq330x/zq330x.h"

#include "core/family_common.h"
#include "core/regs.h"
#include "core/waveform.h"
#include "families/zq330x/zq330x_regs.h"
#include "platform/log.h"
#include "platform/platform.h"

namespace murvane {

static_assert(ZQ330X_REG_RAM_DATA == reg_ram_data, "the shared download streams into the RAM data register");

constexpr family_dts zq330x_dts = {
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

namespace zq330x {

namespace {

constexpr playback_regs playback = {
    .play_mode = {ZQ330X_REG_PLAY_CFG, ZQ330X_PLAY_MODE_MASK},
    .mode_ram = ZQ330X_PLAY_MODE_RAM,
    .mode_cont = ZQ330X_PLAY_MODE_CONT,
    .mode_stop = ZQ330X_PLAY_MODE_STOP,
    .go = {ZQ330X_REG_PLAY_CTRL, ZQ330X_PLAY_GO},
    .standby = {ZQ330X_REG_SYS_CTRL, ZQ330X_FORCE_STANDBY},
    .boost = {ZQ330X_REG_BOOST_CTRL, ZQ330X_BOOST_EN},
    .cont = {ZQ330X_REG_PLAY_SEL, ZQ330X_CONT_SEL},
    .cont_preset = {0, 0},
};

// The chip needs a while after a stop request before its state means
// anything: the wait comes before every reading.
constexpr poll_spec standby_poll = {
    .reg = ZQ330X_REG_GLB_STATE,
    .mask = ZQ330X_GLB_STATE_MASK,
    .want = ZQ330X_GLB_STATE_STANDBY,
    .also_want = ZQ330X_GLB_STATE_STANDBY,
    .count = standby_poll_count,
    .wait_us = standby_poll_wait_us,
    .wait_first = true,
};

}  // namespace

int32_t wait_standby() { return wait_standby_logged(standby_poll); }

int32_t set_boost_mode(uint8_t mode) { return set_boost_bit(mode, playback.boost); }

// f0 measurement: 0x1E is the band factor x cont_reg1e_scale / 40000, the
// margin written whatever its value.
constexpr f0_measure_regs f0_measure = {
    .stop = zq330x::stop,
    .go = nullptr,
    .wait_standby = &wait_standby,
    .playback = &playback,
    .drive =
        {
            .drive_enable = {ZQ330X_REG_CONT_1D, ZQ330X_CONT_1D_EN},
            .band = ZQ330X_REG_CONT_1E,
            .cont_1f = ZQ330X_REG_CONT_1F,
            .cont_20 = ZQ330X_REG_CONT_20,
            .track_margin = ZQ330X_REG_CONT_TRACK_MARGIN,
            .band_divisor = 40000,
            .zero_margin_message = nullptr,
        },
    .detector = {ZQ330X_REG_TRACK_CTRL, ZQ330X_TRACK_EN},
    .play_cfg_detect = {ZQ330X_REG_PLAY_CFG, ZQ330X_F0_DETECT_EN},
    .go_write = {ZQ330X_REG_PLAY_CTRL, ZQ330X_PLAY_GO},
    .drive_width = ZQ330X_REG_CONT_DRV_WIDTH,
    .drive_period = 0,
    .period_hi = ZQ330X_REG_F0_PERIOD_HI,
    .period_lo = ZQ330X_REG_F0_PERIOD_LO,
    .no_standby_message = nullptr,
};

int32_t get_f0(const family_dts& dts) { return measure_f0(dts, f0_measure); }

// The zq330x needs no offset calibration.
int32_t offset_calibration() { return 0; }

int32_t set_go(uint8_t flag) {
  return slot_result(reg_write(ZQ330X_REG_PLAY_CTRL, flag != 0 ? ZQ330X_PLAY_GO : ZQ330X_PLAY_HALT));
}

int32_t stop() { return stop_playback(playback, &wait_standby, "Murvane: force to enter standby\n"); }

void write_ram() { stream_waveform(waveform_image, &waveform_image_len); }

int32_t set_ram_base() {
  return slot_result(write_sram_base(
      {ZQ330X_REG_RAM_BASE_HI, ZQ330X_REG_RAM_BASE_LO, ZQ330X_REG_RAM_ADDR_HI, ZQ330X_REG_RAM_ADDR_LO}));
}

int32_t chip_init(const family_dts& dts) {
  write_field({ZQ330X_REG_D2S, ZQ330X_D2S_GAIN_MASK}, dts.d2s_gain);
  reg_write(ZQ330X_REG_CONT_21, dts.cont_reg21);
  return slot_result(write_field({ZQ330X_REG_CONT_1C, ZQ330X_CONT_1C_MASK}, dts.cont_reg1c));
}

int32_t set_gain(uint8_t gain) { return slot_result(reg_write(ZQ330X_REG_GAIN, gain)); }

int32_t set_play_mode(uint8_t mode) { return switch_play_mode(mode, playback); }

int32_t write_trim_lra(int32_t kind) {
  const uint8_t value = select_trim_value(kind);
  return slot_result(write_field({ZQ330X_REG_TRIM_LRA, ZQ330X_TRIM_LRA_MASK}, value));
}

int32_t set_sequence(uint8_t index, uint8_t wave) { return slot_result(write_sequence(ZQ330X_REG_SEQ0, index, wave)); }

int32_t set_sequence_loop(uint8_t index, uint8_t loop) {
  return slot_result(write_sequence_loop(ZQ330X_REG_SEQ_LOOP0, index, loop));
}

int32_t set_ram_access(uint8_t on) { return set_ram_access_bit(on, {ZQ330X_REG_RAM_CTRL, ZQ330X_RAM_HOST_ACCESS}); }

EFI_STATUS qualify_check() { return check_qualified({ZQ330X_REG_QUALIFY, ZQ330X_QUALIFIED}); }

namespace {

constexpr haptic_ops zq330x_ops = {
    .get_f0 = [] { return zq330x::get_f0(zq330x_dts); },
    .offset_calibration = zq330x::offset_calibration,
    .set_go = zq330x::set_go,
    .stop = zq330x::stop,
    .write_ram = zq330x::write_ram,
    .set_ram_base = zq330x::set_ram_base,
    .chip_init = [] { return zq330x::chip_init(zq330x_dts); },
    .set_gain = zq330x::set_gain,
    .set_play_mode = zq330x::set_play_mode,
    .write_trim_lra = zq330x::write_trim_lra,
    .set_sequence = zq330x::set_sequence,
    .set_sequence_loop = zq330x::set_sequence_loop,
    .set_ram_access = zq330x::set_ram_access,
    .qualify_check = zq330x::qualify_check,
};

}  // namespace

}  // namespace zq330x

constexpr chip_family zq330x_family = {&zq330x_dts, &zq330x::zq330x_ops, "zq330x"};

}  // namespace murvane
