// murvane-board: runs the Murvane driver's own bring-up on a Linux board's
// real chip, over i2c-dev and the GPIO character device, and shows what the
// driver did as murvane-sim shows a simulated run.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "tools/common/bus.h"
#include "tools/common/calls.h"
#include "tools/common/capture_check.h"
#include "tools/common/command_line.h"
#include "tools/common/event_text.h"
#include "tools/common/vcd.h"
#include "tools/murvane-board/dry_run.h"
#include "tools/murvane-board/run.h"

namespace {

using murvane_tools::one_line;
using murvane_tools::UsageError;

using murvane_tools::exit_bad_input;
using murvane_tools::exit_other;
constexpr int exit_complete = 0;

constexpr const char* command = "murvane-board";
// Beyond any GPIO chip's lines; the chip's own count is checked on the board.
constexpr uint32_t max_line_offset = 65535;

// "1" is /dev/i2c-1 (or /dev/gpiochip1); a path is taken as it is.
std::string device_path(const std::string& text, const std::string& prefix) {
  if (!text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return prefix + text;
  }
  return text;
}

void write_vcd_of(const std::vector<host::Event>& events, const std::string& path, const std::string& comment) {
  murvane_tools::Waveform w = murvane_tools::draw_bus(events);
  w.comment = comment;
  murvane_tools::write_vcd_file(path, w);
}

// What the command line asks for.
struct Options {
  std::string bus;
  std::string address;
  std::string gpio_chip;
  std::string gpio_line;
  bool active_low = false;
  bool yes = false;
  bool dry_run = false;
  std::string chip = "zq3101";
  std::vector<std::string> call_words;
  murvane_tools::TraceRequest trace;
  bool quiet = false;
  std::string vcd_path;
  murvane_tools::CaptureRequest capture;
};

// Declares the board's options (defaults: the board's wiring) into `o`.
void declare_board_options(CLI::App& app, Options& o) {
  const murvane_board::BoardOptions defaults = murvane_board::default_board_options();
  o.bus = defaults.bus;
  o.gpio_chip = defaults.gpio_chip;
  o.gpio_line = std::to_string(defaults.gpio_line);
  app.add_option("--bus", o.bus, "The chip's I2C bus: /dev/i2c-N, or N (default: the board's, " + defaults.bus + ")")
      ->type_name("DEV");
  char default_address[8];
  static_cast<void>(std::snprintf(default_address, sizeof default_address, "0x%02X", defaults.address));
  o.address = default_address;
  app.add_option("--address", o.address,
                 std::string("The chip's 7-bit address (default: the board's, ") + default_address + ")")
      ->type_name("ADDR");
  app.add_option("--gpio-chip", o.gpio_chip,
                 "GPIO chip of the reset line: /dev/gpiochipN, or N (default " + defaults.gpio_chip + ")")
      ->type_name("DEV");
  app.add_option(
         "--gpio-line", o.gpio_line,
         "Line offset of the chip's reset pin on that GPIO chip (default: the board's reset GPIO, " + o.gpio_line + ")")
      ->type_name("N");
  app.add_flag("--gpio-active-low", o.active_low,
               "The line is inverted on its way to the chip's reset pin (a transistor stage): drive it high where "
               "the driver drives the pin low");
  app.add_flag("--yes,-y", o.yes, "Do not ask before the run");
  app.add_flag(
      "--dry-run", o.dry_run,
      "Open nothing: run against a simulated kernel and chip model (--chip) and print every request it would send");
  app.add_option("--chip", o.chip,
                 "The dry run's (and the capture check's) chip model (" + murvane_board::dry_run_chip_range() +
                     ", or absent; default zq3101)")
      ->type_name("NAME");
  murvane_tools::declare_call_option(app, o.call_words);
}

// Declares the output options and the capture check into `o`.
void declare_output_options(CLI::App& app, Options& o) {
  murvane_tools::declare_trace_options(app, o.trace);
  app.add_flag("--quiet", o.quiet, "Print nothing but errors (and the question before the run)");
  app.add_option("--vcd", o.vcd_path, "Write the run's I2C bus (SCL, SDA) and reset pin (RST) as a Value Change Dump")
      ->type_name("FILE");
  murvane_tools::declare_capture_options(
      app, o.capture,
      "Touch no hardware: compare a capture of the board's bus (VCD, sigrok session, or sigrok-cli's "
      "decoded I2C text) with the driver's traffic on a healthy --chip, as murvane-sim does; prints "
      "'matches' (exit 0) or the first departing transfer (exit 1)");
}

// The board and the run the options name, every option checked before the
// board is touched (an output path with a typo must not cost a bring-up);
// throws UsageError.
murvane_board::RunOptions settle(const CLI::App& app, Options& o) {
  murvane_board::RunOptions options;
  options.board.bus = device_path(o.bus, "/dev/i2c-");
  options.board.address = static_cast<uint8_t>(
      murvane_tools::parse_number("--address", o.address, 0x03, 0x77, "a 7-bit device address (0x03 ... 0x77)"));
  options.board.gpio_chip = device_path(o.gpio_chip, "/dev/gpiochip");
  options.board.gpio_line = murvane_tools::parse_number(
      "--gpio-line", o.gpio_line, 0, max_line_offset, "a line offset (0 ... " + std::to_string(max_line_offset) + ")");
  options.board.gpio_active_low = o.active_low;
  options.yes = o.yes || o.dry_run;
  options.calls = murvane_tools::parse_calls(o.call_words);
  if (const std::optional<std::string> problem = murvane_tools::chip_problem(o.chip)) {
    throw UsageError("--chip", *problem);
  }
  const bool check = app.count("--check-capture") > 0;
  if (app.count("--chip") > 0 && !o.dry_run && !check) {
    throw UsageError("--chip", "names the model of a dry run or a capture check: give --dry-run or --check-capture");
  }
  murvane_tools::check_trace_options(app, o.trace);
  murvane_tools::settle_capture_options(app, o.capture);
  murvane_tools::check_output_path("--trace", o.trace.path);
  murvane_tools::check_output_path("--vcd", o.vcd_path);
  return options;
}

// Reads the command line into `o` and `options`. Returns the exit status when
// the command ends here (--help, --version, an unusable option), nothing
// when it goes on.
std::optional<int> parse_options(int argc, char** argv, Options& o, murvane_board::RunOptions& options) {
  CLI::App app{
      "Runs the Murvane driver's own bring-up on the haptic chip of a Linux board, over /dev/i2c-N and the GPIO "
      "character device, then the chip family's operations asked for with --call (the actuator's resonant "
      "frequency: --call get_f0), and shows what the driver did: its debug log, its register traffic and a "
      "summary, as murvane-sim shows a simulated run.",
      command};
  murvane_tools::declare_version_flag(app, command);
  declare_board_options(app, o);
  declare_output_options(app, o);
  app.footer(
      "Exit status: 0 when the bring-up completed (the chip identified itself, every transfer was acknowledged, "
      "the driver reached its end with a calibrated chip) and so did the calls asked for (each ran, each get_f0 "
      "measured); 1 when they did not, or when the run was not confirmed; 2 "
      "when murvane-board refused to touch the board (a kernel driver owns the address, a device or the reset line "
      "cannot be opened or is busy) or for unusable options, with one line on standard error.");
  if (const std::optional<int> done = murvane_tools::parse_command_line(app, argc, argv, command)) {
    return done;
  }
  options = settle(app, o);
  return std::nullopt;
}

// --check-capture: the capture against a healthy chip's traffic, from a dry
// run on that chip model (the traffic murvane-sim makes, times included);
// the verdict is the exit status.
int check_capture(const Options& o, const murvane_board::RunOptions& options) {
  murvane_board::DryRun dry(o.chip, options.board);
  murvane_board::RunOptions healthy = options;
  healthy.yes = true;
  murvane_board::BoardRun run(*dry.system(), healthy);
  static_cast<void>(run.run());
  const std::string family = run.family().empty() ? dry.model_family() : run.family();
  return murvane_tools::print_capture_verdict(run.events(), family, o.capture.options, o.quiet);
}

// Writes the VCD and the trace asked for; false when one could not be written.
bool write_files(const Options& o, const murvane_board::BoardRun& run, const std::string& naming_family,
                 const std::string& bus, std::ofstream& trace_file) {
  bool written = true;
  if (!o.vcd_path.empty()) {
    try {
      write_vcd_of(run.events(), o.vcd_path,
                   std::string(o.dry_run ? "murvane-board dry run of " + o.chip : "murvane-board run") + " on " + bus);
    } catch (const std::runtime_error& e) {
      std::cerr << command << ": --vcd: " << one_line(e.what()) << '\n';
      written = false;
    }
  }
  if (!o.trace.path.empty() && !murvane_tools::write_trace(o.trace, run.events(), naming_family, trace_file, command)) {
    written = false;
  }
  return written;
}

// The report on standard output; a dry run lists its requests first.
void write_report(const Options& o, const murvane_board::BoardRun& run, const murvane_board::DryRun& dry,
                  const std::string& naming_family) {
  if (o.dry_run) {
    std::cout << "== Requests (dry run: a simulated kernel and a " << o.chip << " chip model; nothing opened) ==\n";
    for (const std::string& r : dry.requests()) {
      std::cout << r << '\n';
    }
    std::cout << '\n';
  }
  run.write_report(std::cout, naming_family,
                   o.dry_run ? "dry run: simulated kernel, chip model " + o.chip + ", its clock virtual" : "");
}

// The bring-up on the board (or, dry, on a simulated kernel and chip model),
// then its files and its report.
int bring_up(const Options& o, const murvane_board::RunOptions& options, std::ofstream& trace_file) {
  murvane_board::DryRun dry;
  murvane_board::LinuxSystem linux_system;
  murvane_board::System* system = &linux_system;
  if (o.dry_run) {
    dry = murvane_board::DryRun(o.chip, options.board);
    system = dry.system();
  }
  murvane_board::BoardRun run(*system, options);
  murvane_board::BoardRun::Outcome outcome{};
  try {
    outcome = run.run();
  } catch (const murvane_board::Refusal& r) {
    std::cerr << command << ": " << one_line(r.what()) << '\n';
    return exit_bad_input;
  }
  if (outcome == murvane_board::BoardRun::Outcome::declined) {
    std::cerr << command << ": " << run.verdict() << '\n';
    return exit_other;
  }

  const std::string naming_family = run.family().empty() ? dry.model_family() : run.family();
  int status = outcome == murvane_board::BoardRun::Outcome::complete ? exit_complete : exit_other;
  if (!write_files(o, run, naming_family, options.board.bus, trace_file)) {
    status = exit_other;
  }
  if (!o.quiet && o.trace.path != "-") {
    write_report(o, run, dry, naming_family);
  }
  std::cout.flush();
  if (!run.calls_verdict().empty()) {
    std::cerr << command << ": " << run.calls_verdict() << '\n';
  }
  if (run.verdict().rfind("complete", 0) != 0) {
    std::cerr << command << ": bring-up " << run.verdict() << '\n';
  }
  return std::cout ? status : exit_other;
}

int run_command(int argc, char** argv) {
  Options o;
  murvane_board::RunOptions options;
  if (const std::optional<int> done = parse_options(argc, argv, o, options)) {
    return *done;
  }
  if (!o.capture.options.path.empty()) {
    return check_capture(o, options);
  }
  // Opened before the board is touched, so none is lost.
  std::ofstream trace_file;
  if (!murvane_tools::open_trace_file(o.trace.path, command, trace_file)) {
    return exit_bad_input;
  }
  return bring_up(o, options, trace_file);
}

}  // namespace

int main(int argc, char** argv) { return murvane_tools::run_guarded(command, argc, argv, run_command); }
