// zq310x family (zq3101, zq3102) on the virtual platform: the boot as a
// chip and an integrator see it, and each operation's register traffic,
// waits and messages.
#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "core/identify.h"
#include "core/waveform.h"
#include "families/zq310x/zq310x.h"
#include "murvane/version.h"
#include "sim/models/zq310x_model.h"
#include "tests/sim_fixture.h"

namespace {

using namespace murvane_test;  // the trace notation and SimBoard

sim::zq310x_model& chip(SimBoard& b) { return static_cast<sim::zq310x_model&>(b.chip()); }

constexpr char kCalFailed[] = "Murvane: calibration offset failed\n";
constexpr uint32_t model_busy_reads = sim::zq310x_model::default_offset_busy_reads;

// The offset calibration against the model: bit 5 of 0x04 held for the
// window, the start bit of 0x5F set from r5f, busy readings, then either an
// idle reading or the failure message, and the window closed. 0x04 reads
// 0x01 (standby) around it as the model powers on.
Trace calibration(int r5f, size_t busy, bool finishes) {
  return upd(0x04, 0x01, 0x21) + Trace{stall(1000)} + upd(0x5F, r5f, r5f | 0x01) + times(busy, {rd(0x5F, 0x01)}) +
         (finishes ? Trace{rd(0x5F, 0x00)} : Trace{msg(kCalFailed)}) + upd(0x04, 0x21, 0x01);
}

// The SRAM image stream.
Trace waveform_writes() {
  Trace t;
  for (uint32_t i = 0; i < murvane::waveform_image_size; ++i) {
    t.push_back(wr(0x42, murvane::waveform_image[i]));
  }
  return t;
}

// One bring-up from the model's power-on state, with the two calibrations
// (the first one's failure marks register 0x00 before chip_init).
Trace bringup(const std::string& model, int id, const Trace& first_cal, const Trace& second_cal, bool first_failed) {
  return Trace{msg(murvane::version_line),
               pin(murvane::reset_pin_config, 0),
               stall(2000),
               pin(murvane::reset_pin_config, 1),
               stall(8000),
               rd(0x00, id),  // family selection
               rd(0x00, id),  // identification
               msg("Murvane: detected " + model + ".\n")} +
         first_cal + (first_failed ? Trace{wr(0x00, 0xAA)} : Trace{}) +
         // chip_init
         Trace{wr(0x31, 0x30), wr(0x31, 0xEB), wr(0x31, 0xD4), wr(0x4D, 0x12), wr(0x5D, 0x68)} + upd(0x35, 0x00, 0x0C) +
         second_cal + Trace{wr(0x74, 0x10), wr(0x75, 0x08), wr(0x76, 0x03), wr(0x77, 0xF8)} + upd(0x34, 0x00, 0x01) +
         // the image into the SRAM window
         Trace{msg("Murvane: zq ram init\n")} + upd(0x04, 0x01, 0x21) +
         Trace{stall(1000), wr(0x21, 0x08), wr(0x22, 0x00), wr(0x40, 0x08), wr(0x41, 0x00)} + waveform_writes() +
         upd(0x04, 0x21, 0x01) +
         // waveform 1 from RAM, boosted, GO
         Trace{msg("Murvane: zq ram play\n"), wr(0x07, 0x01), wr(0x08, 0x00)} + upd(0x0F, 0x00, 0x40) +
         Trace{wr(0x39, 0x80), msg("Murvane: ram mode\n")} + upd(0x04, 0x01, 0x01) + upd(0x04, 0x01, 0x00) +
         Trace{rd(0x02, 0x00)} + upd(0x03, 0x00, 0x00) + Trace{msg("Murvane: boost mode\n")} + upd(0x04, 0x00, 0x02) +
         upd(0x66, 0x00, 0x00) + upd(0x05, 0x00, 0x01) + Trace{msg("Murvane: zq uefi driver end\n")};
}

Trace healthy_bringup(const std::string& model, int id) {
  return bringup(model, id, calibration(0x00, model_busy_reads, true), calibration(0x00, model_busy_reads, true),
                 false);
}

const Ev kInstalled = msg("Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Success\n");

void expect_waveform_in_sram(SimBoard& b) {
  const uint8_t* ram = b.chip().sram();
  // The table head as the image lays it out, then every byte.
  EXPECT_EQ(ram[0x0800], 0x55);
  EXPECT_EQ(ram[0x0801], 0x08);
  EXPECT_EQ(ram[0x0802], 0x05);
  EXPECT_EQ(ram[0x0803], 0x08);
  EXPECT_EQ(ram[0x0804], 0x91);
  EXPECT_EQ(ram[0x0891], 0xFC);
  for (uint32_t i = 0; i < murvane::waveform_image_size; ++i) {
    EXPECT_EQ(ram[0x0800 + i], murvane::waveform_image[i]) << "SRAM 0x" << std::hex << 0x0800 + i;
  }
  EXPECT_EQ(ram[0x0892], 0x00);
  EXPECT_EQ(ram[0x07FF], 0x00);
}

void expect_no_violation(SimBoard& b) { EXPECT_EQ(violations(b.chip()), std::vector<std::string>{}); }

// ---------------------------------------------------------------------------
// Boot through the real entry point

struct BootCase {
  const char* model;
  uint8_t id;
};

class Zq310xBoot : public ::testing::TestWithParam<BootCase> {};

TEST_P(Zq310xBoot, HealthyChipLoadsAndPlaysTheWaveform) {
  SimBoard b(GetParam().model);
  ASSERT_EQ(b.entry(), EFI_SUCCESS);
  EXPECT_EQ(b.trace(), healthy_bringup(GetParam().model, GetParam().id) + Trace{kInstalled});

  expect_waveform_in_sram(b);
  expect_no_violation(b);
  EXPECT_EQ(b.chip().sram_bytes_written(), murvane::waveform_image_size);
  EXPECT_EQ(chip(b).offset_calibrations(), 2u);
  // Left playing waveform 1 from RAM, boosted, out of standby.
  EXPECT_EQ(chip(b).state(), sim::zq310x_model::state_ram_play);
  EXPECT_EQ(b.chip().reg(0x04) & 0x2F, 0x02);
  EXPECT_EQ(b.chip().reg(0x05) & 0x01, 0x01);
}

TEST_P(Zq310xBoot, StartRepeatsTheWholeSequence) {
  SimBoard b(GetParam().model);
  ASSERT_EQ(b.entry(), EFI_SUCCESS);
  const size_t m = b.mark();
  EXPECT_EQ(b.start(), EFI_SUCCESS);

  // The same sequence from the reset pulse on (the pulse puts the model back
  // to its power-on values).
  Trace want = healthy_bringup(GetParam().model, GetParam().id);
  want.erase(want.begin());  // the version line is printed at load only
  const Trace seen = b.trace(m);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), msg(murvane::version_line));
  EXPECT_EQ(Trace(seen.begin() + 1, seen.end()), want);
  EXPECT_EQ(b.platform().counters().reset_pulses, 2u);
  expect_waveform_in_sram(b);
  expect_no_violation(b);
  EXPECT_EQ(b.chip().sram_bytes_written(), 2 * murvane::waveform_image_size);
}

TEST_P(Zq310xBoot, OffsetCalibrationThatNeverFinishes) {
  SimBoard b(GetParam().model);
  chip(b).offset_never_done = true;
  ASSERT_EQ(b.entry(), EFI_SUCCESS);

  // 2000 back-to-back readings, the message, bit 5 of 0x04 cleared, then
  // the bring-up marks register 0x00 and goes on; chip_init's own
  // calibration finds the start bit still set, fails the same way and is
  // ignored.
  const Trace seen = b.trace();
  EXPECT_EQ(seen, bringup(GetParam().model, GetParam().id, calibration(0x00, 2000, false),
                          calibration(0x01, 2000, false), true) +
                      Trace{kInstalled});
  EXPECT_EQ(count(seen, rd(0x5F, 0x01)), 2 * 2000u + 1);
  EXPECT_EQ(count(seen, wr(0x00, 0xAA)), 1u);
  EXPECT_EQ(count(seen, msg(kCalFailed)), 2u);
  EXPECT_EQ(b.chip().reg(0x04) & 0x20, 0x00);
  expect_waveform_in_sram(b);

  // The bring-up itself reports success: Start runs it again and returns it.
  EXPECT_EQ(b.start(), EFI_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(Models, Zq310xBoot, ::testing::Values(BootCase{"zq3101", 0x95}, BootCase{"zq3102", 0x97}),
                         [](const auto& p) { return std::string(p.param.model); });

// ---------------------------------------------------------------------------
// Single operations on a selected zq310x chip

class Zq310xOps : public ::testing::Test {
 protected:
  Zq310xOps() : b("zq3101") {}
  void SetUp() override { b.select_family(murvane::zq310x_family); }
  // One slot call: its trace, and its result through result.
  Trace run(const std::string& slot, const std::vector<int64_t>& args = {}, int64_t* result = nullptr) {
    const size_t m = b.mark();
    const int64_t r = b.slot(slot, args);
    if (result != nullptr) {
      *result = r;
    }
    return b.trace(m);
  }
  SimBoard b;
};

// Slots whose traffic does not depend on the chip's state, with their results.
struct SlotCase {
  const char* name;
  const char* slot;
  std::vector<int64_t> args;
  Trace want;
  int64_t result;
};

class Zq310xSlot : public Zq310xOps, public ::testing::WithParamInterface<SlotCase> {};

TEST_P(Zq310xSlot, TrafficAndResult) {
  int64_t r = -2;
  EXPECT_EQ(run(GetParam().slot, GetParam().args, &r), GetParam().want);
  EXPECT_EQ(r, GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Slots, Zq310xSlot,
    ::testing::Values(
        SlotCase{"qualify", "qualify_check", {}, {}, 0},
        SlotCase{"sequence0", "set_sequence", {0, 1}, {wr(0x07, 0x01)}, 0},
        SlotCase{"sequence1", "set_sequence", {1, 0}, {wr(0x08, 0x00)}, 0},
        SlotCase{"sequence_wraps", "set_sequence", {250, 3}, {wr(0x01, 0x03)}, 0},  // 0x07 + 250
        SlotCase{"gain", "set_gain", {0x80}, {wr(0x39, 0x80)}, 0},
        SlotCase{"ram_base", "set_ram_base", {}, {wr(0x21, 0x08), wr(0x22, 0x00), wr(0x40, 0x08), wr(0x41, 0x00)}, 0}),
    [](const auto& p) { return std::string(p.param.name); });

struct LoopCase {
  uint8_t index;
  uint8_t loop;
  uint8_t reg;
  uint8_t before;
  uint8_t after;
};

class Zq310xLoop : public Zq310xOps, public ::testing::WithParamInterface<LoopCase> {};

TEST_P(Zq310xLoop, ChangesOnlyTheSlotsNibble) {
  const LoopCase& c = GetParam();
  b.chip().set_register(c.reg, c.before);
  int64_t r = -1;
  EXPECT_EQ(run("set_sequence_loop", {c.index, c.loop}, &r), upd(c.reg, c.before, c.after));
  EXPECT_EQ(r, 0);
}

INSTANTIATE_TEST_SUITE_P(Nibbles, Zq310xLoop,
                         ::testing::Values(LoopCase{0, 4, 0x0F, 0xAB, 0x4B},     // slot 0: high nibble of 0x0F
                                           LoopCase{1, 4, 0x0F, 0xAB, 0xA4},     // slot 1: low nibble of 0x0F
                                           LoopCase{2, 4, 0x10, 0xCD, 0x4D},     // slot 2: high nibble of 0x10
                                           LoopCase{3, 0x1F, 0x10, 0xCD, 0xCF},  // loop cut to its nibble
                                           LoopCase{0, 0xF2, 0x0F, 0x00, 0x20}, LoopCase{255, 4, 0x8E, 0xFF, 0xF4}));

// Read-modify-write slots from a preset register: traffic and result.
struct UpdateCase {
  const char* name;
  const char* slot;
  int64_t arg;
  uint8_t reg;
  uint8_t before;
  Trace want;
};

class Zq310xUpdate : public Zq310xOps, public ::testing::WithParamInterface<UpdateCase> {};

TEST_P(Zq310xUpdate, TrafficAndResult) {
  const UpdateCase& c = GetParam();
  b.chip().set_register(c.reg, c.before);
  int64_t r = -1;
  EXPECT_EQ(run(c.slot, {c.arg}, &r), c.want);
  EXPECT_EQ(r, 0);
}

INSTANTIATE_TEST_SUITE_P(Updates, Zq310xUpdate,
                         ::testing::Values(UpdateCase{"go_off", "set_go", 0, 0x05, 0xFE, upd(0x05, 0xFE, 0xFE)},
                                           UpdateCase{"go_on", "set_go", 0x10, 0x05, 0x00, upd(0x05, 0x00, 0x01)},
                                           // The window waits only when it opens.
                                           UpdateCase{"ram_open", "set_ram_access", 1, 0x04, 0x01,
                                                      upd(0x04, 0x01, 0x21) + Trace{stall(1000)}},
                                           UpdateCase{"ram_close", "set_ram_access", 0, 0x04, 0x21,
                                                      upd(0x04, 0x21, 0x01)},
                                           UpdateCase{"ram_open_any", "set_ram_access", 0x40, 0x04, 0xDF,
                                                      upd(0x04, 0xDF, 0xFF) + Trace{stall(1000)}}),
                         [](const auto& p) { return std::string(p.param.name); });

struct ModeCase {
  uint8_t mode;
  uint8_t r04, r03, r66;  // before
  Trace expected;
  int64_t result = 0;  // -1: no such mode
};

class Zq310xPlayMode : public Zq310xOps, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(Zq310xPlayMode, RegisterTrafficAndMessages) {
  const ModeCase& c = GetParam();
  b.chip().set_register(0x04, c.r04);
  b.chip().set_register(0x03, c.r03);
  b.chip().set_register(0x66, c.r66);
  int64_t r = -1;
  EXPECT_EQ(run("set_play_mode", {c.mode}, &r), c.expected);
  EXPECT_EQ(r, c.result);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, Zq310xPlayMode,
    ::testing::Values(
        // Standby: only bit 0 of 0x04; GO untouched, no wait.
        ModeCase{0, 0xFE, 0xFF, 0xFF, Trace{msg("Murvane: standby mode\n")} + upd(0x04, 0xFE, 0xFF)},
        // RAM: mode bits 00, leave standby, boost, 0x66 bit 6 clear.
        ModeCase{1, 0xFD, 0xFF, 0xFF,
                 Trace{msg("Murvane: ram mode\n")} + upd(0x04, 0xFD, 0xF1) + upd(0x04, 0xF1, 0xF0) +
                     Trace{rd(0x02, 0x00)} + upd(0x03, 0xFF, 0xDF) + Trace{msg("Murvane: boost mode\n")} +
                     upd(0x04, 0xF0, 0xF2) + upd(0x66, 0xFF, 0xBF)},
        // Continuous: mode bits 10, leave standby, bypass, 0x66 bit 6 set.
        ModeCase{4, 0xF7, 0xFF, 0x00,
                 Trace{msg("Murvane: cont mode\n")} + upd(0x04, 0xF7, 0xFB) + upd(0x04, 0xFB, 0xFA) +
                     Trace{rd(0x02, 0x00)} + upd(0x03, 0xFF, 0xDF) + Trace{msg("Murvane: bypass mode\n")} +
                     upd(0x04, 0xFA, 0xF8) + upd(0x66, 0x00, 0x40)},
        // No such mode: nothing at all.
        ModeCase{2, 0xFF, 0xFF, 0xFF, {}, -1}, ModeCase{3, 0xFF, 0xFF, 0xFF, {}, -1},
        ModeCase{0x81, 0xFF, 0xFF, 0xFF, {}, -1}),
    [](const auto& p) { return "mode" + std::to_string(p.param.mode); });

TEST_F(Zq310xOps, BoostModeRejectsUnknownValues) {
  const size_t m = b.mark();
  murvane::zq310x::set_boost_mode(2);
  EXPECT_EQ(b.trace(m), Trace{msg("Murvane: error boost mode\n")});
}

TEST_F(Zq310xOps, WriteRamNeedsHostAccess) {
  // Without set_ram_access(1) the chip refuses the stream and says so.
  b.slot("write_ram");
  EXPECT_EQ(b.chip().sram_bytes_written(), 0u);
  EXPECT_EQ(b.chip().violation_count(), murvane::waveform_image_size);
}

TEST_F(Zq310xOps, GoInStandbyIsAViolation) {
  // The model comes up in standby; GO without set_play_mode is refused.
  b.slot("set_go", {1});
  ASSERT_EQ(b.chip().violation_count(), 1u);
  EXPECT_STREQ(b.chip().violation_at(0).what, "GO while the chip is in standby");
}

// ---------------------------------------------------------------------------
// Offset calibration

struct CalCase {
  const char* name;
  bool never_done;
  sim::Fault fault;  // reg 0: none
  Trace tail;        // after the start bit is set
  int64_t result;
};

class Zq310xCalibration : public Zq310xOps, public ::testing::WithParamInterface<CalCase> {};

TEST_P(Zq310xCalibration, PollAndResult) {
  chip(b).offset_busy_reads = 5;
  chip(b).offset_never_done = GetParam().never_done;
  if (GetParam().fault.reg != 0) {
    b.platform().add_fault(GetParam().fault);
  }
  int64_t r = -2;
  EXPECT_EQ(run("offset_calibration", {}, &r), upd(0x04, 0x01, 0x21) + Trace{stall(1000)} + upd(0x5F, 0x00, 0x01) +
                                                   GetParam().tail + upd(0x04, 0x21, 0x01));
  EXPECT_EQ(r, GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Polls, Zq310xCalibration,
    ::testing::Values(CalCase{"finishes", false, {}, times(5, {rd(0x5F, 0x01)}) + Trace{rd(0x5F, 0x00)}, 0},
                      CalCase{"never", true, {}, times(2000, {rd(0x5F, 0x01)}) + Trace{msg(kCalFailed)}, -1},
                      // The update's read, one busy reading, then the failure ends the poll.
                      CalCase{"failed_reading",
                              true,
                              fault_on(0x5F, sim::Op::read, 3, 1),
                              {rd(0x5F, 0x01), rd_fail(0x5F), msg("Read addr:0x5F error:5\n"), msg(kCalFailed)},
                              -1}),
    [](const auto& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------
// stop

const Trace kStandbyTail = Trace{msg("Murvane: standby mode\n")} + upd(0x04, 0x01, 0x01);

TEST_F(Zq310xOps, StopWaitsForIdleThenStandby) {
  // Playing from RAM; GO cleared, the chip winds down within stop_ns.
  chip(b).stop_ns = 3000000;
  b.chip().set_register(0x04, 0x00);
  b.chip().set_register(0x0F, 0xF0);
  b.slot("set_ram_access", {1});
  b.slot("set_ram_base");
  b.slot("write_ram");
  b.slot("set_ram_access", {0});
  b.slot("set_sequence", {0, 1});
  b.slot("set_go", {1});
  ASSERT_EQ(chip(b).state(), sim::zq310x_model::state_ram_play);
  // Readings at 0.1 ms (braking), 2.2 ms (braking), 4.3 ms (idle) after GO is cleared.
  int64_t r = -1;
  EXPECT_EQ(run("stop", {}, &r), (upd(0x05, 0x01, 0x00) +
                                  Trace{rd(0x46, 0x08), stall(2000), rd(0x46, 0x08), stall(2000), rd(0x46, 0x00),
                                        msg("Murvane: standby mode\n")} +
                                  upd(0x04, 0x00, 0x01)));
  EXPECT_EQ(r, 0);
  expect_no_violation(b);
}

struct StopCase {
  const char* name;
  uint8_t r46;  // preset state register
  bool never_standby;
  uint64_t failing_reading;  // of 0x46, 0 none
  Trace poll;
  int64_t result;
};

class Zq310xStop : public Zq310xOps, public ::testing::WithParamInterface<StopCase> {};

TEST_P(Zq310xStop, PollThenStandby) {
  const StopCase& c = GetParam();
  b.chip().set_register(0x46, c.r46);
  chip(b).never_standby = c.never_standby;
  if (c.failing_reading != 0) {
    b.platform().add_fault(fault_on(0x46, sim::Op::read, c.failing_reading));
  }
  int64_t r = -2;
  EXPECT_EQ(run("stop", {}, &r), upd(0x05, 0x00, 0x00) + c.poll + kStandbyTail);
  EXPECT_EQ(r, c.result);
}

INSTANTIATE_TEST_SUITE_P(Polls, Zq310xStop,
                         ::testing::Values(
                             // Bits 7..4 are not the state.
                             StopCase{"state_bits_only", 0xA0, false, 0, {rd(0x46, 0xA0)}, 0},
                             StopCase{"never_standby", 0x00, true, 0, times(100, {rd(0x46, 0x01), stall(2000)}), 0},
                             // A failed reading goes straight to standby.
                             StopCase{"failed_reading",
                                      0x00,
                                      true,
                                      2,
                                      {rd(0x46, 0x01), stall(2000), rd_fail(0x46), msg("Read addr:0x46 error:5\n")},
                                      0}),
                         [](const auto& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------
// write_trim_lra

struct TrimCase {
  int64_t kind;
  const char* message;
  int byte;
};

class Zq310xTrim : public Zq310xOps, public ::testing::WithParamInterface<TrimCase> {};

TEST_P(Zq310xTrim, MessageAndByte) {
  murvane::haptic_dev.f0_cali_data = 0x5A;
  murvane::haptic_dev.osc_cali_data = 0xC3;
  int64_t r = -1;
  EXPECT_EQ(run("write_trim_lra", {GetParam().kind}, &r), (Trace{msg(GetParam().message), wr(0x5B, GetParam().byte)}));
  EXPECT_EQ(r, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Zq310xTrim,
    ::testing::Values(TrimCase{0, "Murvane: write zero to trim_lra\n", 0x00},
                      TrimCase{1, "Murvane: f0_cali_lra=90\n", 0x5A}, TrimCase{2, "Murvane: rtp_cali_lra=195\n", 0xC3},
                      TrimCase{3, "Murvane: error param, write f0_cali_data to trim_lra\n", 0x5A},
                      TrimCase{-1, "Murvane: error param, write f0_cali_data to trim_lra\n", 0x5A},
                      // Compared as a whole: 0x101 is not kind 1.
                      TrimCase{0x101, "Murvane: error param, write f0_cali_data to trim_lra\n", 0x5A}),
    [](const auto& p) { return "case" + std::to_string(p.index); });

TEST_F(Zq310xOps, TrimWithCalibrationBytesAtLoadWritesZero) {
  EXPECT_EQ(run("write_trim_lra", {1}), (Trace{msg("Murvane: f0_cali_lra=0\n"), wr(0x5B, 0x00)}));
  EXPECT_EQ(run("write_trim_lra", {2}), (Trace{msg("Murvane: rtp_cali_lra=0\n"), wr(0x5B, 0x00)}));
}

// ---------------------------------------------------------------------------
// get_f0

// get_f0 up to and including GO from the model's power-on state: stop's
// poll (idle at once), standby, continuous mode, the detector set-up with
// the period registers (or the message of a record that gives no period).
Trace f0_setup(const Trace& stop_poll, const Trace& period) {
  return upd(0x05, 0x00, 0x00) + stop_poll + kStandbyTail + Trace{msg("Murvane: cont mode\n")} + upd(0x04, 0x01, 0x09) +
         upd(0x04, 0x09, 0x08) + Trace{rd(0x02, 0x00)} + upd(0x03, 0x00, 0x00) + Trace{msg("Murvane: bypass mode\n")} +
         upd(0x04, 0x08, 0x08) + upd(0x66, 0x00, 0x40) + upd(0x48, 0x00, 0x04) + upd(0x2B, 0x00, 0x60) +
         Trace{wr(0x7B, 0x69)} + period + Trace{wr(0x7D, 0x53), wr(0x7E, 0x02), wr(0x7F, 0x0F), rd(0x02, 0x00)} +
         upd(0x05, 0x00, 0x01);
}

const Trace kRecordPeriod = {wr(0x49, 0x08), wr(0x4A, 0xD6)};  // 1000000000 / (1700 x 260)
const Trace kRestore = upd(0x48, 0x04, 0x08);

class Zq310xF0 : public Zq310xOps {
 protected:
  void SetUp() override {
    Zq310xOps::SetUp();
    murvane::haptic_dev.lra_f0 = 1234;  // so that every path must set it
  }
};

struct F0Case {
  uint32_t actuator_f0;  // 0.1 Hz
  uint8_t period_hi, period_lo;
  uint32_t measured;
};

class Zq310xF0Healthy : public Zq310xF0, public ::testing::WithParamInterface<F0Case> {};

TEST_P(Zq310xF0Healthy, MeasuresTheActuator) {
  const F0Case& c = GetParam();
  chip(b).lra_f0 = c.actuator_f0;
  // Detection lasts 25 ms: readings at 0.2, 10.3 and 20.4 ms after GO are
  // busy, the one at 30.5 ms idle.
  chip(b).f0_detect_ns = 25000000;
  int64_t r = -1;
  EXPECT_EQ(run("get_f0", {}, &r),
            (f0_setup({rd(0x46, 0x00)}, kRecordPeriod) + Trace{stall(130)} + times(3, {rd(0x46, 0x09), stall(10000)}) +
             Trace{rd(0x46, 0x00), rd(0x68, c.period_hi), rd(0x69, c.period_lo),
                   msg("Murvane: lra f0=" + std::to_string(c.measured) + "\n")} +
             kRestore));
  EXPECT_EQ(r, 0);
  EXPECT_EQ(murvane::haptic_dev.lra_f0, c.measured);
  EXPECT_EQ(chip(b).f0_detections(), 1u);
  expect_no_violation(b);
}

INSTANTIATE_TEST_SUITE_P(Actuators, Zq310xF0Healthy,
                         ::testing::Values(F0Case{1700, 0x08, 0xD6, 1700},   // 2262 x 260 = 588120
                                           F0Case{2350, 0x06, 0x64, 2350},   // 1636 x 260 = 425360
                                           F0Case{1500, 0x0A, 0x04, 1500}),  // 2564 x 260 = 666640
                         [](const auto& p) { return std::to_string(p.param.actuator_f0); });

TEST_F(Zq310xF0, IdleAtTheFirstReadingMakesNoPollWait) {
  chip(b).f0_detect_ns = 0;
  int64_t r = -1;
  EXPECT_EQ(only(run("get_f0", {}, &r), Ev::Kind::stall), Trace{stall(130)});
  EXPECT_EQ(r, 0);
  EXPECT_EQ(murvane::haptic_dev.lra_f0, 1700u);
}

TEST_F(Zq310xF0, IdleIsTheLowFourBitsOfTheState) {
  b.chip().set_register(0x46, 0x30);
  chip(b).f0_detect_ns = 0;
  int64_t r = -1;
  const Trace seen = run("get_f0", {}, &r);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(count(seen, rd(0x46, 0x30)), 2u);  // stop's reading and the measurement's
  EXPECT_EQ(only(seen, Ev::Kind::stall), Trace{stall(130)});
}

TEST_F(Zq310xF0, ChipThatNeverIdles) {
  chip(b).never_standby = true;
  chip(b).f0_detect_ns = 0;  // the detection itself ends, the state never reads idle
  int64_t r = 0;
  const Trace seen = run("get_f0", {}, &r);
  EXPECT_EQ(seen, f0_setup(times(100, {rd(0x46, 0x01), stall(2000)}), kRecordPeriod) + Trace{stall(130)} +
                      times(50, {rd(0x46, 0x01), stall(10000)}) + kRestore);
  EXPECT_EQ(r, -1);
  EXPECT_EQ(murvane::haptic_dev.lra_f0, 1700u);
  EXPECT_EQ(only(seen, Ev::Kind::log),
            (Trace{msg("Murvane: standby mode\n"), msg("Murvane: cont mode\n"), msg("Murvane: bypass mode\n")}));
  EXPECT_EQ(b.chip().reg(0x48) & 0x0C, 0x08);
}

struct F0FailCase {
  uint64_t failing_reading;  // of the measurement poll, 1-based
  size_t waits_before;
};

class Zq310xF0FailedReading : public Zq310xF0, public ::testing::WithParamInterface<F0FailCase> {};

TEST_P(Zq310xF0FailedReading, EndsThePollAsATimeOut) {
  chip(b).f0_detect_ns = 1000000000;  // still busy when the reading fails
  // stop's poll reads 0x46 once first.
  b.platform().add_fault(fault_on(0x46, sim::Op::read, 1 + GetParam().failing_reading, 1));
  int64_t r = 0;
  const Trace seen = run("get_f0", {}, &r);
  EXPECT_EQ(r, -1);
  EXPECT_EQ(murvane::haptic_dev.lra_f0, 1700u);
  EXPECT_EQ(seen, (f0_setup({rd(0x46, 0x00)}, kRecordPeriod) + Trace{stall(130)} +
                   times(GetParam().waits_before, {rd(0x46, 0x09), stall(10000)}) +
                   Trace{rd_fail(0x46), msg("Read addr:0x46 error:5\n")} + kRestore));
}

INSTANTIATE_TEST_SUITE_P(Readings, Zq310xF0FailedReading,
                         ::testing::Values(F0FailCase{1, 0}, F0FailCase{2, 1}, F0FailCase{50, 49}));

TEST_F(Zq310xF0, ZeroPeriod) {
  chip(b).lra_f0 = 0;  // nothing resonates: the detector reports period 0
  chip(b).f0_detect_ns = 0;
  b.chip().set_register(0x68, 0x12);
  b.chip().set_register(0x69, 0x34);
  int64_t r = -1;
  const Trace seen = run("get_f0", {}, &r);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(murvane::haptic_dev.lra_f0, 0u);
  EXPECT_EQ(
      tail(seen, 6),
      (Trace{rd(0x46, 0x00), rd(0x68, 0x00), rd(0x69, 0x00), msg("Murvane: lra_f0 is error, f0_reg=0\n")} + kRestore));
}

// Alternate records, through the record-taking body.

// The writes to the detector's registers 0x48..0x4A, in order.
Trace detector_writes(const Trace& t) {
  Trace out;
  for (const Ev& e : only(t, Ev::Kind::write)) {
    if (e.reg >= 0x48 && e.reg <= 0x4A) {
      out.push_back(e);
    }
  }
  return out;
}

murvane::family_dts record_with(void (*change)(murvane::family_dts&)) {
  murvane::family_dts d = murvane::zq310x_dts;
  change(d);
  return d;
}

TEST_F(Zq310xF0, ZeroF0PreStopsAfterGo) {
  const murvane::family_dts d = record_with([](murvane::family_dts& r) { r.f0_pre = 0; });
  chip(b).f0_detect_ns = 0;
  const size_t m = b.mark();
  EXPECT_EQ(murvane::zq310x::get_f0(d), -1);
  // No wait, no poll, 0x48 left at 01.
  EXPECT_EQ(b.trace(m), f0_setup({rd(0x46, 0x00)}, {msg("Murvane: Divisor is 0! f0_pre=0, f0_coeff=260\n")}) +
                            Trace{msg("Murvane: zq310x_dts.f0_pre=0\n")});
  EXPECT_EQ(murvane::haptic_dev.lra_f0, 0u);
  EXPECT_EQ(b.chip().reg(0x48) & 0x0C, 0x04);
  EXPECT_EQ(b.chip().reg(0x05) & 0x01, 0x01);
}

TEST_F(Zq310xF0, ZeroCoefficientGivesAZeroFrequency) {
  const murvane::family_dts d = record_with([](murvane::family_dts& r) { r.f0_coeff = 0; });
  chip(b).f0_detect_ns = 0;
  const size_t m = b.mark();
  EXPECT_EQ(murvane::zq310x::get_f0(d), 0);
  EXPECT_EQ(b.trace(m), (f0_setup({rd(0x46, 0x00)}, {msg("Murvane: Divisor is 0! f0_pre=1700, f0_coeff=0\n")}) +
                         Trace{stall(130), rd(0x46, 0x00), rd(0x68, 0x08), rd(0x69, 0xD6),
                               msg("Murvane: lra_f0 is error, f0_reg=0\n")} +
                         kRestore));
  EXPECT_EQ(murvane::haptic_dev.lra_f0, 0u);  // a period times 0 is no frequency
}

struct WaitCase {
  const char* name;
  void (*change)(murvane::family_dts&);
  uint32_t wait_us;
};

class Zq310xF0Wait : public Zq310xF0, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(Zq310xF0Wait, WaitBeforeTheFirstReading) {
  const murvane::family_dts d = record_with(GetParam().change);
  chip(b).f0_detect_ns = 0;
  const size_t m = b.mark();
  murvane::zq310x::get_f0(d);
  EXPECT_EQ(b.stalls(m), std::vector<uint64_t>{GetParam().wait_us});
}

INSTANTIATE_TEST_SUITE_P(Records, Zq310xF0Wait,
                         ::testing::Values(
                             // (10000 / 1700) x ((3 + 15) x (2 - 1) + (3 + 5)) = 5 x 26
                             WaitCase{"record", [](murvane::family_dts&) {}, 130},
                             // f0_7e = 0 counts no tracked cycles: 5 x 8, not a wrapped (0 - 1)
                             WaitCase{"f0_7e_zero", [](murvane::family_dts& r) { r.f0_7e = 0; }, 40},
                             // 5 x (18 x 254 + 8) = 22900
                             WaitCase{"f0_7e_max", [](murvane::family_dts& r) { r.f0_7e = 255; }, 22900},
                             // f0_pre above 1 kHz: one cycle rounds to 0
                             WaitCase{"f0_pre_high", [](murvane::family_dts& r) { r.f0_pre = 10001; }, 0}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(Zq310xF0, LargeRecordValuesDoNotOverflow) {
  // f0_pre x f0_coeff = 2^32: a 32-bit product would be 0 (a division by
  // zero); the true period is 0.
  const murvane::family_dts d = record_with([](murvane::family_dts& r) {
    r.f0_pre = 65536;
    r.f0_coeff = 65536;
  });
  chip(b).f0_detect_ns = 0;
  size_t m = b.mark();
  EXPECT_EQ(murvane::zq310x::get_f0(d), 0);
  Trace seen = b.trace(m);
  EXPECT_EQ(detector_writes(seen), (Trace{wr(0x48, 0x04), wr(0x49, 0x00), wr(0x4A, 0x00), wr(0x48, 0x08)}));
  // The chip measures 2262: 1000000000 / (2262 x 65536) = 6.
  EXPECT_EQ(murvane::haptic_dev.lra_f0, 6u);
  EXPECT_EQ(count(seen, msg("Murvane: lra f0=6\n")), 1u);

  // f0_reg x f0_coeff = 0x1000 x 2^20 = 2^32: the frequency is 0 Hz, not
  // "no period".
  const murvane::family_dts big = record_with([](murvane::family_dts& r) { r.f0_coeff = 1u << 20; });
  b.chip().script_read(0x68, 0x10);
  b.chip().script_read(0x69, 0x00);
  m = b.mark();
  EXPECT_EQ(murvane::zq310x::get_f0(big), 0);
  seen = b.trace(m);
  EXPECT_EQ(murvane::haptic_dev.lra_f0, 0u);
  EXPECT_EQ(count(seen, msg("Murvane: lra f0=0\n")), 1u);
  EXPECT_EQ(count(seen, msg("Murvane: lra_f0 is error, f0_reg=0\n")), 0u);
}

TEST_F(Zq310xF0, PeriodBeyondSixteenBitsIsClamped) {
  // 1000000000 / (1 x 260) = 3846153 does not fit 0x49/0x4A.
  const murvane::family_dts d = record_with([](murvane::family_dts& r) { r.f0_pre = 1; });
  chip(b).f0_detect_ns = 0;
  const size_t m = b.mark();
  murvane::zq310x::get_f0(d);
  const Trace seen = b.trace(m);
  EXPECT_EQ(detector_writes(seen), (Trace{wr(0x48, 0x04), wr(0x49, 0xFF), wr(0x4A, 0xFF), wr(0x48, 0x08)}));
}

// ---------------------------------------------------------------------------
// The model itself

TEST(Zq310xModel, PeriodFollowsTheActuator) {
  SimBoard b("zq3102");
  EXPECT_EQ(chip(b).f0_period(), 2262);  // 1000000000 / (1700 x 260)
  chip(b).lra_f0 = 2350;
  EXPECT_EQ(chip(b).f0_period(), 1636);
  chip(b).lra_f0 = 0;
  EXPECT_EQ(chip(b).f0_period(), 0);
  chip(b).lra_f0 = 1;
  EXPECT_EQ(chip(b).f0_period(), 0xFFFF);
}

TEST(Zq310xModel, BootEffectLastsTheWaveformTimesItsLoops) {
  SimBoard b("zq3101");
  ASSERT_EQ(b.entry(), EFI_SUCCESS);
  // 141 samples, loop value 4: five passes.
  EXPECT_EQ(chip(b).ram_effect_ns(), 141u * 5 * sim::zq310x_model::default_sample_ns);
}

}  // namespace
