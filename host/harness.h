// Calls into the driver as firmware and consumers would, with the
// harness's call/return markers in the trace.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "host/platform.h"

namespace host {

// The image's entry point, as the firmware calls it at load.
EFI_STATUS call_entry(Platform& p);
// The firmware loading the image again: the driver's globals go back to
// their load values, as in a freshly loaded image, then its entry point runs
// on the same chip, bus and clock. Traced as one "load" call.
EFI_STATUS call_load(Platform& p);
// Start of the installed protocol record; EFI_NOT_FOUND when none is installed.
EFI_STATUS call_start(Platform& p);

struct SlotResult {
  bool ok = false;    // false: the call could not be made (see error)
  std::string error;  // no family selected, unknown slot, wrong argument count
  int64_t value = 0;  // i32 result, or the EFI_STATUS of qualify_check
};

// Index of a slot by name, or -1.
int slot_index(const std::string& name);
// Number of arguments the slot takes, by index.
int slot_arity(int index);
// Calls a slot of the currently selected family. Arguments are passed the
// way the driver's table takes them (bytes truncated to 8 bits, the trim
// kind as a 32-bit integer).
SlotResult call_slot(Platform& p, const std::string& name, const std::vector<int64_t>& args);

void write_jsonl(std::ostream& out, const std::vector<Event>& events);
void write_text(std::ostream& out, const std::vector<Event>& events);

}  // namespace host
