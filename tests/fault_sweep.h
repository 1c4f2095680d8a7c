// One run of the fault sweep (tests/driver/test_fault_sweep.cpp): a call on a fresh
// board, healthy or with a transfer of it failing. murvane-doc-tables runs
// the same runs to count the protocol violations docs/reliability.md shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace murvane_test {

enum class SweepCall { entry, start, get_f0, offset_calibration };

inline constexpr SweepCall sweep_calls[] = {SweepCall::entry, SweepCall::start, SweepCall::get_f0,
                                            SweepCall::offset_calibration};

// "entry", "start", "get_f0", "offset_calibration".
const char* sweep_call_name(SweepCall c);

struct SweepOutcome {
  int64_t result = 0;
  uint64_t elapsed_ns = 0;
  uint64_t failed = 0;
  uint64_t logged_failures = 0;
  uint64_t transfers = 0;
  size_t violations = 0;
  std::string first_violation;
  bool invalid_handle = false;
  bool measured_after_failure = false;  // an f0 value logged after a failed transfer
};

// Runs one call on a fresh board of the model; fault_at 0 is the healthy
// run, else the call's transfer fault_at fails (and with onward every one
// after it too: the chip has vanished).
SweepOutcome sweep_run(const std::string& model, SweepCall call, uint64_t fault_at, bool onward);

// The failed-transfer runs of a call (two per transfer of its healthy run)
// and how many of them left a protocol violation in the chip model.
struct SweepViolations {
  int with_violations = 0;
  int runs = 0;
};
SweepViolations sweep_violations(const std::string& model, SweepCall call);

}  // namespace murvane_test
