// zq360x family on its chip model: boots, qualification, offset window,
// f0 measurement arithmetic, standby polling and the LRA trim.
#include <algorithm>
#include <cstring>

#include "core/regs.h"
#include "core/waveform.h"
#include "families/zq360x/zq360x.h"
#include "murvane/version.h"
#include "sim/models/zq360x_model.h"
#include "tests/sim_fixture.h"

namespace {

using namespace murvane_test;  // the trace notation and SimBoard
using Lines = std::vector<std::string>;

// Power-on values of the chip model that the masked updates below build on.
constexpr int po_boost = 0x0C;      // 0x06
constexpr int po_play_cfg = 0x41;   // 0x08
constexpr int po_loop = 0x0A;       // 0x12
constexpr int po_sysctrl = 0x41;    // 0x18
constexpr int po_cont1c = 0x35;     // 0x1C
constexpr int po_sysctrl2 = 0x01;   // 0x45
constexpr int po_cont_ctrl = 0x7F;  // 0x4C
constexpr int po_ofs_trig = 0x50;   // 0x4D
constexpr int po_d2s = 0x8B;        // 0x4E
constexpr int po_ofs_hi = 0xA8;     // 0x4F
constexpr int po_ana56 = 0x0F;      // 0x56

sim::zq360x_model& model(SimBoard& b) { return static_cast<sim::zq360x_model&>(b.chip()); }

std::vector<int> values_written(const SimBoard& b, size_t from, int reg) {
  std::vector<int> out;
  for (const Ev& x : b.writes(from)) {
    if (x.reg == reg) {
      out.push_back(x.failed ? -1 : x.value);
    }
  }
  return out;
}

size_t reads_of(const SimBoard& b, size_t from, int reg) { return n_reads(b.traffic(from), reg); }

void expect_no_violation(SimBoard& b) { EXPECT_EQ(violations(b.chip()), std::vector<std::string>{}); }

sim::Fault read_fault(uint8_t reg, uint64_t from, uint64_t count = 1) {
  return fault_on(reg, sim::Op::read, from, count);
}
sim::Fault write_fault(uint8_t reg, uint64_t nth) { return fault_on(reg, sim::Op::write, nth, 1); }

// A board with the family selected and the bus open, ready for single slots.
struct Selected {
  explicit Selected(const char* name = "zq3601") : b(name) { b.select_family(murvane::zq360x_family); }
  SimBoard b;
};

// ---------------------------------------------------------------- bring-up

// From the qualification read to GO, values built from the model's power-on
// values and the keep masks.
Trace healthy_family_traffic(int id) {
  Trace t = {rd(0x67, 0x80), rd(0x00, sim::zq360x_model::id_marker), rd(0x57, id >> 8), rd(0x58, id & 0xFF)};
  // Offset measurement: gain code 4 into bits 2:0, mode 0100 into bits 6:3, code 512.
  const int d2s_gain = (po_d2s & 0xF8) | 4;
  const int d2s_meas = (d2s_gain & 0x87) | 0x20;
  t += upd(0x4E, po_d2s, d2s_gain) + upd(0x45, po_sysctrl2, po_sysctrl2 | 0x04) + upd(0x4E, d2s_gain, d2s_meas);
  t += upd(0x4D, po_ofs_trig, po_ofs_trig | 1) + upd(0x4D, po_ofs_trig | 1, po_ofs_trig);
  t += Trace{rd(0x4E, d2s_meas), rd(0x4F, (po_ofs_hi & 0xFC) | 2), rd(0x50, 0x00)} +
       upd(0x45, po_sysctrl2 | 0x04, po_sysctrl2);
  // chip_init, the analogue settings inside the key window.
  t += upd(0x18, po_sysctrl, po_sysctrl & 0x7F) + upd(0x1C, po_cont1c, (po_cont1c & 0xF0) | 8) + Trace{wr(0x21, 8)};
  t += Trace{wr(0x5E, 0xE3)} + upd(0x56, po_ana56, po_ana56 & 0xFC) +
       Trace{wr(0x6F, 0x1C), wr(0x70, 0x0E), wr(0x72, 0x03)};
  t += Trace{wr(0x77, 0x80), wr(0x7D, 0x41), wr(0x5E, 0x00)};
  // SRAM: open, base and pointer 0x0800, the image, close.
  t += upd(0x45, po_sysctrl2, po_sysctrl2 | 0x04) +
       Trace{wr(0x2D, 0x08), wr(0x2E, 0x00), wr(0x40, 0x08), wr(0x41, 0x00)};
  for (uint32_t i = 0; i < murvane::waveform_image_size; ++i) {
    t.push_back(wr(0x42, murvane::waveform_image[i]));
  }
  t += upd(0x45, po_sysctrl2 | 0x04, po_sysctrl2);
  // Sequencer, loop, gain, RAM mode with boost, GO.
  t += Trace{wr(0x0A, 1), wr(0x0B, 0)} + upd(0x12, po_loop, (po_loop & 0x0F) | 0x40) + Trace{wr(0x07, 0x80)};
  t += upd(0x08, po_play_cfg, po_play_cfg & 0xFC) + upd(0x06, po_boost, po_boost | 0x20);
  t += upd(0x4C, po_cont_ctrl, po_cont_ctrl & 0xBF) + Trace{wr(0x09, 0x01)};
  return t;
}

TEST(Zq360xBoot, HealthyBootOfEveryModel) {
  struct Case {
    const char* model;
    int id;
  };
  for (const Case& c : {Case{"zq3601", 0x9360}, Case{"zq3602", 0x9370}, Case{"zq3603", 0x9380}}) {
    SCOPED_TRACE(c.model);
    SimBoard b(c.model);
    ASSERT_EQ(b.entry(), EFI_SUCCESS);

    EXPECT_EQ(b.log(),
              (Lines{murvane::version_line, std::string("Murvane: detected ") + c.model + ".\n",
                     "Murvane: zq ram init\n", "Murvane: zq ram play\n", "Murvane: ram mode\n", "Murvane: boost mode\n",
                     "Murvane: zq uefi driver end\n", "Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Success\n"}));

    // The family's traffic, from the qualification read on.
    Trace all = b.traffic();
    size_t q = 0;
    while (q < all.size() && !(all[q].kind == Ev::Kind::read && all[q].reg == 0x67)) {
      ++q;
    }
    ASSERT_LT(q, all.size());
    const Trace family(all.begin() + static_cast<std::ptrdiff_t>(q), all.end());
    EXPECT_EQ(family, healthy_family_traffic(c.id));
    // Reset pulse, offset settle and measurement, SRAM access.
    EXPECT_EQ(b.stalls(), (std::vector<uint64_t>{2000, 8000, 1000, 3000, 1000}));

    sim::chip_model& chip = b.chip();
    EXPECT_EQ(chip.violation_count(), 0u);
    expect_no_violation(b);
    EXPECT_EQ(chip.sram_bytes_written(), 146u);
    EXPECT_EQ(chip.ram_base(), 0x0800);
    const uint8_t head[] = {0x55, 0x08, 0x05, 0x08, 0x91};
    EXPECT_EQ(std::memcmp(chip.sram() + 0x0800, head, sizeof(head)), 0);
    EXPECT_EQ(std::memcmp(chip.sram() + 0x0800, murvane::waveform_image, 146), 0);
    EXPECT_EQ(chip.sram()[0x0891], 0xFC);
    EXPECT_EQ(chip.sram()[0x0892], 0x00);
    EXPECT_TRUE(chip.playing());
    EXPECT_FALSE(model(b).key_open());
    EXPECT_EQ(model(b).offset_measurements(), 1u);
  }
}

TEST(Zq360xBoot, UnqualifiedPartStopsBeforeIdentification) {
  SimBoard b("zq3602");
  b.chip().set_register(0x67, 0x7F);
  EXPECT_EQ(b.entry(), EFI_SUCCESS);  // the entry reports the install
  EXPECT_EQ(b.log(), (Lines{murvane::version_line, "Murvane: unqualified chip\n", "Murvane: qualify check failed\n",
                            "Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Success\n"}));
  EXPECT_TRUE(b.writes().empty());
  EXPECT_EQ(b.traffic().back(), rd(0x67, 0x7F));
  EXPECT_EQ(b.chip().sram_bytes_written(), 0u);
  EXPECT_EQ(b.start(), EFI_DEVICE_ERROR);
}

TEST(Zq360xBoot, OffsetOutOfRangeMarksChipAndCarriesOn) {
  SimBoard b("zq3603");
  b.chip().offset_code = 700;
  ASSERT_EQ(b.entry(), EFI_SUCCESS);
  const Lines log = b.log();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[2], "Murvane: offset calibration out of range");
  EXPECT_EQ(log[3], "Murvane: zq ram init\n");
  EXPECT_EQ(log.back(), "Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Success\n");
  EXPECT_EQ(values_written(b, 0, 0x00), std::vector<int>{0xAA});
  EXPECT_EQ(std::memcmp(b.chip().sram() + 0x0800, murvane::waveform_image, 146), 0);
  expect_no_violation(b);
}

// ---------------------------------------------------------- qualification

TEST(Zq360xQualify, Bit7Of0x67Decides) {
  struct Case {
    const char* name;
    int value;  // -1: the read fails
    EFI_STATUS result;
    Lines log;
  };
  const Case cases[] = {
      {"0x80", 0x80, EFI_SUCCESS, {}},
      {"0xFF", 0xFF, EFI_SUCCESS, {}},
      {"0x7F", 0x7F, EFI_DEVICE_ERROR, {"Murvane: unqualified chip\n"}},
      {"read fails", -1, EFI_DEVICE_ERROR, {"Read addr:0x67 error:5\n", "Murvane: unqualified chip\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Selected s;
    if (c.value >= 0) {
      s.b.chip().set_register(0x67, static_cast<uint8_t>(c.value));
    } else {
      s.b.platform().add_fault(read_fault(0x67, 1));
    }
    const size_t m = s.b.mark();
    EXPECT_EQ(static_cast<EFI_STATUS>(s.b.slot("qualify_check")), c.result);
    EXPECT_EQ(s.b.traffic(m), (Trace{c.value < 0 ? rd_fail(0x67) : rd(0x67, c.value)}));
    EXPECT_EQ(s.b.log_from(m), c.log);
  }
}

// -------------------------------------------------------- offset window

TEST(Zq360xOffset, WindowPerGainCode) {
  // Lowest and highest accepted code: |(code - 512) x 2440 / (1023 x gain)| <= 15.
  struct Case {
    int gain;  // record's d2s_gain
    int lo;
    int hi;
  };
  // 12: only the low three bits of the record's gain reach the chip (code 4).
  const Case cases[] = {{4, 439, 585}, {0, 499, 525}, {7, 237, 787}, {3, 452, 572}, {1, 492, 532}, {12, 439, 585}};
  for (const Case& c : cases) {
    for (const int code : {c.lo - 1, c.lo, 512, c.hi, c.hi + 1}) {
      SCOPED_TRACE(testing::Message() << "gain " << c.gain << " code " << code);
      const bool accepted = code >= c.lo && code <= c.hi;
      Selected s;
      s.b.chip().offset_code = static_cast<uint16_t>(code);
      murvane::family_dts dts = murvane::zq360x_dts;
      dts.d2s_gain = static_cast<uint8_t>(c.gain);
      const size_t m = s.b.mark();
      EXPECT_EQ(murvane::zq360x::offset_calibration(dts), accepted ? 0 : -1);
      EXPECT_EQ(s.b.log_from(m), accepted ? Lines{} : Lines{"Murvane: offset calibration out of range"});
      EXPECT_EQ(s.b.chip().reg(0x4E) & 0x7F, 0x20 | (c.gain & 0x07));
      EXPECT_EQ(s.b.chip().reg(0x45) & 0x04, 0);  // closed again either way
      EXPECT_EQ(model(s.b).offset_measurements(), 1u);
      EXPECT_EQ(s.b.stalls(m), (std::vector<uint64_t>{1000, 3000}));
      expect_no_violation(s.b);
    }
  }
}

TEST(Zq360xOffset, DivisorComesFromReadBackGainCode) {
  Selected s;
  s.b.chip().offset_code = 787;  // inside the window of code 7 only
  // The two updates of 0x4E read what the chip holds; the final read-back says code 7.
  s.b.chip().script_read(0x4E, po_d2s);
  s.b.chip().script_read(0x4E, (po_d2s & 0xF8) | 4);
  s.b.chip().script_read(0x4E, 0xA7);
  EXPECT_EQ(s.b.slot("offset_calibration"), 0);
  EXPECT_TRUE(s.b.log().empty());
}

TEST(Zq360xOffset, FailedReadsGiveOutOfRange) {
  Selected s;
  s.b.platform().add_fault(read_fault(0x4E, 3));
  s.b.platform().add_fault(read_fault(0x4F, 1));
  s.b.platform().add_fault(read_fault(0x50, 1));
  const size_t m = s.b.mark();
  EXPECT_EQ(s.b.slot("offset_calibration"), -1);
  EXPECT_EQ(s.b.log_from(m), (Lines{"Read addr:0x4E error:5\n", "Read addr:0x4F error:5\n", "Read addr:0x50 error:5\n",
                                    "Murvane: offset calibration out of range"}));
  EXPECT_EQ(s.b.writes(m).back(), wr(0x45, po_sysctrl2));
}

TEST(Zq360xOffset, AnySkipValueSkipsWithoutTraffic) {
  for (uint8_t skip : {1, 2, 0x80}) {
    SCOPED_TRACE(int(skip));
    Selected s;
    murvane::family_dts dts = murvane::zq360x_dts;
    dts.offset_cali_skip = skip;
    const size_t m = s.b.mark();
    EXPECT_EQ(murvane::zq360x::offset_calibration(dts), 0);
    EXPECT_TRUE(s.b.traffic(m).empty());
    // chip_init copies only bit 0 of the field to bit 7 of 0x18.
    murvane::zq360x::chip_init(dts);
    EXPECT_EQ(s.b.chip().reg(0x18), (po_sysctrl & 0x7F) | ((skip & 1) << 7));
  }
}

// ------------------------------------------------------- f0 measurement

TEST(Zq360xF0, SetUpArithmeticWithAlternateRecords) {
  struct Case {
    const char* name;
    uint32_t f0_pre;
    uint32_t scale;
    uint8_t margin;
    uint8_t reg1c;
    int r1e;
    int r1a;  // -1: not written
    int r19;  // -1: not written
    int32_t result;
  };
  const Case cases[] = {
      {"record", 1700, 1000, 15, 8, 45, 110, 141, 0},
      {"f0 1799, low band", 1799, 1000, 15, 8, 45, 102, 133, 0},
      {"f0 1800, high band", 1800, 1000, 15, 8, 49, 102, 133, 0},
      {"f0 700, both limited", 700, 1000, 15, 8, 45, 255, 255, 0},
      {"f0 8000, width below 0", 8000, 1000, 15, 8, 49, 0, 30, 0},
      {"scale 3000, 0x1E limited", 1700, 3000, 15, 8, 127, 110, 141, 0},
      // Products past 2^32 must saturate, not wrap to a small value.
      {"scale wraps low band", 1700, 2374222, 15, 8, 127, 110, 141, 0},
      {"scale wraps high band", 1800, 2158276, 15, 8, 127, 102, 133, 0},
      {"scale max", 1800, 0xFFFFFFFF, 15, 8, 127, 102, 133, 0},
      {"margin 0", 1700, 1000, 0, 8, 45, 125, 141, 0},
      {"cont_reg1c 0xFF", 1700, 1000, 15, 0xFF, 45, 0, 141, 0},
      {"f0_pre 0", 0, 1000, 15, 8, 45, -1, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Selected s;
    murvane::family_dts dts = murvane::zq360x_dts;
    dts.f0_pre = c.f0_pre;
    dts.cont_reg1e_scale = c.scale;
    dts.cont_track_margin = c.margin;
    dts.cont_reg1c = c.reg1c;
    const size_t m = s.b.mark();
    EXPECT_EQ(murvane::zq360x::get_f0(dts), c.result);
    EXPECT_EQ(values_written(s.b, m, 0x1E), std::vector<int>{c.r1e});
    EXPECT_EQ(values_written(s.b, m, 0x1A), c.r1a < 0 ? std::vector<int>{} : std::vector<int>{c.r1a});
    EXPECT_EQ(values_written(s.b, m, 0x19), c.r19 < 0 ? std::vector<int>{} : std::vector<int>{c.r19});
    EXPECT_EQ(values_written(s.b, m, 0x1D), (std::vector<int>{0x90, 0xFF}));
    EXPECT_EQ(values_written(s.b, m, 0x1F), std::vector<int>{4});
    EXPECT_EQ(values_written(s.b, m, 0x20), std::vector<int>{20});
    EXPECT_EQ(values_written(s.b, m, 0x22), c.margin == 0 ? std::vector<int>{} : std::vector<int>{c.margin});
    const Lines log = s.b.log_from(m);
    const bool margin_msg = std::find(log.begin(), log.end(), "Murvane: zq360x_dts.cont_track_margin = 0") != log.end();
    EXPECT_EQ(margin_msg, c.margin == 0);
    if (c.f0_pre == 0) {
      // Stops right after the set-up: no drive, lra_f0 left at f0_pre.
      EXPECT_EQ(murvane::haptic_dev.lra_f0, 0u);
      EXPECT_EQ(values_written(s.b, m, 0x09), std::vector<int>{1});  // stop's only
      EXPECT_EQ(s.b.writes(m).back(), wr(0x22, 15));
      EXPECT_EQ(s.b.chip().reg(0x18) & 0x20, 0x20);
      EXPECT_EQ(s.b.chip().reg(0x08) & 0x07, 0x06);
    } else {
      EXPECT_EQ(values_written(s.b, m, 0x09), (std::vector<int>{1, 1}));
    }
  }
}

TEST(Zq360xF0, MeasurementResultAndRestore) {
  struct Case {
    const char* name;
    uint32_t chip_f0;
    int count_hi;  // -1: what the chip measured
    int count_lo;
    int play_cfg;  // 0x08 before
    uint32_t lra_f0;
    const char* last_line;
    int play_cfg_after;
  };
  const Case cases[] = {
      {"170 Hz", 1700, -1, -1, po_play_cfg, 1700, "Murvane: lra_f0=1700\n", 0x42},
      {"200 Hz, bit 2 was set", 2000, -1, -1, 0x45, 2000, "Murvane: lra_f0=2000\n", 0x46},
      {"count 2259", 1700, 0x08, 0xD3, po_play_cfg, 1699, "Murvane: lra_f0=1699\n", 0x42},
      {"no period", 0, -1, -1, po_play_cfg, 0, "Murvane: lra_f0 is error, f0_reg=0\n", 0x42},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Selected s;
    s.b.chip().lra_f0 = c.chip_f0;
    s.b.chip().set_register(0x08, static_cast<uint8_t>(c.play_cfg));
    if (c.count_hi >= 0) {
      s.b.chip().script_read(0x25, static_cast<uint8_t>(c.count_hi));
      s.b.chip().script_read(0x26, static_cast<uint8_t>(c.count_lo));
    }
    const size_t m = s.b.mark();
    EXPECT_EQ(s.b.slot("get_f0"), 0);
    EXPECT_EQ(murvane::haptic_dev.lra_f0, c.lra_f0);
    EXPECT_EQ(s.b.log_from(m), (Lines{"Murvane: enter\n", "Murvane: entered standby\n", "Murvane: cont mode\n",
                                      "Murvane: bypass mode\n", "Murvane: entered standby\n", c.last_line}));
    EXPECT_EQ(s.b.chip().reg(0x18), po_sysctrl);  // bit 5 cleared again
    EXPECT_EQ(s.b.chip().reg(0x08), c.play_cfg_after);
    EXPECT_EQ(s.b.chip().reg(0x4C) & 0x40, 0x40);
    EXPECT_EQ(s.b.chip().reg(0x06) & 0x20, 0);
    // 20 ms of drive, then one 2 ms wait per busy reading of 0x3F.
    const std::vector<uint64_t> st = s.b.stalls(m);
    ASSERT_FALSE(st.empty());
    EXPECT_EQ(st.front(), 20000u);
    EXPECT_EQ(std::count(st.begin(), st.end(), 2000u), static_cast<std::ptrdiff_t>(st.size() - 1));
    EXPECT_EQ(reads_of(s.b, m, 0x3F), st.size() + 1);  // stop's one reading and the busy ones + the last
    expect_no_violation(s.b);
  }
}

// ------------------------------------------------------ standby polling

TEST(Zq360xStandby, StopPolls) {
  enum class Kind { idle, late, never, failed_read };
  struct Case {
    const char* name;
    Kind kind;
    size_t reads;
    size_t waits;
    Lines log;
  };
  const Lines forced = {"Murvane: force to enter standby mode\n", "Murvane: standby mode\n"};
  const Case cases[] = {
      {"idle", Kind::idle, 1, 0, {"Murvane: enter\n", "Murvane: entered standby\n"}},
      {"late", Kind::late, 4, 3, {"Murvane: enter\n", "Murvane: entered standby\n"}},
      {"never", Kind::never, 40, 40, {"Murvane: enter\n", forced[0], forced[1]}},
      // The third reading fails: no wait after it, no further reading.
      {"failed read", Kind::failed_read, 3, 2, {"Murvane: enter\n", "Read addr:0x3F error:5\n", forced[0], forced[1]}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Selected s;
    sim::zq360x_model& chip = model(s.b);
    switch (c.kind) {
      case Kind::idle:
        break;
      case Kind::late:
        for (int i = 0; i < 3; ++i) {
          chip.script_read(0x3F, 0x01);
        }
        break;
      case Kind::never:
        chip.never_standby = true;
        s.b.slot("set_go", {1});
        break;
      case Kind::failed_read:
        chip.script_read(0x3F, 0x01);
        chip.script_read(0x3F, 0x01);
        s.b.platform().add_fault(read_fault(0x3F, 3));
        break;
    }
    const size_t m = s.b.mark();
    EXPECT_EQ(s.b.slot("stop"), 0);
    EXPECT_EQ(s.b.log_from(m), c.log);
    EXPECT_EQ(reads_of(s.b, m, 0x3F), c.reads);
    EXPECT_EQ(s.b.stalls(m), std::vector<uint64_t>(c.waits, 2000));
    const Trace t = s.b.traffic(m);
    ASSERT_GE(t.size(), 3u);
    EXPECT_EQ(t[0], rd(0x08, po_play_cfg));
    EXPECT_EQ(t[1], wr(0x08, po_play_cfg | 0x03));
    EXPECT_EQ(t[2], wr(0x09, 0x01));
    const bool force = c.kind == Kind::never || c.kind == Kind::failed_read;
    const std::vector<int> pulse = {po_sysctrl2 | 0x20, po_sysctrl2};
    EXPECT_EQ(values_written(s.b, m, 0x45), force ? pulse : std::vector<int>{});
    if (force) {
      EXPECT_FALSE(chip.busy());
    }
  }
}

TEST(Zq360xStandby, F0WaitEndsOnFailedReading) {
  Selected s;
  // Stop's reading succeeds; the first reading after the drive fails.
  s.b.platform().add_fault(read_fault(0x3F, 2));
  const size_t m = s.b.mark();
  EXPECT_EQ(s.b.slot("get_f0"), 0);
  EXPECT_EQ(s.b.stalls(m), std::vector<uint64_t>{20000});
  const Trace t = s.b.traffic(m);
  ASSERT_GE(t.size(), 3u);
  auto go = std::find(t.begin() + 3, t.end(), wr(0x09, 0x01));
  ASSERT_NE(go, t.end());
  ASSERT_GE(t.end() - go, 4);
  EXPECT_EQ(go[1], rd_fail(0x3F));
  EXPECT_EQ(go[2].reg, 0x25);
  EXPECT_EQ(go[3].reg, 0x26);
  // The failed reading is not standby: only stop's reading logged it.
  const Lines log = s.b.log_from(m);
  EXPECT_EQ(std::count(log.begin(), log.end(), "Murvane: entered standby\n"), 1);
  // The chip was still measuring: nothing in 0x25/0x26 yet.
  EXPECT_EQ(log.back(), "Murvane: lra_f0 is error, f0_reg=0\n");
  EXPECT_EQ(murvane::haptic_dev.lra_f0, 0u);
}

TEST(Zq360xStandby, F0NeverStandbyUsesAllPolls) {
  Selected s;
  model(s.b).never_standby = true;
  const size_t m = s.b.mark();
  EXPECT_EQ(s.b.slot("get_f0"), 0);
  EXPECT_EQ(reads_of(s.b, m, 0x3F), 1u + 1000u);
  const std::vector<uint64_t> st = s.b.stalls(m);
  EXPECT_EQ(st.size(), 1u + 1000u);
  EXPECT_EQ(murvane::haptic_dev.lra_f0, 0u);
  EXPECT_EQ(s.b.log_from(m).back(), "Murvane: lra_f0 is error, f0_reg=0\n");
}

TEST(Zq360xStandby, ZeroPollsTouchNothing) {
  Selected s;
  const size_t m = s.b.mark();
  EXPECT_EQ(murvane::zq360x::wait_standby(0), -1);
  EXPECT_TRUE(s.b.traffic(m).empty());
  EXPECT_TRUE(s.b.stalls(m).empty());
  EXPECT_TRUE(s.b.log_from(m).empty());
}

// ---------------------------------------------------------------- trim

TEST(Zq360xTrim, KindsAndMask) {
  struct Case {
    int32_t kind;
    const char* line;
    int value;
  };
  const Case cases[] = {
      {0, "Murvane: write zero to trim_lra\n", 0x00},
      {1, "Murvane: write f0_cali_data to trim_lra = 0xD7\n", 0x57},
      {2, "Murvane: write osc_cali_data to trim_lra = 0xC5\n", 0x45},
      {3, "Murvane: error param, write f0_cali_data to trim_lra\n", 0x57},
      {-1, "Murvane: error param, write f0_cali_data to trim_lra\n", 0x57},
      {0x101, "Murvane: error param, write f0_cali_data to trim_lra\n", 0x57},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    Selected s;
    murvane::haptic_dev.f0_cali_data = 0xD7;
    murvane::haptic_dev.osc_cali_data = 0xC5;
    const size_t m = s.b.mark();
    EXPECT_EQ(s.b.slot("write_trim_lra", {c.kind}), 0);
    EXPECT_EQ(s.b.log_from(m), Lines{c.line});
    // One plain write, no key: bit 7 (set at power-on) ends up 0.
    EXPECT_EQ(s.b.traffic(m), (Trace{wr(0x5D, c.value)}));
    EXPECT_EQ(s.b.chip().reg(0x5D), c.value);
    expect_no_violation(s.b);
  }
}

// ------------------------------------------------- playback and the model

TEST(Zq360xOps, SmallSlots) {
  Selected s;
  SimBoard& b = s.b;
  size_t m = b.mark();
  EXPECT_EQ(b.slot("set_go", {1}), 0);
  EXPECT_EQ(b.slot("set_go", {0}), 0);
  EXPECT_EQ(b.traffic(m), (Trace{wr(0x09, 1), wr(0x09, 2)}));

  b.chip().set_register(0x13, 0xA0);
  m = b.mark();
  EXPECT_EQ(b.slot("set_sequence_loop", {3, 0x1F}), 0);
  EXPECT_EQ(b.writes(m), Trace{wr(0x13, 0xAF)});

  m = b.mark();
  EXPECT_NE(b.slot("set_play_mode", {2}), 0);
  murvane::zq360x::set_boost_mode(2);
  EXPECT_TRUE(b.traffic(m).empty());
  EXPECT_EQ(b.log_from(m), (Lines{"Murvane: error play mode\n", "Murvane: boost mode error\n"}));
}

TEST(Zq360xModel, ProtectedWriteOutsideKeyWindowIsRecorded) {
  Selected s;
  murvane::reg_write(0x6F, 0x1C);
  ASSERT_EQ(s.b.chip().violation_count(), 1u);
  EXPECT_EQ(s.b.chip().violation_at(0).reg, 0x6F);
  EXPECT_EQ(s.b.chip().reg(0x6F), 0x00);
  // Inside the window the same write lands.
  s.b.slot("chip_init");
  EXPECT_EQ(s.b.chip().violation_count(), 1u);
  EXPECT_EQ(s.b.chip().reg(0x6F), 0x1C);
  EXPECT_EQ(s.b.chip().reg(0x7D), 0x41);
  EXPECT_EQ(s.b.chip().reg(0x21), 0x08);
  EXPECT_EQ(s.b.chip().reg(0x1C), (po_cont1c & 0xF0) | 8);
}

// ------------------------------------------------ guarded set-up steps
//
// An access that opens a window or sets up what later accesses rely on may
// fail; then those later accesses are not sent, the closing or restoring
// access still is, and the operation reports -1.

TEST(Zq360xGuard, StopRequestNeedsStopMode) {
  // 0x09 <- 1 outside mode 3 would start playback: without mode 3 it is not
  // sent, and the standby wait (then the forced standby) takes over.
  struct Case {
    const char* name;
    sim::Fault fault;
    bool playing;  // a chip that plays and never ends by itself
    Ev failed;
  };
  const Case cases[] = {
      {"idle, read fails", read_fault(0x08, 1), false, rd_fail(0x08)},
      {"idle, write fails", write_fault(0x08, 1), false, wr_fail(0x08, 0x43)},
      {"playing, read fails", read_fault(0x08, 1), true, rd_fail(0x08)},
      {"playing, write fails", write_fault(0x08, 1), true, wr_fail(0x08, 0x43)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Selected s;
    sim::zq360x_model& chip = model(s.b);
    if (c.playing) {
      chip.never_standby = true;
      s.b.slot("set_go", {1});
    }
    const uint64_t go_before = chip.go_time_ns();
    s.b.platform().add_fault(c.fault);
    const size_t m = s.b.mark();
    EXPECT_EQ(s.b.slot("stop"), 0);
    EXPECT_TRUE(values_written(s.b, m, 0x09).empty());
    EXPECT_EQ(chip.go_time_ns(), go_before);  // nothing (re)started
    EXPECT_FALSE(chip.busy());
    const Trace t = s.b.traffic(m);
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[c.failed.kind == Ev::Kind::read ? 0 : 1], c.failed);
    EXPECT_EQ(reads_of(s.b, m, 0x3F), c.playing ? 40u : 1u);
    const Lines log = s.b.log_from(m);
    EXPECT_EQ(count(log, "Murvane: force to enter standby mode\n"), c.playing ? 1u : 0u);
    EXPECT_EQ(count(log, "Murvane: entered standby\n"), c.playing ? 0u : 1u);
    expect_no_violation(s.b);
  }
}

}  // namespace
