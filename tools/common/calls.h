// The family's operations a command calls after its own (murvane-board
// after the bring-up, murvane-sim after its scenario's calls), as the
// command line names them: --call NAME[:ARG,...], once per call, with the
// driver's slot names and argument counts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// NOLINTNEXTLINE(readability-identifier-naming): CLI11's own namespace
namespace CLI {
class App;
}

namespace murvane_tools {

// One operation to call: a slot of the family's table and its arguments.
struct SlotCall {
  std::string name;
  std::vector<int64_t> args;
};

// --call NAME[:ARG,...], repeatable, into words (one per call, in order).
void declare_call_option(CLI::App& app, std::vector<std::string>& words);

// After the parse: the calls the words name. Throws UsageError naming
// --call for an unknown name ("no operation \"get_fo\" (nearest known
// name: \"get_f0\")"), a wrong argument count or an argument that is no
// number (decimal or 0x, 0 ... 0xFFFFFFFF).
std::vector<SlotCall> parse_calls(const std::vector<std::string>& words);

// "set_gain:GAIN": how the call is written, its arguments named.
std::string call_form(const std::string& name);
// "set_sequence:0,1": a call as the command line wrote it (numbers in decimal).
std::string call_text(const SlotCall& call);
// The calls that make the actuator move: the f0 measurement and playback.
// "" for the others, else what it does ("measures the actuator's resonant
// frequency: drives it").
std::string actuator_use(const SlotCall& call);

}  // namespace murvane_tools
