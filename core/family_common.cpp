#include "core/family_common.h"

#include "core/family.h"
#include "core/regs.h"
#include "core/waveform.h"
#include "platform/log.h"
#include "platform/platform.h"

namespace murvane {

uint8_t select_trim_value(int32_t kind) {
  switch (kind) {
    case 0:
      log_error("Murvane: write zero to trim_lra\n");
      return 0;
    case 1:
    case 2: {
      const uint8_t value = kind == 1 ? haptic_dev.f0_cali_data : haptic_dev.osc_cali_data;
      log_error(kind == 1 ? "Murvane: write f0_cali_data to trim_lra = 0x%02X\n"
                          : "Murvane: write osc_cali_data to trim_lra = 0x%02X\n",
                value);
      return value;
    }
    default:
      log_error("Murvane: error param, write f0_cali_data to trim_lra\n");
      return haptic_dev.f0_cali_data;
  }
}

bool poll_reg(uint8_t reg, uint8_t mask, uint8_t want, uint32_t count, uint32_t wait_us) {
  for (uint32_t i = 0; i < count; ++i) {
    const reg_byte reading = reg_read_byte(reg);
    if (!reading.ok()) {
      return false;
    }
    if ((reading.value() & mask) == want) {
      return true;
    }
    if (wait_us != 0) {
      stall(wait_us);
    }
  }
  return false;
}

uint32_t write_field(reg_field f, uint8_t value) { return reg_write_bits(f.reg, keep_except(f.field), value); }

uint32_t write_value(reg_field w) { return reg_write(w.reg, w.field); }

int32_t set_ram_access_bit(uint8_t on, reg_field access) {
  const uint32_t status = write_field(access, on != 0 ? access.field : 0x00);
  if (on != 0) {
    return slot_result(stall(ram_access_wait_us));
  }
  return slot_result(status);
}

int32_t set_boost_bit(uint8_t mode, reg_field boost) {
  if (mode > 1) {
    log_error("Murvane: boost mode error\n");
    return -1;
  }
  log_error(mode != 0 ? "Murvane: boost mode\n" : "Murvane: bypass mode\n");
  return slot_result(write_field(boost, mode != 0 ? boost.field : 0x00));
}

EFI_STATUS check_qualified(reg_field qualified) {
  if ((reg_read_byte(qualified.reg).value() & qualified.field) != 0) {
    return EFI_SUCCESS;
  }
  log_error("Murvane: unqualified chip\n");
  return EFI_DEVICE_ERROR;
}

int32_t switch_play_mode(uint8_t mode, const playback_regs& regs) {
  if (mode == play_mode_standby) {
    log_error("Murvane: standby mode\n");
    write_field(regs.standby, regs.standby.field);
    return slot_result(write_field(regs.standby, 0x00));
  }
  if (mode == play_mode_ram || mode == play_mode_cont) {
    // RAM playback: its mode, boost on, continuous drive off; continuous
    // drive: its mode, boost off (bypass), continuous drive on.
    const bool cont = mode == play_mode_cont;
    log_error(cont ? "Murvane: cont mode\n" : "Murvane: ram mode\n");
    write_field(regs.play_mode, cont ? regs.mode_cont : regs.mode_ram);
    set_boost_bit(cont ? 0 : 1, regs.boost);
    if (cont && regs.cont_preset.reg != 0) {
      write_value(regs.cont_preset);
    }
    return slot_result(write_field(regs.cont, cont ? regs.cont.field : 0x00));
  }
  log_error("Murvane: error play mode\n");
  return -1;
}

int32_t stop_playback(const playback_regs& regs, int32_t (*wait_standby)(), const char* force_message) {
  log_error("Murvane: enter\n");
  // The one access held back on a failure: GO is a stop request only in the
  // stop mode; in the mode left behind it would start playback from a call
  // meant to stop it. (A failed read of the mode register writes nothing.)
  if (write_field(regs.play_mode, regs.mode_stop) == 0) {
    write_value(regs.go);
  }
  if (wait_standby() == 0) {
    return 0;
  }
  log_error(force_message);
  return switch_play_mode(play_mode_standby, regs);
}

int32_t measure_offset(const family_dts& dts, const offset_measure_regs& regs) {
  constexpr uint32_t settle_us = 1000;
  constexpr uint32_t run_us = 3000;
  constexpr int32_t code_zero = 512;
  constexpr int32_t code_scale = 2440;
  constexpr int32_t limit = 15;
  if (dts.offset_cali_skip != 0) {
    return 0;
  }
  const transfer_watch watch;
  reg_write_bits(regs.d2s, keep_except(regs.d2s_gain_mask), dts.d2s_gain);
  write_field(regs.access, regs.access.field);
  stall(settle_us);
  reg_write_bits(regs.d2s, keep_except(regs.d2s_mode_mask), regs.d2s_mode_offset);
  write_field(regs.trigger, regs.trigger_run);
  stall(run_us);
  write_field(regs.trigger, 0x00);
  // The gain code is read back: the result is scaled by what the chip used.
  const uint8_t gain = reg_read_byte(regs.d2s).value();
  const uint8_t code_hi = reg_read_byte(regs.code_hi.reg).value();
  const uint8_t code_lo = reg_read_byte(regs.code_lo).value();
  // A run with a failed transfer (set-up, start or a result byte) is no
  // measurement: its code could pass the window by chance.
  const bool measured = !watch.any_failed();
  write_field(regs.access, 0x00);

  if (measured) {
    const auto code = static_cast<int32_t>(((code_hi & regs.code_hi.field) << 8) | code_lo);
    const int32_t offset = (code - code_zero) * code_scale / regs.divisors[gain & regs.d2s_gain_mask];
    if (offset >= -limit && offset <= limit) {
      return 0;
    }
  }
  log_error(regs.fail_message);
  return -1;
}

void write_cont_drive(const family_dts& dts, const cont_drive_regs& regs) {
  const uint8_t enable = regs.cont_1d.field;
  write_field(regs.cont_1d, enable);
  reg_write_bits(regs.cont_1d.reg, enable, dts.cont_reg1d);
  reg_write(regs.cont_1e, cont_1e_value(dts, regs.cont_1e_divisor));
  reg_write(regs.cont_1f, dts.cont_reg1f);
  reg_write(regs.cont_20, dts.cont_reg20);
  if (dts.cont_track_margin != 0 || regs.zero_margin_message == nullptr) {
    reg_write(regs.track_margin, dts.cont_track_margin);
  } else {
    log_error(regs.zero_margin_message);
  }
}

uint8_t cont_1e_value(const family_dts& dts, uint32_t divisor) {
  constexpr uint32_t band_split = 1800;  // 180.0 Hz
  constexpr uint64_t factor_low = 1809;
  constexpr uint64_t factor_high = 1990;
  constexpr uint64_t max = 127;
  const uint64_t factor = dts.f0_pre < band_split ? factor_low : factor_high;
  const uint64_t value = factor * dts.cont_reg1e_scale / divisor;
  return static_cast<uint8_t>(value < max ? value : max);
}

uint8_t cont_1a_value(const family_dts& dts) {
  constexpr int32_t fixed_margin = 8;
  // 240000 / f0_pre is at most 240000 and the terms are bytes: no overflow.
  const int32_t value =
      static_cast<int32_t>(cont_1a_dividend / dts.f0_pre) - dts.cont_reg1c - dts.cont_track_margin - fixed_margin;
  if (value <= 0) {
    return 0;
  }
  return value >= 0xFF ? 0xFF : static_cast<uint8_t>(value);
}

uint32_t read_period(uint8_t hi_reg, uint8_t lo_reg) {
  const uint32_t hi = reg_read_byte(hi_reg).value();
  const uint32_t lo = reg_read_byte(lo_reg).value();
  return hi << 8 | lo;
}

void store_lra_f0(uint32_t period) {
  if (period != 0) {
    haptic_dev.lra_f0 = lra_f0_dividend / period;
    log_error("Murvane: lra_f0=%d\n", haptic_dev.lra_f0);
  } else {
    haptic_dev.lra_f0 = 0;
    log_error("Murvane: lra_f0 is error, f0_reg=0\n");
  }
}

int32_t measure_f0(const family_dts& dts, const f0_measure_regs& regs) {
  constexpr uint32_t drive_run_us = 20000;
  const transfer_watch watch;
  haptic_dev.lra_f0 = dts.f0_pre;
  regs.stop();

  write_field(regs.detector, regs.detector.field);
  uint8_t saved_detect = 0;
  if (regs.play_cfg_detect.reg != 0) {
    saved_detect = static_cast<uint8_t>(reg_read_byte(regs.play_cfg_detect.reg).value() & regs.play_cfg_detect.field);
    write_field(regs.play_cfg_detect, regs.play_cfg_detect.field);
  }
  switch_play_mode(play_mode_cont, *regs.playback);
  write_cont_drive(dts, regs.drive);
  if (dts.f0_pre == 0) {
    return -1;
  }
  reg_write(regs.cont_1a, cont_1a_value(dts));
  if (regs.cont_period != 0) {
    const uint32_t period = cont_1a_dividend / dts.f0_pre;
    reg_write(regs.cont_period, period > 0xFF ? 0xFF : static_cast<uint8_t>(period));
  }
  if (regs.go != nullptr) {
    regs.go();
  } else {
    write_value(regs.go_write);
  }
  stall(drive_run_us);
  regs.wait_standby();  // the period is read however the wait ended
  uint32_t period = read_period(regs.period_hi, regs.period_lo);
  // With a failed transfer anywhere in this call the count is not that of a
  // run we set up, started and read whole: no period, not a made-up one.
  if (watch.any_failed()) {
    period = 0;
  }
  store_lra_f0(period);

  write_field(regs.detector, 0x00);
  if (regs.play_cfg_detect.reg != 0) {
    write_field(regs.play_cfg_detect, saved_detect);
  }
  return 0;
}

int32_t wait_standby_then_read(uint8_t state_reg, uint32_t polls, uint32_t wait_us) {
  for (uint32_t i = 0; i < polls; ++i) {
    stall(wait_us);
    const reg_byte state = reg_read_byte(state_reg);
    if (!state.ok()) {
      break;  // an unread state says nothing: give up as if the bound ran out
    }
    if (state.value() == 0) {
      log_error("Murvane: enter standby!\n");
      return 0;
    }
  }
  log_error("Murvane: do not enter standby automatically\n");
  return -1;
}

uint32_t write_sequence(uint8_t first_wave, uint8_t index, uint8_t wave) {
  return reg_write(static_cast<uint8_t>(first_wave + index), wave);
}

uint32_t write_sequence_loop(uint8_t first_loop, uint8_t index, uint8_t loop) {
  constexpr uint8_t keep_low_nibble = 0x0F;
  constexpr uint8_t keep_high_nibble = 0xF0;
  const auto reg = static_cast<uint8_t>(first_loop + (index >> 1));
  if ((index & 1) == 0) {
    return reg_write_bits(reg, keep_low_nibble, static_cast<uint8_t>(loop << 4));
  }
  return reg_write_bits(reg, keep_high_nibble, loop);
}

uint32_t write_sram_base(sram_base_regs regs) {
  constexpr auto hi = static_cast<uint8_t>(waveform_sram_base >> 8);
  constexpr auto lo = static_cast<uint8_t>(waveform_sram_base & 0xFF);
  reg_write(regs.base_hi, hi);
  reg_write(regs.base_lo, lo);
  reg_write(regs.addr_hi, hi);
  return reg_write(regs.addr_lo, lo);
}

}  // namespace murvane
