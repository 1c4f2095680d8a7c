// murvane-fw-check: judges one QEMU boot of the firmware test disk against
// the same chip on the host virtual platform.
//
//   murvane-fw-check --scenario "zq3201 noqualify" --serial serial.log [--qemu-status N]
//   murvane-fw-check --scenario zq3101 --expected     (what the firmware should print)
//   murvane-fw-check --scenario "absent stacksmash" --serial serial.log --expect-halt
//   murvane-fw-check --scenario zq3101 --serial serial.log --consumer
//     (the disk also carried Consumer.efi, the C consumer: check its part too)
//   murvane-fw-check --scenario zq3101 --serial serial.log --expect-refused   (Secure Boot refused the driver)
//
// --guard rng|counter requires the driver's stack guard from that source;
// --shell reads a boot in which the UEFI Shell loaded the driver; --loads N
// says it loaded it N times before the test application called Start (each
// load's output must be what a fresh image's entry prints on the host);
// --bridge master|io [--board TEXT] a boot on the fake board with the bridge
// in that mode (firmware/bridge_check.h).
//
// Exit status 0 when the firmware run matches, 1 when it does not (the
// findings and the serial log are printed), 2 on a usage error.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "firmware/bridge_check.h"
#include "firmware/fw_check.h"

namespace {

int usage(const char* why) {
  std::cerr
      << "murvane-fw-check: " << why << "\n"
      << "usage: murvane-fw-check --scenario TEXT (--serial FILE [--qemu-status N] [--expect-halt | --expect-refused]\n"
      << "                        [--guard rng|counter] [--shell [--loads N]] [--consumer]\n"
      << "                        [--bridge master|io [--board TEXT]] | --expected)\n";
  return 2;
}

void print_expected(const fwcheck::run_record& host) {
  const std::string p(fwcheck::line_prefix);
  std::cout << p << "entry: begin\n" << host.entry_log;
  std::cout << "\n" << p << "entry: status " << host.entry_status << "\n";
  std::cout << p << "start: begin\n" << host.start_log;
  std::cout << "\n" << p << "start: status " << host.start_status << "\n";
  for (const std::string& v : host.verdict) {
    std::cout << p << v << "\n";
  }
  std::cout << p << host.traffic << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::string scenario_text;
  std::string serial_path;
  bool expected = false;
  bool expect_halt = false;
  bool consumer = false;
  bool expect_refused = false;
  bool shell = false;
  unsigned loads = 1;
  fwcheck::guard_source guard = fwcheck::guard_source::any;
  bool have_scenario = false;
  int qemu_status = 0;
  std::string bridge_mode;
  std::string board_text;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--scenario" && i + 1 < argc) {
      scenario_text = argv[++i];
      have_scenario = true;
    } else if (a == "--serial" && i + 1 < argc) {
      serial_path = argv[++i];
    } else if (a == "--qemu-status" && i + 1 < argc) {
      qemu_status = std::atoi(argv[++i]);
    } else if (a == "--expected") {
      expected = true;
    } else if (a == "--expect-halt") {
      expect_halt = true;
    } else if (a == "--consumer") {
      consumer = true;
    } else if (a == "--expect-refused") {
      expect_refused = true;
    } else if (a == "--bridge" && i + 1 < argc) {
      bridge_mode = argv[++i];
    } else if (a == "--board" && i + 1 < argc) {
      board_text = argv[++i];
    } else if (a == "--shell") {
      shell = true;
    } else if (a == "--loads" && i + 1 < argc) {
      const std::string n = argv[++i];
      if (n.empty() || n.size() > 1 || n[0] < '1' || n[0] > '8') {
        return usage(("--loads takes 1 to 8, not " + n).c_str());
      }
      loads = static_cast<unsigned>(n[0] - '0');
    } else if (a == "--guard" && i + 1 < argc) {
      const std::string g = argv[++i];
      if (g != "rng" && g != "counter") {
        return usage(("--guard takes rng or counter, not " + g).c_str());
      }
      guard = g == "rng" ? fwcheck::guard_source::rng : fwcheck::guard_source::counter;
    } else {
      return usage(("unexpected argument " + a).c_str());
    }
  }
  if (!have_scenario || (serial_path.empty() && !expected)) {
    return usage("missing arguments");
  }
  fwsim::scenario sc = {};
  const char* bad = nullptr;
  const fwsim::parse_status ps = fwsim::parse_scenario(scenario_text.c_str(), scenario_text.size(), &sc, &bad);
  if (ps != fwsim::parse_status::ok) {
    return usage(("bad scenario \"" + scenario_text + "\": " + fwsim::parse_status_text(ps)).c_str());
  }
  if (expect_halt && expect_refused) {
    return usage("--expect-halt and --expect-refused exclude each other");
  }
  if (expect_halt != sc.stack_smash) {
    return usage("--expect-halt goes with a stacksmash scenario, and only with one");
  }
  if (loads > 1 && !shell) {
    return usage("--loads goes with --shell");
  }
  if (consumer && (expect_halt || expected)) {
    return usage("--consumer goes with --serial alone");
  }
  fwcheck::bridge_boot bridge;
  if (!bridge_mode.empty()) {
    std::string why;
    if (!fwcheck::parse_bridge_boot(bridge_mode, board_text, &bridge, &why)) {
      return usage(why.c_str());
    }
    if (consumer || expect_halt || expect_refused || loads != 1) {
      return usage("--bridge goes with a normal boot only");
    }
  } else if (!board_text.empty()) {
    return usage("--board goes with --bridge");
  }
  const fwcheck::run_record host =
      bridge_mode.empty() ? fwcheck::run_on_host(sc, consumer, loads) : fwcheck::run_bridged_on_host(bridge, sc);
  if (expected) {
    print_expected(host);
    return 0;
  }

  std::ifstream in(serial_path, std::ios::binary);
  std::stringstream raw;
  raw << in.rdbuf();
  std::string log = fwcheck::strip_console(raw.str());
  if (shell) {
    log = fwcheck::shell_transcript(log);
  }
  fwcheck::firmware_record fw = fwcheck::parse_serial(log);
  fwcheck::comparison bridged;
  if (!bridge_mode.empty()) {
    bridged = fwcheck::take_bridge_lines(bridge, fw, log);
  }
  fwcheck::comparison c = expect_halt      ? fwcheck::check_stack_guard_halt(log)
                          : expect_refused ? fwcheck::check_refused(fw)
                                           : fwcheck::compare(host, fw, guard);
  if (!bridge_mode.empty()) {
    c.ok = c.ok && bridged.ok;
    c.report.insert(c.report.end(), bridged.report.begin(), bridged.report.end());
  }
  if (consumer) {
    const fwcheck::comparison cc = fwcheck::compare_consumer(host, fw);
    c.ok = c.ok && cc.ok;
    c.report.insert(c.report.end(), cc.report.begin(), cc.report.end());
  }
  if (qemu_status == 124) {
    c.ok = false;
    c.report.insert(c.report.begin(), "QEMU: timed out (a crash or a hang: it never powered off)");
  } else if (qemu_status == 125) {
    c.ok = false;
    c.report.insert(c.report.begin(), "QEMU: stopped where the firmware went no further (a dead end, see above)");
  } else if (qemu_status != 0) {
    c.ok = false;
    c.report.insert(c.report.begin(), "QEMU: exited with status " + std::to_string(qemu_status));
  }
  if (!in.is_open()) {
    c.ok = false;
    c.report.insert(c.report.begin(), "serial log " + serial_path + ": cannot read");
  }

  std::cout << "scenario: " << scenario_text << "\n";
  for (const std::string& line : c.report) {
    std::cout << "  " << line << "\n";
  }
  if (!expect_halt && !expect_refused && !fw.bus.empty()) {
    std::cout << "  firmware " << fw.bus << "\n";
  }
  if (sc.model != nullptr && !sc.noqualify && sc.override_count == 0 && !host.healthy) {
    std::cout << "  note: on the host too this chip does not end up playing the waveform cleanly\n";
  }
  if (!c.ok) {
    std::cout << (expect_halt      ? "FAILED: the stack-guard check did not stop the boot as expected\n"
                  : expect_refused ? "FAILED: the firmware did not refuse the driver as expected\n"
                                   : "FAILED: the firmware run differs from the host virtual platform\n")
              << "---- serial log (escape sequences and CR removed) ----\n"
              << log << (log.empty() || log.back() == '\n' ? "" : "\n") << "---- end of serial log ----\n";
    return 1;
  }
  std::cout << "PASSED\n";
  return 0;
}
