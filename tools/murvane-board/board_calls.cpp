#include "tools/murvane-board/board_calls.h"

#include <cstdio>

#include "core/family.h"
#include "host/harness.h"
#include "tools/common/event_text.h"

namespace murvane_board {

namespace {

// The driver's own words for the ends of its f0 measurement.
constexpr const char* measured_lines[] = {"Murvane: lra_f0=", "Murvane: lra f0="};
constexpr const char* zero_period_line = "Murvane: lra_f0 is error, f0_reg=0";

std::string label(const char* name) {
  char buf[32];
  static_cast<void>(std::snprintf(buf, sizeof buf, "%-14s", name));
  return buf;
}

// "170.0 Hz" from tenths of a hertz.
std::string hertz(uint32_t tenths) { return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " Hz"; }

// How the measurement ended, from what the driver logged during it.
CallResult::F0 f0_outcome(const std::vector<host::Event>& events, size_t from) {
  for (size_t i = from; i < events.size(); ++i) {
    if (events[i]["ev"] != "log") {
      continue;
    }
    const std::string text = events[i]["text"].get<std::string>();
    for (const char* m : measured_lines) {
      if (text.rfind(m, 0) == 0) {
        return CallResult::F0::measured;
      }
    }
    if (text.rfind(zero_period_line, 0) == 0) {
      return CallResult::F0::zero_period;
    }
  }
  return CallResult::F0::not_finished;
}

std::string f0_text(const CallResult& r) {
  switch (r.f0) {
    case CallResult::F0::measured:
      return hertz(r.lra_f0) + ", measured (the driver's lra_f0: " + std::to_string(r.lra_f0) + ", in 0.1 Hz)";
    case CallResult::F0::zero_period:
      return "not measured: the measurement gave no period (the driver's zero-period path: a period of 0, or a "
             "failed transfer); lra_f0 is " +
             std::to_string(r.lra_f0);
    case CallResult::F0::not_finished:
      return "not measured: the measurement did not finish (the driver's time-out path); lra_f0 keeps the "
             "expected " +
             hertz(r.lra_f0);
    case CallResult::F0::none:
      break;
  }
  return "";
}

std::string result_text(const CallResult& r) {
  std::string s = murvane_tools::call_text(r.call) + " -> ";
  if (r.call.name == "qualify_check") {
    return s + murvane_tools::status_text(static_cast<EFI_STATUS>(r.value));
  }
  if (r.call.name == "write_ram") {
    return murvane_tools::call_text(r.call) + " (returns nothing)";
  }
  return s + std::to_string(r.value);
}

}  // namespace

std::vector<CallResult> make_calls(host::Platform& platform, const std::vector<murvane_tools::SlotCall>& calls) {
  std::vector<CallResult> results;
  for (const murvane_tools::SlotCall& c : calls) {
    const size_t from = platform.events().size();
    const host::SlotResult sr = host::call_slot(platform, c.name, c.args);
    if (!sr.ok) {
      throw std::logic_error("--call " + c.name + ": " + sr.error);  // checked when the command line was read
    }
    CallResult r;
    r.call = c;
    r.value = sr.value;
    if (c.name == "get_f0") {
      r.lra_f0 = murvane::haptic_dev.lra_f0;
      r.f0 = f0_outcome(platform.events(), from);
    }
    results.push_back(r);
  }
  return results;
}

std::string calls_plan(const std::vector<murvane_tools::SlotCall>& calls) {
  if (calls.empty()) {
    return "";
  }
  std::string line = "  then:      the family's operations, in order: ";
  for (size_t i = 0; i < calls.size(); ++i) {
    const std::string use = murvane_tools::actuator_use(calls[i]);
    line += (i == 0 ? "" : ", ") + murvane_tools::call_text(calls[i]) + (use.empty() ? "" : " (" + use + ")");
  }
  return line + "\n";
}

void write_call_results(std::ostream& out, const std::vector<murvane_tools::SlotCall>& asked,
                        const std::vector<CallResult>& results, bool ran) {
  if (asked.empty()) {
    return;
  }
  if (!ran) {
    std::string names;
    for (const murvane_tools::SlotCall& c : asked) {
      names += (names.empty() ? "" : ", ") + murvane_tools::call_text(c);
    }
    out << label("") << names << ": not run (no family selected)\n";
    return;
  }
  for (const CallResult& r : results) {
    out << label("") << result_text(r) << '\n';
  }
  for (const CallResult& r : results) {
    if (r.f0 != CallResult::F0::none) {
      out << label("f0") << f0_text(r) << '\n';
    }
  }
}

std::string failed_measurement(const std::vector<CallResult>& results) {
  for (const CallResult& r : results) {
    if (r.f0 == CallResult::F0::zero_period || r.f0 == CallResult::F0::not_finished) {
      return "get_f0: " + f0_text(r);
    }
  }
  return "";
}

}  // namespace murvane_board
