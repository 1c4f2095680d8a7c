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
// --case says what the boot did after the driver's entry (edk2_boot.sh):
//   boot       nothing more: one bring-up;
//   reconnect  `disconnect` of the controller, then a consumer's Start must
//              fail with the bridge's "no EFI_I2C_IO_PROTOCOL" (no transfer,
//              no pulse), then `connect` and a Start that brings the chip up:
//              two bring-ups;
//   unload     `unload` of the bridge is refused (Unsupported) and a Start
//              still brings the chip up: two bring-ups;
//   master     the bridge in master mode refuses EDK2's host's master (one
//              line naming io mode): no transfer, no pulse.
//
//   murvane-edk2-check --scenario TEXT --serial FILE --pl061 FILE --dry-run FILE.jsonl
//                      [--qemu-status N] [--case boot|reconnect|master|unload]
//                      [--polarity active-high|active-low] [--line N]
//
// Exit 0 when the boot passes, 1 with the findings when not, 2 on bad use.
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bridge/bridge.h"
#include "testbench/edk2/edk2_check.h"
#include "testbench/qemu/bridge_check.h"
#include "testbench/qemu/fw_check.h"

namespace {

using edk2check::fail;
using fwcheck::comparison;
using fwcheck::split_lines;
using fwcheck::starts_with;

int usage(const std::string& why) {
  std::cerr << "murvane-edk2-check: " << why
            << " (usage: --scenario TEXT --serial FILE --pl061 FILE --dry-run FILE.jsonl [--qemu-status N]"
               " [--case boot|reconnect|master|unload] [--polarity active-high|active-low] [--line N])\n";
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

// A part of the driver's output (its entry, or a consumer's Start): the
// driver's own lines against the host's, the bridge's lines apart, and the
// status.
using edk2check::part;

void check_part(comparison& c, const part& fw, const std::string& host_log, const std::string& host_status,
                const std::vector<std::string>& bridge_want) {
  std::vector<std::string> bridge_lines;
  std::vector<std::string> driver_lines;
  for (const std::string& l : split_lines(fw.log)) {
    if (starts_with(l, "MurvaneBridge: ")) {
      bridge_lines.push_back(l);
    } else if (!l.empty()) {
      driver_lines.push_back(l);
    }
  }
  std::vector<std::string> host_lines;
  for (const std::string& l : split_lines(host_log)) {
    if (!l.empty()) {
      host_lines.push_back(l);
    }
  }
  edk2check::compare_sequences(c, "driver's log during " + fw.name + ", against the host run", host_lines,
                               driver_lines);
  if (fw.status == host_status) {
    c.report.push_back(fw.name + ": status " + fw.status);
  } else {
    fail(c, fw.name + ": status " + fw.status + ", the host run's " + host_status);
  }
  edk2check::compare_sequences(c, "bridge's lines during " + fw.name, bridge_want, bridge_lines);
}

std::optional<int> read_arguments(int argc, char** argv, options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    static const char* const known[] = {"--scenario", "--serial",   "--pl061", "--dry-run",
                                        "--case",     "--polarity", "--line",  "--qemu-status"};
    if (std::find(std::begin(known), std::end(known), a) == std::end(known)) {
      return usage("unknown argument " + a);
    }
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
        std::string why = a;
        why += ": \"";
        why += v;
        why += "\" is not a number in range";
        return usage(why);
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
  if (o.scenario.empty() || o.serial.empty() || o.pl061.empty() || o.dry_run.empty()) {
    return usage("--scenario, --serial, --pl061 and --dry-run are required");
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
  const std::optional<std::string> dry = read_file(o.dry_run);
  if (!raw || !trace || !dry) {
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

  fwcheck::firmware_record fw = fwcheck::parse_serial(fwcheck::shell_transcript(log));
  if (!fw.saw_entry) {
    fail(c, "no driver entry in the log (no \"[fwtest] entry: begin\" ... Murvane.efi loaded line)");
  }
  const part entry = {"its entry", fw.run.entry_log, fw.run.entry_status};
  fwcheck::bridge_boot io;
  io.io_mode = true;
  const fwcheck::run_record host = fwcheck::run_bridged_on_host(io, sc);
  const std::string io_line = "MurvaneBridge: I2C IO device 0 of 1 has the board's DeviceGuid";
  const std::vector<std::string> dry_events = edk2check::dry_run_events(*dry);
  const std::vector<int> dry_levels = edk2check::dry_run_reset_levels(*dry);
  // How many bring-ups reach the chip: the traffic and the pulses are the
  // dry run's, that many times over.
  unsigned bring_ups = 1;
  const std::vector<part> starts = edk2check::consumer_starts(log);
  auto want_starts = [&](size_t n) {
    if (starts.size() != n) {
      fail(c, std::to_string(starts.size()) + " consumer Starts in the log, " + std::to_string(n) + " expected");
      return false;
    }
    return true;
  };
  auto want_step = [&](const std::string& name, const std::string& head, const std::string& result) {
    const std::string a = edk2check::step_answer(log, name);
    if (starts_with(a, head) && a.size() >= result.size() &&
        a.compare(a.size() - result.size(), result.size(), result) == 0) {
      c.report.push_back("`" + name + "`: " + a);
    } else {
      fail(c, "`" + name + "`: expected \"" + head + "... " + result + "\", got \"" + a + "\"");
    }
  };
  if (o.case_name == "boot") {
    check_part(c, entry, host.entry_log, host.entry_status, {io_line});
  } else if (o.case_name == "reconnect") {
    check_part(c, entry, host.entry_log, host.entry_status, {io_line});
    want_step("disconnect", "Disconnect - ", "Result Success.");
    want_step("connect", "Connect - ", "Result Success.");
    if (want_starts(2)) {
      const fwcheck::run_record refused = edk2check::run_open_refused(sc, murvane::bridge::status_not_found);
      check_part(c, starts[0], refused.start_log, refused.start_status,
                 {"MurvaneBridge: no EFI_I2C_IO_PROTOCOL - Not Found"});
      check_part(c, starts[1], host.start_log, host.start_status, {io_line});
    }
    bring_ups = 2;
  } else if (o.case_name == "unload") {
    check_part(c, entry, host.entry_log, host.entry_status, {io_line});
    // The bridge has no unload function: UEFI's answer is Unsupported, and
    // its protocols stay, so a later Start brings the chip up again.
    want_step("unload", "Unload - ", "Result Unsupported.");
    if (want_starts(1)) {
      check_part(c, starts[0], host.start_log, host.start_status, {io_line});
    }
    bring_ups = 2;
  } else {  // master
    const fwcheck::run_record refused = edk2check::run_open_refused(sc, murvane::bridge::status_host_owned);
    check_part(c, entry, refused.entry_log, refused.entry_status,
               {"MurvaneBridge: I2C master 0 is EDK2's I2C host's: build the bridge in io mode"});
    bring_ups = 0;
  }
  std::vector<std::string> want_events;
  std::vector<int> want_levels;
  for (unsigned k = 0; k < bring_ups; ++k) {
    want_events.insert(want_events.end(), dry_events.begin(), dry_events.end());
    want_levels.insert(want_levels.end(), dry_levels.begin(), dry_levels.end());
  }
  edk2check::compare_sequences(c,
                               "traffic at the master and reset-line changes at the PL061, against the dry run's " +
                                   std::to_string(bring_ups) + " time(s)",
                               want_events, controller);
  const comparison p = edk2check::check_pl061(*trace, o.line, o.polarity == "active-low", want_levels);
  c.ok = c.ok && p.ok;
  c.report.insert(c.report.end(), p.report.begin(), p.report.end());

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
