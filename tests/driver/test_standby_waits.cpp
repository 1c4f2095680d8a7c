// The standby waits against every busy state a chip can report: a state
// register that reads any single bit of its state set is a busy chip, and
// the driver must wait it out exactly as it waits out a chip whose state
// has every bit set: the same readings, the same waits, the same way out. A wait that compared fewer bits than the
// state has would take some busy chip for one in standby.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/family.h"
#include "sim/models/family_facts.h"
#include "tests/sim_fixture.h"

namespace {

using namespace murvane_test;  // the trace notation and SimBoard

struct BusyCase {
  sim::family_id family;
  const char* call;  // "stop" or "get_f0": each waits for standby
  uint8_t busy;      // the state register reads this, always
};

void PrintTo(const BusyCase& c, std::ostream* os) {
  *os << sim::first_model_of(c.family).name << " " << c.call << " 0x" << std::hex << int{c.busy};
}

// Every transfer (without its value: a busy chip answers other bytes than a
// never-stopping one), wait and log line of one call, in order.
struct CallRun {
  std::vector<std::string> steps;
  int64_t result;
};

template <class Setup>
CallRun run_call(const BusyCase& c, Setup setup) {
  SimBoard b(sim::first_model_of(c.family).name);
  b.select_family(*murvane::chip_families[static_cast<size_t>(c.family)]);
  setup(b);
  const size_t mark = b.mark();
  CallRun r;
  r.result = b.slot(c.call);
  for (const Ev& e : b.trace(mark)) {
    switch (e.kind) {
      case Ev::Kind::read:
        r.steps.push_back("read " + std::to_string(e.reg));
        break;
      case Ev::Kind::write:
        r.steps.push_back("write " + std::to_string(e.reg));
        break;
      case Ev::Kind::stall:
        r.steps.push_back("wait " + std::to_string(e.us));
        break;
      case Ev::Kind::log:
        r.steps.push_back(e.text);
        break;
      case Ev::Kind::pin:
        break;
    }
  }
  return r;
}

class BusyStates : public ::testing::TestWithParam<BusyCase> {};

TEST_P(BusyStates, EveryBusyBitIsWaitedOutLikeAChipThatNeverStops) {
  const BusyCase& c = GetParam();
  const sim::family_facts& facts = sim::facts_of(c.family);
  // Every bit of the state set: busy on any reading of it.
  const CallRun never = run_call(c, [&](SimBoard& b) { b.chip().set_stuck(facts.state_reg, facts.state_mask); });
  const CallRun busy = run_call(c, [&](SimBoard& b) { b.chip().set_stuck(facts.state_reg, c.busy); });
  const std::string state_read = "read " + std::to_string(facts.state_reg);
  ASSERT_GT(std::count(never.steps.begin(), never.steps.end(), state_read), 1) << "the wait ran out at once";
  EXPECT_EQ(busy.steps, never.steps);
  EXPECT_EQ(busy.result, never.result);
}

std::vector<BusyCase> busy_cases() {
  std::vector<BusyCase> out;
  for (const sim::family_id f : sim::all_families) {
    for (const char* call : {"stop", "get_f0"}) {
      for (unsigned bit = 0; bit < 8; ++bit) {
        const auto busy = static_cast<uint8_t>(1U << bit);
        if ((busy & sim::facts_of(f).state_mask) != 0) {
          out.push_back({f, call, busy});
        }
      }
    }
  }
  return out;
}

INSTANTIATE_TEST_SUITE_P(Families, BusyStates, ::testing::ValuesIn(busy_cases()),
                         [](const ::testing::TestParamInfo<BusyCase>& i) {
                           char busy[8];
                           std::snprintf(busy, sizeof(busy), "%02X", i.param.busy);
                           return std::string(sim::first_model_of(i.param.family).name) + "_" + i.param.call + "_" +
                                  busy;
                         });

}  // namespace
