// The worst-case bounds against the chips' slowest behaviour: every family's
// model is set never to reach the state its polls wait for, to fail its
// offset calibration after the full run, to need the repair window, and to
// answer the first pass of each identification with an unknown identifier.
// Each call must then stay within its bound and come close to it (the
// bounds are upper bounds, not guesses). The tables of docs/reliability.md
// must be the bounds the code computes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/family.h"
#include "host/harness.h"
#include "sim/models/family_facts.h"
#include "sim/models/model_table.h"
#include "tests/sim_fixture.h"
#include "tests/worst_case.h"

namespace {

using murvane_test::SimBoard;
using murvane_test::worst_case;
using murvane_test::worst_case_cost;
using murvane_test::worst_case_us;
using sim::family_id;

// How close the slowest modeled behaviour must come to each bound.
constexpr double min_reached = 0.99;

// The driver's family at the model family's place in core/family_list.h.
const murvane::chip_family& driver_family(family_id f) { return *murvane::chip_families[static_cast<size_t>(f)]; }

const char* family_name(family_id f) { return driver_family(f).name; }

// Turns every knob of the model that makes the driver wait longer (the
// family's facts say which).
void make_slowest(SimBoard& b, family_id f) { sim::facts_of(f).make_slowest(b.chip()); }

// Every identification reads its identifier through 0x57/0x58 (0x00 answers
// the 16-bit marker) and gets an unknown one on its first pass and the
// model's own on the second: both passes, all three readings each.
void slow_identification(SimBoard& b, uint32_t id) {
  struct state {
    int round = 0;
    int pending = 0;
  };
  auto s = std::make_shared<state>();
  b.platform().read_hook = [s, id](uint8_t reg, uint8_t* value) {
    if (reg == 0x00) {
      ++s->round;
      s->pending = 2;
      *value = 0x00;
      return true;
    }
    if (s->pending > 0 && (reg == 0x57 || reg == 0x58)) {
      --s->pending;
      const uint32_t answer = s->round % 2 == 1 ? 0xFFFF : id;
      *value = static_cast<uint8_t>(reg == 0x57 ? answer >> 8 : answer);
      return true;
    }
    return false;
  };
}

struct Measured {
  uint64_t elapsed_ns = 0;
  int64_t result = 0;
};

Measured run_bringup(const sim::model_info& info, bool through_start) {
  SimBoard b(info.name);
  b.platform().set_recording(false);
  if (through_start) {
    EXPECT_EQ(b.entry(), EFI_SUCCESS);
  }
  make_slowest(b, info.family);
  slow_identification(b, info.id);
  const uint64_t t0 = b.platform().now_ns();
  Measured m;
  m.result = static_cast<int64_t>(through_start ? b.start() : b.entry());
  m.elapsed_ns = b.platform().now_ns() - t0;
  return m;
}

Measured run_slot(const sim::model_info& info, const std::string& slot, const std::vector<int64_t>& args) {
  SimBoard b(info.name);
  b.platform().set_recording(false);
  b.select_family(driver_family(info.family));
  make_slowest(b, info.family);
  if (slot == "stop" || slot == "set_play_mode" || slot == "get_f0") {
    // Something to stop: playback started from the power-on mode, which the
    // chip never ends by itself.
    b.slot("set_go", {1});
  }
  const uint64_t t0 = b.platform().now_ns();
  Measured m;
  m.result = b.slot(slot, args);
  m.elapsed_ns = b.platform().now_ns() - t0;
  return m;
}

// The argument values worth trying per slot: every value that takes a path
// of its own.
std::vector<std::vector<int64_t>> argument_sets(const std::string& slot) {
  if (slot == "set_go" || slot == "set_ram_access") {
    return {{0}, {1}};
  }
  if (slot == "set_gain") {
    return {{0x80}};
  }
  if (slot == "set_play_mode") {
    return {{0}, {1}, {4}, {7}};
  }
  if (slot == "write_trim_lra") {
    return {{0}, {1}, {2}, {-5}};
  }
  if (slot == "set_sequence") {
    return {{0, 1}};
  }
  if (slot == "set_sequence_loop") {
    return {{0, 4}, {1, 4}};
  }
  return {{}};
}

struct Case {
  const sim::model_info* model;
  std::string call;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.model->name << " " << c.call; }

class WorstCase : public ::testing::TestWithParam<Case> {};

TEST_P(WorstCase, SlowestChipStaysWithinTheBoundAndNearlyReachesIt) {
  const Case& c = GetParam();
  const uint64_t bound_ns = worst_case_us(c.model->family, c.call) * 1000;
  uint64_t longest_ns = 0;
  if (c.call == "entry" || c.call == "start") {
    const Measured m = run_bringup(*c.model, c.call == "start");
    EXPECT_EQ(m.result, static_cast<int64_t>(EFI_SUCCESS)) << "the slowest path is the whole sequence";
    EXPECT_LE(m.elapsed_ns, bound_ns);
    longest_ns = m.elapsed_ns;
  } else {
    for (const std::vector<int64_t>& args : argument_sets(c.call)) {
      const Measured m = run_slot(*c.model, c.call, args);
      EXPECT_LE(m.elapsed_ns, bound_ns) << "with " << ::testing::PrintToString(args);
      longest_ns = std::max(longest_ns, m.elapsed_ns);
    }
  }
  if (bound_ns == 0) {
    EXPECT_EQ(longest_ns, 0u);
    return;
  }
  const double reached = static_cast<double>(longest_ns) / static_cast<double>(bound_ns);
  RecordProperty("reached_permille", static_cast<int>(reached * 1000));
  EXPECT_GE(reached, min_reached) << "slowest run " << longest_ns << " ns of a bound of " << bound_ns << " ns";
}

std::vector<Case> all_cases() {
  std::vector<Case> out;
  for (const sim::model_info& m : sim::model_infos) {
    for (const char* call : {"entry", "start"}) {
      out.push_back({&m, call});
    }
    for (const char* slot : murvane::haptic_ops_names) {
      out.push_back({&m, slot});
    }
  }
  return out;
}

INSTANTIATE_TEST_SUITE_P(AllModels, WorstCase, ::testing::ValuesIn(all_cases()),
                         [](const ::testing::TestParamInfo<Case>& i) {
                           return i.param.model->name + ("_" + i.param.call);
                         });

// A few bounds worked out by hand from the constants, so that the arithmetic
// itself is checked and not only its agreement with the models.
TEST(WorstCaseArithmetic, HandWorkedBounds) {
  // zq310x offset_calibration: three masked updates (3 reads, 3 writes), the
  // 1000 us access wait, 2000 back-to-back busy readings.
  EXPECT_EQ(worst_case(family_id::zq310x, "offset_calibration").ns(), 1000'000 + 2003 * 100'000 + 3 * 75'000);
  // zq360x get_f0: stop (40 polls of 2000 us) and the f0 standby wait
  // (1000 polls of 2000 us) around the 20000 us drive wait.
  EXPECT_EQ(worst_case(family_id::zq360x, "get_f0").wait_us, 40 * 2000 + 20000 + 1000 * 2000);
  // zq330x: no offset calibration, so it costs nothing.
  EXPECT_EQ(worst_case(family_id::zq330x, "offset_calibration").ns(), 0u);
  // Every bring-up waits for two reset pulses (10000 us each), a retry wait
  // in each of the two identifications (2000 us each), and reads 12 times
  // for the identifier.
  for (family_id f : murvane_test::all_families) {
    const worst_case_cost c = worst_case(f, "entry");
    EXPECT_GE(c.wait_us, 2 * 10000 + 2 * 2000u) << family_name(f);
    EXPECT_GE(c.reads, 12u) << family_name(f);
    EXPECT_EQ(worst_case_us(f, "entry"), worst_case_us(f, "start")) << family_name(f);
  }
  // The time of a cost at the build's 400 kHz: reads at 100 us (40 bit
  // times), writes at 75 us (30), in whole microseconds.
  EXPECT_EQ((worst_case_cost{0, 0, 1}).us(), 75u);
  EXPECT_EQ((worst_case_cost{5, 2, 0}).us(), 205u);
}

TEST(WorstCaseDoc, TablesMatchTheComputedBounds) {
  const std::filesystem::path doc =
      std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "docs" / "reliability.md";
  std::ifstream in(doc);
  ASSERT_TRUE(in.good()) << doc;
  std::stringstream text;
  text << in.rdbuf();
  const std::string tables = murvane_test::worst_case_tables();
  EXPECT_NE(text.str().find(tables), std::string::npos)
      << doc << " does not hold the bounds the code computes; scripts/update-docs-figures.sh writes them:\n"
      << tables;
}

}  // namespace
