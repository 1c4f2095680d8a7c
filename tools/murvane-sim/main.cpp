// murvane-sim: boots the driver's own code on the virtual platform against a
// simulated chip, under a scenario, and shows what the driver did.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <exception>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "host/harness.h"
#include "sim/models/model_table.h"
#include "tools/common/calls.h"
#include "tools/common/capture_check.h"
#include "tools/common/command_line.h"
#include "tools/common/event_text.h"
#include "tools/common/vcd.h"
#include "tools/murvane-sim/bus_files.h"
#include "tools/murvane-sim/report.h"
#include "tools/murvane-sim/run.h"
#include "tools/murvane-sim/scenario.h"

namespace {

using murvane_tools::one_line;

using murvane_tools::exit_bad_input;
using murvane_tools::exit_other;
constexpr int exit_ran = 0;

constexpr const char* command = "murvane-sim";

bool has_svg_extension(const std::string& path) {
  std::string ext = path.size() >= 4 ? path.substr(path.size() - 4) : "";
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".svg";
}

// What the command line asks for.
struct Options {
  std::string scenario_path;
  std::string chip;
  bool chip_given = false;  // --chip overrides the scenario's chip, even when empty
  murvane_tools::TraceRequest trace;
  bool quiet = false;
  std::string vcd_path;
  std::string timeline_path;
  murvane_tools::CaptureRequest capture;
  std::vector<std::string> call_words;
  std::vector<murvane_tools::SlotCall> calls;  // after the scenario's own
};

// Declares the options into `o`.
void declare_options(CLI::App& app, Options& o) {
  murvane_tools::declare_version_flag(app, command);
  app.add_option("scenario", o.scenario_path, "Scenario file (JSON). Without one: one entry call on a healthy chip")
      ->type_name("SCENARIO");
  app.add_option("--chip", o.chip,
                 std::string("Simulated chip (") + sim::model_infos[0].name + " ... " +
                     sim::model_infos[sim::model_info_count - 1].name + ", or absent); overrides the scenario's chip")
      ->type_name("NAME");
  murvane_tools::declare_call_option(app, o.call_words);
  murvane_tools::declare_trace_options(app, o.trace);
  app.add_flag("--quiet", o.quiet, "Print nothing but errors");
  app.add_option("--vcd", o.vcd_path,
                 "Write the run's I2C bus (SCL, SDA) and reset pin (RST) as a Value Change Dump for sigrok/PulseView")
      ->type_name("FILE");
  app.add_option("--timeline", o.timeline_path, "Draw the run on a time axis as an SVG picture")->type_name("FILE.svg");
  murvane_tools::declare_capture_options(
      app, o.capture,
      "Compare a capture (VCD, sigrok session, or sigrok-cli's decoded I2C text) with the driver's "
      "traffic in this run: a healthy --chip by default, the scenario's run when one is given; "
      "prints 'matches' (exit 0) or the first departing transfer (exit 1)");
  app.footer(
      "Exit status: 0 when the scenario ran to its end, whatever the driver returned; 2 for unusable input "
      "(one line on standard error names the file, the field and the problem); 1 for anything else.");
}

// What the options say together, checked once they are read; throws
// murvane_tools::UsageError.
void settle_options(const CLI::App& app, Options& o) {
  o.chip_given = app.count("--chip") > 0;
  o.calls = murvane_tools::parse_calls(o.call_words);
  murvane_tools::check_trace_options(app, o.trace);
  murvane_tools::settle_capture_options(app, o.capture);
  // The picture is SVG whatever the name says: a name that says otherwise
  // (boot.png) is a mistake to point out before anything runs.
  if (!o.timeline_path.empty() && !has_svg_extension(o.timeline_path)) {
    throw murvane_tools::UsageError("--timeline", o.timeline_path +
                                                      " does not end in .svg (the timeline is an SVG "
                                                      "picture; rsvg-convert makes a PNG of it)");
  }
}

// Reads the command line into `o`. Returns the exit status when the command
// ends here (--help, --version, an unusable option), nothing when it goes on.
std::optional<int> parse_options(int argc, char** argv, Options& o) {
  CLI::App app{
      "Boots the Murvane driver on the virtual platform against a simulated haptic chip, under a scenario, "
      "and shows what the driver did: its debug log, its register traffic and a summary.",
      command};
  declare_options(app, o);
  if (const std::optional<int> done = murvane_tools::parse_command_line(app, argc, argv, command)) {
    return done;
  }
  settle_options(app, o);
  return std::nullopt;
}

// Writes the pictures asked for: the VCD and the timeline.
bool write_pictures(const murvane_sim::Simulation& sim, const Options& o) {
  for (const auto& [option, path, write] :
       {std::tuple{"--vcd", o.vcd_path, &murvane_sim::write_vcd_file},
        std::tuple{"--timeline", o.timeline_path, &murvane_sim::write_timeline_file}}) {
    if (path.empty()) {
      continue;
    }
    try {
      write(sim, path);
    } catch (const std::runtime_error& e) {
      std::cerr << command << ": " << option << ": " << one_line(e.what()) << '\n';
      return false;
    }
  }
  return true;
}

int run_command(int argc, char** argv) {
  Options o;
  if (const std::optional<int> done = parse_options(argc, argv, o)) {
    return *done;
  }
  murvane_sim::Scenario scenario =
      o.scenario_path.empty() ? murvane_sim::default_scenario(command) : murvane_sim::load_scenario(o.scenario_path);
  murvane_sim::settle_chip(scenario, o.chip_given ? std::optional<std::string>(o.chip) : std::nullopt);
  // --call: slot calls after the scenario's own, as if it listed them.
  for (const murvane_tools::SlotCall& c : o.calls) {
    murvane_sim::Call call;
    call.kind = murvane_sim::Call::Kind::slot;
    call.slot = c.name;
    call.args = c.args;
    call.field = "--call " + murvane_tools::call_text(c);
    scenario.calls.push_back(call);
  }
  // Opened before running, so an unwritable file costs no run.
  std::ofstream trace_file;
  if (!murvane_tools::open_trace_file(o.trace.path, command, trace_file)) {
    return exit_other;
  }

  murvane_sim::Simulation sim(scenario);
  sim.run();

  if (!write_pictures(sim, o)) {
    return exit_other;
  }
  if (!o.capture.options.path.empty()) {
    // The capture against the run; the verdict is the exit status.
    return murvane_tools::print_capture_verdict(sim.platform().events(), murvane_sim::naming_family(sim),
                                                o.capture.options, o.quiet);
  }
  if (!o.trace.path.empty() && !murvane_tools::write_trace(o.trace, sim.platform().events(),
                                                           murvane_sim::naming_family(sim), trace_file, command)) {
    return exit_other;
  }
  const bool trace_to_stdout = o.trace.path == "-";
  if (!o.quiet && !trace_to_stdout) {
    murvane_sim::write_report(std::cout, sim);
  }
  std::cout.flush();
  return std::cout ? exit_ran : exit_other;
}

// A scenario file's own errors carry their file and place, so they print
// without the command's name.
int run_scenario_checked(int argc, char** argv) {
  try {
    return run_command(argc, argv);
  } catch (const murvane_sim::InputError& e) {
    std::cerr << one_line(e.what()) << '\n';
    return exit_bad_input;
  }
}

}  // namespace

int main(int argc, char** argv) { return murvane_tools::run_guarded(command, argc, argv, run_scenario_checked); }
