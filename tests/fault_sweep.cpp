#include "tests/fault_sweep.h"

#include "tests/sim_fixture.h"

namespace murvane_test {

const char* sweep_call_name(SweepCall c) {
  switch (c) {
    case SweepCall::entry:
      return "entry";
    case SweepCall::start:
      return "start";
    case SweepCall::get_f0:
      return "get_f0";
    default:
      return "offset_calibration";
  }
}

// The fault is placed relative to the call's first transfer.
SweepOutcome sweep_run(const std::string& model, SweepCall call, uint64_t fault_at, bool onward) {
  SimBoard b(model);
  b.platform().set_recording(false);
  if (call != SweepCall::entry) {
    b.entry();
  }
  const uint64_t base = b.platform().transfers();
  const uint64_t t0 = b.platform().now_ns();
  const uint64_t failed0 = b.platform().counters().failed;
  const size_t log0 = b.log().size();
  if (fault_at != 0) {
    sim::Fault f;
    f.transfer = base + fault_at;
    f.onward = onward;
    b.platform().add_fault(f);
  }
  SweepOutcome o;
  switch (call) {
    case SweepCall::entry:
      o.result = static_cast<int64_t>(b.entry());
      break;
    case SweepCall::start:
      o.result = static_cast<int64_t>(b.start());
      break;
    case SweepCall::get_f0:
      o.result = b.slot("get_f0");
      break;
    case SweepCall::offset_calibration:
      o.result = b.slot("offset_calibration");
      break;
  }
  o.elapsed_ns = b.platform().now_ns() - t0;
  o.failed = b.platform().counters().failed - failed0;
  o.transfers = b.platform().transfers() - base;
  for (size_t i = log0; i < b.log().size(); ++i) {
    const std::string& line = b.log()[i];
    if (line.rfind("Read addr:", 0) == 0 || line.rfind("Write addr:", 0) == 0) {
      ++o.logged_failures;
    }
    if (o.logged_failures > 0 && (line.rfind("Murvane: lra_f0=", 0) == 0 || line.rfind("Murvane: lra f0=", 0) == 0)) {
      o.measured_after_failure = true;
    }
    if (line.rfind("I2C protocol handle is invalid", 0) == 0) {
      o.invalid_handle = true;
    }
  }
  o.violations = b.chip().violation_count();
  if (o.violations > 0) {
    o.first_violation = b.chip().violation_at(0).what;
  }
  return o;
}

SweepViolations sweep_violations(const std::string& model, SweepCall call) {
  SweepViolations v;
  const uint64_t transfers = sweep_run(model, call, 0, false).transfers;
  for (uint64_t k = 1; k <= transfers; ++k) {
    for (bool onward : {false, true}) {
      v.with_violations += sweep_run(model, call, k, onward).violations > 0 ? 1 : 0;
      ++v.runs;
    }
  }
  return v;
}

}  // namespace murvane_test
