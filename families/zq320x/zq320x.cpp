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
// The standby request, the stop mode and GO are this family's own stop
// (stop_chip), not the shared one.
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
// lra_f0 (0.1 Hz) from the measured period.
constexpr uint32_t f0_period_dividend = 3840000;

// The offset code is 10 bits centred on 512; 2440 per code step.
constexpr int32_t offset_step = 2440;
constexpr int32_t offset_centre = 512 * offset_step;  // 1249280
constexpr int32_t offset_limit = 15;

int32_t bus_result(uint32_t bus_status) { return static_cast<int32_t>(bus_status); }
int32_t ok_result(bool ok) { return ok ? 0 : -1; }

bool is_stop_standby(uint8_t state) {
  const auto s = static_cast<uint8_t>(state & ZQ320X_GLB_STATE_MASK);
  return s == ZQ320X_GLB_STATE_STANDBY || s == ZQ320X_GLB_STATE_STANDBY_ALT;
}

}  // namespace

int32_t set_boost_mode(uint8_t mode) { return set_boost_bit(mode, playback.boost); }

int32_t set_go(uint8_t flag) {
  return bus_result(reg_write(ZQ320X_REG_PLAY_CMD, flag != 0 ? ZQ320X_PLAY_CMD_GO : ZQ320X_PLAY_CMD_HALT));
}

namespace {

struct stop_outcome {
  bool failed;   // some access of the stop failed
  bool standby;  // the chip is known to be in standby: seen, or forced by a complete pulse
};

stop_outcome stop_chip() {
  log_error("Murvane: enter\n");
  // GO is a stop command only in play mode 11; in any other mode it would
  // start playback, so without the mode there is no GO.
  const bool mode_set =
      reg_write_bits(ZQ320X_REG_PLAY_CFG, zq320x_keep_except(ZQ320X_PLAY_MODE_MASK), ZQ320X_PLAY_MODE_STOP) == 0;
  bool failed = !mode_set;
  if (mode_set) {
    failed = reg_write(ZQ320X_REG_PLAY_CMD, ZQ320X_PLAY_CMD_GO) != 0;
  }

  // Every reading, the one that shows standby included, is followed by a
  // wait. A reading that did not reach the chip ends the poll at once: the
  // byte it left behind says nothing (on the first pass it reads as standby).
  bool standby = false;
  for (uint32_t i = 0; i < stop_poll_count && !standby; ++i) {
    const uint32_t state = reg_read_byte(ZQ320X_REG_GLB_STATE);
    if ((state & reg_read_failed) != 0) {
      failed = true;
      break;
    }
    standby = is_stop_standby(static_cast<uint8_t>(state));
    if (standby) {
      log_error("Murvane: enter standby mode\n");
    }
    stall(stop_poll_wait_us);
  }
  if (standby) {
    return {failed, true};
  }
  log_error("Murvane: force to enter standby mode\n");
  // The release is written even when the force failed: bit 6 must not be
  // left set.
  const bool forced =
      reg_write_bits(ZQ320X_REG_STANDBY_CTRL, zq320x_keep_except(ZQ320X_STANDBY_FORCE), ZQ320X_STANDBY_FORCE) == 0;
  const bool released = reg_write_bits(ZQ320X_REG_STANDBY_CTRL, zq320x_keep_except(ZQ320X_STANDBY_FORCE), 0x00) == 0;
  return {failed || !forced || !released, forced && released};
}

}  // namespace

int32_t stop() { return ok_result(!stop_chip().failed); }

void write_ram() { stream_waveform(waveform_image, &waveform_image_len); }

int32_t set_ram_base() {
  return bus_result(write_sram_base(
      {ZQ320X_REG_RAM_BASE_HI, ZQ320X_REG_RAM_BASE_LO, ZQ320X_REG_RAM_ADDR_HI, ZQ320X_REG_RAM_ADDR_LO}));
}

int32_t chip_init(const family_dts& dts) {
  for (uint8_t i = 0; i < ZQ320X_INIT_COUNT; ++i) {
    reg_write(static_cast<uint8_t>(ZQ320X_REG_INIT_BASE + i), dts.init_6d_71[i]);
  }
  reg_write(ZQ320X_REG_CONT_21, dts.cont_reg21);
  reg_write_bits(ZQ320X_REG_CONT_1C, zq320x_keep_except(ZQ320X_CONT_1C_FIELD), dts.cont_reg1c);
  return bus_result(reg_write_bits(ZQ320X_REG_INIT_71, zq320x_keep_except(ZQ320X_INIT_71_BIT7), 0x00));
}

int32_t set_gain(uint8_t gain) { return bus_result(reg_write(ZQ320X_REG_GAIN, gain)); }

// Standby is this family's stop; RAM playback and continuous drive are the
// shared switch (every step issued, the mode set only when all of them
// reached the chip), continuous drive with 0x3C preset.
int32_t set_play_mode(uint8_t mode) {
  if (mode == play_mode_standby) {
    log_error("Murvane: standby mode\n");
    return stop();
  }
  return switch_play_mode(mode, playback);
}

int32_t write_trim_lra(int32_t kind) {
  const uint8_t value = select_trim_value(kind);
  return bus_result(reg_write_bits(ZQ320X_REG_TRIM_LRA, zq320x_keep_except(ZQ320X_TRIM_LRA_MASK), value));
}

int32_t set_sequence(uint8_t index, uint8_t wave) {
  return bus_result(write_sequence(ZQ320X_REG_SEQ_WAVE_BASE, index, wave));
}

int32_t set_sequence_loop(uint8_t index, uint8_t loop) {
  return bus_result(write_sequence_loop(ZQ320X_REG_SEQ_LOOP_BASE, index, loop));
}

// 0 when the window was opened (closed), -1 when the update failed: the
// caller streams the image only into a window that is open.
int32_t set_ram_access(uint8_t on) { return set_ram_access_bit(on, {ZQ320X_REG_SYS_CTRL, ZQ320X_SYS_CTRL_RAM_ACCESS}); }

EFI_STATUS qualify_check() { return check_qualified({ZQ320X_REG_QUALIFY, ZQ320X_QUALIFY_OK}); }

namespace {

// After the GO of a measurement: waits for the chip to return to standby
// and stores the frequency of the measured period in lra_f0.
void read_measured_f0() {
  stall(f0_start_wait_us);
  if (!poll_reg(ZQ320X_REG_GLB_STATE, ZQ320X_GLB_STATE_MASK, ZQ320X_GLB_STATE_STANDBY, f0_poll_count,
                f0_poll_wait_us)) {
    log_error("Murvane: enter standby mode failed, stop read f0\n");
    return;
  }
  log_error("Murvane: entered standby mode\n");
  // A period we could not read is no measurement: keep the expected value
  // rather than derive a frequency from half a register pair.
  const uint32_t period = read_period(ZQ320X_REG_F0_PERIOD_HI, ZQ320X_REG_F0_PERIOD_LO);
  if ((period & period_read_failed) == 0) {
    store_lra_f0(f0_period_dividend, period);
  }
}

}  // namespace

int32_t get_f0(const family_dts& dts) {
  // A measurement that does not complete leaves the expected value.
  haptic_dev.lra_f0 = dts.f0_pre;

  // The measurement starts only from standby with the detector enabled and
  // the chip in continuous mode: a step of that set-up that did not reach
  // the chip leaves the GO unsent. The saved 0x08 is not part of it, it only
  // feeds the restore (after a failed read, bit 2 is restored as clear).
  bool ready = stop_chip().standby;
  ready =
      reg_write_bits(ZQ320X_REG_F0_CTRL, zq320x_keep_except(ZQ320X_F0_CTRL_TRACK_EN), ZQ320X_F0_CTRL_TRACK_EN) == 0 &&
      ready;
  const auto saved_play_cfg = static_cast<uint8_t>(reg_read_byte(ZQ320X_REG_PLAY_CFG));
  ready = reg_write_bits(ZQ320X_REG_PLAY_CFG, zq320x_keep_except(ZQ320X_PLAY_CFG_F0_DETECT),
                         ZQ320X_PLAY_CFG_F0_DETECT) == 0 &&
          ready;
  ready = set_play_mode(play_mode_cont) == 0 && ready;
  // Of the drive parameters only the 0x1D enable counts: the values are
  // plain writes; a failed one is logged and does not hold the measurement back.
  ready = write_cont_drive(dts, cont_drive) == 0 && ready;
  if (dts.f0_pre == 0) {
    return -1;
  }
  reg_write(ZQ320X_REG_CONT_1A, cont_1a_value(dts));

  // Without a GO that reached the chip nothing is measured, so nothing is
  // polled or read: 0x3F would show the stop's standby and 0x25/0x26 an old
  // period. The start wait belongs to a GO that was sent, even a failed one.
  bool started = false;
  if (ready) {
    started = reg_write(ZQ320X_REG_PLAY_CMD, ZQ320X_PLAY_CMD_GO) == 0;
    if (started) {
      read_measured_f0();
    } else {
      stall(f0_start_wait_us);
    }
  }

  reg_write_bits(ZQ320X_REG_F0_CTRL, zq320x_keep_except(ZQ320X_F0_CTRL_TRACK_EN), 0x00);
  reg_write_bits(ZQ320X_REG_PLAY_CFG, zq320x_keep_except(ZQ320X_PLAY_CFG_F0_DETECT), saved_play_cfg);
  return started ? 0 : -1;
}

int32_t offset_calibration(const family_dts& dts) {
  uint32_t gain_index = 0;
  uint32_t result_hi = 0;
  uint32_t result_lo = 0;

  // A failed gain update needs no guard: the index is read back after the
  // run and the window is that of the gain the chip used.
  reg_write_bits(ZQ320X_REG_D2S_GAIN, zq320x_keep_except(ZQ320X_D2S_GAIN_MASK), dts.d2s_gain);
  // The calibration runs only with 0x43 bit 3 set, and its result registers
  // mean something only after a start that reached the chip. Bit 3 is
  // cleared again in every case.
  const bool enabled = reg_write_bits(ZQ320X_REG_SYS_CTRL, zq320x_keep_except(ZQ320X_SYS_CTRL_RAM_ACCESS),
                                      ZQ320X_SYS_CTRL_RAM_ACCESS) == 0;
  stall(offset_cal_settle_us);
  bool started = false;
  if (enabled) {
    started = reg_write_bits(ZQ320X_REG_OFFSET_CAL, zq320x_keep_except(ZQ320X_OFFSET_CAL_START),
                             ZQ320X_OFFSET_CAL_START) == 0;
    stall(offset_cal_measure_us);
  }

  bool no_result = !started;
  if (started) {
    gain_index = reg_read_byte(ZQ320X_REG_D2S_GAIN);
    result_hi = reg_read_byte(ZQ320X_REG_OFFSET_HI);
    result_lo = reg_read_byte(ZQ320X_REG_OFFSET_LO);
    no_result = ((gain_index | result_hi | result_lo) & reg_read_failed) != 0;
    gain_index &= 0xFF;
  }
  reg_write_bits(ZQ320X_REG_SYS_CTRL, zq320x_keep_except(ZQ320X_SYS_CTRL_RAM_ACCESS), 0x00);

  // The whole byte must be a valid index: bits above the field mean the
  // chip did not take the gain.
  if (gain_index >= d2s_divisor_count) {
    log_error("Murvane: d2s_gain is error\n");
    return -1;
  }
  // A calibration that did not run, or a result we could not read, cannot
  // pass the window (the primitive has logged the failed transfer).
  if (no_result) {
    return -1;
  }
  const auto code =
      static_cast<int32_t>(result_hi * 4 + ((result_lo & ZQ320X_OFFSET_LO_MASK) >> ZQ320X_OFFSET_LO_SHIFT));  // 0..1023
  const int32_t offset = (code * offset_step - offset_centre) / d2s_divisor_table[gain_index];
  if (offset >= -offset_limit && offset <= offset_limit) {
    return 0;
  }
  log_error("Murvane: offset calibration out of range\n");
  return -1;
}

}  // namespace zq320x

namespace {

constexpr haptic_ops zq320x_ops = {
    [] { return zq320x::get_f0(zq320x_dts); },
    [] { return zq320x::offset_calibration(zq320x_dts); },
    &zq320x::set_go,
    &zq320x::stop,
    &zq320x::write_ram,
    &zq320x::set_ram_base,
    [] { return zq320x::chip_init(zq320x_dts); },
    &zq320x::set_gain,
    &zq320x::set_play_mode,
    &zq320x::write_trim_lra,
    &zq320x::set_sequence,
    &zq320x::set_sequence_loop,
    &zq320x::set_ram_access,
    &zq320x::qualify_check,
};

}  // namespace

constexpr chip_family zq320x_family = {&zq320x_dts, &zq320x_ops, "zq320x"};

}  // namespace murvane
