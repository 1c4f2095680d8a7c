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
// and of all zeros, changes only bits inside its register's fields; and
// every register, however often it is updated, ends with the same bits
// inside its field from either preset (a field mask narrower than the field
// leaves a bit of it as the preset had it).
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
  // The k-th update of a register from one preset beside its k-th from the
  // other. A register whose field several updates share (a play mode and a
  // detection bit in one byte) is written a part at a time: until every part
  // was written once, the parts not yet written still show their preset, and
  // differ between the two. So in every pair the in-field bits that differ
  // must be bits that differed in the pair before (an update never brings a
  // preset bit back), and in the last pair none may differ: by then every
  // update wrote its part whole. A field mask narrower than its field leaves
  // a bit at its preset in every pair, the last one too.
  size_t compared = 0;
  for (const auto& [reg, from_ones] : inside_by_preset[0]) {
    SCOPED_TRACE(testing::Message() << "register 0x" << std::hex << reg << ", field 0x" << field[reg]);
    const std::vector<int>& from_zeros = inside_by_preset[1][reg];
    ASSERT_EQ(from_ones.size(), from_zeros.size()) << "updated a different number of times";
    int preset_bits = field[reg];  // the field's bits that may still show the preset
    for (size_t k = 0; k < from_ones.size(); ++k) {
      ++compared;
      const int differ = from_ones[k] ^ from_zeros[k];
      EXPECT_EQ(differ & ~preset_bits, 0)
          << std::hex << "update " << k + 1 << " of " << from_ones.size() << " writes 0x" << from_ones[k]
          << " from the 0xFF preset, 0x" << from_zeros[k] << " from the 0x00 preset: bits written before"
          << " went back to the preset";
      preset_bits &= differ;
    }
    EXPECT_EQ(preset_bits, 0) << std::hex << "after the last of " << from_ones.size() << " updates, bits 0x"
                              << preset_bits << " of the field still hold the preset";
  }
  EXPECT_GT(compared, 0u);
}

INSTANTIATE_TEST_SUITE_P(Families, RegisterPresets, ::testing::ValuesIn(preset_cases()),
                         [](const auto& p) { return std::string(p.param.model); });

}  // namespace
