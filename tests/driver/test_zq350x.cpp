// zq350x family (zq3501..zq3504) against its chip model: boot through the
// entry point, qualification and its repair window, playback control, the
// standby poll, the f0 measurement arithmetic and the trim write.
#include <algorithm>
#include <string>
#include <vector>

#include "core/regs.h"
#include "core/waveform.h"
#include "families/zq350x/zq350x.h"
#include "murvane/version.h"
#include "sim/models/zq350x_model.h"
#include "tests/sim_fixture.h"

namespace {

using namespace murvane_test;  // the trace notation and SimBoard
namespace zq = murvane::zq350x;

constexpr int failed = -1;

sim::zq350x_model& model(SimBoard& b) { return static_cast<sim::zq350x_model&>(b.chip()); }

// A zq350x board with the bus open and the family selected, for single slots.
struct Board : SimBoard {
  explicit Board(const char* chip = "zq3503") : SimBoard(chip) { select_family(murvane::zq350x_family); }
};

Trace writes_to(const Trace& traffic, int reg) {
  Trace out;
  std::copy_if(traffic.begin(), traffic.end(), std::back_inserter(out),
               [reg](const Ev& x) { return x.kind == Ev::Kind::write && x.reg == reg; });
  return out;
}

// Failure of the from-th to (from+count-1)-th reading or write of reg.
sim::Fault read_fault(uint8_t reg, uint64_t from = 1, uint64_t count = UINT64_MAX) {
  return fault_on(reg, sim::Op::read, from, count);
}
sim::Fault write_fault(uint8_t reg, uint64_t from = 1, uint64_t count = UINT64_MAX) {
  return fault_on(reg, sim::Op::write, from, count);
}

// ---------------------------------------------------------------------------
// Healthy boot of every model through the entry point.

struct ModelCase {
  const char* name;
  int id;
};

void PrintTo(const ModelCase& c, std::ostream* os) { *os << c.name; }

class HealthyBoot : public ::testing::TestWithParam<ModelCase> {};

TEST_P(HealthyBoot, LogTrafficSramAndFinalState) {
  const ModelCase& m = GetParam();
  SimBoard b(m.name);
  ASSERT_EQ(b.entry(), EFI_SUCCESS);

  const std::vector<std::string> expected_log = {
      murvane::version_line,           std::string("Murvane: detected ") + m.name + ".\n",
      "Murvane: zq ram init\n",        "Murvane: zq ram play\n",
      "Murvane: ram mode\n",           "Murvane: boost mode\n",
      "Murvane: zq uefi driver end\n", "Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Success\n",
  };
  EXPECT_EQ(b.log(), expected_log);

  // Power-on values of the model: 0x71=2A 0x74=11 0x75=1F 0x48=C3 0x1C=35
  // 0x4E=2B 0x45=41 0x12=0B 0x08=10 0x06=12 0x4C=4A 0x79=15, qualification
  // 0x61=85 0x62=21 0x63=0B.
  const int hi = m.id >> 8;
  const int lo = m.id & 0xFF;
  // clang-format off
  Trace expected = {
      rd(0x00, 0x00), rd(0x57, hi), rd(0x58, lo),                                    // selection
      rd(0x61, 0x85), rd(0x62, 0x21), rd(0x63, 0x0B), rd(0x62, 0x21), rd(0x63, 0x0B),  // qualify, no window
      rd(0x00, 0x00), rd(0x57, hi), rd(0x58, lo),                                    // identification
      wr(0x5B, 0xE3),                                                              // chip_init: key open
      wr(0x70, 0x0F), rd(0x71, 0x2A), wr(0x71, 0xAA), rd(0x74, 0x11), wr(0x74, 0x91),
      rd(0x75, 0x1F), wr(0x75, 0x0F), rd(0x48, 0xC3), wr(0x48, 0x43),
      wr(0x5B, 0x00),                                                              // key closed
      rd(0x1C, 0x35), wr(0x1C, 0x38), wr(0x21, 0x08), rd(0x4E, 0x2B), wr(0x4E, 0x2C),
      rd(0x45, 0x41), wr(0x45, 0x45),                                               // SRAM open
      wr(0x2D, 0x08), wr(0x2E, 0x00), wr(0x40, 0x08), wr(0x41, 0x00),                 // base and pointer 0x0800
  };
  for (uint32_t i = 0; i < murvane::waveform_image_size; ++i) {
    expected.push_back(wr(0x42, murvane::waveform_image[i]));
  }
  expected += Trace({
      rd(0x45, 0x45), wr(0x45, 0x41),  // SRAM closed
      wr(0x0A, 0x01), wr(0x0B, 0x00),  // sequence: waveform 1, end
      rd(0x12, 0x0B), wr(0x12, 0x4B),  // slot 0 loops 4
      wr(0x07, 0x80),                 // gain
      rd(0x08, 0x10), wr(0x08, 0x10),  // RAM mode
      rd(0x06, 0x12), wr(0x06, 0x92),  // boost
      rd(0x4C, 0x4A), wr(0x4C, 0x0A),  // continuous off
      rd(0x79, 0x15), wr(0x09, 0x01),  // GO
  });
  // clang-format on
  EXPECT_EQ(b.traffic(), expected);
  // Reset pulse, then the 1 ms settle after opening the SRAM; nothing else.
  EXPECT_EQ(b.stalls(), (std::vector<uint64_t>{2000, 8000, 1000}));

  sim::zq350x_model& chip = model(b);
  EXPECT_EQ(violations(chip), std::vector<std::string>{});
  EXPECT_EQ(chip.ram_base(), 0x0800);
  EXPECT_EQ(chip.sram_bytes_written(), 146u);
  const uint8_t head[] = {0x55, 0x08, 0x05, 0x08, 0x91};
  EXPECT_TRUE(std::equal(head, head + 5, chip.sram() + 0x0800));
  EXPECT_EQ(chip.sram()[0x0891], 0xFC);
  EXPECT_TRUE(std::equal(murvane::waveform_image, murvane::waveform_image + 146, chip.sram() + 0x0800));
  EXPECT_FALSE(chip.key_is_open());
  EXPECT_EQ(chip.reg(0x45) & 0x04, 0);
  EXPECT_TRUE(chip.playing());
  EXPECT_EQ(chip.go_count(), 1u);
}

INSTANTIATE_TEST_SUITE_P(AllModels, HealthyBoot,
                         ::testing::Values(ModelCase{"zq3501", 0x9250}, ModelCase{"zq3502", 0x9260},
                                           ModelCase{"zq3503", 0x9270}, ModelCase{"zq3504", 0x9280}),
                         [](const auto& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------
// Qualification and its repair window.

const Trace repair_window = {
    rd(0x45, 0x41), wr(0x45, 0x45), wr(0x5B, 0xE3), rd(0x5C, 0x00), wr(0x5B, 0x00), rd(0x45, 0x45), wr(0x45, 0x41),
};

struct QualifyCase {
  const char* name;
  bool qualified;
  bool flag_fault;
  bool level_fault;
  bool repairable;
  EFI_STATUS result;
  bool window;
};

void PrintTo(const QualifyCase& c, std::ostream* os) { *os << c.name; }

class Qualify : public ::testing::TestWithParam<QualifyCase> {};

TEST_P(Qualify, Outcome) {
  const QualifyCase& c = GetParam();
  Board b;
  sim::zq350x_model& chip = model(b);
  chip.qualified = c.qualified;
  chip.flag_fault = c.flag_fault;
  chip.level_fault = c.level_fault;
  chip.repairable = c.repairable;
  const int flag1 = c.flag_fault ? 0xA1 : 0x21;
  const int level1 = c.level_fault ? sim::zq350x_model::level_fault_value : 0x0B;
  const bool fixed = c.window && c.repairable;
  const int flag2 = fixed ? 0x21 : flag1;
  const int level2 = fixed ? 0x0B : level1;

  const size_t at = b.mark();
  EXPECT_EQ(static_cast<EFI_STATUS>(b.slot("qualify_check")), c.result);

  Trace expected = {rd(0x61, c.qualified ? 0x85 : 0x05), rd(0x62, flag1), rd(0x63, level1)};
  if (c.qualified) {
    if (c.window) {
      expected += repair_window;
    }
    expected += Trace({rd(0x62, flag2), rd(0x63, level2)});
  }
  EXPECT_EQ(b.traffic(at), expected);
  EXPECT_EQ(b.stalls(at), c.window ? (std::vector<uint64_t>{1000, 2000}) : std::vector<uint64_t>{});
  EXPECT_EQ(b.log_from(at),
            c.qualified ? std::vector<std::string>{} : std::vector<std::string>{"Murvane: unqualified chip\n"});
  EXPECT_EQ(violations(chip), std::vector<std::string>{});
  EXPECT_FALSE(chip.key_is_open());
  EXPECT_EQ(chip.repair_triggers(), c.window ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Zq350x, Qualify,
    ::testing::Values(QualifyCase{"Healthy", true, false, false, true, EFI_SUCCESS, false},
                      QualifyCase{"LevelRepaired", true, false, true, true, EFI_SUCCESS, true},
                      QualifyCase{"FlagRepaired", true, true, false, true, EFI_SUCCESS, true},
                      QualifyCase{"FlagNotRepaired", true, true, false, false, EFI_DEVICE_ERROR, true},
                      QualifyCase{"BothNotRepaired", true, true, true, false, EFI_DEVICE_ERROR, true},
                      QualifyCase{"Unqualified", false, true, true, true, EFI_DEVICE_ERROR, false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Zq350xQualify, LevelAtLimitOnlyOnFirstReading) {
  Board b;
  b.chip().script_read(0x63, 0x10);
  b.chip().script_read(0x63, 0x0F);
  const size_t at = b.mark();
  EXPECT_EQ(static_cast<EFI_STATUS>(b.slot("qualify_check")), EFI_SUCCESS);
  Trace expected = {rd(0x61, 0x85), rd(0x62, 0x21), rd(0x63, 0x10)};
  expected += repair_window;
  expected += Trace({rd(0x62, 0x21), rd(0x63, 0x0F)});
  EXPECT_EQ(b.traffic(at), expected);
}

TEST(Zq350xQualify, FailedSecondReadingKeepsTheFirstByte) {
  // 0x62 read bad the first time: a failed second read must not clear it.
  Board b;
  b.chip().script_read(0x62, 0x80);
  b.platform().add_fault(read_fault(0x62, 2, 1));
  EXPECT_EQ(static_cast<EFI_STATUS>(b.slot("qualify_check")), EFI_DEVICE_ERROR);
}

TEST(Zq350xQualify, RejectedPartEndsBootBeforeIdentification) {
  SimBoard b("zq3502");
  model(b).flag_fault = true;
  model(b).repairable = false;
  EXPECT_EQ(b.entry(), EFI_SUCCESS);  // the install's status; bring-up's result stays inside
  EXPECT_EQ(b.log(), (std::vector<std::string>{murvane::version_line, "Murvane: qualify check failed\n",
                                               "Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Success\n"}));
  EXPECT_EQ(b.chip().sram_bytes_written(), 0u);
  EXPECT_FALSE(b.chip().playing());
}

// ---------------------------------------------------------------------------
// Playback trigger.

struct GoCase {
  int flag;
  int trim;  // what 0x79 reads; failed = the read fails
  int ctrl;  // written to 0x09
};

TEST(Zq350xSetGo, StartsOnlyBelowTrimLimit) {
  const GoCase cases[] = {{1, 0x3F, 1}, {1, 0x40, 2},     {0, 0x3F, 2},  {1, 0x00, 1},
                          {1, 0xFF, 2}, {0x100, 0x00, 2}, {1, failed, 1}};
  for (const GoCase& c : cases) {
    SCOPED_TRACE("flag " + std::to_string(c.flag) + " trim " + std::to_string(c.trim));
    Board b;
    if (c.trim == failed) {
      b.platform().add_fault(read_fault(0x79));
    } else {
      b.chip().set_register(0x79, static_cast<uint8_t>(c.trim));
    }
    const size_t at = b.mark();
    EXPECT_EQ(b.slot("set_go", {c.flag}), 0);
    EXPECT_EQ(b.traffic(at), (Trace{(c.trim == failed ? rd_fail(0x79) : rd(0x79, c.trim)), wr(0x09, c.ctrl)}));
    EXPECT_EQ(b.chip().playing(), c.ctrl == 1);
  }
}

// ---------------------------------------------------------------------------
// Standby poll (a failed reading ends it at once, as a time-out).

TEST(Zq350xWaitStandby, ZeroPollsTouchesNothing) {
  Board b;
  const size_t at = b.mark();
  EXPECT_EQ(zq::wait_standby(0), -1);
  EXPECT_EQ(b.mark(), at);  // no transfer, no stall, no message
}

struct StandbyCase {
  const char* name;
  uint32_t polls;
  int busy_readings;  // scripted non-zero answers before the model's own (standby)
  uint64_t fault_at;  // 1-based reading of 0x3F that fails, 0 for none
  int32_t result;
  size_t reads;
  size_t stalls;
};

TEST(Zq350xWaitStandby, LateFailedAndExhausted) {
  const StandbyCase cases[] = {
      {"at once", 5, 0, 0, 0, 1, 0},
      {"late", 5, 3, 0, 0, 4, 3},
      {"last poll", 4, 3, 0, 0, 4, 3},
      {"too late", 3, 3, 0, -1, 3, 3},
      {"first reading fails", 5, 0, 1, -1, 1, 0},
      {"third reading fails", 5, 3, 3, -1, 3, 2},
  };
  for (const StandbyCase& c : cases) {
    SCOPED_TRACE(c.name);
    Board b;
    for (int i = 0; i < c.busy_readings; ++i) {
      b.chip().script_read(0x3F, 0x01);
    }
    if (c.fault_at != 0) {
      b.platform().add_fault(read_fault(0x3F, c.fault_at, 1));
    }
    const size_t at = b.mark();
    EXPECT_EQ(zq::wait_standby(c.polls), c.result);
    const Trace t = b.traffic(at);
    EXPECT_EQ(t.size(), c.reads);
    EXPECT_EQ(n_reads(t, 0x3F), c.reads);
    EXPECT_EQ(b.stalls(at), std::vector<uint64_t>(c.stalls, 2000));
    std::vector<std::string> expected_log;
    if (c.fault_at != 0) {
      expected_log.push_back("Read addr:0x3F error:5\n");
    }
    if (c.result == 0) {
      expected_log.push_back("Murvane: entered standby\n");
    }
    EXPECT_EQ(b.log_from(at), expected_log);
  }
}

TEST(Zq350xWaitStandby, ChipThatNeverReturnsRunsOutTheCount) {
  Board b;
  b.slot("set_go", {1});  // RAM playback on the power-on mode bits
  model(b).never_standby = true;
  const size_t at = b.mark();
  EXPECT_EQ(zq::wait_standby(7), -1);
  EXPECT_EQ(n_reads(b.traffic(at), 0x3F), 7u);
  EXPECT_EQ(b.stalls(at), std::vector<uint64_t>(7, 2000));
  EXPECT_TRUE(b.log_from(at).empty());
}

TEST(Zq350xStop, ForcesStandbyAfterFortyPolls) {
  Board b;
  model(b).never_standby = true;
  const size_t at = b.mark();
  EXPECT_EQ(b.slot("stop"), 0);  // the forced standby's bus status
  const Trace t = b.traffic(at);
  ASSERT_EQ(t.size(), 3u + 40u + 4u);
  EXPECT_EQ(Trace(t.begin(), t.begin() + 3), (Trace{rd(0x08, 0x10), wr(0x08, 0x13), wr(0x09, 0x01)}));
  EXPECT_EQ(n_reads(t, 0x3F), 40u);
  EXPECT_EQ(Trace(t.end() - 4, t.end()), (Trace{rd(0x45, 0x41), wr(0x45, 0x61), rd(0x45, 0x61), wr(0x45, 0x41)}));
  EXPECT_EQ(b.stalls(at), std::vector<uint64_t>(40, 2000));
  EXPECT_EQ(b.log_from(at), (std::vector<std::string>{"Murvane: enter\n", "Murvane: force to enter standby mode\n",
                                                      "Murvane: standby mode\n"}));
  EXPECT_EQ(model(b).state(), sim::zq350x_model::state_standby);
}

// ---------------------------------------------------------------------------
// f0 measurement.

TEST(Zq350xGetF0, HealthyMeasurement) {
  Board b;
  model(b).lra_f0 = 2000;  // period count 3840000 / 2000 = 1920
  const size_t at = b.mark();
  EXPECT_EQ(b.slot("get_f0"), 0);
  EXPECT_EQ(murvane::haptic_dev.lra_f0, 2000u);
  EXPECT_EQ(b.log_from(at), (std::vector<std::string>{"Murvane: enter\n", "Murvane: entered standby\n",
                                                      "Murvane: cont mode\n", "Murvane: bypass mode\n",
                                                      "Murvane: entered standby\n", "Murvane: lra_f0=2000\n"}));
  const std::vector<uint64_t> st = b.stalls(at);
  EXPECT_NE(std::find(st.begin(), st.end(), 20000u), st.end());
  const Trace t = b.traffic(at);
  EXPECT_EQ(writes_to(t, 0x1D), (Trace{wr(0x1D, 0xA0), wr(0x1D, 0xFF)}));
  EXPECT_EQ(writes_to(t, 0x1F), (Trace{wr(0x1F, 4)}));
  EXPECT_EQ(writes_to(t, 0x20), (Trace{wr(0x20, 20)}));
  EXPECT_EQ(writes_to(t, 0x09), (Trace{wr(0x09, 1), wr(0x09, 1)}));  // stop, then the measurement
  // Measurement bits back off; bits 1:0 stay in continuous mode.
  EXPECT_EQ(b.chip().reg(0x18), 0x01);
  EXPECT_EQ(b.chip().reg(0x08), 0x12);
  EXPECT_EQ(b.chip().reg(0x4C) & 0x40, 0x40);
  EXPECT_EQ(b.chip().reg(0x06) & 0x80, 0);
  EXPECT_EQ(violations(b.chip()), std::vector<std::string>{});
}

TEST(Zq350xGetF0, PeriodCountToFrequency) {
  struct {
    int hi, lo;
    uint32_t lra_f0;
    const char* line;
  } const cases[] = {
      {0x08, 0xD3, 1699, "Murvane: lra_f0=1699\n"},
      {0x00, 0x01, 3840000, "Murvane: lra_f0=3840000\n"},
      {0x00, 0x00, 0, "Murvane: lra_f0 is error, f0_reg=0\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    Board b;
    b.chip().script_read(0x25, static_cast<uint8_t>(c.hi));
    b.chip().script_read(0x26, static_cast<uint8_t>(c.lo));
    EXPECT_EQ(b.slot("get_f0"), 0);
    EXPECT_EQ(murvane::haptic_dev.lra_f0, c.lra_f0);
    EXPECT_EQ(b.log().back(), c.line);
  }
}

TEST(Zq350xGetF0, HalfReadPeriodIsNoPeriod) {
  // The chip measured 0x08D3 (1699 x 0.1 Hz); one byte is lost on the bus.
  for (const uint8_t lost : {uint8_t{0x25}, uint8_t{0x26}}) {
    SCOPED_TRACE(lost);
    Board b;
    b.chip().script_read(0x25, 0x08);
    b.chip().script_read(0x26, 0xD3);
    b.platform().add_fault({.transfer = std::nullopt, .reg = lost, .op = sim::Op::read});
    EXPECT_EQ(b.slot("get_f0"), 0);
    EXPECT_EQ(murvane::haptic_dev.lra_f0, 0u);
    EXPECT_EQ(b.log().back(), "Murvane: lra_f0 is error, f0_reg=0\n");
  }
}

TEST(Zq350xGetF0, ChipNeverInStandbyReportsNoPeriod) {
  Board b;
  model(b).never_standby = true;
  EXPECT_EQ(b.slot("get_f0"), 0);
  const Trace t = b.traffic();
  EXPECT_EQ(n_reads(t, 0x3F), 40u + 1000u);
  EXPECT_EQ(murvane::haptic_dev.lra_f0, 0u);
  EXPECT_EQ(b.log().back(), "Murvane: lra_f0 is error, f0_reg=0\n");
}

struct ArithCase {
  const char* name;
  uint32_t f0_pre;
  uint32_t scale;
  uint8_t margin;
  int reg1e;
  int reg1a;  // -1: not written
};

// 0x1E = min(127, base * scale / 40000), base 1809 below 1800 (0.1 Hz), else 1990.
// 0x1A = clamp(240000 / f0_pre - cont_reg1c(8) - margin - 8, 0, 255).
TEST(Zq350xGetF0, DriveRegistersFromAlternateRecords) {
  const ArithCase cases[] = {
      {"record", 1700, 1000, 15, 45, 110},
      {"just below band split", 1799, 1000, 15, 45, 102},
      {"band split", 1800, 1000, 15, 49, 102},
      {"scale saturates", 1700, 3000, 15, 127, 110},
      // 1809 * 2374222 exceeds 2^32; a wrapped product would give 302 / 40000 = 0.
      {"scale past 32 bits", 1700, 2374222, 15, 127, 110},
      {"largest scale", 1700, 0xFFFFFFFFu, 15, 127, 110},
      {"zero scale", 1700, 0, 15, 0, 110},
      {"low f0 clamps high", 700, 1000, 15, 45, 255},
      {"high f0 clamps low", 8000, 1000, 15, 49, 0},
      {"f0 of 1", 1, 1000, 15, 45, 255},
      {"no margin", 1700, 1000, 0, 45, 125},
      {"f0_pre zero", 0, 1000, 15, 45, -1},
  };
  for (const ArithCase& c : cases) {
    SCOPED_TRACE(c.name);
    Board b;
    murvane::family_dts dts = murvane::zq350x_dts;
    dts.f0_pre = c.f0_pre;
    dts.cont_reg1e_scale = c.scale;
    dts.cont_track_margin = c.margin;
    const size_t at = b.mark();
    const int32_t result = zq::get_f0(dts);
    const Trace t = b.traffic(at);
    EXPECT_EQ(writes_to(t, 0x1E), (Trace{wr(0x1E, c.reg1e)}));
    EXPECT_EQ(writes_to(t, 0x1A), c.reg1a < 0 ? Trace{} : Trace{wr(0x1A, c.reg1a)});
    EXPECT_EQ(writes_to(t, 0x22), c.margin == 0 ? Trace{} : Trace{wr(0x22, c.margin)});
    EXPECT_TRUE(writes_to(t, 0x19).empty());  // this family has no 0x19 setting
    if (c.f0_pre == 0) {
      EXPECT_EQ(result, -1);
      EXPECT_EQ(murvane::haptic_dev.lra_f0, 0u);
      EXPECT_EQ(writes_to(t, 0x09).size(), 1u);  // stop's only: no measurement started
      EXPECT_EQ(n_reads(t, 0x25), 0u);
    } else {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(writes_to(t, 0x09).size(), 2u);
    }
  }
}

TEST(Zq350xGetF0, ZeroMarginMessageHasNoLineEnd) {
  Board b;
  murvane::family_dts dts = murvane::zq350x_dts;
  dts.cont_track_margin = 0;
  const size_t at = b.mark();
  EXPECT_EQ(zq::get_f0(dts), 0);
  const std::vector<std::string> log = b.log_from(at);
  const auto it = std::find(log.begin(), log.end(), "Murvane: zq350x_dts.cont_track_margin = 0");
  ASSERT_NE(it, log.end());
  ASSERT_NE(it + 1, log.end());
  EXPECT_EQ(*(it + 1), "Murvane: entered standby\n");
  // On the console the next message runs on in the same line.
  const std::u16string& console = b.platform().console();
  EXPECT_NE(console.find(u"cont_track_margin = 0Murvane: entered standby\r\n"), std::u16string::npos);
}

// ---------------------------------------------------------------------------
// Trim write inside the key window.

TEST(Zq350xTrim, KindsAndMask) {
  struct {
    int64_t kind;
    const char* line;
    int value;
  } const cases[] = {
      {0, "Murvane: write zero to trim_lra\n", 0x00},
      {1, "Murvane: write f0_cali_data to trim_lra = 0xC5\n", 0x05},
      {2, "Murvane: write osc_cali_data to trim_lra = 0x9A\n", 0x1A},
      {3, "Murvane: error param, write f0_cali_data to trim_lra\n", 0x05},
      {-1, "Murvane: error param, write f0_cali_data to trim_lra\n", 0x05},
      {0x101, "Murvane: error param, write f0_cali_data to trim_lra\n", 0x05},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("kind " + std::to_string(c.kind));
    Board b;
    murvane::haptic_dev.f0_cali_data = 0xC5;
    murvane::haptic_dev.osc_cali_data = 0x9A;
    const size_t at = b.mark();
    EXPECT_EQ(b.slot("write_trim_lra", {c.kind}), 0);
    // The message is logged with the key open, before the trim write.
    EXPECT_EQ(b.trace(at), (Trace{wr(0x5B, 0xE3), msg(c.line), wr(0x79, c.value), wr(0x5B, 0x00)}));
    EXPECT_EQ(b.chip().reg(0x79), c.value);
    EXPECT_EQ(violations(b.chip()), std::vector<std::string>{});
    EXPECT_FALSE(model(b).key_is_open());
  }
}

TEST(Zq350xTrim, CalibrationBytesAtLoadWriteZero) {
  Board b;
  for (int64_t kind : {1, 2}) {
    EXPECT_EQ(b.slot("write_trim_lra", {kind}), 0);
    EXPECT_EQ(b.chip().reg(0x79), 0x00);
  }
}

// ---------------------------------------------------------------------------
// The remaining slots' register traffic.

TEST(Zq350xSlots, RegisterTraffic) {
  struct {
    const char* slot;
    std::vector<int64_t> args;
    int32_t result;
    Trace traffic;
    std::vector<std::string> log;
  } const cases[] = {
      {"offset_calibration", {}, 0, {}, {}},
      {"set_gain", {0x33}, 0, {wr(0x07, 0x33)}, {}},
      {"set_ram_base", {}, 0, {wr(0x2D, 0x08), wr(0x2E, 0x00), wr(0x40, 0x08), wr(0x41, 0x00)}, {}},
      {"set_sequence", {2, 7}, 0, {wr(0x0C, 0x07)}, {}},
      {"set_sequence_loop", {0, 4}, 0, {rd(0x12, 0x0B), wr(0x12, 0x4B)}, {}},
      {"set_sequence_loop", {3, 0x1F}, 0, {rd(0x13, 0xA3), wr(0x13, 0xAF)}, {}},
      {"set_ram_access", {0}, 0, {rd(0x45, 0x41), wr(0x45, 0x41)}, {}},
      {"set_play_mode",
       {0},
       0,
       {rd(0x45, 0x41), wr(0x45, 0x61), rd(0x45, 0x61), wr(0x45, 0x41)},
       {"Murvane: standby mode\n"}},
      {"set_play_mode",
       {4},
       0,
       {rd(0x08, 0x10), wr(0x08, 0x12), rd(0x06, 0x12), wr(0x06, 0x12), rd(0x4C, 0x4A), wr(0x4C, 0x4A)},
       {"Murvane: cont mode\n", "Murvane: bypass mode\n"}},
      {"set_play_mode", {2}, -1, {}, {"Murvane: error play mode\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.slot);
    Board b;
    const size_t at = b.mark();
    EXPECT_EQ(b.slot(c.slot, c.args), c.result);
    EXPECT_EQ(b.traffic(at), c.traffic);
    EXPECT_EQ(b.log_from(at), c.log);
  }
}

TEST(Zq350xSlots, BoostArgumentOutOfRangeTouchesNothing) {
  Board b;
  const size_t at = b.mark();
  EXPECT_EQ(zq::set_boost_mode(2), -1);
  EXPECT_TRUE(b.traffic(at).empty());
  EXPECT_EQ(b.log_from(at), std::vector<std::string>{"Murvane: boost mode error\n"});
}

// ---------------------------------------------------------------------------
// A failed access that later accesses rely on: those are not issued, what was
// opened is closed, and the slot reports the failure.

struct GuardCase {
  const char* name;
  sim::Fault fault;
  int32_t result;
  Trace traffic;
};

struct ModeCase {
  const char* name;
  const char* slot;
  int64_t arg;
  sim::Fault fault;
  Trace traffic;  // every step still issued
  std::vector<uint64_t> stalls;
};

TEST(Zq350xGuards, StopBrakesOnlyOnceModeThreeIsSet) {
  for (const sim::Fault& fault : {read_fault(0x08, 1, 1), write_fault(0x08, 1, 1)}) {
    SCOPED_TRACE(fault.op == sim::Op::read ? "read fails" : "write fails");
    Board b;
    sim::zq350x_model& chip = model(b);
    b.slot("set_go", {1});  // RAM playback on the power-on mode bits (0x08 = 10)
    ASSERT_EQ(chip.go_count(), 1u);
    chip.never_standby = true;
    b.platform().add_fault(fault);
    const size_t at = b.mark();
    // A GO now would restart the playback: none is issued, and the chip is
    // forced into standby once the polls run out.
    EXPECT_EQ(b.slot("stop"), 0);
    const Trace t = b.traffic(at);
    EXPECT_TRUE(writes_to(t, 0x09).empty());
    EXPECT_EQ(n_reads(t, 0x3F), 40u);
    EXPECT_EQ(Trace(t.end() - 4, t.end()), (Trace{rd(0x45, 0x41), wr(0x45, 0x61), rd(0x45, 0x61), wr(0x45, 0x41)}));
    EXPECT_EQ(chip.go_count(), 1u);
    EXPECT_EQ(chip.state(), sim::zq350x_model::state_standby);
    EXPECT_EQ(violations(chip), std::vector<std::string>{});
  }
}

struct F0GuardCase {
  const char* name;
  sim::Fault fault;
  bool measured;
  Trace go_writes;  // writes to 0x09 after stop's brake
};

struct BootGuardCase {
  const char* name;
  sim::Fault fault;
  bool analog_settings;  // 0x70 written inside the key window
  bool image;            // streamed into the SRAM
  bool go;
};

TEST(Zq350xModel, ProtectedWriteOutsideKeyWindowIsRefused) {
  Board b;
  b.slot("set_go", {0});  // reading 0x79 needs no key
  EXPECT_EQ(violations(b.chip()), std::vector<std::string>{});
  murvane::reg_write(0x79, 0x01);
  ASSERT_EQ(b.chip().violation_count(), 1u);
  EXPECT_EQ(b.chip().violation_at(0).reg, 0x79);
  EXPECT_EQ(b.chip().reg(0x79), 0x15);
}

}  // namespace
