// The zq330x family on the virtual platform: boots, qualification, f0
// measurement, stopping into standby and the trim write, as the chip and an
// integrator see them (register traffic, waits, log lines).
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/identify.h"
#include "core/waveform.h"
#include "families/zq330x/zq330x.h"
#include "murvane/version.h"
#include "sim/models/zq330x_model.h"
#include "tests/sim_fixture.h"

namespace {

using namespace murvane_test;  // the trace notation and SimBoard
using sim::zq330x_model;

zq330x_model& model(SimBoard& b) { return static_cast<zq330x_model&>(b.chip()); }

// "update reg (keep keep) <- value" against a register that holds old.
void upd_keep(Trace& t, int reg, int keep, int value, int old) {
  t += upd(reg, old, (old & keep) | (value & ~keep & 0xFF));
}

// Value of the last write to reg since from, -1 when none.
int last_write(const SimBoard& b, int reg, size_t from = 0) {
  int v = -1;
  for (const auto& x : b.writes(from)) {
    if (x.reg == reg) {
      v = x.value;
    }
  }
  return v;
}

void expect_no_violation(SimBoard& b) { EXPECT_EQ(violations(b.chip()), std::vector<std::string>{}); }

// Test names from the cases' own names.
struct CaseName {
  template <class P>
  std::string operator()(const ::testing::TestParamInfo<P>& p) const {
    return p.param.name;
  }
};
constexpr CaseName case_name;
template <class P>
requires requires(const P& p) { p.name; }
void PrintTo(const P& p, std::ostream* os) { *os << p.name; }

// ---------------------------------------------------------------- boot

struct ModelCase {
  const char* name;
  int id;
};

class Zq330xBoot : public ::testing::TestWithParam<ModelCase> {};

TEST_P(Zq330xBoot, HealthyChipBootsAndPlaysTheImage) {
  const ModelCase& m = GetParam();
  SimBoard b(m.name);
  const auto& c = b.chip();
  const int po_52 = c.reg(0x52), po_1c = c.reg(0x1C), po_43 = c.reg(0x43), po_12 = c.reg(0x12);
  const int po_08 = c.reg(0x08), po_06 = c.reg(0x06), po_50 = c.reg(0x50);

  ASSERT_EQ(b.entry(), EFI_SUCCESS);

  Trace want = {msg(murvane::version_line), pin(murvane::reset_pin_config, 0), stall(2000),
                pin(murvane::reset_pin_config, 1), stall(8000)};
  const Trace id = {rd(0x00, 0x00), rd(0x57, m.id >> 8), rd(0x58, m.id & 0xFF)};
  want.insert(want.end(), id.begin(), id.end());
  want.push_back(rd(0x61, 0x80));
  want.insert(want.end(), id.begin(), id.end());
  want.push_back(msg(std::string("Murvane: detected ") + m.name + ".\n"));
  // No offset calibration traffic, hence no 0xAA to register 0x00.
  upd_keep(want, 0x52, 0xF8, 0x04, po_52);
  want.push_back(wr(0x21, 0x08));
  upd_keep(want, 0x1C, 0xF0, 0x08, po_1c);
  want.push_back(msg("Murvane: zq ram init\n"));
  upd_keep(want, 0x43, 0xF7, 0x08, po_43);
  want += Trace{stall(1000), wr(0x2D, 0x08), wr(0x2E, 0x00), wr(0x40, 0x08), wr(0x41, 0x00)};
  for (uint32_t i = 0; i < murvane::waveform_image_size; ++i) {
    want.push_back(wr(0x42, murvane::waveform_image[i]));
  }
  upd_keep(want, 0x43, 0xF7, 0x00, (po_43 & 0xF7) | 0x08);
  want += Trace{msg("Murvane: zq ram play\n"), wr(0x0A, 0x01), wr(0x0B, 0x00)};
  upd_keep(want, 0x12, 0x0F, 0x40, po_12);
  want += Trace{wr(0x07, 0x80), msg("Murvane: ram mode\n")};
  upd_keep(want, 0x08, 0xFC, 0x00, po_08);
  want.push_back(msg("Murvane: boost mode\n"));
  upd_keep(want, 0x06, 0xEF, 0x10, po_06);
  upd_keep(want, 0x50, 0xBF, 0x00, po_50);
  want += Trace{wr(0x09, 0x01), msg("Murvane: zq uefi driver end\n"),
                msg("Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Success\n")};
  EXPECT_EQ(b.trace(), want);

  ASSERT_EQ(b.chip().sram_bytes_written(), murvane::waveform_image_size);
  for (uint32_t i = 0; i < murvane::waveform_image_size; ++i) {
    EXPECT_EQ(b.chip().sram()[0x0800 + i], murvane::waveform_image[i]) << "SRAM 0x" << std::hex << 0x0800 + i;
  }
  EXPECT_EQ(b.chip().ram_base(), 0x0800);
  EXPECT_TRUE(b.chip().playing());
  EXPECT_EQ(model(b).state(), zq330x_model::State::ram_play);
  EXPECT_EQ(b.chip().reg(0x06) & 0x10, 0x10);  // RAM playback with boost
  EXPECT_EQ(murvane::current_family, &murvane::zq330x_family);
  expect_no_violation(b);
}

INSTANTIATE_TEST_SUITE_P(AllModels, Zq330xBoot,
                         ::testing::Values(ModelCase{"zq3301", 0x7150}, ModelCase{"zq3302", 0x7170},
                                           ModelCase{"zq3303", 0x7171}, ModelCase{"zq3304", 0x7180}),
                         case_name);

TEST(Zq330xBootVariants, EveryMarkerLeadsToTheSixteenBitIdentifier) {
  for (const int marker : {0x00, 0x03, 0x80, 0x83}) {
    SimBoard b("zq3302");
    b.chip().set_register(0x00, static_cast<uint8_t>(marker));
    EXPECT_EQ(b.entry(), EFI_SUCCESS);
    EXPECT_EQ(count(b.log(), "Murvane: detected zq3302.\n"), 1u) << "marker " << marker;
    EXPECT_EQ(b.chip().sram_bytes_written(), murvane::waveform_image_size);
  }
}

TEST(Zq330xBootVariants, UnqualifiedPartStopsBeforeIdentification) {
  SimBoard b("zq3304");
  b.chip().set_register(0x61, 0x7F);  // bit 7 clear survives the reset pulse
  ASSERT_EQ(b.entry(), EFI_SUCCESS);  // the entry reports the install only
  const std::vector<std::string> want = {murvane::version_line, "Murvane: unqualified chip\n",
                                         "Murvane: qualify check failed\n",
                                         "Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Success\n"};
  EXPECT_EQ(b.log(), want);
  const auto t = b.traffic();
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(t.back(), rd(0x61, 0x7F));  // nothing after the qualification read
  EXPECT_TRUE(b.writes().empty());
  EXPECT_FALSE(b.chip().playing());

  EXPECT_EQ(b.start(), EFI_DEVICE_ERROR);  // a consumer's Start sees the operation's status
}

TEST(Zq330xQualify, Bit7OfRegister61Decides) {
  struct Case {
    int value;
    EFI_STATUS want;
  };
  for (const Case& c :
       {Case{0x80, EFI_SUCCESS}, Case{0xFF, EFI_SUCCESS}, Case{0x7F, EFI_DEVICE_ERROR}, Case{0x00, EFI_DEVICE_ERROR}}) {
    SimBoard b("zq3301");
    b.chip().set_register(0x61, static_cast<uint8_t>(c.value));
    b.select_family(murvane::zq330x_family);
    const size_t m = b.mark();
    EXPECT_EQ(static_cast<EFI_STATUS>(b.slot("qualify_check")), c.want) << "0x61 = " << c.value;
    Trace want = {rd(0x61, c.value)};
    if (c.want != EFI_SUCCESS) {
      want.push_back(msg("Murvane: unqualified chip\n"));
    }
    EXPECT_EQ(b.trace(m), want);
  }
}

TEST(Zq330xQualify, FailedReadIsNotAQualifiedPart) {
  SimBoard b("zq3301");
  b.select_family(murvane::zq330x_family);
  b.platform().add_fault(fault_on(0x61, sim::Op::read));
  EXPECT_EQ(static_cast<EFI_STATUS>(b.slot("qualify_check")), EFI_DEVICE_ERROR);
  EXPECT_EQ(b.log().back(), "Murvane: unqualified chip\n");
}

// ---------------------------------------------------------------- stop / wait_standby

// Each poll is a 2000 us wait then a read of 100 us (40 bit times at the
// build's bus clock, 400 kHz): the chip sees the i-th reading i x 2100 us
// after the GO that started the stop.
constexpr uint32_t poll_step_us = 2000 + static_cast<uint32_t>(sim::read_transfer_ns / 1000);

struct StopCase {
  const char* name;
  uint32_t stop_us;
  bool never;
  uint64_t fail_reading;  // 1-based reading of 0x3F whose transfer fails, 0 none
  size_t readings;        // readings of 0x3F made
  bool reached;           // the chip was seen in standby
};

class Zq330xStopPoll : public ::testing::TestWithParam<StopCase> {};

TEST_P(Zq330xStopPoll, PollsWaitFirstAndForceStandbyOnTimeOut) {
  const StopCase& c = GetParam();
  SimBoard b("zq3303");
  model(b).stop_us = c.stop_us;
  model(b).never_standby = c.never;
  if (c.fail_reading != 0) {
    b.platform().add_fault(fault_on(0x3F, sim::Op::read, c.fail_reading, 1));
  }
  b.select_family(murvane::zq330x_family);
  const int po_08 = b.chip().reg(0x08);
  const int po_44 = b.chip().reg(0x44);
  const size_t m = b.mark();

  const int64_t result = b.slot("stop");

  Trace want = {msg("Murvane: enter\n")};
  upd_keep(want, 0x08, 0xFC, 0x03, po_08);
  want.push_back(wr(0x09, 0x01));
  for (size_t i = 1; i <= c.readings; ++i) {
    want.push_back(stall(2000));
    if (i == c.fail_reading) {
      want.push_back(rd_fail(0x3F));
      want.push_back(msg("Read addr:0x3F error:5\n"));
    } else {
      want.push_back(rd(0x3F, i == c.readings && c.reached ? 0x00 : 0x04));
    }
  }
  if (c.reached) {
    want.push_back(msg("Murvane: enter standby!\n"));
  } else {
    want += Trace{msg("Murvane: do not enter standby automatically\n"), msg("Murvane: force to enter standby\n"),
                  msg("Murvane: standby mode\n")};
    upd_keep(want, 0x44, 0xDF, 0x20, po_44);
    upd_keep(want, 0x44, 0xDF, 0x00, po_44 | 0x20);
  }
  EXPECT_EQ(b.trace(m), want);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(model(b).state(), zq330x_model::State::standby);  // by itself or forced
  EXPECT_EQ(model(b).forced_standbys(), c.reached ? 0u : 1u);
  expect_no_violation(b);
}

INSTANTIATE_TEST_SUITE_P(Cases, Zq330xStopPoll,
                         ::testing::Values(
                             // Already there at the first reading: still one wait before it.
                             StopCase{"AtOnce", 0, false, 0, 1, true},
                             StopCase{"Late", 50000, false, 0, (50000 + poll_step_us - 1) / poll_step_us, true},
                             StopCase{"LastReading", 99 * poll_step_us + 1, false, 0, 100, true},
                             StopCase{"Never", 0, true, 0, 100, false},
                             // A failed reading is no standby: the poll ends there, without a wait after it.
                             StopCase{"FailedFirstReading", 0, false, 1, 1, false},
                             StopCase{"FailedThirdReading", 0, true, 3, 3, false}),
                         case_name);

TEST(Zq330xStop, ReportsAFailedForcedStandby) {
  SimBoard b("zq3301");
  model(b).never_standby = true;
  b.platform().add_fault(fault_on(0x44, sim::Op::write, 2, 1));
  b.select_family(murvane::zq330x_family);
  EXPECT_EQ(b.slot("stop"), 5);  // the bus status of the standby release
  EXPECT_EQ(b.log().back(), "Write addr:0x44 data:0x1 error\n");
}

// Without the stop mode in 0x08 a GO would restart playback: the stop sends
// none, and the chip still reaches standby by the forced pulse.
TEST(Zq330xStop, NoGoWithoutTheStopMode) {
  struct Case {
    const char* name;
    sim::Fault fault;
    Trace head;  // what follows "Murvane: enter\n"
  };
  const Case cases[] = {
      {"ModeReadFails",
       fault_on(0x08, sim::Op::read, 1, 1),
       {rd_fail(0x08), msg("Read addr:0x8 error:5\n"), stall(2000)}},
      {"ModeWriteFails",
       fault_on(0x08, sim::Op::write, 1, 1),
       {rd(0x08, 0xA0), wr_fail(0x08, 0xA3), msg("Write addr:0x8 data:0xA3 error\n"), stall(2000)}},
  };
  for (const Case& c : cases) {
    SimBoard b("zq3301");
    model(b).never_standby = true;
    b.select_family(murvane::zq330x_family);
    b.slot("set_go", {1});  // playing from RAM
    b.platform().add_fault(c.fault);
    const size_t m = b.mark();

    EXPECT_EQ(b.slot("stop"), 0) << c.name;

    const Trace t = b.trace(m);
    ASSERT_GT(t.size(), c.head.size()) << c.name;
    EXPECT_EQ(Trace(t.begin() + 1, t.begin() + 1 + static_cast<ptrdiff_t>(c.head.size())), c.head) << c.name;
    EXPECT_EQ(last_write(b, 0x09, m), -1) << c.name;
    EXPECT_EQ(count(t, msg("Murvane: force to enter standby\n")), 1u) << c.name;
    EXPECT_EQ(model(b).forced_standbys(), 1u) << c.name;
    EXPECT_EQ(model(b).state(), zq330x_model::State::standby) << c.name;
    expect_no_violation(b);
  }
}

TEST(Zq330xStop, WaitStandbyGivesUpAfterHundredReadings) {
  SimBoard b("zq3301");
  model(b).never_standby = true;
  b.select_family(murvane::zq330x_family);
  b.slot("set_go", {1});
  const size_t m = b.mark();
  EXPECT_EQ(murvane::zq330x::wait_standby(), -1);
  const Trace t = b.trace(m);
  EXPECT_EQ(count(t, stall(2000)), 100u);
  EXPECT_EQ(count(t, rd(0x3F, 0x01)), 100u);  // playing from RAM all along
  EXPECT_EQ(t.back(), msg("Murvane: do not enter standby automatically\n"));
  EXPECT_EQ(model(b).state(), zq330x_model::State::ram_play);  // wait_standby alone forces nothing
}

// ---------------------------------------------------------------- get_f0

TEST(Zq330xF0, MeasuresAgainstAChipThatAnswersAtOnce) {
  SimBoard b("zq3302");
  model(b).lra_f0 = 1750;  // period 3840000 / 1750 = 2194 = 0x0892
  b.select_family(murvane::zq330x_family);
  const auto& c = b.chip();
  const int po_08 = c.reg(0x08), po_18 = c.reg(0x18), po_06 = c.reg(0x06), po_50 = c.reg(0x50);
  const int po_1d = c.reg(0x1D);
  const size_t m = b.mark();

  EXPECT_EQ(b.slot("get_f0"), 0);

  Trace want = {msg("Murvane: enter\n")};
  upd_keep(want, 0x08, 0xFC, 0x03, po_08);
  want += Trace{wr(0x09, 0x01), stall(2000), rd(0x3F, 0x00), msg("Murvane: enter standby!\n")};
  const int stopped_08 = (po_08 & 0xFC) | 0x03;
  upd_keep(want, 0x18, 0xDF, 0x20, po_18);
  want.push_back(rd(0x08, stopped_08));  // saved for the restore
  upd_keep(want, 0x08, 0xFB, 0x04, stopped_08);
  want.push_back(msg("Murvane: cont mode\n"));
  upd_keep(want, 0x08, 0xFC, 0x02, stopped_08 | 0x04);
  want.push_back(msg("Murvane: bypass mode\n"));
  upd_keep(want, 0x06, 0xEF, 0x00, po_06);
  upd_keep(want, 0x50, 0xBF, 0x40, po_50);
  upd_keep(want, 0x1D, 0x7F, 0x80, po_1d);
  upd_keep(want, 0x1D, 0x80, 0x7F, po_1d | 0x80);
  want += Trace{wr(0x1E, 0x2D),
                wr(0x1F, 0x04),
                wr(0x20, 20),
                wr(0x22, 15),
                wr(0x1A, 0x6E),
                wr(0x09, 0x01),
                stall(20000),
                stall(2000),
                rd(0x3F, 0x00),
                msg("Murvane: enter standby!\n"),
                rd(0x25, 0x08),
                rd(0x26, 0x92),
                msg("Murvane: lra_f0=1750\n")};
  upd_keep(want, 0x18, 0xDF, 0x00, po_18 | 0x20);
  upd_keep(want, 0x08, 0xFB, stopped_08 & 0x04, (stopped_08 & 0xFC) | 0x04 | 0x02);
  EXPECT_EQ(b.trace(m), want);

  EXPECT_EQ(murvane::haptic_dev.lra_f0, 1750u);
  EXPECT_EQ(model(b).f0_measurements(), 1u);
  EXPECT_EQ(b.chip().reg(0x08) & 0x03, 0x02);  // left in continuous mode
  EXPECT_EQ(b.chip().reg(0x18) & 0x20, 0x00);
  expect_no_violation(b);
}

struct RecordCase {
  const char* name;
  uint32_t f0_pre;
  uint32_t scale;
  uint8_t margin;
  int reg_1e;
  int reg_1a;  // -1: not written (the measurement stops first)
};

class Zq330xF0Record : public ::testing::TestWithParam<RecordCase> {};

TEST_P(Zq330xF0Record, DetectionParametersFollowTheRecord) {
  const RecordCase& c = GetParam();
  SimBoard b("zq3304");
  b.select_family(murvane::zq330x_family);
  murvane::family_dts dts = murvane::zq330x_dts;
  dts.f0_pre = c.f0_pre;
  dts.cont_reg1e_scale = c.scale;
  dts.cont_track_margin = c.margin;
  const size_t m = b.mark();

  const int32_t result = murvane::zq330x::get_f0(dts);

  EXPECT_EQ(last_write(b, 0x1E, m), c.reg_1e);
  EXPECT_EQ(last_write(b, 0x1F, m), 4);
  EXPECT_EQ(last_write(b, 0x20, m), 20);
  EXPECT_EQ(last_write(b, 0x22, m), c.margin);
  EXPECT_EQ(last_write(b, 0x1A, m), c.reg_1a);
  const Trace t = b.trace(m);
  if (c.reg_1a < 0) {
    // Nothing past the parameters: no GO for the measurement, detection left armed.
    EXPECT_EQ(result, -1);
    EXPECT_EQ(t.back(), wr(0x22, c.margin));
    EXPECT_EQ(count(t, wr(0x09, 0x01)), 1u);  // the stop's only
    EXPECT_EQ(murvane::haptic_dev.lra_f0, 0u);
    EXPECT_EQ(b.chip().reg(0x18) & 0x20, 0x20);
    EXPECT_EQ(b.chip().reg(0x08) & 0x04, 0x04);
  } else {
    EXPECT_EQ(result, 0);
    EXPECT_EQ(count(t, wr(0x09, 0x01)), 2u);
    EXPECT_EQ(murvane::haptic_dev.lra_f0, 3840000u / (3840000u / 1700u));  // the model's actuator
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Zq330xF0Record,
                         ::testing::Values(
                             // 1809 x 1000 / 40000 = 45; 240000 / 1700 - 23 - 8 = 110.
                             RecordCase{"Shipped", 1700, 1000, 15, 0x2D, 0x6E},
                             // Below 1800 the low band: 45; 133 - 31 = 102.
                             RecordCase{"F0pre1799", 1799, 1000, 15, 45, 102},
                             // 1800 is the high band: 1990 x 1000 / 40000 = 49; 133 - 31 = 102.
                             RecordCase{"F0pre1800", 1800, 1000, 15, 49, 102},
                             // 1200 - 31 = 1169, clamped to 255.
                             RecordCase{"F0pre200", 200, 1000, 15, 45, 255},
                             // 24 - 31 < 0, clamped to 0.
                             RecordCase{"F0pre10000", 10000, 1000, 15, 49, 0},
                             // 1809 x 4000 / 40000 = 180, clamped to 127.
                             RecordCase{"Scale4000", 1700, 4000, 15, 127, 0x6E},
                             // 1809 x 2374222 passes 2^32: the value saturates instead of wrapping to 0.
                             RecordCase{"ScaleWrapsThirtyTwoBits", 1700, 2374222, 15, 127, 0x6E},
                             RecordCase{"ScaleMax", 1700, 0xFFFFFFFF, 15, 127, 0x6E},
                             RecordCase{"ScaleZero", 1700, 0, 15, 0, 0x6E},
                             // 141 - 8 - 0 - 8 = 125.
                             RecordCase{"MarginZero", 1700, 1000, 0, 45, 125},
                             // No division by 0: the parameters are written, then -1.
                             RecordCase{"F0preZero", 0, 1000, 15, 45, -1}),
                         case_name);

TEST(Zq330xF0, ZeroPreStopsWithoutMeasuring) {
  SimBoard b("zq3301");
  b.select_family(murvane::zq330x_family);
  murvane::family_dts dts = murvane::zq330x_dts;
  dts.f0_pre = 0;
  EXPECT_EQ(murvane::zq330x::get_f0(dts), -1);
  const std::vector<std::string> want = {"Murvane: enter\n", "Murvane: enter standby!\n", "Murvane: cont mode\n",
                                         "Murvane: bypass mode\n"};
  EXPECT_EQ(b.log(), want);
  EXPECT_EQ(model(b).f0_measurements(), 0u);
}

struct PeriodCase {
  int period;
  uint32_t lra_f0;
  const char* line;
};

TEST(Zq330xF0, PeriodToFrequencyAndItsLimits) {
  for (const PeriodCase& c :
       {PeriodCase{0x08D3, 1699, "Murvane: lra_f0=1699\n"}, PeriodCase{0xFFFF, 58, "Murvane: lra_f0=58\n"},
        PeriodCase{0x0001, 3840000, "Murvane: lra_f0=3840000\n"},
        PeriodCase{0x0100, 15000, "Murvane: lra_f0=15000\n"},  // high byte in 0x25
        PeriodCase{0x0000, 0, "Murvane: lra_f0 is error, f0_reg=0\n"}}) {
    SimBoard b("zq3302");
    b.select_family(murvane::zq330x_family);
    b.chip().script_read(0x25, static_cast<uint8_t>(c.period >> 8));
    b.chip().script_read(0x26, static_cast<uint8_t>(c.period));
    EXPECT_EQ(b.slot("get_f0"), 0) << c.period;
    EXPECT_EQ(murvane::haptic_dev.lra_f0, c.lra_f0) << c.period;
    EXPECT_EQ(count(b.log(), c.line), 1u) << c.period;
  }
}

// A period byte that did not arrive leaves no period: with the actuator at
// 175.0 Hz (0x0892) a lost high byte would read as 0x0092 (2630.1 Hz) and a
// lost low byte as 0x0800 (187.5 Hz).
TEST(Zq330xF0, FailedPeriodReadsGiveNoFrequency) {
  struct Case {
    bool fail_hi;
    bool fail_lo;
  };
  for (const Case& c : {Case{true, true}, Case{true, false}, Case{false, true}}) {
    SimBoard b("zq3302");
    model(b).lra_f0 = 1750;
    b.select_family(murvane::zq330x_family);
    if (c.fail_hi) {
      b.platform().add_fault(fault_on(0x25, sim::Op::read));
    }
    if (c.fail_lo) {
      b.platform().add_fault(fault_on(0x26, sim::Op::read));
    }
    EXPECT_EQ(b.slot("get_f0"), 0) << c.fail_hi << c.fail_lo;
    EXPECT_EQ(murvane::haptic_dev.lra_f0, 0u) << c.fail_hi << c.fail_lo;
    EXPECT_EQ(b.log().back(), "Murvane: lra_f0 is error, f0_reg=0\n") << c.fail_hi << c.fail_lo;
    EXPECT_EQ(model(b).f0_measurements(), 1u);  // the chip did measure
  }
}

TEST(Zq330xF0, LateAndMissingStandbyStillReadThePeriod) {
  {
    SimBoard b("zq3303");
    model(b).f0_detect_us = 40000;  // 20000 us wait, then about ten polls
    b.select_family(murvane::zq330x_family);
    EXPECT_EQ(b.slot("get_f0"), 0);
    EXPECT_EQ(murvane::haptic_dev.lra_f0, 1700u);
    const Trace t = b.trace();
    // After the measurement's GO: 20000 us, then readings each behind its wait.
    const size_t polls = (40000 - 20000 + poll_step_us - 1) / poll_step_us;
    EXPECT_EQ(count(t, rd(0x3F, 0x03)), polls - 1);
    EXPECT_EQ(count(t, msg("Murvane: enter standby!\n")), 2u);
  }
  {
    SimBoard b("zq3303");
    model(b).never_standby = true;
    b.select_family(murvane::zq330x_family);
    EXPECT_EQ(b.slot("get_f0"), 0);
    const std::vector<std::string> want = {"Murvane: enter\n",
                                           "Murvane: do not enter standby automatically\n",
                                           "Murvane: force to enter standby\n",
                                           "Murvane: standby mode\n",
                                           "Murvane: cont mode\n",
                                           "Murvane: bypass mode\n",
                                           "Murvane: do not enter standby automatically\n",
                                           "Murvane: lra_f0 is error, f0_reg=0\n"};
    EXPECT_EQ(b.log(), want);
    // The detection set-up is still undone at the end.
    EXPECT_EQ(b.chip().reg(0x18) & 0x20, 0x00);
    EXPECT_EQ(b.chip().reg(0x08) & 0x04, 0x00);
  }
}

// Bit 2 of 0x08 comes back as it was; a failed save reading leaves it clear.
TEST(Zq330xF0, RestoresBit2OfRegister08) {
  struct Case {
    int before;
    bool fail_save;
    int bit2_after;
  };
  for (const Case& c : {Case{0xA0, false, 0x00}, Case{0xA4, false, 0x04}, Case{0xFF, false, 0x04},
                        Case{0x00, false, 0x00}, Case{0xA4, true, 0x00}}) {
    SimBoard b("zq3301");
    b.chip().set_register(0x08, static_cast<uint8_t>(c.before));
    if (c.fail_save) {
      // Second read of 0x08: the one after the stop's update.
      b.platform().add_fault(fault_on(0x08, sim::Op::read, 2, 1));
    }
    b.select_family(murvane::zq330x_family);
    EXPECT_EQ(b.slot("get_f0"), 0);
    EXPECT_EQ(b.chip().reg(0x08) & 0x04, c.bit2_after) << "0x08 = " << c.before;
    EXPECT_EQ(b.chip().reg(0x08) & 0xF8, c.before & 0xF8) << "0x08 = " << c.before;
  }
}

// ---------------------------------------------------------------- write_trim_lra

TEST(Zq330xTrim, KindPicksTheValueAndOnlyBits5To0Change) {
  struct Case {
    int32_t kind;
    const char* line;
    int value;
  };
  constexpr int f0_cali = 0xE7;
  constexpr int osc_cali = 0xC5;
  for (const Case& c : {Case{0, "Murvane: write zero to trim_lra\n", 0x00},
                        Case{1, "Murvane: write f0_cali_data to trim_lra = 0xE7\n", f0_cali},
                        Case{2, "Murvane: write osc_cali_data to trim_lra = 0xC5\n", osc_cali},
                        Case{3, "Murvane: error param, write f0_cali_data to trim_lra\n", f0_cali},
                        Case{-1, "Murvane: error param, write f0_cali_data to trim_lra\n", f0_cali},
                        Case{0x101, "Murvane: error param, write f0_cali_data to trim_lra\n", f0_cali}}) {
    SimBoard b("zq3304");
    b.select_family(murvane::zq330x_family);
    murvane::haptic_dev.f0_cali_data = f0_cali;
    murvane::haptic_dev.osc_cali_data = osc_cali;
    const int old = b.chip().reg(0x5A);
    const size_t m = b.mark();
    EXPECT_EQ(b.slot("write_trim_lra", {c.kind}), 0);
    Trace want = {msg(c.line)};
    upd_keep(want, 0x5A, 0xC0, c.value, old);
    EXPECT_EQ(b.trace(m), want) << "kind " << c.kind;
  }
}

TEST(Zq330xTrim, CalibrationBytesAtLoadWriteZero) {
  SimBoard b("zq3301");
  b.select_family(murvane::zq330x_family);
  EXPECT_EQ(b.slot("write_trim_lra", {1}), 0);
  EXPECT_EQ(b.chip().reg(0x5A) & 0x3F, 0);
  EXPECT_EQ(b.chip().reg(0x5A) & 0xC0, 0x95 & 0xC0);
}

// ---------------------------------------------------------------- the other slots

struct SlotCase {
  const char* slot;
  std::vector<int64_t> args;
  Trace want;  // with the register values of a freshly reset zq330x
};

TEST(Zq330xSlots, RegisterTrafficPerSlot) {
  // Reset values of the model (bits kept by the masked updates show here).
  const std::vector<SlotCase> cases = {
      {"set_go", {1}, {wr(0x09, 0x01)}},
      {"set_go", {0}, {wr(0x09, 0x02)}},
      {"set_go", {0x100}, {wr(0x09, 0x02)}},
      {"set_sequence", {1, 0}, {wr(0x0B, 0x00)}},
      {"set_sequence", {0xF8, 5}, {wr(0x02, 0x05)}},
      {"set_sequence_loop", {0, 4}, {rd(0x12, 0x03), wr(0x12, 0x43)}},
      {"set_sequence_loop", {1, 4}, {rd(0x12, 0x03), wr(0x12, 0x04)}},
      {"set_sequence_loop", {2, 4}, {rd(0x13, 0x00), wr(0x13, 0x40)}},
      {"set_ram_access", {1}, {rd(0x43, 0x02), wr(0x43, 0x0A), stall(1000)}},
      {"set_ram_access", {0}, {rd(0x43, 0x02), wr(0x43, 0x02)}},
      {"set_gain", {0x80}, {wr(0x07, 0x80)}},
      {"set_ram_base", {}, {wr(0x2D, 0x08), wr(0x2E, 0x00), wr(0x40, 0x08), wr(0x41, 0x00)}},
      {"chip_init", {}, {rd(0x52, 0x9B), wr(0x52, 0x9C), wr(0x21, 0x08), rd(0x1C, 0x53), wr(0x1C, 0x58)}},
      {"set_play_mode",
       {0},
       {msg("Murvane: standby mode\n"), rd(0x44, 0x01), wr(0x44, 0x21), rd(0x44, 0x21), wr(0x44, 0x01)}},
      {"set_play_mode",
       {1},
       {msg("Murvane: ram mode\n"), rd(0x08, 0xA0), wr(0x08, 0xA0), msg("Murvane: boost mode\n"), rd(0x06, 0x2C),
        wr(0x06, 0x3C), rd(0x50, 0x8A), wr(0x50, 0x8A)}},
      {"set_play_mode",
       {4},
       {msg("Murvane: cont mode\n"), rd(0x08, 0xA0), wr(0x08, 0xA2), msg("Murvane: bypass mode\n"), rd(0x06, 0x2C),
        wr(0x06, 0x2C), rd(0x50, 0x8A), wr(0x50, 0xCA)}},
      {"set_play_mode", {2}, {msg("Murvane: error play mode\n")}},
      {"offset_calibration", {}, {}},
  };
  for (const SlotCase& c : cases) {
    SimBoard b("zq3303");
    b.select_family(murvane::zq330x_family);
    const size_t m = b.mark();
    const int64_t result = b.slot(c.slot, c.args);
    EXPECT_EQ(b.trace(m), c.want) << c.slot << " " << (c.args.empty() ? -1 : c.args[0]);
    if (std::string(c.slot) == "offset_calibration") {
      EXPECT_EQ(result, 0);
    }
  }
}

TEST(Zq330xSlots, BoostModeRefusesOtherValues) {
  SimBoard b("zq3303");
  b.select_family(murvane::zq330x_family);
  const size_t m = b.mark();
  EXPECT_EQ(murvane::zq330x::set_boost_mode(2), -1);
  EXPECT_EQ(b.trace(m), Trace{msg("Murvane: boost mode error\n")});
}

}  // namespace
