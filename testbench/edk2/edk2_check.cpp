// The checks of murvane-edk2-check (edk2_check.h).
#include "testbench/edk2/edk2_check.h"

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <sstream>

#include "core/driver_state.h"
#include "sim/model_factory.h"
#include "sim/virtual_platform.h"

namespace edk2check {

using fwcheck::comparison;
using fwcheck::split_lines;
using fwcheck::starts_with;

namespace {

std::string hex_digits(unsigned v) {
  static const char* digits = "0123456789ABCDEF";
  return {digits[(v >> 4) & 0xF], digits[v & 0xF]};
}

}  // namespace

void fail(comparison& c, const std::string& what) {
  c.ok = false;
  c.report.push_back("FAILED: " + what);
}

void compare_sequences(comparison& c, const std::string& what, const std::vector<std::string>& want,
                       const std::vector<std::string>& got) {
  if (want == got) {
    c.report.push_back(what + ": " + std::to_string(got.size()) + " lines, identical");
    return;
  }
  size_t i = 0;
  while (i < want.size() && i < got.size() && want[i] == got[i]) {
    ++i;
  }
  fail(c, what + ": " + std::to_string(want.size()) + " expected, " + std::to_string(got.size()) +
              " seen, first difference at line " + std::to_string(i + 1));
  const size_t from = i >= 3 ? i - 3 : 0;
  for (size_t k = from; k < i + 4 && (k < want.size() || k < got.size()); ++k) {
    c.report.push_back(std::string(k == i ? "  > " : "    ") + std::to_string(k + 1) + ": expected \"" +
                       (k < want.size() ? want[k] : "(nothing)") + "\", seen \"" +
                       (k < got.size() ? got[k] : "(nothing)") + "\"");
  }
}

std::vector<std::string> dry_run_events(const std::string& jsonl) {
  std::vector<std::string> out;
  std::istringstream in(jsonl);
  std::string line;
  std::optional<bool> held;
  while (std::getline(in, line)) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) {
      continue;
    }
    const nlohmann::json e = nlohmann::json::parse(line);
    const std::string ev = e.value("ev", "");
    if (ev == "pin_set") {
      const bool now_held = e.at("level").get<int>() == 0;
      if (!held.has_value() || *held != now_held) {
        out.push_back(std::string("reset line: ") + (now_held ? "held" : "released"));
      }
      held = now_held;
    } else if (ev == "i2c_read" || ev == "i2c_write") {
      const bool write = ev == "i2c_write";
      const bool failed = e.at("status").get<int>() != 0;
      std::string s = "i2c: " + hex_digits(e.at("config").at(1).get<unsigned>()) + (write ? " w " : " r ") +
                      hex_digits(e.at("reg").get<unsigned>());
      if (write || !failed) {
        s += " " + hex_digits(e.at("value").get<unsigned>());
      }
      if (failed) {
        s += " nack";
      }
      out.push_back(s);
    }
  }
  return out;
}

std::vector<int> dry_run_reset_levels(const std::string& jsonl) {
  std::vector<int> levels;
  for (const std::string& e : dry_run_events(jsonl)) {
    if (e == "reset line: held") {
      levels.push_back(0);
    } else if (e == "reset line: released") {
      levels.push_back(1);
    }
  }
  return levels;
}

comparison check_pl061(const std::string& trace, unsigned line, bool active_low, const std::vector<int>& reset_levels) {
  comparison c;
  // What the PL061 drives on each line after each register update: the data
  // bit where the direction bit makes it an output, nothing elsewhere.
  static const std::regex update(R"(pl061_update .* GPIODIR 0x([0-9a-fA-F]+) GPIODATA 0x([0-9a-fA-F]+))");
  static const std::regex write(R"(pl061_write .* offset 0x([0-9a-fA-F]+) value 0x([0-9a-fA-F]+))");
  const unsigned mask = 1u << line;
  // The configured line as the PL061 drives it (each change once), and the
  // chip's reset line behind it: released while the PL061 does not drive it
  // (the board's pull), the PL061's level otherwise, inverted on an
  // active-low board.
  std::vector<int> driven;
  std::vector<int> chip = {1};
  std::vector<std::string> others;
  size_t writes = 0;
  for (const std::string& l : split_lines(trace)) {
    std::smatch m;
    if (std::regex_search(l, m, update)) {
      const unsigned dir = std::stoul(m[1].str(), nullptr, 16);
      const unsigned data = std::stoul(m[2].str(), nullptr, 16);
      if ((dir & ~mask & 0xFF) != 0) {
        others.push_back("lines 0x" + hex_digits(dir & ~mask & 0xFF) + " made outputs: " + l);
      }
      int level = 1;
      if ((dir & mask) != 0) {
        const int gpio = (data & mask) != 0 ? 1 : 0;
        if (driven.empty() || driven.back() != gpio) {
          driven.push_back(gpio);
        }
        level = active_low ? 1 - gpio : gpio;
      }
      if (chip.back() != level) {
        chip.push_back(level);
      }
    } else if (std::regex_search(l, m, write)) {
      ++writes;
      const unsigned offset = std::stoul(m[1].str(), nullptr, 16);
      const unsigned value = std::stoul(m[2].str(), nullptr, 16);
      // The data register takes its line mask from address bits 9..2.
      const bool data_write = offset < 0x400 && ((offset >> 2) & ~mask) == 0;
      const bool dir_write = offset == 0x400 && (value & ~mask) == 0;
      if (!data_write && !dir_write) {
        others.push_back("a write that reaches beyond line " + std::to_string(line) + ": " + l);
      }
    }
  }
  std::vector<int> want = {1};
  for (const int level : reset_levels) {
    if (want.back() != level) {
      want.push_back(level);
    }
  }
  auto text = [](const std::vector<int>& v, const char* low, const char* high) {
    std::string s;
    for (const int x : v) {
      s += s.empty() ? "" : ", ";
      s += x != 0 ? high : low;
    }
    return s.empty() ? std::string("never driven") : s;
  };
  const size_t pulses = (want.size() - 1) / 2;
  const std::string gpio =
      "PL061 line " + std::to_string(line) + (driven.empty() ? " " : " driven ") + text(driven, "low", "high");
  if (chip == want) {
    c.report.push_back(gpio + "; the chip's reset line (" + (active_low ? "active-low" : "active-high") +
                       "): " + text(chip, "held", "released") + ", " + std::to_string(pulses) + " reset pulse" +
                       (pulses == 1 ? "" : "s") + ", as in the dry run");
  } else {
    fail(c, gpio + "; the chip's reset line (" + (active_low ? "active-low" : "active-high") +
                "): " + text(chip, "held", "released") + "; the dry run's: " + text(want, "held", "released"));
  }
  if (others.empty()) {
    c.report.push_back("PL061: " + std::to_string(writes) + " register writes, no other line touched");
  }
  for (const std::string& o : others) {
    fail(c, "PL061: " + o);
  }
  return c;
}

// The host run of a driver whose Open the bridge refuses with `status`:
// the virtual platform's Open fails (with its own status, put back as the
// bridge's).
fwcheck::run_record run_open_refused(const fwsim::scenario& sc, uint32_t status) {
  murvane::reset_driver_state();
  std::unique_ptr<sim::ModelHandle> chip;
  if (sc.model != nullptr) {
    chip = sim::make_model(sc.model->name);
    fwsim::apply_scenario(sc, chip->model());
  }
  sim::PlatformOptions options;
  options.i2c = sim::I2cMode::open_fails;
  fwcheck::run_record r;
  {
    sim::VirtualPlatform p(chip != nullptr ? &chip->model() : nullptr, options);
    fwcheck::run_calls(p, 1, r);
  }
  const std::string from = " I2C " + std::to_string(sim::i2c_open_fail_status) + "\n";
  const std::string to = " I2C " + std::to_string(status) + "\n";
  for (std::string* log : {&r.entry_log, &r.start_log}) {
    std::string out;
    for (const std::string& l : split_lines(*log)) {
      std::string line = l + "\n";
      if (starts_with(line, "Failed to initialize instance ") && line.size() > from.size() &&
          line.compare(line.size() - from.size(), from.size(), from) == 0) {
        line.replace(line.size() - from.size(), from.size(), to);
      }
      out += line;
    }
    *log = out;
  }
  return r;
}

// The consumers' Starts (Consumer.efi) in the log, in order.
std::vector<part> consumer_starts(const std::string& log) {
  std::vector<part> starts;
  bool in = false;
  for (const std::string& l : split_lines(log)) {
    if (l == "[consumer] start: begin") {
      in = true;
      starts.push_back({"the consumer's Start " + std::to_string(starts.size() + 1), "", ""});
    } else if (in && starts_with(l, "[consumer] start: status ")) {
      in = false;
      starts.back().status = l.substr(std::string("[consumer] start: status ").size());
    } else if (in) {
      starts.back().log += l + "\n";
    }
  }
  return starts;
}

// The Shell's answer to the step typed after "[edk2] step: NAME".
std::string step_answer(const std::string& log, const std::string& name) {
  bool after = false;
  for (const std::string& l : split_lines(log)) {
    if (l == "[edk2] step: " + name) {
      after = true;
    } else if (after &&
               (starts_with(l, "Disconnect - ") || starts_with(l, "Connect - ") || starts_with(l, "Unload - "))) {
      return l;
    }
  }
  return "";
}

}  // namespace edk2check
