// The driver's state goes back to its load values between runs in one
// process: a run leaves nothing behind that the next run of the driver could
// see. The reference for "a fresh image" is a run made before the driver ever
// ran in this process: each is made in a child forked at start-up, while the
// driver's variables still hold the values the program was loaded with.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "core/driver_state.h"
#include "core/family.h"
#include "host/harness.h"
#include "platform/platform.h"
#include "platform/stack_guard.h"
#include "sim/model_factory.h"
#include "sim/virtual_platform.h"
#include "tests/child_run.h"
#include "tests/sim_fixture.h"

namespace {

using murvane_test::one_model_per_family;
using murvane_test::SimBoard;

// The chips the runs are made on: one model per family, and no chip at all
// (where a family left selected by an earlier run would still be called).
std::vector<std::string> chips() {
  std::vector<std::string> out;
  for (const murvane_test::FamilyCase& c : one_model_per_family()) {
    out.emplace_back(c.model);
  }
  out.emplace_back("absent");
  return out;
}

std::string jsonl(const std::vector<sim::Event>& events) {
  std::ostringstream out;
  host::write_jsonl(out, events);
  return out.str();
}

// A run that leaves as much behind as it can: the bring-up, Start and an f0
// measurement (which needs a family selected; with no chip there is none).
void run(SimBoard& board) {
  board.entry();
  board.start();
  static_cast<void>(host::call_slot(board.platform(), "get_f0", {}));
}

// A bring-up and the protocol's Start on a fresh chip: the whole trace.
std::string bring_up(SimBoard& board) {
  board.entry();
  board.start();
  return jsonl(board.events());
}

// The firmware loading the image on a fresh chip, on a platform made without
// putting the driver's state back first: only the load itself does.
std::string load_on_fresh_chip(const std::string& chip) {
  std::unique_ptr<sim::ModelHandle> model = chip == "absent" ? nullptr : sim::make_model(chip);
  sim::VirtualPlatform platform(model != nullptr ? &model->model() : nullptr);
  host::call_load(platform);
  host::call_start(platform);
  return jsonl(platform.events());
}

// What a run gives in a process where the driver never ran before it.
struct Fresh {
  std::map<std::string, std::string> bring_up;
  std::map<std::string, std::string> load;
};
Fresh* fresh = nullptr;

std::string in_fresh_child(const std::function<std::string()>& run) {
  const std::optional<murvane_test::ChildRun> r = murvane_test::run_in_child(run);
  if (!r) {
    return "pipe failed";
  }
  return r->exited_ok ? r->out : "child failed";
}

class FreshRuns : public ::testing::Environment {
 public:
  void SetUp() override {
    fresh = new Fresh;
    for (const std::string& chip : chips()) {
      fresh->bring_up[chip] = in_fresh_child([&] {
        SimBoard board(chip);
        return bring_up(board);
      });
      fresh->load[chip] = in_fresh_child([&] { return load_on_fresh_chip(chip); });
    }
  }
  void TearDown() override {
    delete fresh;
    fresh = nullptr;
  }
};
const ::testing::Environment* const fresh_runs = ::testing::AddGlobalTestEnvironment(new FreshRuns);

struct Pair {
  std::string first;
  std::string second;
};

void PrintTo(const Pair& p, std::ostream* os) { *os << p.first << " then " << p.second; }

std::vector<Pair> every_ordered_pair() {
  std::vector<Pair> out;
  for (const std::string& a : chips()) {
    for (const std::string& b : chips()) {
      out.push_back({a, b});
    }
  }
  return out;
}

class TwoRuns : public ::testing::TestWithParam<Pair> {};

TEST_P(TwoRuns, TheSecondIsWhatItGivesAlone) {
  ASSERT_NE(fresh, nullptr);
  const std::string& alone = fresh->bring_up.at(GetParam().second);
  ASSERT_NE(alone.find("\"fn\":\"start\""), std::string::npos) << alone;
  {
    SimBoard first(GetParam().first);
    run(first);
  }
  SimBoard second(GetParam().second);
  EXPECT_EQ(bring_up(second), alone) << GetParam().first << " ran first";
}

TEST_P(TwoRuns, ALoadAfterARunIsAFreshLoad) {
  ASSERT_NE(fresh, nullptr);
  const std::string& alone = fresh->load.at(GetParam().second);
  ASSERT_NE(alone.find("\"fn\":\"load\""), std::string::npos) << alone;
  // The first run's platform stays alive: nothing but the load itself puts
  // the driver's state back.
  SimBoard first(GetParam().first);
  run(first);
  EXPECT_EQ(load_on_fresh_chip(GetParam().second), alone) << GetParam().first << " ran first";
}

INSTANTIATE_TEST_SUITE_P(EveryOrderedPair, TwoRuns, ::testing::ValuesIn(every_ordered_pair()),
                         [](const ::testing::TestParamInfo<Pair>& p) {
                           return p.param.first + "_then_" + p.param.second;
                         });

// The variables the reset knows, each changed, then the reset: the values a
// freshly loaded image has.
TEST(DriverStateReset, PutsEveryKnownVariableBackToItsLoadValue) {
  static int token = 0;
  murvane::haptic_dev = {0x12, 0x34, 1234};
  murvane::current_family = murvane::chip_families[0];
  murvane::located_i2c = &token;
  murvane::located_korm = &token;
  murvane::bus_failed_transfers = 7;
  murvane::i2c_iface = reinterpret_cast<EFI_ZELT_I2C_PROTOCOL*>(&token);
  murvane::bus_handle = 5;
  for (uint32_t& w : murvane::slave_config) {
    w = 9;
  }
  murvane::g_support.image_handle = &token;
  __security_cookie = 1;
  murvane::reset_driver_state();
  EXPECT_EQ(murvane::haptic_dev.f0_cali_data, 0);
  EXPECT_EQ(murvane::haptic_dev.osc_cali_data, 0);
  EXPECT_EQ(murvane::haptic_dev.lra_f0, murvane::haptic_dev_lra_f0_at_load);
  EXPECT_EQ(murvane::current_family, nullptr);
  EXPECT_EQ(murvane::located_i2c, nullptr);
  EXPECT_EQ(murvane::located_korm, nullptr);
  EXPECT_EQ(murvane::bus_failed_transfers, 0u);
  EXPECT_EQ(murvane::i2c_iface, nullptr);
  EXPECT_EQ(murvane::bus_handle, 0u);
  for (uint32_t w : murvane::slave_config) {
    EXPECT_EQ(w, 0u);
  }
  EXPECT_EQ(murvane::g_support.image_handle, nullptr);
  EXPECT_EQ(murvane::g_support.boot_services, nullptr);
  EXPECT_EQ(__security_cookie, murvane::stack_guard_at_load);
}

}  // namespace
