// murvane-sim: boots the driver's own code on the virtual platform against a
// simulated chip, under a scenario, and shows what the driver did.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <exception>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "murvane/version.h"
#include "sim/harness.h"
#include "sim/models/model_table.h"
#include "tools/murvane-sim/bus_files.h"
#include "tools/murvane-sim/report.h"
#include "tools/murvane-sim/run.h"
#include "tools/murvane-sim/scenario.h"
#include "tools/murvane-sim/vcd.h"

namespace {

constexpr int exit_ran = 0;
constexpr int exit_other = 1;
constexpr int exit_bad_input = 2;

constexpr const char* command = "murvane-sim";

std::string one_line(std::string s) {
  std::replace(s.begin(), s.end(), '\n', ' ');
  while (!s.empty() && s.back() == ' ') {
    s.pop_back();
  }
  return s;
}

bool has_svg_extension(const std::string& path) {
  std::string ext = path.size() >= 4 ? path.substr(path.size() - 4) : "";
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".svg";
}

int run_command(int argc, char** argv) {
  CLI::App app{
      "Boots the Murvane driver on the virtual platform against a simulated haptic chip, under a scenario, "
      "and shows what the driver did: its debug log, its register traffic and a summary.",
      command};
  app.set_version_flag("--version", std::string(command) + " v" + murvane::driver_version,
                       "Print the version of the driver it runs (as the driver logs it) and exit");
  std::string scenario_path;
  std::string chip;
  std::string trace_path;
  std::string trace_format;
  bool quiet = false;
  std::string vcd_path;
  std::string timeline_path;
  murvane_sim::CaptureOptions capture;
  std::vector<std::string> capture_signals;
  app.add_option("scenario", scenario_path, "Scenario file (JSON). Without one: one entry call on a healthy chip");
  CLI::Option* chip_option = app.add_option("--chip", chip,
                                            std::string("Simulated chip (") + sim::model_infos[0].name + " ... " +
                                                sim::model_infos[sim::model_info_count - 1].name +
                                                ", or absent); overrides the scenario's chip");
  CLI::Option* trace_option =
      app.add_option("--trace", trace_path,
                     "Write the event trace to FILE ('-': standard output, which then carries the trace alone)");
  app.add_option("--trace-format", trace_format, "Trace format: jsonl (default) or text")
      ->check(CLI::IsMember({"text", "jsonl"}))
      ->needs(trace_option);
  app.add_flag("--quiet", quiet, "Print nothing but errors");
  app.add_option("--vcd", vcd_path,
                 "Write the run's I2C bus (SCL, SDA) and reset pin (RST) as a Value Change Dump for sigrok/PulseView")
      ->type_name("FILE");
  app.add_option("--timeline", timeline_path, "Draw the run on a time axis as an SVG picture")->type_name("FILE.svg");
  CLI::Option* check_option =
      app.add_option("--check-capture", capture.path,
                     "Compare a capture (VCD, sigrok session, or sigrok-cli's decoded I2C text) with the driver's "
                     "traffic in this run: a healthy --chip by default, the scenario's run when one is given; "
                     "prints 'matches' (exit 0) or the first departing transfer (exit 1)")
          ->type_name("CAPTURE");
  app.add_option("--capture-signals", capture_signals,
                 "The capture's signal names for SCL,SDA[,RST] (default SCL,SDA,RST)")
      ->type_name("SCL,SDA[,RST]")
      ->delimiter(',')
      ->expected(2, 3)
      ->needs(check_option);
  app.footer(
      "Exit status: 0 when the scenario ran to its end, whatever the driver returned; 2 for unusable input "
      "(one line on standard error names the file, the field and the problem); 1 for anything else.");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) {
      return app.exit(e);  // --help, --version
    }
    std::cerr << command << ": " << one_line(e.what()) << " (see --help)\n";
    return exit_bad_input;
  }

  // The picture is SVG whatever the name says: a name that says otherwise
  // (boot.png) is a mistake to point out before anything runs.
  if (!timeline_path.empty() && !has_svg_extension(timeline_path)) {
    std::cerr << command << ": --timeline: " << timeline_path
              << " does not end in .svg (the timeline is an SVG picture; rsvg-convert makes a PNG of it)\n";
    return exit_bad_input;
  }

  murvane_sim::Scenario scenario =
      scenario_path.empty() ? murvane_sim::default_scenario(command) : murvane_sim::load_scenario(scenario_path);
  murvane_sim::settle_chip(scenario, chip_option->count() > 0 ? std::optional<std::string>(chip) : std::nullopt);

  // Open the trace before running, so an unwritable file costs no run.
  std::ofstream trace_file;
  const bool trace_to_stdout = trace_path == "-";
  if (!trace_path.empty() && !trace_to_stdout) {
    trace_file.open(trace_path, std::ios::binary | std::ios::trunc);
    if (!trace_file) {
      std::cerr << command << ": --trace: cannot write " << trace_path << '\n';
      return exit_other;
    }
  }

  murvane_sim::Simulation sim(scenario);
  sim.run();

  for (const auto& [option, path, write] :
       {std::tuple{"--vcd", vcd_path, &murvane_sim::write_vcd_file},
        std::tuple{"--timeline", timeline_path, &murvane_sim::write_timeline_file}}) {
    if (path.empty()) {
      continue;
    }
    try {
      write(sim, path);
    } catch (const std::runtime_error& e) {
      std::cerr << command << ": " << option << ": " << one_line(e.what()) << '\n';
      return exit_other;
    }
  }
  if (!capture.path.empty()) {
    if (capture_signals.size() >= 2) {
      capture.scl = capture_signals[0];
      capture.sda = capture_signals[1];
      capture.rst = capture_signals.size() > 2 ? capture_signals[2] : "";
    }
    // --quiet keeps the departure (the board's error) and drops "matches".
    std::ostringstream verdict_text;
    const int verdict = murvane_sim::check_capture(verdict_text, sim, capture);
    if (!quiet || verdict != exit_ran) {
      std::cout << verdict_text.str();
    }
    std::cout.flush();
    return std::cout ? verdict : exit_other;
  }

  if (!trace_path.empty()) {
    std::ostream& out = trace_to_stdout ? std::cout : trace_file;
    if (trace_format == "text") {
      murvane_sim::write_text_trace(out, sim.platform().events(), murvane_sim::naming_family(sim));
    } else {
      sim::write_jsonl(out, sim.platform().events());
    }
    out.flush();
    if (!out) {
      std::cerr << command << ": --trace: writing " << trace_path << " failed\n";
      return exit_other;
    }
  }
  if (!quiet && !trace_to_stdout) {
    murvane_sim::write_report(std::cout, sim);
  }
  std::cout.flush();
  return std::cout ? exit_ran : exit_other;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run_command(argc, argv);
  } catch (const murvane_sim::InputError& e) {
    std::cerr << one_line(e.what()) << '\n';
    return exit_bad_input;
  } catch (const murvane_sim::CaptureError& e) {
    std::cerr << command << ": " << one_line(e.what()) << '\n';
    return exit_bad_input;
  } catch (const std::exception& e) {
    std::cerr << command << ": unexpected failure: " << one_line(e.what()) << '\n';
    return exit_other;
  } catch (...) {
    std::cerr << command << ": unexpected failure\n";
    return exit_other;
  }
}
