#include "tools/murvane-sim/reg_names.h"

#include <cstddef>

#include "core/family_list.h"

namespace murvane_sim {

namespace {

struct reg_name {
  uint8_t reg;
  const char* name;
};

// Eight sequencer slots: one waveform register per slot from seq_base, one
// loop nibble per slot, two slots per register, from loop_base.
constexpr unsigned sequencer_slots = 8;

struct sequencer_regs {
  uint8_t seq_base;
  uint8_t loop_base;
};

struct family_names {
  const char* family;
  sequencer_regs sequencer;
  const reg_name* regs;
  size_t count;
};

// Each family of core/family_list.h has its table here, <family>_regs, and
// its sequencer registers, <family>_sequencer: the names as the family's
// register map gives them, typed here apart from the driver's constants.

// clang-format off: one row per line of three keeps the tables scannable.
constexpr reg_name zq310x_regs[] = {
    {0x02, "status (discarded)"},
    {0x03, "active control"},
    {0x04, "system control"},
    {0x05, "GO"},
    {0x21, "SRAM base high"},
    {0x22, "SRAM base low"},
    {0x2B, "f0 detect control"},
    {0x31, "init 0x31"},
    {0x34, "init 0x34"},
    {0x35, "init 0x35"},
    {0x39, "gain"},
    {0x40, "RAM pointer high"},
    {0x41, "RAM pointer low"},
    {0x42, "RAM data"},
    {0x46, "chip state"},
    {0x48, "f0 detect state"},
    {0x49, "f0 detect per. hi"},
    {0x4A, "f0 detect per. lo"},
    {0x4D, "init 0x4D"},
    {0x5B, "trim LRA"},
    {0x5D, "init 0x5D"},
    {0x5F, "offset cal busy"},
    {0x66, "continuous mode"},
    {0x68, "f0 period high"},
    {0x69, "f0 period low"},
    {0x74, "init 0x74"},
    {0x75, "init 0x75"},
    {0x76, "init 0x76"},
    {0x77, "init 0x77"},
    {0x7B, "f0 param 0x7B"},
    {0x7D, "f0 param 0x7D"},
    {0x7E, "f0 param 0x7E"},
    {0x7F, "f0 param 0x7F"},
};
constexpr sequencer_regs zq310x_sequencer = {0x07, 0x0F};

constexpr reg_name zq320x_regs[] = {
    {0x06, "boost"},
    {0x07, "gain"},
    {0x08, "play mode"},
    {0x09, "play command"},
    {0x18, "f0 detect control"},
    {0x1A, "cont param 0x1A"},
    {0x1C, "init 0x1C"},
    {0x1D, "cont param 0x1D"},
    {0x1E, "cont param 0x1E"},
    {0x1F, "cont param 0x1F"},
    {0x20, "cont param 0x20"},
    {0x21, "init 0x21"},
    {0x22, "cont param 0x22"},
    {0x25, "f0 period high"},
    {0x26, "f0 period low"},
    {0x2D, "SRAM base high"},
    {0x2E, "SRAM base low"},
    {0x3C, "continuous 0x3C"},
    {0x3F, "chip state"},
    {0x40, "RAM pointer high"},
    {0x41, "RAM pointer low"},
    {0x42, "RAM data"},
    {0x43, "SRAM access, mode"},
    {0x44, "force standby"},
    {0x49, "d2s gain"},
    {0x52, "offset cal start"},
    {0x54, "offset result 0x54"},
    {0x57, "offset res./ID high"},
    {0x5A, "trim LRA"},
    {0x64, "qualification"},
    {0x6D, "init 0x6D"},
    {0x6E, "init 0x6E"},
    {0x6F, "init 0x6F"},
    {0x70, "init 0x70"},
    {0x71, "init 0x71"},
};
constexpr sequencer_regs zq320x_sequencer = {0x0A, 0x12};

constexpr reg_name zq330x_regs[] = {
    {0x06, "boost"},
    {0x07, "gain"},
    {0x08, "play mode"},
    {0x09, "play control"},
    {0x18, "f0 detect control"},
    {0x1A, "f0 detect value"},
    {0x1C, "cont reg 0x1C"},
    {0x1D, "f0 detect 0x1D"},
    {0x1E, "f0 param 0x1E"},
    {0x1F, "f0 param 0x1F"},
    {0x20, "f0 param 0x20"},
    {0x21, "cont reg 0x21"},
    {0x22, "f0 param 0x22"},
    {0x25, "f0 period high"},
    {0x26, "f0 period low"},
    {0x2D, "SRAM base high"},
    {0x2E, "SRAM base low"},
    {0x3F, "chip state"},
    {0x40, "RAM pointer high"},
    {0x41, "RAM pointer low"},
    {0x42, "RAM data"},
    {0x43, "SRAM access"},
    {0x44, "standby request"},
    {0x50, "continuous mode"},
    {0x52, "d2s gain"},
    {0x5A, "trim LRA"},
    {0x61, "qualification"},
};
constexpr sequencer_regs zq330x_sequencer = {0x0A, 0x12};

constexpr reg_name zq340x_regs[] = {
    {0x06, "boost"},
    {0x07, "gain"},
    {0x08, "play mode"},
    {0x09, "play control"},
    {0x18, "f0 detect/cal skip"},
    {0x1A, "f0 detect value"},
    {0x1C, "cont reg 0x1C"},
    {0x1D, "f0 detect 0x1D"},
    {0x1E, "f0 param 0x1E"},
    {0x1F, "f0 param 0x1F"},
    {0x20, "f0 param 0x20"},
    {0x21, "cont reg 0x21"},
    {0x22, "f0 param 0x22"},
    {0x25, "f0 period high"},
    {0x26, "f0 period low"},
    {0x2D, "SRAM base high"},
    {0x2E, "SRAM base low"},
    {0x3F, "chip state"},
    {0x40, "RAM pointer high"},
    {0x41, "RAM pointer low"},
    {0x42, "RAM data"},
    {0x45, "SRAM access/standby"},
    {0x4C, "continuous mode"},
    {0x4D, "offset measure"},
    {0x4E, "offset d2s gain"},
    {0x4F, "offset result high"},
    {0x50, "offset result low"},
    {0x56, "init 0x56"},
    {0x59, "trim LRA"},
    {0x5A, "key"},
    {0x64, "qualification"},
    {0x6B, "init 0x6B"},
    {0x73, "init 0x73"},
    {0x76, "init 0x76"},
};
constexpr sequencer_regs zq340x_sequencer = {0x0A, 0x12};

constexpr reg_name zq350x_regs[] = {
    {0x06, "boost"},
    {0x07, "gain"},
    {0x08, "play mode"},
    {0x09, "play control"},
    {0x18, "f0 measure 0x18"},
    {0x1A, "f0 measure 0x1A"},
    {0x1C, "cont reg 0x1C"},
    {0x1D, "f0 measure 0x1D"},
    {0x1E, "f0 measure 0x1E"},
    {0x1F, "f0 measure 0x1F"},
    {0x20, "f0 measure 0x20"},
    {0x21, "cont reg 0x21"},
    {0x22, "f0 measure 0x22"},
    {0x25, "f0 measure 0x25"},
    {0x26, "f0 measure 0x26"},
    {0x2D, "SRAM base high"},
    {0x2E, "SRAM base low"},
    {0x3F, "chip state"},
    {0x40, "RAM pointer high"},
    {0x41, "RAM pointer low"},
    {0x42, "RAM data"},
    {0x45, "SRAM access/standby"},
    {0x48, "fixed 0x48"},
    {0x4C, "continuous mode"},
    {0x4E, "d2s gain"},
    {0x5B, "key"},
    {0x5C, "repair 0x5C"},
    {0x61, "qualify 0x61"},
    {0x62, "qualify 0x62"},
    {0x63, "qualify 0x63"},
    {0x70, "fixed 0x70"},
    {0x71, "fixed 0x71"},
    {0x74, "fixed 0x74"},
    {0x75, "fixed 0x75"},
    {0x79, "trim LRA"},
};
constexpr sequencer_regs zq350x_sequencer = {0x0A, 0x12};

constexpr reg_name zq360x_regs[] = {
    {0x06, "boost"},
    {0x07, "gain"},
    {0x08, "play mode"},
    {0x09, "play control"},
    {0x18, "f0 detect/cal skip"},
    {0x19, "f0 measure 0x19"},
    {0x1A, "f0 measure 0x1A"},
    {0x1C, "cont reg 0x1C"},
    {0x1D, "f0 measure 0x1D"},
    {0x1E, "f0 measure 0x1E"},
    {0x1F, "f0 measure 0x1F"},
    {0x20, "f0 measure 0x20"},
    {0x21, "cont reg 0x21"},
    {0x22, "f0 measure 0x22"},
    {0x25, "f0 measure 0x25"},
    {0x26, "f0 measure 0x26"},
    {0x2D, "SRAM base high"},
    {0x2E, "SRAM base low"},
    {0x3F, "chip state"},
    {0x40, "RAM pointer high"},
    {0x41, "RAM pointer low"},
    {0x42, "RAM data"},
    {0x45, "SRAM access/standby"},
    {0x4C, "continuous mode"},
    {0x4D, "offset measure 0x4D"},
    {0x4E, "offset measure 0x4E"},
    {0x4F, "offset measure 0x4F"},
    {0x50, "offset measure 0x50"},
    {0x56, "fixed 0x56"},
    {0x5D, "trim LRA"},
    {0x5E, "key"},
    {0x67, "qualification"},
    {0x6F, "fixed 0x6F"},
    {0x70, "fixed 0x70"},
    {0x72, "fixed 0x72"},
    {0x77, "fixed 0x77"},
    {0x7D, "fixed 0x7D"},
};
constexpr sequencer_regs zq360x_sequencer = {0x0A, 0x12};

// clang-format on

// Identification, shared by every family (and written 0xAA when a
// family's offset calibration fails).
constexpr reg_name shared_regs[] = {{0x00, "chip ID"}, {0x57, "chip ID high"}, {0x58, "chip ID low"}};

template <size_t N>
constexpr family_names names_of(const char* family, sequencer_regs sequencer, const reg_name (&regs)[N]) {
  return {family, sequencer, regs, N};
}

#define NAMES_OF_FAMILY(name, letter) names_of(#name, name##_sequencer, name##_regs),
constexpr family_names families[] = {MURVANE_FAMILIES(NAMES_OF_FAMILY)};
#undef NAMES_OF_FAMILY

const char* find(const reg_name* regs, size_t count, uint8_t reg) {
  for (size_t i = 0; i < count; ++i) {
    if (regs[i].reg == reg) {
      return regs[i].name;
    }
  }
  return nullptr;
}

}  // namespace

std::string register_name(const std::string& family, uint8_t reg) {
  for (const family_names& f : families) {
    if (family != f.family) {
      continue;
    }
    if (const char* name = find(f.regs, f.count, reg)) {
      return name;
    }
    if (reg >= f.sequencer.seq_base && reg < f.sequencer.seq_base + sequencer_slots) {
      return "seq " + std::to_string(reg - f.sequencer.seq_base) + " wave";
    }
    if (reg >= f.sequencer.loop_base && reg < f.sequencer.loop_base + sequencer_slots / 2) {
      const unsigned even = 2 * (reg - f.sequencer.loop_base);
      return "seq " + std::to_string(even) + "/" + std::to_string(even + 1) + " loop";
    }
    break;
  }
  const char* shared = find(shared_regs, sizeof(shared_regs) / sizeof(shared_regs[0]), reg);
  return shared != nullptr ? shared : "";
}

}  // namespace murvane_sim
