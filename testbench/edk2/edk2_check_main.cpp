// murvane-edk2-check: judges one boot through EDK2's own I2C stack and GPIO
// driver (testbench/edk2/edk2_boot.sh) by three witnesses:
//   - the driver's log, exactly the host run's (the bridge's own lines
//     taken out and checked apart);
//   - the register traffic the controller's master was asked for by EDK2's
//     host driver, and the reset line's changes it read from the PL061,
//     equal to the dry run's (murvane-board --dry-run; for no chip,
//     murvane-sim --chip absent);
//   - QEMU's own PL061 trace: on the configured line, exactly the dry run's
//     reset pulses at the configured polarity, and no other line driven.
//
//   murvane-edk2-check --scenario TEXT --serial FILE --pl061 FILE [--dry-run FILE.jsonl]
//                      [--qemu-status N] [--case boot|reconnect|master|unload]
//                      [--polarity active-high|active-low] [--line N]
//
// Exit 0 when the boot passes, 1 with the findings when not, 2 on bad use.
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "testbench/edk2/edk2_check.h"
#include "testbench/qemu/bridge_check.h"
#include "testbench/qemu/fw_check.h"

namespace {

using edk2check::fail;
using fwcheck::comparison;
using fwcheck::split_lines;
using fwcheck::starts_with;

int usage(const std::string& why) {
  std::cerr << "murvane-edk2-check: " << why << "\n"
            << "usage: murvane-edk2-check --scenario TEXT --serial FILE --pl061 FILE [--dry-run FILE.jsonl]\n"
            << "                          [--qemu-status N] [--case boot|reconnect|master|unload]\n"
            << "                          [--polarity active-high|active-low] [--line N]\n";
  return 2;
}

std::optional<std::string> read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    return std::nullopt;
  }
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

constexpr std::string_view controller_prefix = "[EdkController] ";

struct options {
  std::string scenario, serial, pl061, dry_run, case_name = "boot", polarity = "active-high";
  int qemu_status = 0;
  unsigned line = 5;
};

// The driver's entry, through the bridge in I2C IO mode on EDK2's stack.
void check_driver_log(comparison& c, const fwsim::scenario& sc, const std::string& log) {
  fwcheck::firmware_record fw = fwcheck::parse_serial(fwcheck::shell_transcript(log));
  if (!fw.saw_entry) {
    fail(c, "no driver entry in the log (no \"[fwtest] entry: begin\" ... Murvane.efi loaded line)");
    return;
  }
  fwcheck::bridge_boot io;
  io.io_mode = true;
  const fwcheck::run_record host = fwcheck::run_bridged_on_host(io, sc);
  std::vector<std::string> bridge_lines;
  std::vector<std::string> driver_lines;
  for (const std::string& l : split_lines(fw.run.entry_log)) {
    if (starts_with(l, "MurvaneBridge: ")) {
      bridge_lines.push_back(l);
    } else if (!l.empty()) {
      driver_lines.push_back(l);
    }
  }
  std::vector<std::string> host_lines;
  for (const std::string& l : split_lines(host.entry_log)) {
    if (!l.empty()) {
      host_lines.push_back(l);
    }
  }
  edk2check::compare_sequences(c, "driver's log during its entry, against the host run", host_lines, driver_lines);
  if (fw.run.entry_status == host.entry_status) {
    c.report.push_back("entry status: " + fw.run.entry_status);
  } else {
    fail(c, "entry status: host " + host.entry_status + ", firmware " + fw.run.entry_status);
  }
  const std::vector<std::string> want_bridge = {"MurvaneBridge: I2C IO device 0 of 1 has the board's DeviceGuid"};
  edk2check::compare_sequences(c, "bridge's lines during the entry (EDK2's bus driver: one I2C IO device)", want_bridge,
                               bridge_lines);
}

std::optional<int> read_arguments(int argc, char** argv, options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) {
      return usage(a + " needs a value");
    }
    const std::string v = argv[++i];
    if (a == "--scenario") {
      o.scenario = v;
    } else if (a == "--serial") {
      o.serial = v;
    } else if (a == "--pl061") {
      o.pl061 = v;
    } else if (a == "--dry-run") {
      o.dry_run = v;
    } else if (a == "--case") {
      o.case_name = v;
    } else if (a == "--polarity") {
      o.polarity = v;
    } else if (a == "--qemu-status" || a == "--line") {
      char* end = nullptr;
      const long n = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || n < 0 || n > 255 || (a == "--line" && n > 7)) {
        return usage(a + ": \"" + v + "\" is not a number in range");
      }
      if (a == "--line") {
        o.line = static_cast<unsigned>(n);
      } else {
        o.qemu_status = static_cast<int>(n);
      }
    } else {
      return usage("unknown argument " + a);
    }
  }
  if (o.scenario.empty() || o.serial.empty() || o.pl061.empty()) {
    return usage("--scenario, --serial and --pl061 are required");
  }
  if (o.case_name != "boot" && o.case_name != "reconnect" && o.case_name != "master" && o.case_name != "unload") {
    return usage("--case: \"" + o.case_name + "\" is not boot, reconnect, master or unload");
  }
  if (o.polarity != "active-high" && o.polarity != "active-low") {
    return usage("--polarity: \"" + o.polarity + "\" is not active-high or active-low");
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  options o;
  if (const std::optional<int> r = read_arguments(argc, argv, o)) {
    return *r;
  }
  fwsim::scenario sc = {};
  if (fwsim::parse_scenario(o.scenario.c_str(), o.scenario.size(), &sc) != fwsim::parse_status::ok) {
    return usage("--scenario: \"" + o.scenario + "\" is not a scenario");
  }
  const std::optional<std::string> raw = read_file(o.serial);
  const std::optional<std::string> trace = read_file(o.pl061);
  std::optional<std::string> dry;
  if (!o.dry_run.empty()) {
    dry = read_file(o.dry_run);
  }
  if (!raw || !trace || (!o.dry_run.empty() && !dry)) {
    std::cerr << "murvane-edk2-check: cannot read " << (!raw ? o.serial : !trace ? o.pl061 : o.dry_run) << "\n";
    return 1;
  }
  const std::string log = fwcheck::strip_console(*raw);
  comparison c;
  if (o.qemu_status != 0) {
    fail(c, "QEMU ended with status " + std::to_string(o.qemu_status) +
                " (125: stopped at a dead end; 124: the time-out), not by the script's reset -s");
  }
  std::vector<std::string> controller;
  std::string end_line;
  for (const std::string& l : split_lines(log)) {
    if (l.find("broken request: ") != std::string::npos) {
      fail(c, "the controller refused a request: " + l);
    }
    if (starts_with(l, controller_prefix)) {
      const std::string rest = l.substr(controller_prefix.size());
      if (starts_with(rest, "i2c: ") || starts_with(rest, "reset line: ")) {
        controller.push_back(rest);
      } else if (starts_with(rest, "end: ")) {
        end_line = rest;
      }
    }
  }
  if (end_line.empty()) {
    fail(c, "no \"[EdkController] end: ...\" line: the boot did not reach the controller's second load");
  } else if (end_line.find(" 0 not kept, ") == std::string::npos ||
             end_line.find(" 0 bad requests") == std::string::npos) {
    fail(c, "controller: " + end_line);
  } else {
    c.report.push_back("controller: " + end_line);
  }

  if (o.case_name == "boot") {
    check_driver_log(c, sc, log);
    if (!dry) {
      return usage("--case boot needs --dry-run");
    }
    edk2check::compare_sequences(c, "traffic at the master and reset-line changes at the PL061, against the dry run",
                                 edk2check::dry_run_events(*dry), controller);
    const comparison p =
        edk2check::check_pl061(*trace, o.line, o.polarity == "active-low", edk2check::dry_run_reset_levels(*dry));
    c.ok = c.ok && p.ok;
    c.report.insert(c.report.end(), p.report.begin(), p.report.end());
  }

  for (const std::string& r : c.report) {
    std::cout << r << "\n";
  }
  if (!c.ok) {
    std::cout << "---- serial log ----\n" << log;
    std::cout << "FAILED\n";
    return 1;
  }
  std::cout << "PASSED\n";
  return 0;
}
