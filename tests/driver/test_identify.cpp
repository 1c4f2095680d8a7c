// Reset pulse, identifier read-out and family selection, and the table of
// chip identifiers.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "core/family.h"
#include "core/identify.h"
#include "core/regs.h"
#include "platform/platform.h"
#include "sim/model_factory.h"
#include "sim/models/model_table.h"
#include "tests/sim_fixture.h"

namespace {

using namespace murvane_test;  // the trace notation and SimBoard

TEST(ChipTable, DriverAndSimulatorAgreeOnEveryModel) {
  ASSERT_EQ(murvane::chip_model_count, sim::model_info_count);
  std::set<uint32_t> ids;
  for (const sim::model_info& info : sim::model_infos) {
    const murvane::chip_model* m = murvane::find_chip_model(info.id);
    ASSERT_NE(m, nullptr) << info.name;
    EXPECT_STREQ(m->model, info.name);
    EXPECT_STREQ(m->family->name, info.family_name) << info.name;
    EXPECT_EQ(std::string(m->detect_line), std::string("Murvane: detected ") + info.name + ".\n");
    EXPECT_EQ(murvane::find_chip_model(info.name), m);
    ids.insert(info.id);
  }
  EXPECT_EQ(ids.size(), sim::model_info_count);  // no identifier twice
}

// The identifier's width goes with the family: every model of a family
// answers in the same place, and the chip model answering is of the family
// the driver's table puts the identifier in.
TEST(ChipTable, OneByteAndSixteenBitWidthsByFamily) {
  std::map<std::string, bool> one_byte_by_family;
  for (const murvane::chip_model& m : murvane::chip_models) {
    // The chip model's side: a one-byte identifier answers in 0x00; a
    // 16-bit one in 0x57/0x58, with 0x00 reading a marker.
    const auto chip = sim::make_model(m.model);
    ASSERT_NE(chip, nullptr) << m.model;
    sim::chip_model& c = chip->model();
    EXPECT_STREQ(c.family_name(), m.family->name) << m.model;
    const auto width = one_byte_by_family.emplace(m.family->name, m.id <= 0xFF).first;
    EXPECT_EQ(width->second, m.id <= 0xFF)
        << m.model << ": another identifier width than the rest of " << m.family->name;
    const uint8_t first = c.read(0x00);
    if (m.id <= 0xFF) {
      EXPECT_EQ(first, m.id) << m.model;
    } else {
      EXPECT_EQ(first & 0x7C, 0) << m.model << ": 0x00 reads the 16-bit marker";
      EXPECT_EQ(static_cast<uint32_t>(c.read(0x57) << 8 | c.read(0x58)), m.id) << m.model;
    }
  }
  // Every family is there, and both widths occur.
  EXPECT_EQ(one_byte_by_family.size(), murvane::chip_family_count);
  const auto one_byte =
      std::count_if(one_byte_by_family.begin(), one_byte_by_family.end(), [](const auto& f) { return f.second; });
  EXPECT_GT(one_byte, 0);
  EXPECT_LT(one_byte, static_cast<std::ptrdiff_t>(one_byte_by_family.size()));
}

TEST(ChipTable, NearMissesSelectNothing) {
  for (uint32_t id : {0x00u, 0x84u, 0x96u, 0x08u, 0x03u, 0x7160u, 0x7172u, 0x9290u, 0x9350u, 0x10095u}) {
    EXPECT_EQ(murvane::find_chip_model(id), nullptr) << std::hex << id;
  }
  EXPECT_EQ(murvane::find_chip_model("zq310"), nullptr);
  EXPECT_EQ(murvane::find_chip_model("zq31011"), nullptr);
}

TEST(ShortId, ExactlyEightMarkerValuesAreNotOneByteIdentifiers) {
  for (int v = 0; v < 256; ++v) {
    const bool marker = (v <= 0x03) || (v >= 0x80 && v <= 0x83);
    EXPECT_EQ(murvane::check_short_id(static_cast<uint8_t>(v)) != EFI_SUCCESS, marker) << v;
  }
}

class Identify : public ::testing::Test {
 protected:
  explicit Identify(const char* model = "zq3101") : board_(model) {
    murvane::support_init(board_.platform().image_handle(), board_.platform().system_table());
    EXPECT_EQ(murvane::bus_open(), EFI_SUCCESS);
  }
  SimBoard board_;
};

TEST_F(Identify, OneByteIdentifierReadsOnlyRegister0) {
  uint32_t id = 0;
  const size_t m = board_.mark();
  EXPECT_EQ(murvane::read_chip_id(&id), EFI_SUCCESS);
  EXPECT_EQ(id, 0x95u);
  EXPECT_EQ(board_.traffic(m), (Trace{rd(0x00, 0x95)}));
}

TEST_F(Identify, MarkerInRegister0ReadsBigEndianIdentifierFrom57And58) {
  for (uint8_t marker : {0x00, 0x03, 0x80, 0x83}) {
    board_.chip().set_register(0x00, marker);
    board_.chip().set_register(0x57, 0x92);
    board_.chip().set_register(0x58, 0x70);
    uint32_t id = 0;
    const size_t m = board_.mark();
    EXPECT_EQ(murvane::read_chip_id(&id), EFI_SUCCESS);
    EXPECT_EQ(id, 0x9270u);
    EXPECT_EQ(board_.traffic(m), (Trace{rd(0x00, marker), rd(0x57, 0x92), rd(0x58, 0x70)}));
    EXPECT_EQ(murvane::find_chip_model(id)->family, &murvane::zq350x_family);
  }
}

TEST_F(Identify, FailedReadsLeaveTheIdentifierUntouchedAndStopEarly) {
  struct Case {
    uint8_t failing_reg;
    Trace traffic;
  };
  board_.chip().set_register(0x00, 0x80);
  board_.chip().set_register(0x57, 0x71);
  board_.chip().set_register(0x58, 0x80);
  const Case cases[] = {
      {0x00, {rd_fail(0x00)}},
      {0x57, {rd(0x00, 0x80), rd_fail(0x57)}},
      {0x58, {rd(0x00, 0x80), rd(0x57, 0x71), rd_fail(0x58)}},
  };
  for (const Case& c : cases) {
    board_.platform().clear_faults();
    board_.platform().add_fault({.transfer = std::nullopt, .reg = c.failing_reg, .op = sim::Op::read});
    uint32_t id = 0x1234;
    const size_t m = board_.mark();
    EXPECT_EQ(murvane::read_chip_id(&id), EFI_DEVICE_ERROR);
    EXPECT_EQ(id, 0x1234u);
    EXPECT_EQ(board_.traffic(m), c.traffic);
  }
}

TEST_F(Identify, HealthySelectionPulsesResetOnceWithItsWaits) {
  const size_t m = board_.mark();
  EXPECT_EQ(murvane::reset_and_select_family(), EFI_SUCCESS);
  EXPECT_EQ(murvane::current_family, &murvane::zq310x_family);
  std::vector<std::string> kinds;
  for (size_t i = m; i < board_.events().size(); ++i) {
    const auto& e = board_.events()[i];
    kinds.push_back(e["ev"].get<std::string>());
    if (e["ev"] == "pin_config") {
      EXPECT_EQ(e["word"], 0x200EC1E0u);
      EXPECT_EQ(e["value"], 1);
    }
    if (e["ev"] == "locate") {
      EXPECT_EQ(e["guid"], "C47E1A05-3B92-4F6D-A1E8-5D20B7C9F364");
    }
  }
  EXPECT_EQ(kinds,
            (std::vector<std::string>{"locate", "pin_config", "pin_set", "stall", "pin_set", "stall", "i2c_read"}));
  EXPECT_EQ(board_.stalls(m), (std::vector<uint64_t>{2000, 8000}));
  EXPECT_EQ(board_.events()[m + 2]["level"], 0);
  EXPECT_EQ(board_.events()[m + 4]["level"], 1);
  EXPECT_EQ(board_.platform().counters().reset_pulses, 1u);
}

TEST_F(Identify, UnknownIdentifierTwiceGivesTwoPulsesAndDeviceError) {
  board_.chip().set_chip_id(0x96);
  EXPECT_EQ(murvane::reset_and_select_family(), EFI_DEVICE_ERROR);
  EXPECT_EQ(murvane::current_family, nullptr);
  EXPECT_EQ(board_.log(), (std::vector<std::string>{"Murvane: unexpected chipid!\n", "Murvane: unexpected chipid!\n"}));
  EXPECT_EQ(board_.stalls(), (std::vector<uint64_t>{2000, 8000, 2000, 2000, 8000, 2000}));
  EXPECT_EQ(board_.platform().counters().reset_pulses, 2u);
}

TEST_F(Identify, SecondPassAfterAResetCanSucceed) {
  board_.chip().script_read(0x00, 0x96);  // garbage on the first read only
  EXPECT_EQ(murvane::reset_and_select_family(), EFI_SUCCESS);
  EXPECT_EQ(murvane::current_family, &murvane::zq310x_family);
  EXPECT_EQ(board_.log(), (std::vector<std::string>{"Murvane: unexpected chipid!\n"}));
  EXPECT_EQ(board_.platform().counters().reset_pulses, 2u);
}

TEST_F(Identify, PinControlMissingSkipsThePulseButStillSelects) {
  board_.platform().options().pin = sim::PinMode::absent;
  EXPECT_EQ(murvane::reset_and_select_family(), EFI_SUCCESS);
  EXPECT_EQ(board_.log(), (std::vector<std::string>{"failed to get korm protocol\n"}));
  EXPECT_TRUE(board_.stalls().empty());
  EXPECT_EQ(board_.platform().counters().reset_pulses, 0u);
}

TEST_F(Identify, PinConfigurationRefusedStillDrivesThePulse) {
  board_.platform().options().pin = sim::PinMode::config_fails;
  EXPECT_EQ(murvane::reset_and_select_family(), EFI_SUCCESS);
  EXPECT_EQ(board_.log(), (std::vector<std::string>{"failed to set gpio 30\n"}));
  EXPECT_EQ(board_.platform().counters().reset_pulses, 1u);
}

TEST(IdentifyNoChip, EachPassLogsReadErrorThenDeviceError) {
  SimBoard b("absent");
  murvane::support_init(b.platform().image_handle(), b.platform().system_table());
  ASSERT_EQ(murvane::bus_open(), EFI_SUCCESS);
  EXPECT_EQ(murvane::reset_and_select_family(), EFI_DEVICE_ERROR);
  const std::vector<std::string> pass = {"Read addr:0x0 error:5\n", "Murvane: read chip id fail\n",
                                         "Murvane: unexpected chipid!\n"};
  std::vector<std::string> expected = pass;
  expected.insert(expected.end(), pass.begin(), pass.end());
  EXPECT_EQ(b.log(), expected);
  EXPECT_EQ(b.platform().counters().reset_pulses, 2u);
}

TEST_F(Identify, ModelLineForEveryIdentifier) {
  for (const murvane::chip_model& m : murvane::chip_models) {
    board_.chip().set_chip_id(m.id);
    const size_t before = board_.log().size();
    EXPECT_EQ(murvane::identify_chip(), EFI_SUCCESS) << m.model;
    const auto log = board_.log();
    ASSERT_EQ(log.size(), before + 1);
    EXPECT_EQ(log.back(), m.detect_line);
  }
  EXPECT_TRUE(board_.stalls().empty());
}

TEST_F(Identify, UnsupportedRevisionRetriesOnceWithoutReset) {
  board_.chip().set_chip_id(0x7160);
  EXPECT_EQ(murvane::identify_chip(), EFI_UNSUPPORTED);
  EXPECT_EQ(board_.log(), (std::vector<std::string>{"Murvane: unsupport device revision (0x7160)\n",
                                                    "Murvane: unsupport device revision (0x7160)\n"}));
  EXPECT_EQ(board_.stalls(), (std::vector<uint64_t>{2000, 2000}));
  EXPECT_EQ(board_.platform().counters().reset_pulses, 0u);
}

TEST_F(Identify, FailedSecondReadKeepsTheFirstValue) {
  board_.chip().set_chip_id(0x84);
  board_.platform().add_fault({.transfer = std::nullopt, .reg = 0x00, .op = sim::Op::read, .from = 2});
  EXPECT_EQ(murvane::identify_chip(), EFI_UNSUPPORTED);
  EXPECT_EQ(board_.log(),
            (std::vector<std::string>{"Murvane: unsupport device revision (0x84)\n", "Read addr:0x0 error:5\n",
                                      "Murvane: read chip id fail\n", "Murvane: unsupport device revision (0x84)\n"}));
}

}  // namespace
