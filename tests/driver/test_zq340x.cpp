// The zq340x family (zq3401, zq3402) against its chip model: bring-up,
// qualification, offset calibration, f0 measurement, standby handling,
// trim writes and the key window of the protected registers.
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "core/family.h"
#include "core/regs.h"
#include "core/waveform.h"
#include "families/zq340x/zq340x.h"
#include "murvane/version.h"
#include "sim/models/zq340x_model.h"
#include "tests/sim_fixture.h"

namespace {

using namespace murvane_test;  // the trace notation and SimBoard
using Lines = std::vector<std::string>;

constexpr int64_t device_error = static_cast<int64_t>(EFI_DEVICE_ERROR);
const std::string out_of_range = "offset calibration out of range\n";

// A zq340x board with the bus open and the family selected.
class Board : public SimBoard {
 public:
  explicit Board(const std::string& model = "zq3401") : SimBoard(model) { select_family(murvane::zq340x_family); }
  sim::zq340x_model& zq() { return static_cast<sim::zq340x_model&>(chip()); }
  void fail_reads(uint8_t reg, uint64_t from = 1, uint64_t count = 1) {
    platform().add_fault(fault_on(reg, sim::Op::read, from, count));
  }
  void fail(uint8_t reg, sim::Op op, uint64_t from) { platform().add_fault(fault_on(reg, op, from, 1)); }
  std::vector<int> writes_to(uint8_t reg, size_t from) const {
    std::vector<int> out;
    for (const Ev& x : writes(from)) {
      if (x.reg == reg) {
        out.push_back(x.failed ? -1 : x.value);
      }
    }
    return out;
  }
};

murvane::family_dts record() { return murvane::zq340x_dts; }

// ---------------------------------------------------------------- bring-up

struct BootCase {
  const char* model;
  uint8_t id_lo;
  const char* detected;
};

class Zq340xBoot : public ::testing::TestWithParam<BootCase> {};

TEST_P(Zq340xBoot, HealthyBootLogsTrafficAndSram) {
  const BootCase& c = GetParam();
  SimBoard b(c.model);
  ASSERT_EQ(b.entry(), EFI_SUCCESS);
  EXPECT_EQ(b.log(), (Lines{murvane::version_line, c.detected, "Murvane: zq ram init\n", "Murvane: zq ram play\n",
                            "Murvane: ram mode\n", "Murvane: boost mode\n", "Murvane: zq uefi driver end\n",
                            "Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Success\n"}));

  // clang-format off
  Trace want = {
      rd(0x64, 0x80),                                                        // qualify_check
      rd(0x00, 0x00), rd(0x57, 0x72), rd(0x58, c.id_lo),               // identify_chip
      rd(0x4E, 0x00), wr(0x4E, 0x04), rd(0x45, 0x00), wr(0x45, 0x04),  // offset calibration
      rd(0x4E, 0x04), wr(0x4E, 0x24), rd(0x4D, 0x00), wr(0x4D, 0x01),
      rd(0x4D, 0x01), wr(0x4D, 0x00), rd(0x4E, 0x24), rd(0x4F, 0x02),
      rd(0x50, 0x00), rd(0x45, 0x04), wr(0x45, 0x00),
      rd(0x18, 0x00), wr(0x18, 0x00), wr(0x21, 0x08), rd(0x1C, 0x00),  // chip_init
      wr(0x1C, 0x08), rd(0x06, 0x00), wr(0x06, 0x02), wr(0x5A, 0xE3),
      rd(0x56, 0x00), wr(0x56, 0x00), rd(0x6B, 0x00), wr(0x6B, 0x20),
      wr(0x73, 0xDB), wr(0x76, 0x87), wr(0x5A, 0x00),
      rd(0x45, 0x00), wr(0x45, 0x04),                                     // SRAM open
      wr(0x2D, 0x08), wr(0x2E, 0x00), wr(0x40, 0x08), wr(0x41, 0x00),
  };
  for (uint32_t i = 0; i < murvane::waveform_image_size; ++i) {
    want.push_back(wr(0x42, murvane::waveform_image[i]));
  }
  const Trace tail = {
      rd(0x45, 0x04), wr(0x45, 0x00),                      // SRAM closed
      wr(0x0A, 0x01), wr(0x0B, 0x00),                      // sequence
      rd(0x12, 0x00), wr(0x12, 0x40), wr(0x07, 0x80),   // loop, gain
      rd(0x08, 0x00), wr(0x08, 0x00), rd(0x06, 0x02),   // RAM mode, boost
      wr(0x06, 0x03), rd(0x4C, 0x00), wr(0x4C, 0x00),
      wr(0x09, 0x01),                                         // GO
  };
  // clang-format on
  want.insert(want.end(), tail.begin(), tail.end());
  const Trace all = b.traffic();
  size_t first = 0;
  while (first < all.size() && !(all[first] == rd(0x64, 0x80))) {
    ++first;
  }
  EXPECT_EQ(Trace(all.begin() + static_cast<std::ptrdiff_t>(first), all.end()), want);
  EXPECT_EQ(b.stalls(), (std::vector<uint64_t>{2000, 8000, 1000, 3000, 1000}));

  const uint8_t* sram = b.chip().sram();
  EXPECT_EQ(b.chip().sram_bytes_written(), 146u);
  EXPECT_EQ(b.chip().ram_base(), 0x0800);
  const uint8_t head[] = {0x55, 0x08, 0x05, 0x08, 0x91};
  EXPECT_EQ(std::vector<uint8_t>(sram + 0x800, sram + 0x805), std::vector<uint8_t>(head, head + 5));
  EXPECT_EQ(sram[0x805 + 32], 0x4C);
  EXPECT_EQ(sram[0x891], 0xFC);
  EXPECT_EQ(sram[0x892], 0x00);
  EXPECT_EQ(b.chip().violation_count(), 0u);
  EXPECT_FALSE(static_cast<sim::zq340x_model&>(b.chip()).key_window_open());
  EXPECT_TRUE(b.chip().playing());
}

INSTANTIATE_TEST_SUITE_P(Models, Zq340xBoot,
                         ::testing::Values(BootCase{"zq3401", 0x70, "Murvane: detected zq3401.\n"},
                                           BootCase{"zq3402", 0x80, "Murvane: detected zq3402.\n"}),
                         [](const auto& p) { return std::string(p.param.model); });

TEST(Zq340xBootFailures, UnqualifiedPartStopsBeforeIdentification) {
  SimBoard b("zq3402");
  b.chip().set_register(0x64, 0x7F);
  ASSERT_EQ(b.entry(), EFI_SUCCESS);  // the install went through
  EXPECT_EQ(b.log(), (Lines{murvane::version_line, "Murvane: unqualified chip\n", "Murvane: qualify check failed\n",
                            "Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Success\n"}));
  EXPECT_TRUE(b.writes().empty());
  EXPECT_EQ(b.chip().sram_bytes_written(), 0u);
  EXPECT_EQ(b.start(), EFI_DEVICE_ERROR);
}

TEST(Zq340xBootFailures, OffsetOutOfRangeMarksChipAndBootGoesOn) {
  SimBoard b("zq3401");
  b.chip().offset_code = 586;  // +16 with gain code 4
  ASSERT_EQ(b.entry(), EFI_SUCCESS);
  const Lines log = b.log();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[1], "Murvane: detected zq3401.\n");
  EXPECT_EQ(log[2], out_of_range);
  EXPECT_EQ(log[log.size() - 2], "Murvane: zq uefi driver end\n");
  const Trace w = b.writes();
  size_t marker = 0;
  while (marker < w.size() && !(w[marker] == wr(0x00, 0xAA))) {
    ++marker;
  }
  ASSERT_LT(marker, w.size());
  EXPECT_EQ(w[marker - 1], wr(0x45, 0x00));  // after the calibration closed its window
  EXPECT_EQ(w[marker + 1], wr(0x18, 0x00));  // before chip_init
  EXPECT_EQ(b.chip().sram_bytes_written(), 146u);
}

TEST(Zq340xQualify, BitSevenOfRegister64Decides) {
  for (const auto& [value, want] :
       std::vector<std::pair<uint8_t, int64_t>>{{0x80, 0}, {0xFF, 0}, {0x7F, device_error}, {0x00, device_error}}) {
    Board b;
    b.chip().set_register(0x64, value);
    const size_t m = b.mark();
    EXPECT_EQ(b.slot("qualify_check"), want) << int(value);
    EXPECT_EQ(b.log_from(m), want == 0 ? Lines{} : Lines{"Murvane: unqualified chip\n"});
  }
  Board b;
  b.fail_reads(0x64);
  EXPECT_EQ(b.slot("qualify_check"), device_error);
  EXPECT_EQ(b.log(), (Lines{"Read addr:0x64 error:5\n", "Murvane: unqualified chip\n"}));
}

// ------------------------------------------------------- offset calibration

TEST(Zq340xOffset, SequenceAndStateLeft) {
  Board b;
  const size_t m = b.mark();
  EXPECT_EQ(b.slot("offset_calibration"), 0);
  EXPECT_EQ(b.trace(m),
            (Trace{rd(0x4E, 0x00), wr(0x4E, 0x04), rd(0x45, 0x00), wr(0x45, 0x04), stall(1000), rd(0x4E, 0x04),
                   wr(0x4E, 0x24), rd(0x4D, 0x00), wr(0x4D, 0x01), stall(3000), rd(0x4D, 0x01), wr(0x4D, 0x00),
                   rd(0x4E, 0x24), rd(0x4F, 0x02), rd(0x50, 0x00), rd(0x45, 0x04), wr(0x45, 0x00)}));
}

struct WindowCase {
  uint8_t gain;  // record's d2s_gain, read back unchanged
  uint16_t code;
  bool pass;
};

TEST(Zq340xOffset, WindowBoundariesPerGainCode) {
  // Passing codes: |(code - 512) * 2440 / divisor| <= 15, truncated toward zero.
  const WindowCase cases[] = {
      {4, 512, true},
      {4, 585, true},
      {4, 586, false},
      {4, 439, true},
      {4, 438, false},
      {4, 600, false},
      {4, 520, true},
      {7, 237, true},
      {7, 236, false},
      {7, 787, true},
      {7, 788, false},
      {0, 499, true},
      {0, 498, false},
      {0, 525, true},
      {0, 526, false},
      {1, 492, true},
      {1, 491, false},
      {1, 532, true},
      {1, 533, false},
      {2, 479, true},
      {2, 478, false},
      {2, 545, true},
      {2, 546, false},
      {3, 452, true},
      {3, 451, false},
      {3, 572, true},
      {3, 573, false},
      {5, 398, true},
      {5, 397, false},
      {5, 626, true},
      {5, 627, false},
      {6, 372, true},
      {6, 371, false},
      {6, 652, true},
      {6, 653, false},
      {0, 512, true},
      {7, 512, true},
      {7, 0, false},
      {7, 1023, false},
      // A record gain beyond the table: only its low three bits reach the chip.
      {0x0F, 787, true},
      {0x0F, 788, false},
      {0x0C, 585, true},
      {0x0C, 586, false},
  };
  for (const WindowCase& c : cases) {
    Board b;
    b.zq().offset_code = c.code;
    murvane::family_dts rec = record();
    rec.d2s_gain = c.gain;
    const std::string what = "gain " + std::to_string(c.gain) + " code " + std::to_string(c.code);
    EXPECT_EQ(murvane::zq340x::offset_calibration(rec), c.pass ? 0 : -1) << what;
    EXPECT_EQ(b.log(), c.pass ? Lines{} : Lines{out_of_range}) << what;
    EXPECT_EQ(b.chip().reg(0x4E), 0x20 | (c.gain & 7));
  }
}

TEST(Zq340xOffset, UsesGainCodeReadBackFromChip) {
  struct Case {
    uint8_t record_gain;
    uint8_t reported;  // 0x4E as read after the measurement
    uint16_t code;
    int32_t want;
  };
  const Case cases[] = {
      {4, 0x20, 530, -1},  // record's divisor would pass (+3), reported code 0 gives +21
      {0, 0x27, 700, 0},   // record's divisor would fail (+224), reported code 7 gives +10
      {4, 0xFF, 787, 0},   // only bits 2..0 count: code 7
  };
  for (const Case& c : cases) {
    Board b;
    b.zq().offset_code = c.code;
    b.chip().script_read(0x4E, 0x00);           // read of the gain update
    b.chip().script_read(0x4E, c.record_gain);  // read of the mode update
    b.chip().script_read(0x4E, c.reported);
    murvane::family_dts rec = record();
    rec.d2s_gain = c.record_gain;
    EXPECT_EQ(murvane::zq340x::offset_calibration(rec), c.want) << int(c.reported);
  }
}

TEST(Zq340xOffset, OnlyLowBitsOfHighByteCount) {
  for (const auto& [gain, want] : std::vector<std::pair<uint8_t, int32_t>>{{7, 0}, {4, -1}}) {
    Board b;
    b.chip().script_read(0x4F, 0xFD);  // code 0x100 = 256
    b.chip().script_read(0x50, 0x00);
    murvane::family_dts rec = record();
    rec.d2s_gain = gain;
    EXPECT_EQ(murvane::zq340x::offset_calibration(rec), want) << int(gain);
  }
}

TEST(Zq340xOffset, UnreadResultNeverPasses) {
  struct Case {
    uint8_t reg;
    uint8_t gain;
    uint16_t code;
  };
  // The codes fail as measured, but the bytes that did arrive would pass:
  // 1008 without its high bits is 240 (-15 at gain 7), 767 without its low
  // byte is 512; and 520 with gain code 0 in place of 4 is +9.
  for (const Case& c : {Case{0x4F, 7, 1008}, Case{0x50, 4, 767}, Case{0x4E, 4, 520}}) {
    Board b;
    b.zq().offset_code = c.code;
    b.fail_reads(c.reg, c.reg == 0x4E ? 3 : 1);
    murvane::family_dts rec = record();
    rec.d2s_gain = c.gain;
    const size_t m = b.mark();
    EXPECT_EQ(murvane::zq340x::offset_calibration(rec), -1);
    char err[40];
    std::snprintf(err, sizeof(err), "Read addr:0x%X error:5\n", c.reg);
    EXPECT_EQ(b.log(), (Lines{err, out_of_range}));
    EXPECT_EQ(b.writes(m).back(), wr(0x45, 0x00));  // the SRAM path is closed all the same
  }
}

TEST(Zq340xOffset, SkippedCalibrationTouchesNothing) {
  Board b;
  murvane::family_dts rec = record();
  rec.offset_cali_skip = 1;
  b.zq().offset_code = 0;
  const size_t m = b.mark();
  EXPECT_EQ(murvane::zq340x::offset_calibration(rec), 0);
  EXPECT_TRUE(b.trace(m).empty());
}

// ----------------------------------------------------------- f0 measurement

TEST(Zq340xF0, MeasurementAgainstChipThatAnswersAtOnce) {
  Board b;
  b.zq().stop_to_standby_us = 0;
  b.zq().f0_measure_us = 0;
  const size_t m = b.mark();
  EXPECT_EQ(b.slot("get_f0"), 0);
  EXPECT_EQ(b.log_from(m), (Lines{"Murvane: enter\n", "Murvane: enter standby!\n", "Murvane: cont mode\n",
                                  "Murvane: bypass mode\n", "Murvane: enter standby!\n", "Murvane: lra_f0=1700\n"}));
  // 3840000 / 1700 = 2258 = 0x08D2 in the period registers; 3840000 / 2258 = 1700.
  EXPECT_EQ(b.writes(m), (Trace{wr(0x08, 0x03), wr(0x09, 0x01), wr(0x18, 0x20), wr(0x08, 0x02), wr(0x06, 0x00),
                                wr(0x4C, 0x40), wr(0x1D, 0x80), wr(0x1D, 0xFF), wr(0x1E, 0x2D), wr(0x1F, 0x04),
                                wr(0x20, 0x14), wr(0x22, 0x0F), wr(0x1A, 0x6E), wr(0x09, 0x01), wr(0x18, 0x00)}));
  EXPECT_EQ(b.stalls(m), (std::vector<uint64_t>{2000, 20000, 2000}));
  EXPECT_EQ(count(b.trace(m), rd(0x25, 0x08)), 1u);
  EXPECT_EQ(count(b.trace(m), rd(0x26, 0xD2)), 1u);
  EXPECT_EQ(murvane::haptic_dev.lra_f0, 1700u);
}

TEST(Zq340xF0, ModelTimingAndOtherActuators) {
  // lra_f0 of the actuator -> period the chip reports -> lra_f0 measured.
  for (const auto& [actuator, want] : std::vector<std::pair<uint32_t, uint32_t>>{
           {1700, 1700}, {2350, 2350}, {50, 58}}) {  // 3840000/2350 = 1634 -> 2350; 50 saturates at 0xFFFF -> 58
    Board b;
    b.zq().lra_f0 = actuator;
    EXPECT_EQ(b.slot("get_f0"), 0);
    EXPECT_EQ(murvane::haptic_dev.lra_f0, want) << actuator;
  }
}

struct F0RecordCase {
  const char* name;
  uint32_t f0_pre;
  uint32_t scale;
  uint8_t margin;
  int reg1e;
  int reg1a;
};

TEST(Zq340xF0, ProgrammedValuesForAlternateRecords) {
  const F0RecordCase cases[] = {
      {"record", 1700, 1000, 15, 0x2D, 0x6E},
      {"just below 180 Hz", 1799, 1000, 15, 45, 102},
      {"180 Hz takes the high factor", 1800, 1000, 15, 49, 102},
      {"low f0 clamps 0x1A", 200, 1000, 15, 45, 255},
      {"high f0 clamps 0x1A at 0", 10000, 1000, 15, 49, 0},
      {"f0_pre 1", 1, 1000, 15, 45, 255},
      {"f0_pre at its maximum", 0xFFFFFFFF, 1000, 15, 49, 0},
      {"scale 4000 clamps 0x1E", 1700, 4000, 15, 127, 0x6E},
      {"scale 0", 1700, 0, 15, 0, 0x6E},
      // 1990 * 2158500 and 1809 * 2374250 exceed 32 bits: still far above 127.
      {"huge scale, high factor", 1800, 2158500, 15, 127, 102},
      {"huge scale, low factor", 1700, 2374250, 15, 127, 0x6E},
      {"largest scale", 1700, 0xFFFFFFFF, 15, 127, 0x6E},
      {"track margin 0", 1700, 1000, 0, 45, 125},
  };
  for (const F0RecordCase& c : cases) {
    Board b;
    murvane::family_dts rec = record();
    rec.f0_pre = c.f0_pre;
    rec.cont_reg1e_scale = c.scale;
    rec.cont_track_margin = c.margin;
    const size_t m = b.mark();
    EXPECT_EQ(murvane::zq340x::get_f0(rec), 0) << c.name;
    EXPECT_EQ(b.writes_to(0x1E, m), std::vector<int>{c.reg1e}) << c.name;
    EXPECT_EQ(b.writes_to(0x1A, m), std::vector<int>{c.reg1a}) << c.name;
    EXPECT_EQ(b.writes_to(0x22, m), std::vector<int>{c.margin}) << c.name;
    EXPECT_EQ(murvane::haptic_dev.lra_f0, 1700u) << c.name;  // measured, whatever was expected
  }
}

TEST(Zq340xF0, ZeroExpectedFrequencyStopsBeforeMeasuring) {
  Board b;
  b.zq().stop_to_standby_us = 0;
  murvane::family_dts rec = record();
  rec.f0_pre = 0;
  const size_t m = b.mark();
  EXPECT_EQ(murvane::zq340x::get_f0(rec), -1);
  const Trace w = b.writes(m);
  ASSERT_FALSE(w.empty());
  EXPECT_EQ(w.back(), wr(0x22, 0x0F));                    // no 0x1A, no GO, no clean-up
  EXPECT_EQ(b.writes_to(0x1E, m), std::vector<int>{45});  // 0 is below 1800: low factor
  EXPECT_EQ(b.log_from(m).back(), "Murvane: bypass mode\n");
  EXPECT_EQ(b.chip().reg(0x18) & 0x20, 0x20);
  EXPECT_EQ(murvane::haptic_dev.lra_f0, 0u);
}

TEST(Zq340xF0, PeriodArithmetic) {
  struct Case {
    uint8_t hi, lo;
    uint32_t lra_f0;
    const char* line;
  };
  const Case cases[] = {
      {0x08, 0xD3, 1699, "Murvane: lra_f0=1699\n"},
      {0xFF, 0xFF, 58, "Murvane: lra_f0=58\n"},
      {0x00, 0x01, 3840000, "Murvane: lra_f0=3840000\n"},
      {0x00, 0x00, 0, "Murvane: lra_f0 is error, f0_reg=0\n"},
  };
  for (const Case& c : cases) {
    Board b;
    b.chip().script_read(0x25, c.hi);
    b.chip().script_read(0x26, c.lo);
    EXPECT_EQ(b.slot("get_f0"), 0);
    EXPECT_EQ(murvane::haptic_dev.lra_f0, c.lra_f0);
    EXPECT_EQ(b.log().back(), c.line);
    EXPECT_EQ(b.writes().back(), wr(0x18, 0x00));
  }
}

TEST(Zq340xF0, UnreadPeriodCountsAsNone) {
  for (const uint8_t reg : {0x25, 0x26}) {
    Board b;
    b.fail_reads(reg);
    EXPECT_EQ(b.slot("get_f0"), 0);
    EXPECT_EQ(murvane::haptic_dev.lra_f0, 0u);
    const Lines log = b.log();
    EXPECT_EQ(log[log.size() - 2], reg == 0x25 ? "Read addr:0x25 error:5\n" : "Read addr:0x26 error:5\n");
    EXPECT_EQ(log.back(), "Murvane: lra_f0 is error, f0_reg=0\n");
  }
}

TEST(Zq340xF0, ChipThatNeverSettlesStillReadsThePeriod) {
  Board b;
  b.zq().never_standby = true;
  EXPECT_EQ(b.slot("get_f0"), 0);
  EXPECT_EQ(b.log(), (Lines{"Murvane: enter\n", "Murvane: do not enter standby automatically\n",
                            "Murvane: force to enter standby\n", "Murvane: standby mode\n", "Murvane: cont mode\n",
                            "Murvane: bypass mode\n", "Murvane: do not enter standby automatically\n",
                            "Murvane: lra_f0 is error, f0_reg=0\n"}));
  EXPECT_EQ(count(b.trace(0), rd(0x3F, 0x02)), 100u);  // all 100 polls of the measurement
  EXPECT_EQ(count(b.trace(0), rd(0x25, 0x00)), 1u);
}

TEST(Zq340xF0, PlayModeBitTwoIsNeverRestored) {
  // Unlike other families, this one leaves bit 2 of 0x08 as it found it
  // and writes 0x08 only for the stop and the continuous mode.
  for (const uint8_t before : {0x00, 0x04}) {
    Board b;
    b.chip().set_register(0x08, before);
    const size_t m = b.mark();
    EXPECT_EQ(b.slot("get_f0"), 0);
    EXPECT_EQ(b.writes_to(0x08, m), (std::vector<int>{before | 0x03, before | 0x02}));
    EXPECT_EQ(b.chip().reg(0x08), before | 0x02);
  }
}

// ---------------------------------------------------------- stop / standby

struct StandbyCase {
  const char* name;
  uint32_t stop_us;
  bool never;
  uint64_t fail_poll;  // 0: no failed reading
  uint64_t fail_second_pulse_write;
  size_t polls;
  bool forced;
  int64_t result;
};

TEST(Zq340xStandby, StopReachesStandbyAtOnceLateNeverOrOnFailedReading) {
  // The k-th reading of 0x3F comes k * (2000 us wait + 95 us read) after GO.
  const StandbyCase cases[] = {
      {"at once", 0, false, 0, 0, 1, false, 0},
      {"one poll late", 3000, false, 0, 0, 2, false, 0},
      {"late", 50000, false, 0, 0, 24, false, 0},
      {"never", 0, true, 0, 0, 100, true, 0},
      {"first reading fails", 0, false, 1, 0, 1, true, 0},
      {"third reading fails", 50000, false, 3, 0, 3, true, 0},
      {"forced request fails", 0, true, 0, 2, 100, true, 5},  // the bus status of the release
  };
  for (const StandbyCase& c : cases) {
    Board b;
    b.zq().stop_to_standby_us = c.stop_us;
    b.zq().never_standby = c.never;
    if (c.fail_poll != 0) {
      b.fail_reads(0x3F, c.fail_poll);
    }
    if (c.fail_second_pulse_write != 0) {
      sim::Fault f;
      f.reg = 0x45;
      f.op = sim::Op::write;
      f.from = c.fail_second_pulse_write;
      b.platform().add_fault(f);
    }
    const size_t m = b.mark();
    EXPECT_EQ(b.slot("stop"), c.result) << c.name;
    const Trace s = b.trace(m);
    ASSERT_GE(s.size(), 5u) << c.name;
    EXPECT_EQ(Trace(s.begin(), s.begin() + 4),
              (Trace{msg("Murvane: enter\n"), rd(0x08, 0x00), wr(0x08, 0x03), wr(0x09, 0x01)}))
        << c.name;
    // Every reading has its wait before it, and nothing follows a failed one.
    for (size_t k = 0; k < c.polls; ++k) {
      EXPECT_EQ(s[4 + 2 * k], stall(2000)) << c.name << " poll " << k;
      EXPECT_TRUE(s[5 + 2 * k].kind == Ev::Kind::read && s[5 + 2 * k].reg == 0x3F) << c.name << " poll " << k;
    }
    EXPECT_EQ(b.stalls(m).size(), c.polls) << c.name;
    Lines want = {"Murvane: enter\n"};
    if (c.fail_poll != 0) {
      want.push_back("Read addr:0x3F error:5\n");
    }
    if (c.forced) {
      want.insert(want.end(), {"Murvane: do not enter standby automatically\n", "Murvane: force to enter standby\n",
                               "Murvane: standby mode\n"});
      if (c.fail_second_pulse_write != 0) {
        want.push_back("Write addr:0x45 data:0x0 error\n");
      }
      // A failed transfer shows as -1.
      EXPECT_EQ(b.writes_to(0x45, m), (std::vector<int>{0x20, c.fail_second_pulse_write != 0 ? -1 : 0x00})) << c.name;
    } else {
      want.push_back("Murvane: enter standby!\n");
      EXPECT_EQ(s.back(), msg("Murvane: enter standby!\n")) << c.name;
      EXPECT_TRUE(b.writes_to(0x45, m).empty()) << c.name;
    }
    EXPECT_EQ(b.log_from(m), want) << c.name;
    EXPECT_EQ(b.chip().reg(0x3F), 0) << c.name;  // standby, by itself or forced
  }
}

TEST(Zq340xStandby, WaitStandbyResults) {
  Board b;
  b.zq().stop_to_standby_us = 0;
  EXPECT_EQ(murvane::zq340x::wait_standby(), 0);  // already in standby: one wait, one reading
  EXPECT_EQ(b.stalls(), std::vector<uint64_t>{2000});
  b.fail_reads(0x3F);
  EXPECT_EQ(murvane::zq340x::wait_standby(), -1);
  EXPECT_EQ(b.stalls().size(), 2u);
}

// ------------------------------------------------------------------- trim

TEST(Zq340xTrim, KindsAndMask) {
  struct Case {
    int64_t kind;
    uint8_t before;
    int written;
    const char* line;
  };
  const char* error_line = "Murvane: error param, write f0_cali_data to trim_lra\n";
  const Case cases[] = {
      {0, 0x80, 0x80, "Murvane: write zero to trim_lra\n"},
      {1, 0x80, 0xA3, "Murvane: write f0_cali_data to trim_lra = 0xA3\n"},
      {2, 0x80, 0xC5, "Murvane: write osc_cali_data to trim_lra = 0xC5\n"},
      {2, 0x00, 0x45, "Murvane: write osc_cali_data to trim_lra = 0xC5\n"},
      {3, 0x00, 0x23, error_line},
      {-1, 0x80, 0xA3, error_line},
      {0x101, 0x00, 0x23, error_line},  // the kind is not cut to its low byte
  };
  for (const Case& c : cases) {
    Board b;
    murvane::haptic_dev.f0_cali_data = 0xA3;
    murvane::haptic_dev.osc_cali_data = 0xC5;
    b.chip().set_register(0x59, c.before);
    EXPECT_EQ(b.slot("write_trim_lra", {c.kind}), 0);
    EXPECT_EQ(b.log(), Lines{c.line}) << c.kind;
    EXPECT_EQ(b.writes(), (Trace{wr(0x59, c.written)})) << c.kind;
  }
}

// ------------------------------------------------------ key window, init

TEST(Zq340xKey, ChipInitWritesProtectedRegistersInsideTheWindow) {
  struct Case {
    uint8_t skip;
    uint8_t reg18_before;
    int reg18_written;
  };
  for (const Case& c : {Case{0, 0x80, 0x00}, Case{1, 0x00, 0x80}, Case{2, 0x80, 0x00}, Case{3, 0x00, 0x80}}) {
    Board b;
    b.chip().set_register(0x18, c.reg18_before);
    b.chip().set_register(0x1C, 0xF3);
    b.chip().set_register(0x06, 0x01);
    b.chip().set_register(0x56, 0xFF);
    murvane::family_dts rec = record();
    rec.offset_cali_skip = c.skip;
    const size_t m = b.mark();
    murvane::zq340x::chip_init(rec);
    EXPECT_EQ(b.writes(m),
              (Trace{wr(0x18, c.reg18_written), wr(0x21, 0x08), wr(0x1C, 0xF8), wr(0x06, 0x03), wr(0x5A, 0xE3),
                     wr(0x56, 0xFC), wr(0x6B, 0x20), wr(0x73, 0xDB), wr(0x76, 0x87), wr(0x5A, 0x00)}))
        << int(c.skip);
    EXPECT_EQ(b.chip().violation_count(), 0u);
    EXPECT_FALSE(b.zq().key_window_open());
  }
}

TEST(Zq340xKey, WindowClosesEvenWhenAWriteInsideFails) {
  Board b;
  sim::Fault f;
  f.reg = 0x73;
  f.op = sim::Op::write;
  b.platform().add_fault(f);
  murvane::zq340x::chip_init(record());
  EXPECT_EQ(b.writes().back(), wr(0x5A, 0x00));
  EXPECT_FALSE(b.zq().key_window_open());
  EXPECT_EQ(b.chip().violation_count(), 0u);
}

TEST(Zq340xKey, ModelFlagsProtectedWritesOutsideTheWindow) {
  Board b;
  murvane::reg_write(0x73, 0xDB);  // never opened
  murvane::reg_write(0x5A, 0xE3);
  murvane::reg_write(0x56, 0x00);
  murvane::reg_write(0x5A, 0x00);
  murvane::reg_write(0x6B, 0x20);  // closed again
  murvane::reg_write(0x5A, 0xE3);
  murvane::reg_write(0x5A, 0x12);  // any other key closes it
  murvane::reg_write(0x76, 0x87);
  murvane::reg_write(0x21, 0x08);  // not protected
  ASSERT_EQ(b.chip().violation_count(), 3u);
  EXPECT_EQ(b.chip().violation_at(0).reg, 0x73);
  EXPECT_EQ(b.chip().violation_at(1).reg, 0x6B);
  EXPECT_EQ(b.chip().violation_at(2).reg, 0x76);
}

// ------------------------------------------------------------ simple slots

TEST(Zq340xSlots, RegisterActions) {
  struct Case {
    const char* slot;
    std::vector<int64_t> args;
    Trace writes;
    std::vector<uint64_t> stalls;
    Lines log;
  };
  const std::vector<Case> cases = {
      {"set_go", {1}, {wr(0x09, 0x01)}, {}, {}},
      {"set_go", {0}, {wr(0x09, 0x02)}, {}, {}},
      {"set_go", {0x100}, {wr(0x09, 0x02)}, {}, {}},
      {"set_sequence", {0xF8, 5}, {wr(0x02, 0x05)}, {}, {}},
      {"set_sequence_loop", {1, 4}, {wr(0x12, 0xA4)}, {}, {}},
      {"set_sequence_loop", {2, 4}, {wr(0x13, 0x45)}, {}, {}},
      {"set_ram_access", {1}, {wr(0x45, 0x25)}, {1000}, {}},
      {"set_ram_access", {0}, {wr(0x45, 0x21)}, {}, {}},
      {"set_play_mode", {0}, {wr(0x45, 0x25), wr(0x45, 0x05)}, {}, {"Murvane: standby mode\n"}},
      {"set_play_mode", {2}, {}, {}, {"Murvane: error play mode\n"}},
      {"set_play_mode",
       {4},
       {wr(0x08, 0x02), wr(0x06, 0x00), wr(0x4C, 0x40)},
       {},
       {"Murvane: cont mode\n", "Murvane: bypass mode\n"}},
  };
  for (const Case& c : cases) {
    Board b;
    b.chip().set_register(0x12, 0xA0);
    b.chip().set_register(0x13, 0xB5);
    b.chip().set_register(0x45, 0x05);  // host access on: the standby pulse must keep it
    b.chip().set_register(0x08, 0x01);
    b.chip().set_register(0x06, 0x01);
    if (std::string(c.slot) == "set_ram_access" && c.args[0] == 1) {
      b.chip().set_register(0x45, 0x21);
    }
    if (std::string(c.slot) == "set_ram_access" && c.args[0] == 0) {
      b.chip().set_register(0x45, 0x25);
    }
    b.slot(c.slot, c.args);
    EXPECT_EQ(b.writes(), c.writes) << c.slot << " " << c.args[0];
    EXPECT_EQ(b.stalls(), c.stalls) << c.slot << " " << c.args[0];
    EXPECT_EQ(b.log(), c.log) << c.slot << " " << c.args[0];
  }
}

// ------------------------------------ guards: accesses that depend on others
//
// A failed access that opens a window or sets up the state later accesses
// rely on: the dependent accesses are not issued, the window is closed all
// the same, and the operation reports failure.

struct GuardCase {
  const char* name;
  uint8_t reg;  // the failing transfer: the from-th matching one
  sim::Op op;
  uint64_t from;
  Trace seq;  // transfers, waits and log lines of the call
  int64_t result;
};

TEST(Zq340xGuards, StopRequestsNothingWithoutTheStopMode) {
  // In RAM mode a GO would start playback: without play mode 11 in place
  // the GO is not written, and the poll runs as usual.
  for (const sim::Op op : {sim::Op::read, sim::Op::write}) {
    Board b;
    b.fail(0x08, op, 1);
    const size_t m = b.mark();
    EXPECT_EQ(b.slot("stop"), 0);
    const Trace failed = op == sim::Op::read
                             ? Trace{rd_fail(0x08), msg("Read addr:0x8 error:5\n")}
                             : Trace{rd(0x08, 0x00), wr_fail(0x08, 0x03), msg("Write addr:0x8 data:0x3 error\n")};
    Trace want = {msg("Murvane: enter\n")};
    want.insert(want.end(), failed.begin(), failed.end());
    want.insert(want.end(), {stall(2000), rd(0x3F, 0x00), msg("Murvane: enter standby!\n")});
    EXPECT_EQ(b.trace(m), want);
    EXPECT_FALSE(b.chip().playing());
  }
}

}  // namespace
