// The standby waits against every state a chip can report. The state
// register holds a numbered state, not a set of flags: each wait takes its
// own few numbers for standby (0, and for some calls one more), and every
// other number inside the state bits is a busy chip. The driver must wait a
// busy chip out exactly as it waits out a chip that never stops (the same
// readings, the same waits, the same way out) and must end the wait at the
// first reading of an accepted state, whatever the bits outside the state
// read. A wait that compared fewer bits than the state has, or took one
// number too many, would take some busy chip for one in standby.
//
// The calls that wait for standby are stop and the f0 measurement; the
// bring-up never polls the state (checked below, so a bring-up that starts
// to wait gets its cases here).
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

struct WaitCase {
  sim::family_id family;
  const char* call;  // "stop" or "get_f0": each waits for standby
};

void PrintTo(const WaitCase& c, std::ostream* os) { *os << sim::first_model_of(c.family).name << " " << c.call; }

// Every transfer (without its value: a busy chip answers other bytes than a
// never-stopping one), wait and log line of one call, in order.
struct CallRun {
  std::vector<std::string> steps;
  int64_t result;
};

CallRun run_call(const WaitCase& c, uint8_t state) {
  SimBoard b(sim::first_model_of(c.family).name);
  b.select_family(*murvane::chip_families[static_cast<size_t>(c.family)]);
  const uint8_t state_reg = sim::facts_of(c.family).state_reg;
  if (std::string(c.call) == "get_f0") {
    // The measurement starts with a stop: its wait finds standby at its
    // first reading, so every later reading is the measurement's own wait.
    b.chip().script_read(state_reg, 0x00);
  }
  b.chip().set_stuck(state_reg, state);
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

// The states this call takes for standby: 0 and the family's other one.
std::vector<uint8_t> accepted_states(const WaitCase& c) {
  const sim::family_facts& facts = sim::facts_of(c.family);
  const uint8_t also = std::string(c.call) == "stop" ? facts.standby_also.stop : facts.standby_also.f0;
  std::vector<uint8_t> out = {0};
  if (also != 0) {
    out.push_back(also);
  }
  return out;
}

// Every value the state bits can hold.
std::vector<uint8_t> every_state(const WaitCase& c) {
  const uint8_t mask = sim::facts_of(c.family).state_mask;
  std::vector<uint8_t> out;
  for (unsigned v = 0; v < 256; ++v) {
    if ((v & ~unsigned{mask}) == 0) {
      out.push_back(static_cast<uint8_t>(v));
    }
  }
  return out;
}

// The readings of the state register by the call's own wait.
size_t state_reads(const WaitCase& c, const CallRun& r) {
  const std::string read = "read " + std::to_string(sim::facts_of(c.family).state_reg);
  const size_t stop_readings = std::string(c.call) == "get_f0" ? 1 : 0;
  return static_cast<size_t>(std::count(r.steps.begin(), r.steps.end(), read)) - stop_readings;
}

class StandbyWaits : public ::testing::TestWithParam<WaitCase> {};

TEST_P(StandbyWaits, EveryStateOutsideTheAcceptedSetIsWaitedOutLikeAChipThatNeverStops) {
  const WaitCase& c = GetParam();
  const sim::family_facts& facts = sim::facts_of(c.family);
  const std::vector<uint8_t> accepted = accepted_states(c);
  // Every bit of the state set: a number no wait takes.
  ASSERT_EQ(std::count(accepted.begin(), accepted.end(), facts.state_mask), 0);
  const CallRun never = run_call(c, facts.state_mask);
  ASSERT_GT(state_reads(c, never), 1U) << "the wait ran out at once";
  size_t busy_states = 0;
  for (const uint8_t state : every_state(c)) {
    if (std::count(accepted.begin(), accepted.end(), state) != 0) {
      continue;
    }
    SCOPED_TRACE(testing::Message() << "state 0x" << std::hex << int{state});
    const CallRun busy = run_call(c, state);
    EXPECT_EQ(busy.steps, never.steps);
    EXPECT_EQ(busy.result, never.result);
    ++busy_states;
  }
  EXPECT_EQ(busy_states + accepted.size(), every_state(c).size());
}

TEST_P(StandbyWaits, EveryAcceptedStateEndsTheWaitAtTheFirstReading) {
  const WaitCase& c = GetParam();
  const sim::family_facts& facts = sim::facts_of(c.family);
  const CallRun standby = run_call(c, 0x00);
  EXPECT_EQ(state_reads(c, standby), 1U);
  for (const uint8_t state : accepted_states(c)) {
    // The bits outside the state are not part of it.
    for (const auto read : {state, static_cast<uint8_t>(state | ~facts.state_mask)}) {
      SCOPED_TRACE(testing::Message() << "state register 0x" << std::hex << int{read});
      const CallRun r = run_call(c, read);
      EXPECT_EQ(state_reads(c, r), 1U);
      EXPECT_EQ(r.steps, standby.steps);
      EXPECT_EQ(r.result, standby.result);
    }
  }
}

std::vector<WaitCase> wait_cases() {
  std::vector<WaitCase> out;
  for (const sim::family_id f : sim::all_families) {
    for (const char* call : {"stop", "get_f0"}) {
      out.push_back({f, call});
    }
  }
  return out;
}

INSTANTIATE_TEST_SUITE_P(Families, StandbyWaits, ::testing::ValuesIn(wait_cases()),
                         [](const ::testing::TestParamInfo<WaitCase>& i) {
                           return std::string(sim::first_model_of(i.param.family).name) + "_" + i.param.call;
                         });

// The bring-up sets the chip up from power-on and never waits for standby:
// it does not read the state register at all. Should it start to, its wait
// belongs in the cases above.
TEST(StandbyWaitsBringUp, NeverReadsTheStateRegister) {
  for (const sim::family_id f : sim::all_families) {
    SCOPED_TRACE(sim::first_model_of(f).name);
    SimBoard b(sim::first_model_of(f).name);
    ASSERT_EQ(b.entry(), EFI_SUCCESS);
    EXPECT_EQ(n_reads(b.trace(), sim::facts_of(f).state_reg), 0U);
  }
}

}  // namespace
