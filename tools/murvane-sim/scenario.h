// A murvane-sim scenario: what the simulated chip and platform look like and
// what the harness calls, read from JSON and checked field by field.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "sim/virtual_platform.h"

namespace murvane_sim {

// Unusable input: names the source (file or command line), the field and
// the problem. The command prints what() as its one error line.
class InputError : public std::runtime_error {
 public:
  InputError(const std::string& source, const std::string& field, const std::string& problem);
};

struct Call {
  // load: the firmware loads the image again (the driver's globals back to
  // their load values, then its entry point), on the same chip and clock.
  enum class Kind { entry, start, load, slot };
  Kind kind = Kind::entry;
  std::string slot;           // slot name, for Kind::slot
  std::vector<int64_t> args;  // as given; the harness narrows them as the driver's table does
  std::string field;          // where it was written, "calls[2]", for messages
};

struct Scenario {
  std::string source;  // file name, or the command's name without a file
  std::string chip = "zq3101";
  std::string chip_field;  // "chip" or "--chip" when given, for messages

  std::optional<uint32_t> chip_id;
  std::vector<std::pair<uint8_t, uint8_t>> registers;
  std::vector<std::pair<uint8_t, std::vector<uint8_t>>> reads;
  std::vector<std::pair<uint8_t, uint8_t>> stuck;
  std::vector<sim::Fault> faults;
  sim::PlatformOptions platform;
  uint8_t f0_cali_data = 0;
  uint8_t osc_cali_data = 0;
  std::optional<uint32_t> lra_f0;
  std::optional<uint16_t> offset_code;
  std::vector<Call> calls = {Call{}};

  // Top-level fields the input set, for the checks that need the chip.
  std::vector<std::string> given;
  bool has(const std::string& field) const;
};

// A scenario with every default: one entry call on a healthy zq3101.
Scenario default_scenario(const std::string& source);

// Reads and checks a scenario file. Throws InputError.
Scenario load_scenario(const std::string& path);
// Same, from text already in memory; source names it in messages.
Scenario parse_scenario(const std::string& text, const std::string& source);

// Applies a chip chosen on the command line (overriding the scenario's),
// then checks what depends on the chip: a known model, identifiers that fit
// the family's identifier registers, no chip settings when no chip answers.
// Throws InputError.
void settle_chip(Scenario& s, const std::optional<std::string>& chip_option);

}  // namespace murvane_sim
