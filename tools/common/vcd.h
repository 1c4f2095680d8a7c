// Value Change Dump files: what the bus drawing is written as, and what a
// logic analyzer's capture (sigrok-cli -O vcd, PulseView's export) is read
// from.
#pragma once

#include <ostream>
#include <stdexcept>
#include <string>

#include "tools/common/bus.h"

namespace murvane_tools {

// A capture that cannot be used: what() is "FILE: problem", one line.
class CaptureError : public std::runtime_error {
 public:
  CaptureError(const std::string& source, const std::string& problem) : std::runtime_error(source + ": " + problem) {}
};

// Writes w at 100 ns resolution, one $var per signal, idle levels at #0.
void write_vcd(std::ostream& out, const Waveform& w);

// Writes w to the file at path, replacing it. Throws std::runtime_error
// ("cannot write PATH", "writing PATH failed") when the file cannot be made
// or is not written whole.
void write_vcd_file(const std::string& path, const Waveform& w);

// Whether text begins like a VCD (its first word a $ keyword).
bool looks_like_vcd(const std::string& text);

// Reads the one-bit signals of a VCD (wider ones are skipped); the levels
// given at the first timestamp are the initial ones, x and z read as high
// (an idle open-drain line). Throws CaptureError naming source.
Waveform read_vcd(const std::string& text, const std::string& source);

}  // namespace murvane_tools
