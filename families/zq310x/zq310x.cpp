// zq310x family (zq3101, zq3102): register defaults, SRAM download,
// sequencer and playback, offset calibration, f0 measurement and trim.
#include "families/zq310x/zq310x.h"

#include "core/family_common.h"
#include "core/identify.h"
#include "core/regs.h"
#include "core/waveform.h"
#include "families/zq310x/zq310x_regs.h"
#include "platform/log.h"
#include "platform/platform.h"

namespace murvane {

static_assert(ZQ310X_REG_RAM_DATA == reg_ram_data, "the shared download streams into the RAM data register");
static_assert(ZQ310X_REG_ID == reg_chip_id, "identification reads the identifier where the family keeps it");

constexpr family_dts zq310x_dts = {
    .f0_pre = 1700,
    .init_31_seq = {0x30, 0xEB, 0xD4},
    .init_74_77 = {0x10, 0x08, 0x03, 0xF8},
    .f0_7b = 0x69,
    .f0_7d_hi = 5,
    .f0_7d_lo = 3,
    .f0_7e = 2,
    .f0_7f = 0x0F,
    .f0_coeff = 260,
    .init_4d = 0x12,
    .init_5d = 0x68,
};

namespace zq310x {

namespace {

// The chip state polls: idle after a stop, idle once a detection finished,
// and the offset calibration's busy bit (back-to-back readings).
constexpr poll_spec stop_idle_poll = {
    .reg = ZQ310X_REG_GLBRD,
    .mask = ZQ310X_GLBRD_STATE,
    .want = ZQ310X_GLBRD_STATE_IDLE,
    .also_want = ZQ310X_GLBRD_STATE_IDLE,
    .count = stop_poll_count,
    .wait_us = stop_poll_wait_us,
    .wait_first = false,
};
constexpr poll_spec f0_idle_poll = {
    .reg = ZQ310X_REG_GLBRD,
    .mask = ZQ310X_GLBRD_STATE,
    .want = ZQ310X_GLBRD_STATE_IDLE,
    .also_want = ZQ310X_GLBRD_STATE_IDLE,
    .count = f0_poll_count,
    .wait_us = f0_poll_wait_us,
    .wait_first = false,
};
constexpr poll_spec offset_done_poll = {
    .reg = ZQ310X_REG_OFFSET_CALI,
    .mask = ZQ310X_OFFSET_CALI_BUSY,
    .want = 0x00,
    .also_want = 0x00,
    .count = offset_poll_count,
    .wait_us = 0,
    .wait_first = false,
};

// The period the detector is told to expect, in its own clock. The product
// is taken in 64 bits (two 32-bit record values overflow 32 bits long before
// they stop making sense), and a period beyond the 16 bits of 0x49/0x4A is
// clamped to the largest one rather than cut to its low bits. Needs both
// values non-zero.
uint16_t expected_period(const family_dts& dts) {
  const uint64_t divisor = static_cast<uint64_t>(dts.f0_pre) * dts.f0_coeff;
  const uint64_t period = f0_period_scale / divisor;
  return period > 0xFFFF ? uint16_t{0xFFFF} : static_cast<uint16_t>(period);
}

// How long the detection needs before its first poll, in us: one cycle at
// f0_pre times the cycles the detector drives and then tracks. A record with
// f0_7e = 0 counts no tracked cycles instead of wrapping (f0_7e - 1) to
// 2^32 - 1, which would busy-wait for over an hour. Needs f0_pre != 0.
uint64_t detection_wait_us(const family_dts& dts) {
  const uint64_t cycle = f0_wait_scale / dts.f0_pre;
  const uint64_t tracked = dts.f0_7e > 0 ? dts.f0_7e - 1U : 0U;
  const uint64_t cycles = (static_cast<uint64_t>(dts.f0_7d_lo) + dts.f0_7f) * tracked + dts.f0_7d_lo + dts.f0_7d_hi;
  return cycle * cycles;
}

// Reads the period a finished detection left and turns it into lra_f0.
// When a transfer of the measurement failed the period counts as 0: the
// zero-period message rather than a frequency made up from what was read.
int32_t read_measured_f0(const family_dts& dts, const transfer_watch& watch) {
  uint32_t f0_reg = read_period(ZQ310X_REG_F0_PERIOD_HI, ZQ310X_REG_F0_PERIOD_LO);
  if (watch.any_failed()) {
    f0_reg = 0;
  }
  const uint64_t product = static_cast<uint64_t>(f0_reg) * dts.f0_coeff;
  if (product != 0) {
    haptic_dev.lra_f0 = static_cast<uint32_t>(f0_period_scale / product);
    log_error("Murvane: lra f0=%d\n", haptic_dev.lra_f0);
  } else {
    haptic_dev.lra_f0 = 0;
    log_error("Murvane: lra_f0 is error, f0_reg=0\n");
  }
  return 0;
}

}  // namespace

int32_t set_boost_mode(uint8_t mode) {
  if (mode != boost_bypass && mode != boost_on) {
    log_error("Murvane: error boost mode\n");
    return -1;
  }
  return set_boost_bit(mode, {ZQ310X_REG_SYSCTRL2, ZQ310X_SYSCTRL2_BOOST});
}

int32_t enter_active_mode() {
  write_field({ZQ310X_REG_SYSCTRL2, ZQ310X_SYSCTRL2_STANDBY}, 0x00);
  reg_read_discard(ZQ310X_REG_SYSINT);  // read to clear
  return slot_result(write_field({ZQ310X_REG_SYSCTRL1, ZQ310X_SYSCTRL1_BIT5}, 0x00));
}

int32_t set_go(uint8_t flag) {
  const uint8_t go = flag != 0 ? ZQ310X_PLAYCTRL_GO : 0x00;
  return slot_result(write_field({ZQ310X_REG_PLAYCTRL, ZQ310X_PLAYCTRL_GO}, go));
}

int32_t stop() {
  write_field({ZQ310X_REG_PLAYCTRL, ZQ310X_PLAYCTRL_GO}, 0x00);
  // Standby follows whether or not the chip reported idle in time (or the
  // state could not be read at all).
  poll_reg(stop_idle_poll);
  return set_play_mode(play_mode_standby);
}

void write_ram() { stream_waveform(waveform_image, &waveform_image_len); }

int32_t set_ram_base() {
  return slot_result(write_sram_base(
      {ZQ310X_REG_RAM_BASE_HI, ZQ310X_REG_RAM_BASE_LO, ZQ310X_REG_RAM_ADDR_HI, ZQ310X_REG_RAM_ADDR_LO}));
}

int32_t chip_init(const family_dts& dts) {
  // Three writes to the same register: the trim sequence goes in one after another.
  for (const uint8_t value : dts.init_31_seq) {
    reg_write(ZQ310X_REG_ANACFG1, value);
  }
  reg_write(ZQ310X_REG_INIT_4D, dts.init_4d);
  reg_write(ZQ310X_REG_INIT_5D, dts.init_5d);
  write_field({ZQ310X_REG_ANACFG5, ZQ310X_ANACFG5_MASK}, ZQ310X_ANACFG5_DEFAULT);
  offset_calibration();  // a failure here is already logged; init goes on
  for (size_t i = 0; i < sizeof(dts.init_74_77); ++i) {
    reg_write(static_cast<uint8_t>(ZQ310X_REG_INIT_74 + i), dts.init_74_77[i]);
  }
  return slot_result(write_field({ZQ310X_REG_ANACFG4, ZQ310X_ANACFG4_MASK}, ZQ310X_ANACFG4_DEFAULT));
}

int32_t offset_calibration() {
  const transfer_watch watch;
  // The calibration runs with the SRAM access bit held.
  write_field({ZQ310X_REG_SYSCTRL2, ZQ310X_SYSCTRL2_RAM_ACCESS}, ZQ310X_SYSCTRL2_RAM_ACCESS);
  stall(ram_access_wait_us);
  write_field({ZQ310X_REG_OFFSET_CALI, ZQ310X_OFFSET_CALI_BUSY}, ZQ310X_OFFSET_CALI_BUSY);
  // Back-to-back readings: the bound is a count of transfers, not a time. A
  // calibration with a failed transfer (the bit not held, no start, a lost
  // reading) cannot be known to have run: it fails like one that never ends.
  const bool done = poll_reg(offset_done_poll) && !watch.any_failed();
  if (!done) {
    log_error("Murvane: calibration offset failed\n");
  }
  write_field({ZQ310X_REG_SYSCTRL2, ZQ310X_SYSCTRL2_RAM_ACCESS}, 0x00);
  return done ? 0 : -1;
}

int32_t set_gain(uint8_t gain) { return slot_result(reg_write(ZQ310X_REG_PLAYCFG_GAIN, gain)); }

// The bus status of the last access; an unknown mode touches nothing.
int32_t set_play_mode(uint8_t mode) {
  switch (mode) {
    case play_mode_standby:
      // Only the standby bit: GO stays as it is and nothing waits.
      log_error("Murvane: standby mode\n");
      return slot_result(write_field({ZQ310X_REG_SYSCTRL2, ZQ310X_SYSCTRL2_STANDBY}, ZQ310X_SYSCTRL2_STANDBY));
    case play_mode_ram:
      // RAM playback always runs boosted.
      log_error("Murvane: ram mode\n");
      write_field({ZQ310X_REG_SYSCTRL2, ZQ310X_SYSCTRL2_PLAY_MODE}, ZQ310X_SYSCTRL2_PLAY_MODE_RAM);
      enter_active_mode();
      set_boost_mode(boost_on);
      return slot_result(write_field({ZQ310X_REG_CONTCFG2, ZQ310X_CONTCFG2_CONT}, 0x00));
    case play_mode_cont:
      // Continuous drive always runs in bypass.
      log_error("Murvane: cont mode\n");
      write_field({ZQ310X_REG_SYSCTRL2, ZQ310X_SYSCTRL2_PLAY_MODE}, ZQ310X_SYSCTRL2_PLAY_MODE_CONT);
      enter_active_mode();
      set_boost_mode(boost_bypass);
      return slot_result(write_field({ZQ310X_REG_CONTCFG2, ZQ310X_CONTCFG2_CONT}, ZQ310X_CONTCFG2_CONT));
    default:
      return -1;  // no such mode: nothing touched, nothing logged
  }
}

int32_t set_sequence(uint8_t index, uint8_t wave) {
  return slot_result(write_sequence(ZQ310X_REG_WAVSEQ1, index, wave));
}

int32_t set_sequence_loop(uint8_t index, uint8_t loop) {
  return slot_result(write_sequence_loop(ZQ310X_REG_WAVLOOP1, index, loop));
}

int32_t set_ram_access(uint8_t on) { return set_ram_access_bit(on, {ZQ310X_REG_SYSCTRL2, ZQ310X_SYSCTRL2_RAM_ACCESS}); }

EFI_STATUS qualify_check() { return EFI_SUCCESS; }

// Family A names the calibration bytes its own way, in decimal.
constexpr trim_lines trim_lines_family_a = {
    .f0_cali = "Murvane: f0_cali_lra=%d\n",
    .osc_cali = "Murvane: rtp_cali_lra=%d\n",
};

int32_t write_trim_lra(int32_t kind) {
  return slot_result(reg_write(ZQ310X_REG_TRIM_LRA, select_trim_value(kind, trim_lines_family_a)));
}

int32_t get_f0(const family_dts& dts) {
  const transfer_watch watch;
  // A measurement that does not complete leaves the expected value in place.
  haptic_dev.lra_f0 = dts.f0_pre;
  // The chip stops whether or not it reports idle in time; the detection
  // goes on from there either way.
  stop();

  set_play_mode(play_mode_cont);
  write_field({ZQ310X_REG_CONTCFG, ZQ310X_CONTCFG_F0_DET}, ZQ310X_CONTCFG_F0_DET_RUN);
  write_field({ZQ310X_REG_DETCFG, ZQ310X_DETCFG_F0}, ZQ310X_DETCFG_F0_ON);
  reg_write(ZQ310X_REG_F0_7B, dts.f0_7b);
  if (dts.f0_pre != 0 && dts.f0_coeff != 0) {
    const uint16_t period = expected_period(dts);
    reg_write(ZQ310X_REG_F0_PRE_HI, static_cast<uint8_t>(period >> 8));
    reg_write(ZQ310X_REG_F0_PRE_LO, static_cast<uint8_t>(period & 0xFF));
  } else {
    log_error("Murvane: Divisor is 0! f0_pre=%d, f0_coeff=%d\n", dts.f0_pre, dts.f0_coeff);
  }
  reg_write(ZQ310X_REG_F0_7D, static_cast<uint8_t>((dts.f0_7d_hi << 4) | dts.f0_7d_lo));
  reg_write(ZQ310X_REG_F0_7E, dts.f0_7e);
  reg_write(ZQ310X_REG_F0_7F, dts.f0_7f);
  reg_read_discard(ZQ310X_REG_SYSINT);  // clears stale status
  write_field({ZQ310X_REG_PLAYCTRL, ZQ310X_PLAYCTRL_GO}, ZQ310X_PLAYCTRL_GO);

  if (dts.f0_pre == 0) {
    // Nothing to time the detection by; whatever was set up is left as it is.
    log_error("Murvane: zq310x_dts.f0_pre=0\n");
    return -1;
  }

  // A state that cannot be read counts as "never finished" (no message).
  stall(detection_wait_us(dts));
  int32_t result = -1;
  if (poll_reg(f0_idle_poll)) {
    result = read_measured_f0(dts, watch);
  }
  write_field({ZQ310X_REG_CONTCFG, ZQ310X_CONTCFG_F0_DET}, ZQ310X_CONTCFG_F0_DET_DONE);
  return result;
}

}  // namespace zq310x

namespace {

constexpr haptic_ops zq310x_ops = {
    .get_f0 = [] { return zq310x::get_f0(zq310x_dts); },
    .offset_calibration = zq310x::offset_calibration,
    .set_go = zq310x::set_go,
    .stop = zq310x::stop,
    .write_ram = zq310x::write_ram,
    .set_ram_base = zq310x::set_ram_base,
    .chip_init = [] { return zq310x::chip_init(zq310x_dts); },
    .set_gain = zq310x::set_gain,
    .set_play_mode = zq310x::set_play_mode,
    .write_trim_lra = zq310x::write_trim_lra,
    .set_sequence = zq310x::set_sequence,
    .set_sequence_loop = zq310x::set_sequence_loop,
    .set_ram_access = zq310x::set_ram_access,
    .qualify_check = zq310x::qualify_check,
};

}  // namespace

constexpr chip_family zq310x_family = {&zq310x_dts, &zq310x_ops, "zq310x"};

}  // namespace murvane
