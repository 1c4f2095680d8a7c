#include "tools/murvane-sim/report.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <optional>
#include <string_view>

#include "core/family.h"
#include "core/identify.h"
#include "core/regs.h"
#include "core/waveform.h"
#include "platform/log.h"
#include "platform/protocols.h"
#include "tools/common/event_text.h"
#include "tools/common/reg_names.h"

namespace murvane_sim {

using murvane_tools::identifier_read;
using murvane_tools::printf_string;
using murvane_tools::status_text;

namespace {

constexpr uint64_t waveform_base = murvane::waveform_sram_base;

using host::hex2;
std::string micros(uint64_t ns) { return murvane_tools::micros(ns); }

std::string result_text(const CallResult& r) {
  std::string s = r.fn;
  if (!r.args.empty()) {
    s += "(";
    for (size_t i = 0; i < r.args.size(); ++i) {
      s += (i == 0 ? "" : ", ") + std::to_string(r.args[i]);
    }
    s += ")";
  }
  if (r.is_status) {
    s += " -> " + status_text(static_cast<EFI_STATUS>(r.value));
  } else if (r.has_value) {
    s += " -> " + std::to_string(r.value);
  }
  return s;
}

void write_sram_check(std::ostream& out, const sim::chip_model& chip) {
  const uint32_t len = murvane::waveform_image_len;
  size_t differ = 0;
  size_t first = 0;
  for (size_t i = 0; i < len; ++i) {
    if (chip.sram()[waveform_base + i] != murvane::waveform_image[i]) {
      if (differ++ == 0) {
        first = i;
      }
    }
  }
  if (differ == 0) {
    out << "holds the image exactly (" << len << " bytes)\n";
    return;
  }
  out << "does NOT hold the image: " << differ << " of " << len << " bytes differ (first at "
      << printf_string("0x%04zX: 0x%02X, image 0x%02X", static_cast<size_t>(waveform_base + first),
                       chip.sram()[waveform_base + first], murvane::waveform_image[first])
      << "); " << chip.sram_bytes_written() << " bytes written to SRAM in all\n";
}

std::string label(const char* name) { return printf_string("%-14s", name); }

}  // namespace

namespace {

// "selected family zq310x", or why none was: the identifier the chip gave.
std::string selection_text(const Simulation& sim) {
  if (!sim.selected_family().empty()) {
    return "selected family " + sim.selected_family();
  }
  const std::optional<uint32_t> id = identifier_read(sim.platform().events());
  if (!id.has_value()) {
    return "no family selected (no identifier read)";
  }
  return printf_string("no family selected (identifier read: 0x%04X%s)", *id,
                       murvane::find_chip_id(*id) == nullptr ? ", not a known model" : "");
}

void write_chip(std::ostream& out, const Simulation& sim) {
  const Scenario& s = sim.scenario();
  sim::ModelHandle* chip = sim.chip();
  out << label("chip");
  if (chip == nullptr) {
    out << "absent (nothing answers on the bus)\n";
  } else {
    out << chip->info().name << ", family " << chip->info().family_name;
    if (s.chip_id.has_value()) {
      out << printf_string(", reporting identifier 0x%X instead of its own 0x%X", *s.chip_id, chip->info().id);
    }
    out << '\n';
  }
}

// One line per call into the driver: what it returned, and when.
void write_calls(std::ostream& out, const Simulation& sim) {
  bool first = true;
  for (const CallResult& r : sim.results()) {
    std::string timing;
    if (r.go_ns != 0) {
      timing += "GO after ";
      timing += micros(r.go_ns - r.start_ns);
      timing += " us, ";
    }
    timing += "returned after ";
    timing += micros(r.end_ns - r.start_ns);
    timing += " us";
    out << label(first ? "calls" : "") << printf_string("%-34s ", result_text(r).c_str()) << timing << '\n';
    first = false;
  }
  if (first) {
    out << label("calls") << "none\n";
  }
}

// The chip model's violations, grouped by register and kind: one bad
// stream is one line, not 146.
void write_violations(std::ostream& out, const sim::chip_model& m) {
  out << label("violations");
  if (m.violation_count() == 0) {
    out << "none\n";
    return;
  }
  out << m.violation_count() << '\n';
  struct Group {
    uint8_t reg;
    const char* what;
    uint8_t first_value;
    size_t count;
  };
  std::vector<Group> groups;
  for (size_t i = 0; i < m.violations_kept(); ++i) {
    const sim::violation& v = m.violation_at(i);
    auto g = std::find_if(groups.begin(), groups.end(),
                          [&](const Group& x) { return x.reg == v.reg && std::string_view(x.what) == v.what; });
    if (g == groups.end()) {
      groups.push_back({v.reg, v.what, v.value, 1});
    } else {
      ++g->count;
    }
  }
  for (const Group& g : groups) {
    out << label("") << hex2(g.reg) << ": " << g.what << " (" << g.count << (g.count == 1 ? " time" : " times")
        << ", first value " << hex2(g.first_value) << ")\n";
  }
  if (m.violation_count() > m.violations_kept()) {
    out << label("") << "(" << m.violation_count() << " in all; the model keeps the first " << m.violations_kept()
        << ")\n";
  }
}

void write_summary(std::ostream& out, const Simulation& sim) {
  write_chip(out, sim);
  out << label("driver") << selection_text(sim) << '\n';
  write_calls(out, sim);

  const sim::Counters& c = sim.platform().counters();
  out << label("transfers") << c.reads << " reads, " << c.writes << " writes, " << c.failed << " failed\n";
  out << label("stalls") << c.stall_us << " us in " << c.stalls << " waits\n";
  out << label("modeled time") << micros(sim.platform().now_ns()) << " us in all\n";
  sim::ModelHandle* chip = sim.chip();
  if (chip == nullptr) {
    return;
  }
  const sim::chip_model& m = chip->model();
  out << label("SRAM 0x0800");
  if (m.sram_bytes_written() == 0) {
    // Nothing was downloaded: comparing with the image would only count
    // the power-on contents as "differing".
    out << "not loaded\n";
  } else {
    write_sram_check(out, m);
  }
  write_violations(out, m);
}

}  // namespace

std::string naming_family(const Simulation& sim) {
  if (!sim.selected_family().empty()) {
    return sim.selected_family();
  }
  return sim.chip() != nullptr ? sim.chip()->info().family_name : "";
}

void write_report(std::ostream& out, const Simulation& sim) {
  murvane_tools::write_log_and_trace(out, sim.platform().events(), naming_family(sim));
  out << "\n== Summary ==\n";
  write_summary(out, sim);
}

}  // namespace murvane_sim
