// The virtual platform: the host platform (host/platform.h) with a
// simulated chip at the far end of its bus and reset pin. The simulated
// chip is a chip model (or none: nothing answers), with fault injection,
// seeded chaos and the fuzzer's transfer and read hooks in front of it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <random>

#include "host/platform.h"
#include "sim/model_factory.h"

namespace sim {

// The host platform's names, as the tests and tools written against the
// virtual platform use them.
using host::build_bus_khz;
using host::Counters;
using host::Event;
using host::event_bus_khz;
using host::event_end_ns;
using host::event_start_ns;
using host::guid_string;
using host::i2c_open_fail_status;
using host::I2cMode;
using host::PinMode;
using host::read_transfer_ns;
using host::status_string;
using host::transfer_ns;
using host::write_transfer_ns;

enum class Op { read, write, any };

// What a simulated bus answers when nothing acknowledges.
inline constexpr uint32_t bus_fault_status = 5;

struct Fault {
  // By transfer index (1-based, reads and writes counted together): that
  // transfer and the count - 1 after it, or with onward every later one
  // (the chip vanishes)...
  std::optional<uint64_t> transfer;
  bool onward = false;
  // ...or by register, direction and range of matching transfers (1-based).
  uint8_t reg = 0;
  Op op = Op::any;
  uint64_t from = 1;
  uint64_t count = UINT64_MAX;
  uint32_t status = bus_fault_status;
  uint64_t seen = 0;  // matching transfers so far
};

struct Chaos {
  double read_flip = 0.0;
  double fault = 0.0;
};

struct PlatformOptions : host::PlatformOptions {
  Chaos chaos;
};

// The far end of the virtual platform: a chip model behind injected faults,
// the fuzzer's hooks and chaos. Its random draws come from the platform's
// one stream, so a seed replays a run.
class SimulatedChip final : public host::FarEnd {
 public:
  // chip null: nothing answers on the bus (every transfer fails with 5).
  SimulatedChip(chip_model* chip, const Chaos& chaos);

  chip_model* chip() { return chip_; }
  void draw_from(std::mt19937_64& random) { random_ = &random; }
  void add_fault(const Fault& f) { faults_.push_back(f); }
  void clear_faults() { faults_.clear(); }
  std::function<uint32_t(bool write, uint8_t reg)> transfer_hook;
  std::function<bool(uint8_t reg, uint8_t* value)> read_hook;

  uint32_t transfer(const host::Transfer& t, uint8_t* data) override;
  void set_pin(uint32_t level, uint64_t at_ns) override;
  void stall(uint64_t /*us*/) override {}
  std::optional<double> measured_us() override { return std::nullopt; }

 private:
  uint32_t fault_for(const host::Transfer& t);
  // Injected faults first, then no chip at all, the test's hook, and chaos.
  uint32_t bus_status(const host::Transfer& t);
  // The byte the chip answers, through the test's read hook and chaos's
  // bit flips.
  uint8_t read_from_chip(const host::Transfer& t);
  double draw();

  chip_model* chip_;
  const Chaos& chaos_;
  std::mt19937_64* random_ = nullptr;
  std::vector<Fault> faults_;
  uint32_t last_pin_level_ = 1;
};

namespace detail {
// What the virtual platform owns and its host platform uses: made first, so
// that they exist when the host platform is made.
struct SimulatedParts {
  SimulatedParts(chip_model* chip, const PlatformOptions& options_in)
      : options(options_in), simulated_chip(chip, options.chaos) {}
  PlatformOptions options;
  SimulatedChip simulated_chip;
};
}  // namespace detail

class VirtualPlatform : private detail::SimulatedParts, public host::Platform {
 public:
  // chip null: nothing answers on the bus (every transfer fails with 5).
  explicit VirtualPlatform(chip_model* chip, const PlatformOptions& options = {});
  ~VirtualPlatform() override = default;
  VirtualPlatform(const VirtualPlatform&) = delete;
  VirtualPlatform& operator=(const VirtualPlatform&) = delete;
  VirtualPlatform(VirtualPlatform&&) = delete;
  VirtualPlatform& operator=(VirtualPlatform&&) = delete;

  chip_model* chip() { return simulated_chip.chip(); }
  PlatformOptions& options() { return SimulatedParts::options; }
  void add_fault(const Fault& f) { simulated_chip.add_fault(f); }
  void clear_faults() { simulated_chip.clear_faults(); }
  // Programmable chip and bus behaviour for fuzzing: the transfer hook may
  // fail a transfer (non-zero status); the read hook may replace the
  // model's answer. Both see every transfer the faults above let through.
  std::function<uint32_t(bool write, uint8_t reg)>& transfer_hook = simulated_chip.transfer_hook;
  std::function<bool(uint8_t reg, uint8_t* value)>& read_hook = simulated_chip.read_hook;
};

// Puts the driver's globals back to their load values, as a fresh image.
using host::reset_driver_state;

}  // namespace sim
