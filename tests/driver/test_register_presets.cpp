// Every family boots with its register file preset to 0xFF and to 0x00
// (all but the registers identification and qualification read), so a
// masked update that touches a bit outside its field changes a preset bit
// and shows; a model's power-on values alone leave such bits as they were.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "sim/models/family_facts.h"
#include "tests/sim_fixture.h"

namespace {

using namespace murvane_test;  // the trace notation and SimBoard

// The registers read before the chip is named: identification and
// qualification, which the preset must not disturb.
std::set<int> identification_regs(const std::string& model) {
  SimBoard b(model);
  b.entry();
  std::set<int> regs;
  for (const Ev& e : b.trace()) {
    if (e.kind == Ev::Kind::log && e.text.rfind("Murvane: detected", 0) == 0) {
      break;
    }
    if (e.kind == Ev::Kind::read) {
      regs.insert(e.reg);
    }
  }
  return regs;
}

// Every family of the list, by its first model, with the fields its chip
// model says the bring-up updates (sim/models/family_facts.h).
struct PresetCase {
  const char* model;
  const sim::family_facts* facts;
};

void PrintTo(const PresetCase& c, std::ostream* os) { *os << c.model; }

std::vector<PresetCase> preset_cases() {
  std::vector<PresetCase> out;
  for (const sim::family_id f : sim::all_families) {
    out.push_back({sim::first_model_of(f).name, &sim::facts_of(f)});
  }
  return out;
}

class RegisterPresets : public ::testing::TestWithParam<PresetCase> {};

// Every read-modify-write of the bring-up, from a register file of all ones
// and of all zeros, changes only bits inside its register's fields; and a
// register updated once per boot gets the same bits inside its field from
// either preset (a field mask narrower than the field leaves a bit of it
// as the preset had it).
TEST_P(RegisterPresets, UpdatesWriteTheirFieldWholeAndKeepEveryBitOutside) {
  const PresetCase& c = GetParam();
  std::map<int, int> field;
  for (const sim::reg_field_bits& f : c.facts->bring_up_fields) {
    field[f.reg] = f.bits;
  }
  const std::set<int> untouched = identification_regs(c.model);
  std::map<int, std::vector<int>> inside_by_preset[2];  // register: the in-field bits of each update
  for (const int preset : {0xFF, 0x00}) {
    std::map<int, std::vector<int>>& inside = inside_by_preset[preset == 0xFF ? 0 : 1];
    SCOPED_TRACE(preset == 0xFF ? "preset 0xFF" : "preset 0x00");
    SimBoard b(c.model);
    for (int r = 0; r < 256; ++r) {
      if (untouched.count(r) == 0) {
        b.chip().set_register(static_cast<uint8_t>(r), static_cast<uint8_t>(preset));
      }
    }
    EXPECT_EQ(b.entry(), EFI_SUCCESS);
    const Trace t = b.trace();
    std::set<int> updated;
    for (size_t i = 0; i + 1 < t.size(); ++i) {
      const Ev& read = t[i];
      const Ev& write = t[i + 1];
      if (read.kind != Ev::Kind::read || read.failed || write.kind != Ev::Kind::write || write.reg != read.reg) {
        continue;
      }
      updated.insert(read.reg);
      const int in_field = field.count(read.reg) != 0 ? field[read.reg] : 0;
      inside[read.reg].push_back(write.value & in_field);
      const int outside = ~in_field & 0xFF;
      EXPECT_EQ(write.value & outside, read.value & outside)
          << "update " << read << " then " << write << " (event " << i << ")";
    }
    for (const auto& [reg, bits] : field) {
      EXPECT_EQ(updated.count(reg), 1u) << "no update of 0x" << std::hex << reg;
    }
  }
  size_t compared = 0;
  for (const auto& [reg, from_ones] : inside_by_preset[0]) {
    const auto from_zeros = inside_by_preset[1].find(reg);
    if (from_ones.size() != 1 || from_zeros == inside_by_preset[1].end() || from_zeros->second.size() != 1) {
      continue;  // updated more than once: a later update keeps what an earlier one left
    }
    ++compared;
    EXPECT_EQ(from_ones[0], from_zeros->second[0])
        << "register 0x" << std::hex << reg << ": inside its field (0x" << field[reg]
        << ") the one update writes other bits from the 0xFF preset than from the 0x00 preset";
  }
  EXPECT_GT(compared, 0u);
}

INSTANTIATE_TEST_SUITE_P(Families, RegisterPresets, ::testing::ValuesIn(preset_cases()),
                         [](const auto& p) { return std::string(p.param.model); });

}  // namespace
