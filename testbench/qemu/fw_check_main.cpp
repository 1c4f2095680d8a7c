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
// in that mode (testbench/qemu/bridge_check.h).
//
// Exit status 0 when the firmware run matches, 1 when it does not (the
// findings and the serial log are printed), 2 on a usage error.
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "testbench/qemu/bridge_check.h"
#include "testbench/qemu/fw_check.h"
#include "testbench/qemu/fw_verdict.h"

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

using fwcheck::options;

// Reads the arguments into `o`. Returns the exit status when the command
// ends here (a usage error), nothing when it goes on.
std::optional<int> read_arguments(int argc, char** argv, options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--scenario" && i + 1 < argc) {
      o.scenario_text = argv[++i];
      o.have_scenario = true;
    } else if (a == "--serial" && i + 1 < argc) {
      o.serial_path = argv[++i];
    } else if (a == "--qemu-status" && i + 1 < argc) {
      // A status that is not a number must not pass for QEMU's 0.
      const std::string n = argv[++i];
      if (n.empty() || n.size() > 3 || n.find_first_not_of("0123456789") != std::string::npos || std::stoi(n) > 255) {
        return usage(("--qemu-status takes QEMU's exit status, 0 to 255, not " + n).c_str());
      }
      o.qemu_status = std::stoi(n);
    } else if (a == "--expected") {
      o.expected = true;
    } else if (a == "--expect-halt") {
      o.expect_halt = true;
    } else if (a == "--consumer") {
      o.consumer = true;
    } else if (a == "--expect-refused") {
      o.expect_refused = true;
    } else if (a == "--bridge" && i + 1 < argc) {
      o.bridge_mode = argv[++i];
    } else if (a == "--board" && i + 1 < argc) {
      o.board_text = argv[++i];
    } else if (a == "--shell") {
      o.shell = true;
    } else if (a == "--loads" && i + 1 < argc) {
      const std::string n = argv[++i];
      if (n.empty() || n.size() > 1 || n[0] < '1' || n[0] > '8') {
        return usage(("--loads takes 1 to 8, not " + n).c_str());
      }
      o.loads = static_cast<unsigned>(n[0] - '0');
    } else if (a == "--guard" && i + 1 < argc) {
      const std::string g = argv[++i];
      if (g != "rng" && g != "counter") {
        return usage(("--guard takes rng or counter, not " + g).c_str());
      }
      o.guard = g == "rng" ? fwcheck::guard_source::rng : fwcheck::guard_source::counter;
    } else {
      return usage(("unexpected argument " + a).c_str());
    }
  }
  return std::nullopt;
}

// Parses the scenario and the bridge boot, and refuses the combinations of
// options that make no sense together.
std::optional<int> settle(options& o) {
  if (!o.have_scenario || (o.serial_path.empty() && !o.expected)) {
    return usage("missing arguments");
  }
  const char* bad = nullptr;
  const fwsim::parse_status ps = fwsim::parse_scenario(o.scenario_text.c_str(), o.scenario_text.size(), &o.sc, &bad);
  if (ps != fwsim::parse_status::ok) {
    return usage(("bad scenario \"" + o.scenario_text + "\": " + fwsim::parse_status_text(ps)).c_str());
  }
  if (o.expect_halt && o.expect_refused) {
    return usage("--expect-halt and --expect-refused exclude each other");
  }
  if (o.expect_halt != o.sc.stack_smash) {
    return usage("--expect-halt goes with a stacksmash scenario, and only with one");
  }
  if (o.loads > 1 && !o.shell) {
    return usage("--loads goes with --shell");
  }
  if (o.consumer && (o.expect_halt || o.expected)) {
    return usage("--consumer goes with --serial alone");
  }
  if (!o.bridge_mode.empty()) {
    std::string why;
    if (!fwcheck::parse_bridge_boot(o.bridge_mode, o.board_text, &o.bridge, &why)) {
      return usage(why.c_str());
    }
    if (o.consumer || o.expect_halt || o.expect_refused || o.loads != 1) {
      return usage("--bridge goes with a normal boot only");
    }
  } else if (!o.board_text.empty()) {
    return usage("--board goes with --bridge");
  }
  return std::nullopt;
}

// The firmware's serial log without console escapes; for a Shell boot, the
// part the Shell's transcript leaves. `opened` tells whether it could be read.
std::string read_serial(const options& o, bool* opened) {
  std::ifstream in(o.serial_path, std::ios::binary);
  std::stringstream raw;
  raw << in.rdbuf();
  *opened = in.is_open();
  std::string log = fwcheck::strip_console(raw.str());
  if (o.shell) {
    log = fwcheck::shell_transcript(log);
  }
  return log;
}

}  // namespace

int main(int argc, char** argv) {
  options o;
  if (const std::optional<int> done = read_arguments(argc, argv, o)) {
    return *done;
  }
  if (const std::optional<int> done = settle(o)) {
    return *done;
  }
  const fwcheck::run_record host = o.bridge_mode.empty() ? fwcheck::run_on_host(o.sc, o.consumer, o.loads)
                                                         : fwcheck::run_bridged_on_host(o.bridge, o.sc);
  if (o.expected) {
    print_expected(host);
    return 0;
  }
  bool opened = false;
  const std::string log = read_serial(o, &opened);
  fwcheck::firmware_record fw = fwcheck::parse_serial(log);
  const fwcheck::comparison c = fwcheck::judge(o, host, fw, log, opened);
  return fwcheck::report(std::cout, o, host, fw, c, log);
}
