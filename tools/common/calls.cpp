#include "tools/common/calls.h"

#include <CLI/CLI.hpp>

#include "host/harness.h"
#include "tools/common/command_line.h"

namespace murvane_tools {

namespace {

constexpr const char* option = "--call";

// The arguments' names, by slot: what a person passes to each.
struct SlotForm {
  const char* name;
  const char* args;  // "" for none
};
constexpr SlotForm slot_forms[] = {
    {"get_f0", ""},
    {"offset_calibration", ""},
    {"set_go", "FLAG"},
    {"stop", ""},
    {"write_ram", ""},
    {"set_ram_base", ""},
    {"chip_init", ""},
    {"set_gain", "GAIN"},
    {"set_play_mode", "MODE"},
    {"write_trim_lra", "KIND"},
    {"set_sequence", "INDEX,WAVE"},
    {"set_sequence_loop", "INDEX,LOOP"},
    {"set_ram_access", "FLAG"},
    {"qualify_check", ""},
};

std::vector<std::string> slot_names() {
  std::vector<std::string> names;
  for (const SlotForm& f : slot_forms) {
    names.emplace_back(f.name);
  }
  return names;
}

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t from = 0;
  while (true) {
    const size_t at = text.find(sep, from);
    parts.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
    if (at == std::string::npos) {
      return parts;
    }
    from = at + 1;
  }
}

SlotCall parse_call(const std::string& word) {
  const size_t colon = word.find(':');
  SlotCall call;
  call.name = word.substr(0, colon);
  const int index = host::slot_index(call.name);
  if (index < 0) {
    throw UsageError(option, "no operation " + murvane_tools::quoted(call.name) + " (nearest known name: " +
                                 murvane_tools::quoted(nearest(call.name, slot_names())) + ")");
  }
  const int arity = host::slot_arity(index);
  if (colon != std::string::npos) {
    for (const std::string& a : split(word.substr(colon + 1), ',')) {
      call.args.push_back(
          parse_number(option, a, 0, 0xFFFFFFFFU, "an argument of " + call.name + " (a number: decimal or 0x)"));
    }
  }
  if (static_cast<int>(call.args.size()) != arity) {
    throw UsageError(option, murvane_tools::quoted(call.name) + " takes " + std::to_string(arity) + " argument" +
                                 (arity == 1 ? "" : "s") + " (" + call_form(call.name) + "), got " +
                                 std::to_string(call.args.size()));
  }
  return call;
}

}  // namespace

void declare_call_option(CLI::App& app, std::vector<std::string>& words) {
  app.add_option(
         option, words,
         "An operation of the chip's family to call after the run's own calls (the bring-up; a scenario's), once "
         "per call, in order: a slot name as in murvane-sim's scenario calls, its arguments after a colon "
         "(get_f0, stop, set_gain:0x80, set_sequence:0,1)")
      ->type_name("NAME[:ARG,...]")
      ->allow_extra_args(false)
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

std::vector<SlotCall> parse_calls(const std::vector<std::string>& words) {
  std::vector<SlotCall> calls;
  calls.reserve(words.size());
  for (const std::string& w : words) {
    calls.push_back(parse_call(w));
  }
  return calls;
}

std::string call_form(const std::string& name) {
  for (const SlotForm& f : slot_forms) {
    if (name == f.name) {
      return std::string(f.name) + (f.args[0] == '\0' ? "" : std::string(":") + f.args);
    }
  }
  return name;
}

std::string call_text(const SlotCall& call) {
  std::string text = call.name;
  for (size_t i = 0; i < call.args.size(); ++i) {
    text += i == 0 ? ':' : ',';
    text += std::to_string(call.args[i]);
  }
  return text;
}

std::string actuator_use(const SlotCall& call) {
  if (call.name == "get_f0") {
    return "drives the actuator to measure its resonant frequency";
  }
  if (call.name == "set_go" && !call.args.empty() && (call.args[0] & 0xFF) != 0) {
    return "plays the sequence loaded: the actuator vibrates";
  }
  return "";
}

}  // namespace murvane_tools
