// Shared set-up for tests that run the driver on the virtual platform.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/family.h"
#include "sim/harness.h"
#include "sim/model_factory.h"
#include "sim/virtual_platform.h"

namespace murvane_test {

// A simulated chip (or none) on a fresh virtual platform, with the driver's
// globals at their load values.
class SimBoard {
 public:
  explicit SimBoard(const std::string& model, sim::PlatformOptions options = {}) {
    sim::reset_driver_state();
    if (model != "absent") {
      handle_ = sim::make_model(model);
      if (handle_ == nullptr) {
        ADD_FAILURE() << "unknown model " << model;
      }
    }
    platform_ = std::make_unique<sim::VirtualPlatform>(handle_ != nullptr ? &handle_->model() : nullptr, options);
  }

  sim::VirtualPlatform& platform() { return *platform_; }
  sim::ChipModel& chip() { return handle_->model(); }
  const std::vector<sim::Event>& events() const { return platform_->events(); }
  const std::vector<std::string>& log() const { return platform_->log_lines(); }

  EFI_STATUS entry() { return sim::call_entry(*platform_); }
  EFI_STATUS start() { return sim::call_start(*platform_); }
  int64_t slot(const std::string& name, const std::vector<int64_t>& args = {}) {
    const sim::SlotResult r = sim::call_slot(*platform_, name, args);
    EXPECT_TRUE(r.ok) << r.error;
    return r.value;
  }
  // Opens the bus and selects the model's family without the rest of the
  // bring-up, so a test can drive single slots.
  void select_family(const murvane::chip_family& family);

  // Register traffic only, as (op, reg, value) with op 'R' or 'W'.
  struct Xfer {
    char op;
    int reg;
    int value;  // -1 when the transfer failed
    bool operator==(const Xfer&) const = default;
  };
  std::vector<Xfer> traffic(size_t from_event = 0) const;
  std::vector<Xfer> writes(size_t from_event = 0) const;
  std::vector<uint64_t> stalls(size_t from_event = 0) const;
  size_t mark() const { return platform_->events().size(); }

 private:
  std::unique_ptr<sim::ModelHandle> handle_;
  std::unique_ptr<sim::VirtualPlatform> platform_;
};

std::ostream& operator<<(std::ostream& os, const SimBoard::Xfer& x);

// Every family with one model each, for table-driven tests.
struct FamilyCase {
  const char* model;
  const murvane::chip_family* family;
};
std::vector<FamilyCase> one_model_per_family();

}  // namespace murvane_test
