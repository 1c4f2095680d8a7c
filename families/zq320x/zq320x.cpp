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

constexpr int32_t d2s_divisor_table[d2s_divisor_count] = {2048, 3072, 5120, 9216, 11264, 17408, 21504, 27648};

namespace {

// f0 measurement: the 0x1E parameter is k * cont_reg1e_scale / 30500 (k
// from the expected frequency band), a zero margin is reported, not written.
constexpr cont_drive_regs cont_drive = {
    .cont_1d = {ZQ320X_REG_CONT_1D, ZQ320X_CONT_1D_EN},
    .cont_1e = ZQ320X_REG_CONT_1E,
    .cont_1f = ZQ320X_REG_CONT_1F,
    .cont_20 = ZQ320X_REG_CONT_20,
    .track_margin = ZQ320X_REG_CONT_TRACK_MARGIN,
    .cont_1e_divisor = 30500,
    .zero_margin_message = "Murvane: zq320x_dts.cont_track_margin = 0\n",
};
// The standby request, the stop mode and GO serve this family's own stop
// (it polls and forces standby its own way), not the shared one.
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

// The offset code is 10 bits centred on 512; 2440 per code step.
constexpr int32_t offset_step = 2440;
constexpr int32_t offset_centre = 512 * offset_step;  // 1249280
constexpr int32_t offset_limit = 15;

bool is_stop_standby(uint8_t state) {
  const auto s = static_cast<uint8_t>(state & ZQ320X_GLB_STATE_MASK);
  return s == ZQ320X_GLB_STATE_STANDBY || s == ZQ320X_GLB_STATE_STANDBY_ALT;
}

}  // namespace

int32_t set_boost_mode(uint8_t mode) { return set_boost_bit(mode, playback.boost); }

int32_t set_go(uint8_t flag) {
  return slot_result(reg_write(ZQ320X_REG_PLAY_CMD, flag != 0 ? ZQ320X_PLAY_CMD_GO : ZQ320X_PLAY_CMD_HALT));
}

int32_t stop() {
  log_error("Murvane: enter\n");
  // GO is a stop command only in play mode 11; in any other mode it would
  // start playback, so without the mode (a failed update, or a failed read
  // of it, which writes nothing) there is no GO.
  if (reg_write_bits(ZQ320X_REG_PLAY_CFG, keep_except(ZQ320X_PLAY_MODE_MASK), ZQ320X_PLAY_MODE_STOP) == 0) {
    reg_write(ZQ320X_REG_PLAY_CMD, ZQ320X_PLAY_CMD_GO);
  }

  // Every reading, the one that shows standby included, is followed by a
  // wait. A reading that did not reach the chip ends the poll at once, as if
  // it had run out: the byte it left behind says nothing.
  for (uint32_t i = 0; i < stop_poll_count; ++i) {
    const reg_byte state = reg_read_byte(ZQ320X_REG_GLB_STATE);
    if (!state.ok()) {
      break;
    }
    const bool standby = is_stop_standby(state.value());
    if (standby) {
      log_error("Murvane: enter standby mode\n");
    }
    const EFI_STATUS waited = stall(stop_poll_wait_us);
    if (standby) {
      return slot_result(waited);
    }
  }
  log_error("Murvane: force to enter standby mode\n");
  reg_write_bits(ZQ320X_REG_STANDBY_CTRL, keep_except(ZQ320X_STANDBY_FORCE), ZQ320X_STANDBY_FORCE);
  return slot_result(reg_write_bits(ZQ320X_REG_STANDBY_CTRL, keep_except(ZQ320X_STANDBY_FORCE), 0x00));
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
  reg_write_bits(ZQ320X_REG_CONT_1C, keep_except(ZQ320X_CONT_1C_FIELD), dts.cont_reg1c);
  return slot_result(reg_write_bits(ZQ320X_REG_INIT_71, keep_except(ZQ320X_INIT_71_BIT7), 0x00));
}

int32_t set_gain(uint8_t gain) { return slot_result(reg_write(ZQ320X_REG_GAIN, gain)); }

// Standby is this family's stop; RAM playback and continuous drive are the
// shared switch, continuous drive with the 0x3C preset.
int32_t set_play_mode(uint8_t mode) {
  if (mode == play_mode_standby) {
    log_error("Murvane: standby mode\n");
    return stop();
  }
  return switch_play_mode(mode, playback);
}

int32_t write_trim_lra(int32_t kind) {
  const uint8_t value = select_trim_value(kind);
  return slot_result(reg_write_bits(ZQ320X_REG_TRIM_LRA, keep_except(ZQ320X_TRIM_LRA_MASK), value));
}

int32_t set_sequence(uint8_t index, uint8_t wave) {
  return slot_result(write_sequence(ZQ320X_REG_SEQ_WAVE_BASE, index, wave));
}

int32_t set_sequence_loop(uint8_t index, uint8_t loop) {
  return slot_result(write_sequence_loop(ZQ320X_REG_SEQ_LOOP_BASE, index, loop));
}

int32_t set_ram_access(uint8_t on) { return set_ram_access_bit(on, {ZQ320X_REG_SYS_CTRL, ZQ320X_SYS_CTRL_RAM_ACCESS}); }

EFI_STATUS qualify_check() { return check_qualified({ZQ320X_REG_QUALIFY, ZQ320X_QUALIFY_OK}); }

int32_t get_f0(const family_dts& dts) {
  const transfer_watch watch;
  // A measurement that does not complete leaves the expected value.
  haptic_dev.lra_f0 = dts.f0_pre;
  stop();
  write_field({ZQ320X_REG_F0_CTRL, ZQ320X_F0_CTRL_TRACK_EN}, ZQ320X_F0_CTRL_TRACK_EN);
  // Bit 2 of 0x08 goes back to what it was (after a failed read: clear).
  const uint8_t saved_play_cfg = reg_read_byte(ZQ320X_REG_PLAY_CFG).value();
  write_field({ZQ320X_REG_PLAY_CFG, ZQ320X_PLAY_CFG_F0_DETECT}, ZQ320X_PLAY_CFG_F0_DETECT);
  set_play_mode(play_mode_cont);
  write_cont_drive(dts, cont_drive);
  if (dts.f0_pre == 0) {
    return -1;
  }
  reg_write(ZQ320X_REG_CONT_1A, cont_1a_value(dts));
  reg_write(ZQ320X_REG_PLAY_CMD, ZQ320X_PLAY_CMD_GO);
  stall(f0_start_wait_us);
  if (poll_reg(ZQ320X_REG_GLB_STATE, ZQ320X_GLB_STATE_MASK, ZQ320X_GLB_STATE_STANDBY, f0_poll_count, f0_poll_wait_us)) {
    log_error("Murvane: entered standby mode\n");
    uint32_t period = read_period(ZQ320X_REG_F0_PERIOD_HI, ZQ320X_REG_F0_PERIOD_LO);
    // A measurement with a failed transfer has no period we can trust.
    if (watch.any_failed()) {
      period = 0;
    }
    store_lra_f0(period);
  } else {
    log_error("Murvane: enter standby mode failed, stop read f0\n");
  }
  write_field({ZQ320X_REG_F0_CTRL, ZQ320X_F0_CTRL_TRACK_EN}, 0x00);
  reg_write_bits(ZQ320X_REG_PLAY_CFG, keep_except(ZQ320X_PLAY_CFG_F0_DETECT), saved_play_cfg);
  return 0;
}

int32_t offset_calibration(const family_dts& dts) {
  const transfer_watch watch;
  // The index is read back after the run: the window is that of the gain
  // the chip used.
  reg_write_bits(ZQ320X_REG_D2S_GAIN, keep_except(ZQ320X_D2S_GAIN_MASK), dts.d2s_gain);
  write_field({ZQ320X_REG_SYS_CTRL, ZQ320X_SYS_CTRL_RAM_ACCESS}, ZQ320X_SYS_CTRL_RAM_ACCESS);
  stall(offset_cal_settle_us);
  write_field({ZQ320X_REG_OFFSET_CAL, ZQ320X_OFFSET_CAL_START}, ZQ320X_OFFSET_CAL_START);
  stall(offset_cal_measure_us);
  const uint32_t gain_index = reg_read_byte(ZQ320X_REG_D2S_GAIN).value();
  const uint32_t result_hi = reg_read_byte(ZQ320X_REG_OFFSET_HI).value();
  const uint32_t result_lo = reg_read_byte(ZQ320X_REG_OFFSET_LO).value();
  const bool failed = watch.any_failed();
  write_field({ZQ320X_REG_SYS_CTRL, ZQ320X_SYS_CTRL_RAM_ACCESS}, 0x00);

  // A run with a failed transfer (not set up, not started, a result byte
  // lost) has no result that may pass the window.
  if (!failed) {
    // The whole byte must be a valid index: bits above the field mean the
    // chip did not take the gain.
    if (gain_index >= d2s_divisor_count) {
      log_error("Murvane: d2s_gain is error\n");
      return -1;
    }
    const auto code =
        static_cast<int32_t>(result_hi * 4 + ((result_lo & ZQ320X_OFFSET_LO_MASK) >> ZQ320X_OFFSET_LO_SHIFT));
    const int32_t offset = (code * offset_step - offset_centre) / d2s_divisor_table[gain_index];
    if (offset >= -offset_limit && offset <= offset_limit) {
      return 0;
    }
  }
  log_error("Murvane: offset calibration out of range\n");
  return -1;
}

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
