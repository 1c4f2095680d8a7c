// Every one of the 19 models, booted through the image's entry point on a
// healthy simulated chip: the complete log, the playback set-up the chip is
// left with, the SRAM contents, and no protocol violation.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/family.h"
#include "core/waveform.h"
#include "murvane/version.h"
#include "sim/models/family_facts.h"
#include "sim/models/model_table.h"
#include "tests/sim_fixture.h"

namespace {

using murvane_test::SimBoard;

// Each family's descriptor, from the list: named for its folder, bound to
// its own record and a full operations table, and selected by every one of
// its models' identifiers. (What the record's values do is in each
// family's traffic tests.)
TEST(FamilyDescriptors, EachIsNamedForItsFolderAndBindsItsRecord) {
  for (const sim::family_id f : sim::all_families) {
    const murvane::chip_family& family = *murvane::chip_families[static_cast<size_t>(f)];
    SCOPED_TRACE(sim::first_model_of(f).family_name);
    EXPECT_STREQ(family.name, sim::first_model_of(f).family_name);
    ASSERT_NE(family.dts, nullptr);
    ASSERT_NE(family.ops, nullptr);
    uintptr_t slots[murvane::haptic_ops_slots];
    std::memcpy(slots, family.ops, sizeof(slots));
    for (size_t i = 0; i < murvane::haptic_ops_slots; ++i) {
      EXPECT_NE(slots[i], 0u) << murvane::haptic_ops_names[i];
    }
    for (const sim::model_info& m : sim::model_infos) {
      if (m.family == f) {
        ASSERT_NE(murvane::find_chip_model(m.id), nullptr) << m.name;
        EXPECT_EQ(murvane::find_chip_model(m.id)->family, &family) << m.name;
      }
    }
  }
}

class AllModels : public ::testing::TestWithParam<sim::model_info> {};

TEST_P(AllModels, BootThroughTheEntryPoint) {
  const sim::model_info& info = GetParam();
  SimBoard b(info.name);
  ASSERT_EQ(b.entry(), EFI_SUCCESS);

  const std::vector<std::string> expected_log = {
      murvane::version_line,           std::string("Murvane: detected ") + info.name + ".\n",
      "Murvane: zq ram init\n",        "Murvane: zq ram play\n",
      "Murvane: ram mode\n",           "Murvane: boost mode\n",
      "Murvane: zq uefi driver end\n", "Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Success\n",
  };
  EXPECT_EQ(b.log(), expected_log);

  // Where the family keeps its playback set-up: its chip model's facts.
  const sim::family_facts& r = sim::facts_of(info.family);
  const sim::chip_model& chip = b.chip();
  EXPECT_EQ(chip.reg(r.seq_base), 1) << "slot 0 plays waveform 1";
  EXPECT_EQ(chip.reg(r.seq_base + 1), 0) << "slot 1 ends the sequence";
  EXPECT_EQ(chip.reg(r.loop_base) >> 4, 4) << "slot 0 loops 4 times";
  EXPECT_EQ(chip.reg(r.gain_reg), 0x80);
  EXPECT_EQ(chip.reg(r.ram_mode.reg) & r.ram_mode.mask, 0) << "RAM play mode";

  // The trigger is the last register the bring-up writes.
  const auto w = b.writes();
  ASSERT_FALSE(w.empty());
  EXPECT_EQ(w.back().reg, r.go_reg);
  EXPECT_EQ(w.back().value & 0x01, 0x01);
  EXPECT_TRUE(chip.playing());

  for (uint32_t i = 0; i < murvane::waveform_image_len; ++i) {
    ASSERT_EQ(chip.sram()[murvane::waveform_sram_base + i], murvane::waveform_image[i]) << "SRAM byte " << i;
  }
  EXPECT_EQ(chip.sram_bytes_written(), murvane::waveform_image_len);
  EXPECT_EQ(chip.violation_count(), 0u) << (chip.violation_count() > 0 ? chip.violation_at(0).what : "");
  EXPECT_EQ(b.platform().counters().failed, 0u);
}

INSTANTIATE_TEST_SUITE_P(Models, AllModels, ::testing::ValuesIn(sim::model_infos),
                         [](const ::testing::TestParamInfo<sim::model_info>& i) { return std::string(i.param.name); });

}  // namespace
