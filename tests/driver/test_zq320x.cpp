// The zq320x family (zq3201..zq3204) on its chip model: bring-up, the
// qualification check, the offset calibration window, the f0 measurement,
// stop and the trim write.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/waveform.h"
#include "families/zq320x/zq320x.h"
#include "murvane/version.h"
#include "sim/models/zq320x_model.h"
#include "tests/sim_fixture.h"

using namespace murvane_test;  // the trace notation and SimBoard

namespace {

constexpr const char* kVersion = murvane::version_line;
constexpr char kInstalled[] = "Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Success\n";
constexpr char kOutOfRange[] = "Murvane: offset calibration out of range\n";

// The model's scenario knobs, reached without a downcast here (the models
// are built without RTTI).
sim::zq320x_knobs& knobs(SimBoard& b) {
  sim::zq320x_knobs* k = sim::zq320x_knobs_of(b.chip());
  EXPECT_NE(k, nullptr);
  static sim::zq320x_knobs unused;
  return k != nullptr ? *k : unused;
}

int state(SimBoard& b) { return b.chip().reg(0x3F) & 0x0F; }

// A zq3201 with the family selected and the bus open, for single slots.
class Board : public SimBoard {
 public:
  Board() : SimBoard("zq3201") { select_family(murvane::zq320x_family); }
  sim::zq320x_knobs& m() { return knobs(*this); }
};

// Failing reads of reg: the from-th matching reading on, count of them.
sim::Fault read_fault(uint8_t reg, uint64_t from = 1, uint64_t n = UINT64_MAX) {
  return fault_on(reg, sim::Op::read, from, n);
}

bool contains(const std::vector<std::string>& log, const std::string& line) {
  return std::ranges::find(log, line) != log.end();
}

// The writes from the first one to reg on.
Trace writes_from(const Trace& w, int reg) {
  for (size_t i = 0; i < w.size(); ++i) {
    if (w[i].reg == reg) {
      return {w.begin() + static_cast<std::ptrdiff_t>(i), w.end()};
    }
  }
  return {};
}

// ---------------------------------------------------------------- bring-up

struct ModelCase {
  const char* name;
  uint8_t id;
};

void PrintTo(const ModelCase& c, std::ostream* os) { *os << c.name; }

class HealthyBoot : public ::testing::TestWithParam<ModelCase> {};

TEST_P(HealthyBoot, FullSequenceLoadsAndPlaysTheWaveform) {
  SimBoard b(GetParam().name);
  ASSERT_EQ(b.chip().chip_id(), GetParam().id);
  EXPECT_EQ(b.entry(), EFI_SUCCESS);

  const std::vector<std::string> want_log = {
      kVersion,
      std::string("Murvane: detected ") + GetParam().name + ".\n",
      "Murvane: zq ram init\n",
      "Murvane: zq ram play\n",
      "Murvane: ram mode\n",
      "Murvane: boost mode\n",
      "Murvane: zq uefi driver end\n",
      kInstalled,
  };
  EXPECT_EQ(b.log(), want_log);

  // Family traffic from the qualification read on. Power-on values of the
  // model: 0x64 = 0x80, 0x57 = 0xF3, all other registers 0; offset code 512.
  Trace want = {rd(0x64, 0x80), rd(0x00, GetParam().id),
                // offset calibration
                rd(0x49, 0x00), wr(0x49, 0x04), rd(0x43, 0x00), wr(0x43, 0x08), rd(0x52, 0x00), wr(0x52, 0x01),
                rd(0x49, 0x04), rd(0x54, 0x80), rd(0x57, 0xF3), rd(0x43, 0x08), wr(0x43, 0x00),
                // chip_init
                wr(0x6D, 0x20), wr(0x6E, 0x24), wr(0x6F, 0x96), wr(0x70, 0x40), wr(0x71, 0x11), wr(0x21, 0x08),
                rd(0x1C, 0x00), wr(0x1C, 0x08), rd(0x71, 0x11), wr(0x71, 0x11),
                // SRAM window
                rd(0x43, 0x00), wr(0x43, 0x08), wr(0x2D, 0x08), wr(0x2E, 0x00), wr(0x40, 0x08), wr(0x41, 0x00)};
  for (uint32_t i = 0; i < murvane::waveform_image_size; ++i) {
    want.push_back(wr(0x42, murvane::waveform_image[i]));
  }
  const Trace play = {rd(0x43, 0x08), wr(0x43, 0x00), wr(0x0A, 0x01), wr(0x0B, 0x00), rd(0x12, 0x00),
                      wr(0x12, 0x40), wr(0x07, 0x80), rd(0x08, 0x00), wr(0x08, 0x00), rd(0x06, 0x00),
                      wr(0x06, 0x40), rd(0x43, 0x00), wr(0x43, 0x00), wr(0x09, 0x01)};
  want.insert(want.end(), play.begin(), play.end());
  const Trace t = b.traffic();
  ASSERT_GE(t.size(), want.size());
  EXPECT_EQ(Trace(t.end() - static_cast<std::ptrdiff_t>(want.size()), t.end()), want);
  // Reset pulse, calibration settle and measure, SRAM access.
  EXPECT_EQ(b.stalls(), (std::vector<uint64_t>{2000, 8000, 1000, 3000, 1000}));

  const uint8_t* sram = b.chip().sram();
  EXPECT_EQ(b.chip().sram_bytes_written(), 146u);
  EXPECT_EQ(sram[0x800], 0x55);
  EXPECT_EQ(sram[0x804], 0x91);
  EXPECT_EQ(sram[0x891], 0xFC);
  EXPECT_TRUE(std::equal(murvane::waveform_image, murvane::waveform_image + 146, sram + 0x800));
  EXPECT_EQ(b.chip().violation_count(), 0u);
  EXPECT_TRUE(b.chip().playing());
  EXPECT_EQ(state(b), sim::zq320x_model::state_ram_play);
}

INSTANTIATE_TEST_SUITE_P(Zq320x, HealthyBoot,
                         ::testing::Values(ModelCase{"zq3201", 0x05}, ModelCase{"zq3202", 0x04},
                                           ModelCase{"zq3203", 0x07}, ModelCase{"zq3204", 0x06}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Zq320xBoot, UnqualifiedPartStopsBeforeCalibration) {
  SimBoard b("zq3203");
  b.chip().set_register(0x64, 0x7F);
  EXPECT_EQ(b.entry(), EFI_SUCCESS);  // the bring-up's result does not reach the firmware
  EXPECT_EQ(b.log(), (std::vector<std::string>{kVersion, "Murvane: unqualified chip\n",
                                               "Murvane: qualify check failed\n", kInstalled}));
  const size_t from = b.mark();
  EXPECT_EQ(b.start(), EFI_DEVICE_ERROR);
  EXPECT_EQ(b.writes(), Trace{});
  EXPECT_EQ(n_reads(b.traffic(from), 0x64), 1u);
  EXPECT_EQ(b.chip().sram_bytes_written(), 0u);
  EXPECT_EQ(b.chip().reg(0x54), 0x00);  // no offset measurement
  EXPECT_FALSE(b.chip().playing());
}

TEST(Zq320xBoot, FailedCalibrationMarksRegister0AndGoesOn) {
  SimBoard b("zq3202");
  b.chip().offset_code = 438;  // just below gain 4's window
  EXPECT_EQ(b.entry(), EFI_SUCCESS);
  const std::vector<std::string> log = b.log();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[2], kOutOfRange);
  EXPECT_EQ(log[log.size() - 2], "Murvane: zq uefi driver end\n");
  EXPECT_EQ(n_writes(b.writes(), 0x00), 1u);
  EXPECT_EQ(b.chip().reg(0x00), 0xAA);
  EXPECT_EQ(b.chip().sram_bytes_written(), 146u);
  EXPECT_TRUE(b.chip().playing());
}

TEST(Zq320xQualify, Bit7OfRegister64Decides) {
  struct Case {
    int answer;  // -1: the read fails
    EFI_STATUS want;
  };
  for (const Case c : {Case{0x80, EFI_SUCCESS}, Case{0xFF, EFI_SUCCESS}, Case{0x7F, EFI_DEVICE_ERROR},
                       Case{0x00, EFI_DEVICE_ERROR}, Case{-1, EFI_DEVICE_ERROR}}) {
    SCOPED_TRACE(c.answer);
    Board b;
    if (c.answer < 0) {
      b.platform().add_fault(read_fault(0x64));
    } else {
      b.chip().set_register(0x64, static_cast<uint8_t>(c.answer));
    }
    const size_t from = b.mark();
    EXPECT_EQ(static_cast<EFI_STATUS>(b.slot("qualify_check")), c.want);
    EXPECT_EQ(b.traffic(from), (Trace{c.answer < 0 ? rd_fail(0x64) : rd(0x64, c.answer)}));
    EXPECT_EQ(contains(b.log_from(from), "Murvane: unqualified chip\n"), c.want != EFI_SUCCESS);
  }
}

// ------------------------------------------------------ offset calibration

// Acceptance windows of the offset code by gain index.
struct Window {
  uint8_t gain;
  uint16_t lo;
  uint16_t hi;
};
constexpr Window kWindows[] = {{0, 499, 525}, {1, 492, 532}, {2, 479, 545}, {3, 452, 572},
                               {4, 439, 585}, {5, 398, 626}, {6, 371, 653}, {7, 331, 693}};

TEST(Zq320xOffset, WindowBoundariesForEveryGain) {
  for (const Window& w : kWindows) {
    for (const int code : {w.lo - 1, int{w.lo}, int{w.hi}, w.hi + 1}) {
      SCOPED_TRACE(testing::Message() << "gain " << int{w.gain} << " code " << code);
      Board b;
      b.chip().offset_code = static_cast<uint16_t>(code);
      murvane::family_dts dts = murvane::zq320x_dts;
      dts.d2s_gain = w.gain;
      const size_t from = b.mark();
      const bool pass = code >= w.lo && code <= w.hi;
      EXPECT_EQ(murvane::zq320x::offset_calibration(dts), pass ? 0 : -1);
      EXPECT_EQ(b.log_from(from), pass ? std::vector<std::string>{} : std::vector<std::string>{kOutOfRange});
      EXPECT_EQ(b.chip().reg(0x49) & 0x07, w.gain);
      EXPECT_EQ(b.chip().reg(0x43) & 0x08, 0);
      EXPECT_EQ(b.stalls(from), (std::vector<uint64_t>{1000, 3000}));
    }
  }
}

TEST(Zq320xOffset, WindowFollowsTheGainReadBack) {
  struct Case {
    uint8_t read_back;
    uint16_t code;
    int32_t want;
    const char* message;  // nullptr: none
  };
  const Case cases[] = {
      {0x00, 530, -1, kOutOfRange},  // passes gain 4, not gain 0
      {0x07, 690, 0, nullptr},       // fails gain 4, passes gain 7
      {0x08, 512, -1, "Murvane: d2s_gain is error\n"},
      {0x0C, 512, -1, "Murvane: d2s_gain is error\n"},
      {0xFC, 512, -1, "Murvane: d2s_gain is error\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int{c.read_back});
    Board b;
    b.chip().offset_code = c.code;
    b.chip().script_read(0x49, 0x00);  // the masked update's read
    b.chip().script_read(0x49, c.read_back);
    const size_t from = b.mark();
    EXPECT_EQ(b.slot("offset_calibration"), c.want);
    EXPECT_EQ(b.writes(from)[0], wr(0x49, 0x04));
    EXPECT_EQ(b.log_from(from),
              c.message != nullptr ? std::vector<std::string>{c.message} : std::vector<std::string>{});
    EXPECT_EQ(b.chip().reg(0x43) & 0x08, 0);
  }
}

// ----------------------------------------------------------- f0 measurement

// Logs of a healthy measurement after the stop has seen standby.
const std::vector<std::string> kF0Log = {
    "Murvane: enter\n",       "Murvane: enter standby mode\n",   "Murvane: cont mode\n",
    "Murvane: bypass mode\n", "Murvane: entered standby mode\n", "Murvane: lra_f0=1700\n"};

TEST(Zq320xF0, RecordValuesProgramTheMeasurement) {
  Board b;
  b.m().stop_time_us = 0;
  const size_t from = b.mark();
  EXPECT_EQ(b.slot("get_f0"), 0);
  EXPECT_EQ(murvane::haptic_dev.lra_f0, 1700u);  // 3840000 / 2258
  EXPECT_EQ(b.log_from(from), kF0Log);
  EXPECT_EQ(writes_from(b.writes(from), 0x1E), (Trace{wr(0x1E, 0x3B), wr(0x1F, 0x04), wr(0x20, 0x14), wr(0x22, 0x0F),
                                                      wr(0x1A, 0x6E), wr(0x09, 0x01), wr(0x18, 0x00), wr(0x08, 0x02)}));
  EXPECT_EQ(b.chip().reg(0x1D), 0xFF);
  EXPECT_EQ(b.chip().reg(0x43) & 0x80, 0x80);  // left in continuous mode
  EXPECT_EQ(b.chip().reg(0x06) & 0x40, 0);     // with bypass
  // The start wait follows the GO directly; then the polls wait 10 ms each.
  const std::vector<uint64_t> s = b.stalls(from);
  ASSERT_GE(s.size(), 3u);
  EXPECT_EQ(s[0], 2000u);
  EXPECT_EQ(s[1], 20000u);
  for (size_t i = 2; i < s.size(); ++i) {
    EXPECT_EQ(s[i], 10000u);
  }
  EXPECT_EQ(n_reads(b.traffic(from), 0x3F), 1 + (s.size() - 2) + 1);
}

TEST(Zq320xF0, AlternateRecords) {
  struct Case {
    uint32_t f0_pre;
    uint32_t scale;
    uint8_t margin;
    int reg1e;
    int reg1a;
  };
  const Case cases[] = {
      {1799, 1000, 15, 59, 102},        {1800, 1000, 15, 65, 102},     {200, 1000, 15, 59, 255},
      {10000, 1000, 15, 65, 0},         {7741, 1000, 15, 65, 0},       {7742, 1000, 15, 65, 0},
      {836, 1000, 15, 59, 255},         {837, 1000, 15, 59, 255},      {1700, 2125, 15, 126, 110},
      {1700, 2142, 15, 127, 110},       {1700, 2374222, 15, 127, 110},  // 32-bit product would wrap to 0
      {1700, 0xFFFFFFFF, 15, 127, 110}, {1700, 1000, 0, 59, 125},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.f0_pre << " " << c.scale << " " << int{c.margin});
    Board b;
    murvane::family_dts dts = murvane::zq320x_dts;
    dts.f0_pre = c.f0_pre;
    dts.cont_reg1e_scale = c.scale;
    dts.cont_track_margin = c.margin;
    const size_t from = b.mark();
    EXPECT_EQ(murvane::zq320x::get_f0(dts), 0);
    const Trace w = writes_from(b.writes(from), 0x1E);
    ASSERT_GE(w.size(), 5u);
    EXPECT_EQ(w[0], wr(0x1E, c.reg1e));
    const size_t at_1a = c.margin != 0 ? 4 : 3;
    EXPECT_EQ(w[at_1a], wr(0x1A, c.reg1a));
    EXPECT_EQ(n_writes(w, 0x22), c.margin != 0 ? 1u : 0u);
    EXPECT_EQ(contains(b.log_from(from), "Murvane: zq320x_dts.cont_track_margin = 0\n"), c.margin == 0);
    EXPECT_EQ(murvane::haptic_dev.lra_f0, 1700u);  // measured, whatever was expected
  }
}

TEST(Zq320xF0, ZeroExpectedFrequencyStopsBeforeTheMeasurement) {
  Board b;
  murvane::family_dts dts = murvane::zq320x_dts;
  dts.f0_pre = 0;
  const size_t from = b.mark();
  EXPECT_EQ(murvane::zq320x::get_f0(dts), -1);
  EXPECT_EQ(murvane::haptic_dev.lra_f0, 0u);
  const Trace w = b.writes(from);
  ASSERT_FALSE(w.empty());
  EXPECT_EQ(w.back(), wr(0x22, 0x0F));  // nothing after the parameters
  EXPECT_EQ(n_writes(w, 0x1A), 0u);
  EXPECT_EQ(n_writes(w, 0x09), 1u);  // the stop's only
  EXPECT_EQ(b.log_from(from).back(), "Murvane: bypass mode\n");
  EXPECT_EQ(b.chip().reg(0x18) & 0x08, 0x08);
  EXPECT_EQ(b.chip().reg(0x08) & 0x04, 0x04);
}

TEST(Zq320xF0, PeriodToFrequency) {
  struct Case {
    uint8_t hi;
    uint8_t lo;
    uint32_t lra_f0;
    const char* message;
  };
  const Case cases[] = {{0x08, 0xD2, 1700, "Murvane: lra_f0=1700\n"},
                        {0x00, 0x00, 0, "Murvane: lra_f0 is error, f0_reg=0\n"},
                        {0xFF, 0xFF, 58, "Murvane: lra_f0=58\n"},
                        {0x01, 0x00, 15000, "Murvane: lra_f0=15000\n"},
                        {0x00, 0x01, 3840000, "Murvane: lra_f0=3840000\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Board b;
    b.m().f0_detect_time_us = 10000;  // done before the first poll
    b.chip().script_read(0x25, c.hi);
    b.chip().script_read(0x26, c.lo);
    const size_t from = b.mark();
    EXPECT_EQ(b.slot("get_f0"), 0);
    EXPECT_EQ(murvane::haptic_dev.lra_f0, c.lra_f0);
    EXPECT_EQ(b.log_from(from).back(), c.message);
    // Standby at the first poll: one reading after the GO, no 10 ms wait.
    const std::vector<uint64_t> s = b.stalls(from);
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(s.back(), 20000u);
  }
}

TEST(Zq320xF0, RestoresOnlyBit2OfRegister08) {
  for (const uint8_t before : {uint8_t{0x00}, uint8_t{0x04}}) {
    SCOPED_TRACE(int{before});
    Board b;
    b.chip().set_register(0x08, before);
    b.chip().set_register(0x18, 0x01);
    const size_t from = b.mark();
    EXPECT_EQ(b.slot("get_f0"), 0);
    // Bit 2 was set for the measurement (before the GO that starts it).
    const Trace w = b.writes(from);
    size_t go = 0;
    for (size_t i = 0; i < w.size(); ++i) {
      if (w[i] == wr(0x1A, 0x6E)) {
        go = i + 1;
      }
    }
    ASSERT_EQ(w.at(go), wr(0x09, 0x01));
    EXPECT_EQ(b.chip().reg(0x25), 0x08);  // the model measured: 3840000 / 1700 = 0x08D2
    EXPECT_EQ(b.chip().reg(0x26), 0xD2);
    EXPECT_EQ(b.chip().reg(0x08), before | 0x02);  // continuous mode bits stay
    EXPECT_EQ(b.chip().reg(0x18), 0x01);
  }
}

TEST(Zq320xF0, NoStandbyKeepsTheExpectedValue) {
  struct Case {
    const char* what;
    bool never;          // the chip never returns to standby
    uint64_t fail_from;  // 0: no failed reading; else the failing 0x3F reading
    size_t readings;     // 0x3F readings after the GO
  };
  // stop_time 0: the stop's poll is the first 0x3F reading.
  const Case cases[] = {{"never", true, 0, 200}, {"failed reading", false, 4, 3}, {"first fails", false, 2, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Board b;
    b.m().stop_time_us = 0;
    b.m().never_standby = c.never;
    if (c.fail_from != 0) {
      b.platform().add_fault(read_fault(0x3F, c.fail_from, 1));
    }
    murvane::family_dts dts = murvane::zq320x_dts;
    dts.f0_pre = 1650;
    const size_t from = b.mark();
    EXPECT_EQ(murvane::zq320x::get_f0(dts), 0);
    EXPECT_EQ(murvane::haptic_dev.lra_f0, 1650u);
    const std::vector<std::string> log = b.log_from(from);
    EXPECT_EQ(log.back(), "Murvane: enter standby mode failed, stop read f0\n");
    EXPECT_FALSE(contains(log, "Murvane: entered standby mode\n"));
    const Trace t = b.traffic(from);
    const std::vector<uint64_t> s = b.stalls(from);
    if (c.never) {
      // The stop ran out too and forced standby first.
      EXPECT_EQ(n_reads(t, 0x3F), 40u + 200u);
      EXPECT_EQ(s.size(), 40u + 1u + 200u);
    } else {
      EXPECT_EQ(n_reads(t, 0x3F), 1u + c.readings);
      // Stop wait, start wait, one 10 ms wait per busy reading, none after the failed one.
      EXPECT_EQ(s.size(), 2u + (c.readings - 1));
    }
    EXPECT_EQ(s.back(), c.never ? 10000u : (c.readings > 1 ? 10000u : 20000u));
    EXPECT_EQ(n_reads(t, 0x25), 0u);
    EXPECT_EQ(t[t.size() - 3], wr(0x18, 0x00));
    EXPECT_EQ(b.chip().reg(0x08) & 0x04, 0);
  }
}

// --------------------------------------------------------------------- stop

TEST(Zq320xStop, StandbyAtOnceLateNeverOrUnreadable) {
  struct Case {
    const char* what;
    uint32_t stop_time_us;
    bool never;
    int script;          // scripted first 0x3F answer, -1 none
    uint64_t fail_from;  // failing 0x3F reading, 0 none
    bool forced;
  };
  const Case cases[] = {
      {"at once", 0, false, -1, 0, false},         {"state 0xA", 3000, false, 0x1A, 0, false},
      {"late", 7000, false, -1, 0, false},         {"never", 0, true, -1, 0, true},
      {"first read fails", 0, false, -1, 1, true}, {"third read fails", 7000, false, -1, 3, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Board b;
    b.m().stop_time_us = c.stop_time_us;
    b.m().never_standby = c.never;
    if (c.script >= 0) {
      b.chip().script_read(0x3F, static_cast<uint8_t>(c.script));
    }
    if (c.fail_from != 0) {
      b.platform().add_fault(read_fault(0x3F, c.fail_from, 1));
    }
    const size_t from = b.mark();
    // The status of the last wait or access: every row ends clean.
    EXPECT_EQ(b.slot("stop"), 0);
    const Trace t = b.traffic(from);
    ASSERT_GE(t.size(), 3u);
    EXPECT_EQ(Trace(t.begin(), t.begin() + 3), (Trace{rd(0x08, 0x00), wr(0x08, 0x03), wr(0x09, 0x01)}));
    const size_t readings = n_reads(t, 0x3F);
    const std::vector<uint64_t> s = b.stalls(from);
    for (const uint64_t us : s) {
      EXPECT_EQ(us, 2000u);
    }
    const std::vector<std::string> log = b.log_from(from);
    if (c.forced) {
      std::vector<std::string> want_log = {"Murvane: enter\n", "Murvane: force to enter standby mode\n"};
      if (c.fail_from != 0) {
        want_log.insert(want_log.begin() + 1, "Read addr:0x3F error:5\n");
      }
      EXPECT_EQ(log, want_log);
      EXPECT_EQ(Trace(t.end() - 4, t.end()), (Trace{rd(0x44, 0x00), wr(0x44, 0x40), rd(0x44, 0x40), wr(0x44, 0x00)}));
      const size_t want = c.never ? 40 : c.fail_from;
      EXPECT_EQ(readings, want);
      EXPECT_EQ(s.size(), c.never ? 40u : want - 1);  // no wait after a failed reading
    } else {
      EXPECT_EQ(log, (std::vector<std::string>{"Murvane: enter\n", "Murvane: enter standby mode\n"}));
      EXPECT_EQ(n_writes(t, 0x44), 0u);
      EXPECT_EQ(s.size(), readings);  // the standby reading is followed by a wait too
      if (c.stop_time_us == 7000) {
        EXPECT_GT(readings, 1u);
        EXPECT_LT(readings, 40u);
      } else {
        EXPECT_EQ(readings, 1u);
      }
    }
    if (c.script < 0) {  // a scripted answer is not the model's own state
      EXPECT_EQ(state(b), sim::zq320x_model::state_standby);
    }
  }
}

TEST(Zq320xStop, StandbyPlayModeRunsStop) {
  Board b;
  b.m().stop_time_us = 0;
  const size_t from = b.mark();
  EXPECT_EQ(b.slot("set_play_mode", {0}), 0);
  EXPECT_EQ(b.log_from(from),
            (std::vector<std::string>{"Murvane: standby mode\n", "Murvane: enter\n", "Murvane: enter standby mode\n"}));
  EXPECT_EQ(b.writes(from), (Trace{wr(0x08, 0x03), wr(0x09, 0x01)}));
}

// ---------------------------------------------------------- trim and slots

TEST(Zq320xTrim, KindsWriteTheLowSixBits) {
  struct Case {
    int32_t kind;
    const char* message;
    uint8_t want;  // register 0x5A afterwards, from 0xD5
  };
  const Case cases[] = {{0, "Murvane: write zero to trim_lra\n", 0xC0},
                        {1, "Murvane: write f0_cali_data to trim_lra = 0xE7\n", 0xE7},
                        {2, "Murvane: write osc_cali_data to trim_lra = 0x5A\n", 0xDA},
                        {3, "Murvane: error param, write f0_cali_data to trim_lra\n", 0xE7},
                        {-1, "Murvane: error param, write f0_cali_data to trim_lra\n", 0xE7},
                        {0x101, "Murvane: error param, write f0_cali_data to trim_lra\n", 0xE7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    Board b;
    murvane::haptic_dev.f0_cali_data = 0xE7;
    murvane::haptic_dev.osc_cali_data = 0x5A;
    b.chip().set_register(0x5A, 0xD5);
    const size_t from = b.mark();
    EXPECT_EQ(b.slot("write_trim_lra", {c.kind}), 0);
    EXPECT_EQ(b.log_from(from), std::vector<std::string>{c.message});
    EXPECT_EQ(b.traffic(from), (Trace{rd(0x5A, 0xD5), wr(0x5A, c.want)}));
  }
}

TEST(Zq320xSlots, RegisterTraffic) {
  struct Case {
    const char* slot;
    std::vector<int64_t> args;
    Trace traffic;
    std::vector<std::string> log;
    std::vector<uint64_t> stalls;
  };
  const std::vector<Case> cases = {
      {"set_go", {0}, {wr(0x09, 0x02)}, {}, {}},
      {"set_go", {0x100}, {wr(0x09, 0x02)}, {}, {}},  // low 8 bits only
      {"set_go", {1}, {wr(0x09, 0x01)}, {}, {}},
      {"set_sequence", {1, 0}, {wr(0x0B, 0x00)}, {}, {}},
      {"set_sequence", {0xF8, 3}, {wr(0x02, 0x03)}, {}, {}},
      {"set_sequence_loop", {0, 4}, {rd(0x12, 0xAB), wr(0x12, 0x4B)}, {}, {}},
      {"set_sequence_loop", {3, 0x14}, {rd(0x13, 0xAB), wr(0x13, 0xA4)}, {}, {}},
      {"set_gain", {0x80}, {wr(0x07, 0x80)}, {}, {}},
      {"set_ram_access", {1}, {rd(0x43, 0xAB), wr(0x43, 0xAB)}, {}, {1000}},
      {"set_ram_access", {0}, {rd(0x43, 0xAB), wr(0x43, 0xA3)}, {}, {}},
      {"set_play_mode", {2}, {}, {"Murvane: error play mode\n"}, {}},
      {"set_play_mode",
       {4},
       {rd(0x08, 0xAB), wr(0x08, 0xAA), rd(0x06, 0xAB), wr(0x06, 0xAB), wr(0x3C, 0x0C), rd(0x43, 0xAB), wr(0x43, 0xAB)},
       {"Murvane: cont mode\n", "Murvane: bypass mode\n"},
       {}},
      {"chip_init",
       {},
       {wr(0x6D, 0x20), wr(0x6E, 0x24), wr(0x6F, 0x96), wr(0x70, 0x40), wr(0x71, 0x11), wr(0x21, 0x08), rd(0x1C, 0xAB),
        wr(0x1C, 0xA8), rd(0x71, 0x11), wr(0x71, 0x11)},
       {},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.slot);
    Board b;
    for (const int reg : {0x06, 0x08, 0x12, 0x13, 0x1C, 0x43}) {
      b.chip().set_register(static_cast<uint8_t>(reg), 0xAB);
    }
    const size_t from = b.mark();
    b.slot(c.slot, c.args);
    EXPECT_EQ(b.traffic(from), c.traffic);
    EXPECT_EQ(b.log_from(from), c.log);
    EXPECT_EQ(b.stalls(from), c.stalls);
  }
}

TEST(Zq320xSlots, BoostModeRefusesOtherValues) {
  Board b;
  const size_t from = b.mark();
  EXPECT_EQ(murvane::zq320x::set_boost_mode(2), -1);
  EXPECT_EQ(b.log_from(from), std::vector<std::string>{"Murvane: boost mode error\n"});
  EXPECT_TRUE(b.traffic(from).empty());
}

// ------------------------------------------- accesses that depend on others
//
// An access that opens a window or sets up what later accesses rely on and
// fails (with a masked update, its read failing counts): the dependent
// accesses are not issued, the closing one is, and the result says so.

}  // namespace
