#include "core/family_common.h"

#include "core/family.h"
#include "core/regs.h"
#include "core/waveform.h"
#include "platform/log.h"
#include "platform/platform.h"

namespace murvane {

uint8_t select_trim_value(int32_t kind, const trim_lines& lines) {
  switch (kind) {
    case trim_zero:
      log_error("Murvane: write zero to trim_lra\n");
      return 0;
    case trim_f0_cali:
    case trim_osc_cali: {
      const uint8_t value = kind == trim_f0_cali ? haptic_dev.f0_cali_data : haptic_dev.osc_cali_data;
      log_error(kind == trim_f0_cali ? lines.f0_cali : lines.osc_cali, value);
      return value;
    }
    default:
      log_error("Murvane: error param, write f0_cali_data to trim_lra\n");
      return haptic_dev.f0_cali_data;
  }
}

bool poll_reg(const poll_spec& poll) {
  for (uint32_t i = 0; i < poll.count; ++i) {
    if (poll.wait_first) {
      stall(poll.wait_us);
    }
    const reg_byte reading = reg_read_byte(poll.reg);
    if (!reading.ok()) {
      return false;
    }
    const auto state = static_cast<uint8_t>(reading.value() & poll.mask);
    if (state == poll.want || state == poll.also_want) {
      return true;
    }
    if (!poll.wait_first && poll.wait_us != 0) {
      stall(poll.wait_us);
    }
  }
  return false;
}

int32_t wait_standby_logged(const poll_spec& poll) {
  if (poll_reg(poll)) {
    log_error("Murvane: enter standby!\n");
    return 0;
  }
  log_error("Murvane: do not enter standby automatically\n");
  return -1;
}

int32_t set_ram_access_bit(uint8_t on, reg_field access) {
  const uint32_t status = write_field(access, on != 0 ? access.mask : 0x00);
  if (on != 0) {
    return wait_result(stall(ram_access_wait_us));
  }
  return slot_result(status);
}

int32_t set_boost_bit(uint8_t mode, reg_field boost) {
  if (mode > 1) {
    log_error("Murvane: boost mode error\n");
    return -1;
  }
  log_error(mode != 0 ? "Murvane: boost mode\n" : "Murvane: bypass mode\n");
  return slot_result(write_field(boost, mode != 0 ? boost.mask : 0x00));
}

EFI_STATUS check_qualified(reg_field qualified) {
  if ((reg_read_byte(qualified.reg).value() & qualified.mask) != 0) {
    return EFI_SUCCESS;
  }
  log_error("Murvane: unqualified chip\n");
  return EFI_DEVICE_ERROR;
}

int32_t switch_play_mode(uint8_t mode, const playback_regs& regs) {
  if (mode == play_mode_standby) {
    log_error("Murvane: standby mode\n");
    write_field(regs.standby, regs.standby.mask);
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
    return slot_result(write_field(regs.cont, cont ? regs.cont.mask : 0x00));
  }
  log_error("Murvane: error play mode\n");
  return -1;
}

bool request_stop(const playback_regs& regs) {
  // GO is a stop request only in the stop mode; in the mode left behind it
  // would start playback (or the endless continuous drive) from a call meant
  // to stop it. So GO goes out only once the mode update went through (a
  // failed read of the mode register writes nothing): the one access a
  // failed transfer holds back.
  if (write_field(regs.play_mode, regs.mode_stop) != 0) {
    return false;
  }
  write_value(regs.go);
  return true;
}

int32_t stop_playback(const playback_regs& regs, int32_t (*wait_standby)(), const char* force_message) {
  log_error("Murvane: enter\n");
  request_stop(regs);
  if (wait_standby() == 0) {
    return 0;
  }
  log_error(force_message);
  return switch_play_mode(play_mode_standby, regs);
}

int32_t measure_offset(const family_dts& dts, const offset_measure_regs& regs) {
  if (regs.record_may_skip && dts.offset_cali_skip != 0) {
    return 0;
  }
  const transfer_watch watch;
  write_field(regs.gain, dts.d2s_gain);
  write_field(regs.access, regs.access.mask);
  stall(ram_access_wait_us);
  if (regs.mode.reg != 0) {
    write_field(regs.mode, regs.mode_offset);
  }
  write_field(regs.trigger, regs.trigger_run);
  stall(offset_run_us);
  if (regs.trigger_drops) {
    write_field(regs.trigger, 0x00);
  }
  // The gain code is read back: the result is scaled by what the chip used.
  const uint8_t gain = reg_read_byte(regs.gain.reg).value();
  const uint8_t code_hi = reg_read_byte(regs.code_hi.reg).value();
  const uint8_t code_lo = reg_read_byte(regs.code_lo.reg).value();
  // A run with a failed transfer (set-up, start or a result byte) is no
  // measurement: its code could pass the window by chance.
  const bool measured = !watch.any_failed();
  write_field(regs.access, 0x00);

  if (measured) {
    uint8_t gain_index = field_get(regs.gain.mask, gain);
    if (regs.gain_error_message != nullptr) {
      // Bits beyond the table mean the chip did not take the gain.
      if (gain >= d2s_gain_codes) {
        log_error(regs.gain_error_message);
        return -1;
      }
      gain_index = gain;
    }
    // The high bits count in units of the low field's range (its largest
    // value plus one).
    const uint32_t low_range = field_get(regs.code_lo.mask, regs.code_lo.mask) + 1U;
    const auto code =
        static_cast<int32_t>(field_get(regs.code_hi.mask, code_hi) * low_range + field_get(regs.code_lo.mask, code_lo));
    const int32_t offset = (code - offset_code_zero) * offset_code_step / regs.divisors[gain_index];
    if (offset >= -offset_limit && offset <= offset_limit) {
      return 0;
    }
  }
  log_error(regs.fail_message);
  return -1;
}

void write_cont_drive(const family_dts& dts, const cont_drive_regs& regs) {
  // The enable bit first, then the level into the rest of the register.
  write_field(regs.drive_enable, regs.drive_enable.mask);
  write_field({regs.drive_enable.reg, keep_except(regs.drive_enable.mask)}, dts.cont_reg1d);
  reg_write(regs.band, band_value(dts, regs.band_divisor));
  reg_write(regs.cont_1f, dts.cont_reg1f);
  reg_write(regs.cont_20, dts.cont_reg20);
  if (dts.cont_track_margin != 0 || regs.zero_margin_message == nullptr) {
    reg_write(regs.track_margin, dts.cont_track_margin);
  } else {
    log_error(regs.zero_margin_message);
  }
}

uint8_t band_value(const family_dts& dts, uint32_t divisor) {
  constexpr uint32_t band_split = 1800;  // 180.0 Hz
  constexpr uint64_t factor_low = 1809;
  constexpr uint64_t factor_high = 1990;
  constexpr uint64_t max = 127;
  const uint64_t factor = dts.f0_pre < band_split ? factor_low : factor_high;
  const uint64_t value = factor * dts.cont_reg1e_scale / divisor;
  return static_cast<uint8_t>(value < max ? value : max);
}

uint8_t drive_width_value(const family_dts& dts) {
  constexpr int32_t fixed_margin = 8;
  // 240000 / f0_pre is at most 240000 and the terms are bytes: no overflow.
  const int32_t value =
      static_cast<int32_t>(drive_period_dividend / dts.f0_pre) - dts.cont_reg1c - dts.cont_track_margin - fixed_margin;
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
  const transfer_watch watch;
  haptic_dev.lra_f0 = dts.f0_pre;
  regs.stop();

  write_field(regs.detector, regs.detector.mask);
  uint8_t saved_detect = 0;
  if (regs.play_cfg_detect.reg != 0) {
    saved_detect = reg_read_byte(regs.play_cfg_detect.reg).value();
    write_field(regs.play_cfg_detect, regs.play_cfg_detect.mask);
  }
  switch_play_mode(play_mode_cont, *regs.playback);
  write_cont_drive(dts, regs.drive);
  if (dts.f0_pre == 0) {
    return -1;
  }
  reg_write(regs.drive_width, drive_width_value(dts));
  if (regs.drive_period != 0) {
    const uint32_t period = drive_period_dividend / dts.f0_pre;
    reg_write(regs.drive_period, period > 0xFF ? 0xFF : static_cast<uint8_t>(period));
  }
  if (regs.go != nullptr) {
    regs.go();
  } else {
    write_value(regs.go_write);
  }
  stall(f0_drive_run_us);
  const bool standby = regs.wait_standby() == 0;
  if (standby || regs.no_standby_message == nullptr) {
    uint32_t period = read_period(regs.period_hi, regs.period_lo);
    // With a failed transfer anywhere in this call the count is not that of a
    // run we set up, started and read whole: no period, not a made-up one.
    if (watch.any_failed()) {
      period = 0;
    }
    store_lra_f0(period);
  } else {
    log_error(regs.no_standby_message);
  }

  write_field(regs.detector, 0x00);
  if (regs.play_cfg_detect.reg != 0) {
    write_field(regs.play_cfg_detect, saved_detect);  // only the detection bit goes back
  }
  return 0;
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
