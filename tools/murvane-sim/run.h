// Runs a scenario: the chip model and the virtual platform it describes, the
// driver's device state, then the calls in order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/model_factory.h"
#include "sim/virtual_platform.h"
#include "tools/murvane-sim/scenario.h"

namespace murvane_sim {

struct CallResult {
  std::string fn;  // "entry", "start", "load", "slot:NAME"
  std::vector<int64_t> args;
  bool is_status = false;  // an EFI_STATUS (entry, start, qualify_check), else an i32 value
  bool has_value = true;   // false for write_ram
  int64_t value = 0;       // the status bits or the i32 result
  uint64_t start_ns = 0;   // modeled clock when the call was made
  uint64_t end_ns = 0;     // ... and when it returned
  uint64_t go_ns = 0;      // when the chip saw GO during this call, 0 when it did not
};

class Simulation {
 public:
  explicit Simulation(const Scenario& scenario);
  ~Simulation() = default;
  Simulation(const Simulation&) = delete;
  Simulation& operator=(const Simulation&) = delete;
  Simulation(Simulation&&) = delete;
  Simulation& operator=(Simulation&&) = delete;

  // Makes the calls. A slot call with no family selected is unusable input
  // (InputError naming the call); nothing after it runs.
  void run();

  const Scenario& scenario() const { return scenario_; }
  sim::VirtualPlatform& platform() { return *platform_; }
  const sim::VirtualPlatform& platform() const { return *platform_; }
  // Null when no chip answers.
  sim::ModelHandle* chip() const { return chip_.get(); }
  const std::vector<CallResult>& results() const { return results_; }
  // Family the driver selected ("zq310x"), or empty.
  const std::string& selected_family() const { return selected_family_; }

 private:
  void apply_chip_settings();

  Scenario scenario_;
  std::unique_ptr<sim::ModelHandle> chip_;
  std::unique_ptr<sim::VirtualPlatform> platform_;
  std::vector<CallResult> results_;
  std::string selected_family_;
};

}  // namespace murvane_sim
