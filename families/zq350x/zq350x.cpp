#include "families/zq350x/zq350x.h"

#include "core/family_common.h"
#include "core/regs.h"
#include "core/waveform.h"
#include "families/zq350x/zq350x_regs.h"
#include "platform/log.h"
#include "platform/platform.h"

namespace murvane {

// Fields of families A and B stay 0: nothing in this family reads them.
constexpr family_dts zq350x_dts = {
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

static_assert(ZQ350X_REG_RAM_DATA == reg_ram_data, "the shared download streams into the RAM data register");

namespace zq350x {

namespace {

constexpr playback_regs playback = {
    .play_mode = {ZQ350X_REG_PLAY_CFG, ZQ350X_PLAY_MODE_MASK},
    .mode_ram = ZQ350X_PLAY_MODE_RAM,
    .mode_cont = ZQ350X_PLAY_MODE_CONT,
    .mode_stop = ZQ350X_PLAY_MODE_STOP,
    .go = {ZQ350X_REG_PLAY_CTRL, ZQ350X_PLAY_CTRL_GO},
    .standby = {ZQ350X_REG_SYS_CTRL, ZQ350X_SYS_CTRL_FORCE_STANDBY},
    .boost = {ZQ350X_REG_BOOST_CFG, ZQ350X_BOOST_EN},
    .cont = {ZQ350X_REG_CONT_MODE, ZQ350X_CONT_MODE_EN},
    .cont_preset = {0, 0},
};

bool needs_repair(uint8_t flag, uint8_t level) {
  return (flag & ZQ350X_QUAL_FLAG_BAD) != 0 || level >= ZQ350X_QUAL_LEVEL_LIMIT;
}

// With host SRAM access on and the key open the chip reloads its trim
// state; 0x62 and 0x63 are read again afterwards to see whether it did.
void run_repair_window() {
  constexpr reg_field access = {ZQ350X_REG_SYS_CTRL, ZQ350X_SYS_CTRL_RAM_ACCESS};
  write_field(access, access.mask);
  stall(ram_access_wait_us);
  reg_write(ZQ350X_REG_KEY, ZQ350X_KEY_OPEN);
  // One access to 0x5C triggers the reload. We read it (value unused)
  // rather than write 9 to it: a read leaves the protected register's
  // content as the factory set it, and if the chip does not recover, the
  // second reading of 0x62/0x63 still rejects the part.
  reg_read_discard(ZQ350X_REG_REPAIR, 9);
  stall(repair_settle_us);
  reg_write(ZQ350X_REG_KEY, ZQ350X_KEY_CLOSE);
  write_field(access, 0x00);
}

}  // namespace

EFI_STATUS qualify_check() {
  const auto qual = reg_read_byte(ZQ350X_REG_QUAL).value();
  auto flag = reg_read_byte(ZQ350X_REG_QUAL_FLAG).value();
  auto level = reg_read_byte(ZQ350X_REG_QUAL_LEVEL).value();
  if ((qual & ZQ350X_QUAL_OK) == 0) {
    log_error("Murvane: unqualified chip\n");
    return EFI_DEVICE_ERROR;
  }
  if (needs_repair(flag, level)) {
    run_repair_window();
  }
  // Same bytes: a reading that fails keeps what the first one saw.
  flag = reg_read_byte(ZQ350X_REG_QUAL_FLAG, flag).value();
  level = reg_read_byte(ZQ350X_REG_QUAL_LEVEL, level).value();
  return needs_repair(flag, level) ? EFI_DEVICE_ERROR : EFI_SUCCESS;
}

int32_t chip_init(const family_dts& dts) {
  // The analog settings take writes only between the two key writes.
  reg_write(ZQ350X_REG_KEY, ZQ350X_KEY_OPEN);
  reg_write(ZQ350X_REG_ANA_70, ZQ350X_ANA_70_INIT);
  write_field({ZQ350X_REG_ANA_71, ZQ350X_ANA_71_BIT7}, ZQ350X_ANA_71_BIT7);
  write_field({ZQ350X_REG_ANA_74, ZQ350X_ANA_74_BIT7}, ZQ350X_ANA_74_BIT7);
  write_field({ZQ350X_REG_ANA_75, ZQ350X_ANA_75_BIT4}, 0);
  write_field({ZQ350X_REG_ANA_48, ZQ350X_ANA_48_BIT7}, 0);
  reg_write(ZQ350X_REG_KEY, ZQ350X_KEY_CLOSE);
  write_field({ZQ350X_REG_CONT_1C, ZQ350X_CONT_1C_MASK}, dts.cont_reg1c);
  reg_write(ZQ350X_REG_CONT_21, dts.cont_reg21);
  return slot_result(write_field({ZQ350X_REG_D2S_GAIN, ZQ350X_D2S_GAIN_MASK}, dts.d2s_gain));
}

int32_t set_boost_mode(uint8_t boost) { return set_boost_bit(boost, playback.boost); }

int32_t set_play_mode(uint8_t mode) { return switch_play_mode(mode, playback); }

int32_t set_go(uint8_t flag) {
  // A trim that could not be read counts as the cleared byte.
  const auto trim = reg_read_byte(ZQ350X_REG_TRIM_LRA).value();
  const bool go = flag != 0 && trim < ZQ350X_TRIM_LRA_GO_LIMIT;
  return slot_result(reg_write(ZQ350X_REG_PLAY_CTRL, go ? ZQ350X_PLAY_CTRL_GO : ZQ350X_PLAY_CTRL_STOP));
}

// A reading that fails is never taken for standby: the poll ends there, as
// if its count had run out (no message, no further wait).
int32_t wait_standby(uint32_t polls) {
  const poll_spec poll = {
      .reg = ZQ350X_REG_STATE,
      .mask = ZQ350X_STATE_MASK,
      .want = ZQ350X_STATE_STANDBY,
      .also_want = ZQ350X_STATE_STANDBY,
      .count = polls,
      .wait_us = standby_poll_wait_us,
      .wait_first = false,
  };
  if (poll_reg(poll)) {
    log_error("Murvane: entered standby\n");
    return 0;
  }
  return -1;
}

int32_t stop() {
  return stop_playback(
      playback, [] { return wait_standby(stop_standby_polls); }, "Murvane: force to enter standby mode\n");
}

void write_ram() { stream_waveform(waveform_image, &waveform_image_len); }

int32_t set_ram_base() {
  return slot_result(write_sram_base(
      {ZQ350X_REG_RAM_BASE_HI, ZQ350X_REG_RAM_BASE_LO, ZQ350X_REG_RAM_ADDR_HI, ZQ350X_REG_RAM_ADDR_LO}));
}

int32_t set_gain(uint8_t gain) { return slot_result(reg_write(ZQ350X_REG_GAIN, gain)); }

int32_t set_sequence(uint8_t index, uint8_t wave) {
  return slot_result(write_sequence(ZQ350X_REG_SEQ_WAVE, index, wave));
}

int32_t set_sequence_loop(uint8_t index, uint8_t loop) {
  return slot_result(write_sequence_loop(ZQ350X_REG_SEQ_LOOP, index, loop));
}

int32_t set_ram_access(uint8_t on) { return set_ram_access_bit(on, {ZQ350X_REG_SYS_CTRL, ZQ350X_SYS_CTRL_RAM_ACCESS}); }

int32_t offset_calibration() { return 0; }

// f0 measurement: GO goes through set_go, which holds it back for a trim at
// or above the limit; 0x1E is the band step x cont_reg1e_scale / 40000, a
// zero margin reported instead of written. Only the detection bit of 0x08
// goes back; bits 1:0 stay in continuous mode.
constexpr f0_measure_regs f0_measure = {
    .stop = zq350x::stop,
    .go = [] { return set_go(1); },
    .wait_standby = [] { return wait_standby(f0_standby_polls); },
    .playback = &playback,
    .drive =
        {
            .drive_enable = {ZQ350X_REG_CONT_1D, ZQ350X_CONT_1D_EN},
            .band = ZQ350X_REG_CONT_1E,
            .cont_1f = ZQ350X_REG_CONT_1F,
            .cont_20 = ZQ350X_REG_CONT_20,
            .track_margin = ZQ350X_REG_CONT_TRACK_MARGIN,
            .band_divisor = 40000,
            .zero_margin_message = "Murvane: zq350x_dts.cont_track_margin = 0",
        },
    .detector = {ZQ350X_REG_F0_CTRL, ZQ350X_F0_CTRL_TRACK},
    .play_cfg_detect = {ZQ350X_REG_PLAY_CFG, ZQ350X_PLAY_CFG_F0_DET},
    .go_write = {ZQ350X_REG_PLAY_CTRL, ZQ350X_PLAY_CTRL_GO},
    .drive_width = ZQ350X_REG_CONT_DRV_WIDTH,
    .drive_period = 0,
    .period_hi = ZQ350X_REG_F0_PERIOD_HI,
    .period_lo = ZQ350X_REG_F0_PERIOD_LO,
    .no_standby_message = nullptr,
};

int32_t get_f0(const family_dts& dts) { return measure_f0(dts, f0_measure); }

int32_t write_trim_lra(int32_t kind) {
  // The trim is protected: written between the two key writes.
  reg_write(ZQ350X_REG_KEY, ZQ350X_KEY_OPEN);
  const auto value = static_cast<uint8_t>(select_trim_value(kind) & ZQ350X_TRIM_LRA_MASK);
  reg_write(ZQ350X_REG_TRIM_LRA, value);
  return slot_result(reg_write(ZQ350X_REG_KEY, ZQ350X_KEY_CLOSE));
}

}  // namespace zq350x

namespace {

constexpr haptic_ops zq350x_ops = {
    .get_f0 = [] { return zq350x::get_f0(zq350x_dts); },
    .offset_calibration = zq350x::offset_calibration,
    .set_go = zq350x::set_go,
    .stop = zq350x::stop,
    .write_ram = zq350x::write_ram,
    .set_ram_base = zq350x::set_ram_base,
    .chip_init = [] { return zq350x::chip_init(zq350x_dts); },
    .set_gain = zq350x::set_gain,
    .set_play_mode = zq350x::set_play_mode,
    .write_trim_lra = zq350x::write_trim_lra,
    .set_sequence = zq350x::set_sequence,
    .set_sequence_loop = zq350x::set_sequence_loop,
    .set_ram_access = zq350x::set_ram_access,
    .qualify_check = zq350x::qualify_check,
};

}  // namespace

constexpr chip_family zq350x_family = {&zq350x_dts, &zq350x_ops, "zq350x"};

}  // namespace murvane
