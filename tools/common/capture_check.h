// The capture check (--check-capture of both commands): a board's bus, as a
// logic analyzer saw it, against the traffic the driver makes in a recorded
// run.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "host/platform.h"

// NOLINTNEXTLINE(readability-identifier-naming): CLI11's own namespace
namespace CLI {
class App;
}

namespace murvane_tools {

struct CaptureOptions {
  std::string path;
  // Signal names in the capture; empty: SCL, SDA and RST (or RESET, NRST)
  // in any case, the reset pin optional.
  std::string scl;
  std::string sda;
  std::string rst;
};

// Compares a board's capture with the run's events (the driver's expected
// traffic; family names the registers): prints "matches: ..." and returns 0,
// or prints the first departure and returns 1. Throws CaptureError for an
// unusable capture (tools/common/vcd.h).
int check_capture(std::ostream& out, const std::vector<host::Event>& events, const std::string& family,
                  const CaptureOptions& options);

// What asks for the check on the command line, as both commands take it:
// --check-capture CAPTURE (help: the command's own words for it) and
// --capture-signals SCL,SDA[,RST].
struct CaptureRequest {
  CaptureOptions options;
  std::string signals;  // --capture-signals as typed
};

// Declares --check-capture and --capture-signals into request.
void declare_capture_options(CLI::App& app, CaptureRequest& request, const std::string& help);
// After the parse: the two or three signal names into request.options,
// given only with --check-capture; throws UsageError.
void settle_capture_options(const CLI::App& app, CaptureRequest& request);

// The check on standard output, its verdict the exit status: "matches" (0,
// left out when quiet) or the first departure (1, printed even when quiet:
// it is the board's error); 1 when standard output fails.
int print_capture_verdict(const std::vector<host::Event>& events, const std::string& family,
                          const CaptureOptions& options, bool quiet);

}  // namespace murvane_tools
