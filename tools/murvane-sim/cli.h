// What the bench commands (murvane-sim, murvane-board) say and open the same
// way: an error is one line, and a trace file is opened before the run so
// that a path that cannot be written costs no run.
#pragma once

#include <fstream>
#include <string>

namespace murvane_sim {

// A message folded into one line: line ends become spaces, trailing spaces go.
std::string one_line(std::string s);

// Opens the --trace file (none for "-" or no path: standard output); false,
// with one line on standard error naming command, when it cannot be written.
bool open_trace_file(const std::string& path, const char* command, std::ofstream& file);

}  // namespace murvane_sim
