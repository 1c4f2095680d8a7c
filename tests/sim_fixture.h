// Shared set-up for tests that run the driver on the virtual platform, and
// the one notation tests write expected traffic in: a Trace of typed events
// (rd, wr, stall, msg, pin), read back from the platform's recorder by
// SimBoard::trace() and its filters.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "core/family.h"
#include "host/harness.h"
#include "sim/model_factory.h"
#include "sim/virtual_platform.h"

namespace murvane_test {

// One thing the chip or the integrator sees. A failed transfer is marked
// and carries no read value (a failed write keeps the byte it tried).
struct Ev {
  enum class Kind : uint8_t { read, write, stall, log, pin };
  Kind kind = Kind::read;
  int reg = 0;    // register; the pin word for pin
  int value = 0;  // byte read or written; the level for pin
  bool failed = false;
  uint64_t us = 0;   // stall
  std::string text;  // log
  bool operator==(const Ev&) const = default;
  bool is_transfer() const { return kind == Kind::read || kind == Kind::write; }
};
using Trace = std::vector<Ev>;

inline Ev make_ev(Ev::Kind kind, int reg, int value, bool failed = false) {
  Ev e;
  e.kind = kind;
  e.reg = reg;
  e.value = value;
  e.failed = failed;
  return e;
}
inline Ev rd(int reg, int value) { return make_ev(Ev::Kind::read, reg, value); }
inline Ev rd_fail(int reg) { return make_ev(Ev::Kind::read, reg, 0, true); }
inline Ev wr(int reg, int value) { return make_ev(Ev::Kind::write, reg, value); }
inline Ev wr_fail(int reg, int value) { return make_ev(Ev::Kind::write, reg, value, true); }
inline Ev stall(uint64_t us) {
  Ev e = make_ev(Ev::Kind::stall, 0, 0);
  e.us = us;
  return e;
}
inline Ev msg(std::string text) {
  Ev e = make_ev(Ev::Kind::log, 0, 0);
  e.text = std::move(text);
  return e;
}
inline Ev pin(int word, int level) { return make_ev(Ev::Kind::pin, word, level); }
// A read-modify-write that found before and wrote after.
inline Trace upd(int reg, int before, int after) { return {rd(reg, before), wr(reg, after)}; }

// Building expectations: a + b, a += b, n copies of a block.
Trace operator+(Trace a, const Trace& b);
Trace& operator+=(Trace& a, const Trace& b);
Trace times(size_t n, const Trace& block);

// Filters over a trace.
Trace only(const Trace& t, Ev::Kind kind);
Trace transfers_of(const Trace& t, int reg);  // reads and writes of reg
Trace tail(const Trace& t, size_t n);         // the last n events (all when fewer)
size_t count(const Trace& t, const Ev& e);
size_t count(const std::vector<std::string>& lines, const std::string& line);
size_t n_reads(const Trace& t, int reg);
size_t n_writes(const Trace& t, int reg);

void PrintTo(const Ev& e, std::ostream* os);
std::ostream& operator<<(std::ostream& os, const Ev& e);

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
  sim::chip_model& chip() { return handle_->model(); }
  const std::vector<sim::Event>& events() const { return platform_->events(); }
  const std::vector<std::string>& log() const { return platform_->log_lines(); }

  EFI_STATUS entry() { return host::call_entry(*platform_); }
  EFI_STATUS start() { return host::call_start(*platform_); }
  int64_t slot(const std::string& name, const std::vector<int64_t>& args = {}) {
    const host::SlotResult r = host::call_slot(*platform_, name, args);
    EXPECT_TRUE(r.ok) << r.error;
    return r.value;
  }
  // Opens the bus and selects the model's family without the rest of the
  // bring-up, so a test can drive single slots.
  void select_family(const murvane::chip_family& family);

  // The recorder's position now, for the filters below.
  size_t mark() const { return platform_->events().size(); }
  // Transfers, waits, log lines and reset-pin levels from a mark on.
  Trace trace(size_t from = 0) const;
  Trace traffic(size_t from = 0) const;  // transfers only
  Trace writes(size_t from = 0) const;   // writes only
  std::vector<uint64_t> stalls(size_t from = 0) const;
  std::vector<std::string> log_from(size_t from) const;

 private:
  std::unique_ptr<sim::ModelHandle> handle_;
  std::unique_ptr<sim::VirtualPlatform> platform_;
};

// Failing transfers of reg (reads, writes or both): the from-th matching one
// on, n of them.
sim::Fault fault_on(uint8_t reg, sim::Op op, uint64_t from = 1, uint64_t n = UINT64_MAX);

// The protocol violations the model saw, as readable text ("0x04: ...").
std::vector<std::string> violations(sim::chip_model& chip);

// Every family with one model each, for table-driven tests.
struct FamilyCase {
  const char* model;
  const murvane::chip_family* family;
};
std::vector<FamilyCase> one_model_per_family();

}  // namespace murvane_test
