// The scenario text of the firmware test disk, its knobs and the verdict
// on a chip: shared by SimPlatform.efi, the test application and the host
// checker, so a mistake here would make both sides agree on a wrong thing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/waveform.h"
#include "sim/model_factory.h"
#include "testbench/qemu/sim_scenario.h"

namespace {

using fwsim::parse_status;

fwsim::scenario parse_ok(const std::string& text) {
  fwsim::scenario s = {};
  EXPECT_EQ(fwsim::parse_scenario(text.c_str(), text.size(), &s), parse_status::ok) << text;
  return s;
}

TEST(FwScenario, NamesAModelOrNoChip) {
  const fwsim::scenario a = parse_ok("zq3201");
  ASSERT_NE(a.model, nullptr);
  EXPECT_STREQ(a.model->name, "zq3201");
  EXPECT_EQ(a.model->id, 0x05u);
  EXPECT_FALSE(a.noqualify);
  EXPECT_EQ(a.override_count, 0u);

  EXPECT_EQ(parse_ok("absent").model, nullptr);
  EXPECT_STREQ(parse_ok("  \tzq3603 \r\n").model->name, "zq3603");
  EXPECT_STREQ(parse_ok("# chip for this boot\nzq3301 # family C\n").model->name, "zq3301");
}

TEST(FwScenario, StackSmashIsAnApplicationKnob) {
  EXPECT_FALSE(parse_ok("zq3201").stack_smash);
  EXPECT_TRUE(parse_ok("zq3201 stacksmash").stack_smash);
  const fwsim::scenario s = parse_ok("absent stacksmash");
  EXPECT_TRUE(s.stack_smash);
  EXPECT_EQ(s.model, nullptr);
}

TEST(FwScenario, ReadsOnlyTheGivenLength) {
  fwsim::scenario s = {};
  const char text[] = "zq3401 noqualify";
  ASSERT_EQ(fwsim::parse_scenario(text, 6, &s), parse_status::ok);
  EXPECT_STREQ(s.model->name, "zq3401");
  EXPECT_FALSE(s.noqualify);
}

TEST(FwScenario, Knobs) {
  const fwsim::scenario s = parse_ok("zq3201 noqualify 64=3f 0x1A=0X05");
  EXPECT_TRUE(s.noqualify);
  ASSERT_EQ(s.override_count, 2u);
  EXPECT_EQ(s.overrides[0].reg, 0x64);
  EXPECT_EQ(s.overrides[0].value, 0x3F);
  EXPECT_EQ(s.overrides[1].reg, 0x1A);
  EXPECT_EQ(s.overrides[1].value, 0x05);
}

struct BadCase {
  const char* text;
  parse_status want;
  const char* bad_word;  // where the offending word starts, or nullptr
};

class FwScenarioRejects : public ::testing::TestWithParam<BadCase> {};

TEST_P(FwScenarioRejects, WithTheReasonAndTheWord) {
  const BadCase& c = GetParam();
  fwsim::scenario s = {};
  s.noqualify = true;  // must come back cleared
  const char* bad = nullptr;
  EXPECT_EQ(fwsim::parse_scenario(c.text, std::strlen(c.text), &s, &bad), c.want);
  EXPECT_EQ(s.model, nullptr);
  EXPECT_FALSE(s.noqualify);
  if (c.bad_word != nullptr) {
    ASSERT_NE(bad, nullptr);
    EXPECT_EQ(std::string(bad).substr(0, std::strlen(c.bad_word)), c.bad_word);
  }
  EXPECT_STRNE(fwsim::parse_status_text(c.want), "?");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FwScenarioRejects,
    ::testing::Values(BadCase{"", parse_status::empty, nullptr}, BadCase{"  # nothing\n", parse_status::empty, nullptr},
                      BadCase{"zq9999", parse_status::unknown_chip, "zq9999"},
                      BadCase{"zq32011", parse_status::unknown_chip, "zq32011"},
                      BadCase{"zq3201 loud", parse_status::unknown_knob, "loud"},
                      BadCase{"zq3201 64=", parse_status::unknown_knob, "64="},
                      BadCase{"zq3201 164=00", parse_status::unknown_knob, "164=00"},
                      BadCase{"zq3201 6g=00", parse_status::unknown_knob, "6g=00"},
                      BadCase{"zq3101 noqualify", parse_status::no_qualification, "noqualify"},
                      BadCase{"zq3102 noqualify", parse_status::no_qualification, "noqualify"},
                      BadCase{"absent noqualify", parse_status::knob_without_chip, "noqualify"},
                      BadCase{"zq3201 1=1 2=2 3=3 4=4 5=5 6=6 7=7 8=8 9=9", parse_status::too_many_overrides, "9=9"}));

TEST(FwScenario, QualificationBitPerFamily) {
  struct Row {
    sim::family_id family;
    bool has;
    uint8_t reg;
  };
  const Row rows[] = {{sim::family_id::zq310x, false, 0},   {sim::family_id::zq320x, true, 0x64},
                      {sim::family_id::zq330x, true, 0x61}, {sim::family_id::zq340x, true, 0x64},
                      {sim::family_id::zq350x, true, 0x61}, {sim::family_id::zq360x, true, 0x67}};
  for (const Row& r : rows) {
    fwsim::qualification_bit q = {0xEE, 0xEE};
    EXPECT_EQ(fwsim::qualification_bit_of(r.family, &q), r.has) << static_cast<int>(r.family);
    if (r.has) {
      EXPECT_EQ(q.reg, r.reg);
      EXPECT_EQ(q.mask, 0x80);
    }
  }
}

// A bare register file, so the knobs and the verdict are checked against
// the model base alone, whatever a family's model adds.
class PlainChip final : public sim::chip_model {
 public:
  PlainChip() : chip_model("plain", layout, 0x00) {}
  void go() { mark_go(); }
  // SRAM window: base 0x10/0x11, pointer 0x12/0x13, data 0x14, access 0x15 bit 0.
  static constexpr sim::sram_layout layout = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x01};

  void load(uint16_t at, const uint8_t* bytes, size_t n) {
    write(0x15, 0x01);
    write(0x12, static_cast<uint8_t>(at >> 8));
    write(0x13, static_cast<uint8_t>(at));
    for (size_t i = 0; i < n; ++i) {
      write(0x14, bytes[i]);
    }
    write(0x15, 0x00);
  }
};

TEST(FwScenario, KnobsChangePowerOnValuesThatSurviveReset) {
  const fwsim::scenario s = parse_ok("zq3201 noqualify 20=5A");
  PlainChip chip;
  chip.configure(s.model->id);
  chip.set_register(0x64, 0xC3);
  fwsim::apply_scenario(s, chip);
  EXPECT_EQ(chip.reg(0x64), 0x43);
  EXPECT_EQ(chip.reg(0x20), 0x5A);
  chip.write(0x64, 0xFF);
  chip.write(0x20, 0x00);
  chip.reset_pulse();
  EXPECT_EQ(chip.reg(0x64), 0x43);
  EXPECT_EQ(chip.reg(0x20), 0x5A);
}

TEST(FwScenario, NoqualifyOnEachFamilysOwnModel) {
  for (const char* name : {"zq3201", "zq3301", "zq3401", "zq3501", "zq3601"}) {
    const fwsim::scenario s = parse_ok(std::string(name) + " noqualify");
    auto handle = sim::make_model(name);
    ASSERT_NE(handle, nullptr);
    fwsim::qualification_bit q = {};
    ASSERT_TRUE(fwsim::qualification_bit_of(s.model->family, &q));
    handle->model().set_register(q.reg, 0xFF);
    fwsim::apply_scenario(s, handle->model());
    EXPECT_EQ(handle->model().reg(q.reg) & q.mask, 0) << name;
  }
}

TEST(FwScenario, VerdictOnAHealthyChip) {
  PlainChip chip;
  chip.configure(0x95);
  chip.load(murvane::waveform_sram_base, murvane::waveform_image, murvane::waveform_image_len);
  chip.go();
  const fwsim::verdict v =
      fwsim::judge(&chip, murvane::waveform_image, murvane::waveform_image_len, murvane::waveform_sram_base);
  EXPECT_TRUE(v.chip_present);
  EXPECT_TRUE(v.sram_matches);
  EXPECT_EQ(v.sram_diffs, 0u);
  EXPECT_TRUE(v.playing);
  EXPECT_EQ(v.violations, 0u);
  EXPECT_TRUE(fwsim::healthy(v));
  char text[512];
  const size_t n =
      fwsim::format_verdict(v, &chip, murvane::waveform_image_len, murvane::waveform_sram_base, text, sizeof(text));
  EXPECT_EQ(std::string(text, n),
            "verdict: chip plain id 0x95\n"
            "verdict: sram 0x0800..0x0891 holds the waveform image\n"
            "verdict: go set\n"
            "verdict: violations 0\n");
}

TEST(FwScenario, VerdictFindsAShiftedImageAndViolations) {
  PlainChip chip;
  chip.configure(0x7150);
  // One byte late: every byte but those equal to their neighbour differs.
  chip.load(murvane::waveform_sram_base + 1, murvane::waveform_image, murvane::waveform_image_len);
  chip.write(0x14, 0x77);  // access closed
  const fwsim::verdict v =
      fwsim::judge(&chip, murvane::waveform_image, murvane::waveform_image_len, murvane::waveform_sram_base);
  size_t want_diffs = 0;
  for (size_t i = 0; i < murvane::waveform_image_len; ++i) {
    const uint8_t at = i == 0 ? 0 : murvane::waveform_image[i - 1];
    want_diffs += at != murvane::waveform_image[i] ? 1 : 0;
  }
  EXPECT_FALSE(v.sram_matches);
  EXPECT_EQ(v.sram_diffs, want_diffs);
  EXPECT_EQ(v.first_diff, 0x0800u);
  EXPECT_FALSE(v.playing);
  EXPECT_EQ(v.violations, 1u);
  EXPECT_FALSE(fwsim::healthy(v));
  char text[512];
  fwsim::format_verdict(v, &chip, murvane::waveform_image_len, murvane::waveform_sram_base, text, sizeof(text));
  const std::string t = text;
  EXPECT_NE(t.find("verdict: chip plain id 0x7150\n"), std::string::npos) << t;
  EXPECT_NE(t.find("differs from the waveform image in " + std::to_string(want_diffs) + " bytes, first at 0x0800\n"),
            std::string::npos)
      << t;
  EXPECT_NE(t.find("verdict: go not set\n"), std::string::npos) << t;
  EXPECT_NE(t.find("verdict: violations 1\nverdict: violation reg 0x14 value 0x77: SRAM data written while host "
                   "access is closed\n"),
            std::string::npos)
      << t;
}

TEST(FwScenario, VerdictWithoutAChip) {
  const fwsim::verdict v = fwsim::judge(nullptr, murvane::waveform_image, murvane::waveform_image_len, 0x0800);
  EXPECT_FALSE(v.chip_present);
  EXPECT_FALSE(fwsim::healthy(v));
  char text[64];
  fwsim::format_verdict(v, nullptr, murvane::waveform_image_len, 0x0800, text, sizeof(text));
  EXPECT_STREQ(text, "verdict: no chip on the bus\n");
}

TEST(FwScenario, TrafficLine) {
  char text[128];
  const size_t n = fwsim::format_traffic(20, 318, 5, 15000, text, sizeof(text));
  EXPECT_EQ(std::string(text, n), "traffic: 20 reads, 318 writes, 5 stalls, 15000 us stalled\n");
}

TEST(FwScenario, VerdictTextIsCutNotOverrun) {
  PlainChip chip;
  chip.configure(0x05);
  const fwsim::verdict v = fwsim::judge(&chip, murvane::waveform_image, murvane::waveform_image_len, 0x0800);
  char text[24];
  std::memset(text, 'X', sizeof(text));
  const size_t n = fwsim::format_verdict(v, &chip, murvane::waveform_image_len, 0x0800, text, 16);
  EXPECT_EQ(n, 15u);
  EXPECT_EQ(text[15], '\0');
  EXPECT_EQ(text[16], 'X');
}

}  // namespace
