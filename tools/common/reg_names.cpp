#include "tools/common/reg_names.h"

#include <cstddef>

#include "sim/models/family_facts.h"

namespace murvane_tools {

namespace {

using sim::reg_name;

// Eight sequencer slots: one waveform register per slot from seq_base, one
// loop nibble per slot, two slots per register, from loop_base.
constexpr unsigned sequencer_slots = 8;

// Identification, shared by every family (and written 0xAA when a
// family's offset calibration fails).
constexpr reg_name shared_regs[] = {{0x00, "chip ID"}, {0x57, "chip ID high"}, {0x58, "chip ID low"}};

const char* find(sim::table_view<reg_name> regs, uint8_t reg) {
  for (const reg_name& r : regs) {
    if (r.reg == reg) {
      return r.name;
    }
  }
  return nullptr;
}

}  // namespace

std::string register_name(const std::string& family, uint8_t reg) {
  for (const sim::family_id id : sim::all_families) {
    if (family != sim::first_model_of(id).family_name) {
      continue;
    }
    const sim::family_facts& f = sim::facts_of(id);
    if (const char* name = find(f.reg_names, reg)) {
      return name;
    }
    if (reg >= f.seq_base && reg < f.seq_base + sequencer_slots) {
      return "seq " + std::to_string(reg - f.seq_base) + " wave";
    }
    if (reg >= f.loop_base && reg < f.loop_base + sequencer_slots / 2) {
      const unsigned even = 2 * (reg - f.loop_base);
      return "seq " + std::to_string(even) + "/" + std::to_string(even + 1) + " loop";
    }
    break;
  }
  const char* shared = find(shared_regs, reg);
  return shared != nullptr ? shared : "";
}

}  // namespace murvane_tools
