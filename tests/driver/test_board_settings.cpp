// The board settings (cmake/board_settings.cmake): the driver reads them from
// the one generated header, and the default build is the reference board
// the golden traces and the unit tests' literal values were recorded on. A
// build with other values is tested by board_settings_build (a separate
// build of murvane-sim with non-default settings).
#include <gtest/gtest.h>

#include "core/identify.h"
#include "core/regs.h"
#include "murvane/board_settings.h"
#include "platform/platform.h"
#include "tests/sim_fixture.h"

namespace {

TEST(BoardSettings, ThisBuildIsTheReferenceBoard) {
  ASSERT_TRUE(murvane::board::reference_board)
      << "the unit tests and golden traces hold the reference board's values; run them on a build with the default "
         "board settings (cmake --preset default) and configure a board's own build with -DMURVANE_TESTS=OFF";
}

TEST(BoardSettings, DefaultsAreTheReferenceBoardsValues) {
  if (!murvane::board::reference_board) {
    GTEST_SKIP() << "not the reference board";
  }
  EXPECT_EQ(murvane::board::i2c_instance, 5u);
  EXPECT_EQ(murvane::board::i2c_speed_khz, 400u);
  EXPECT_EQ(murvane::board::i2c_address, 0x5Au);
  EXPECT_EQ(murvane::board::i2c_config_words_3_to_6[0], 0u);
  EXPECT_EQ(murvane::board::i2c_config_words_3_to_6[1], 500u);
  EXPECT_EQ(murvane::board::i2c_config_words_3_to_6[2], 0u);
  EXPECT_EQ(murvane::board::i2c_config_words_3_to_6[3], 0u);
  EXPECT_EQ(murvane::board::reset_pin_word, 0x200EC1E0u);
  EXPECT_EQ(murvane::board::reset_pin_gpio, 30);
}

TEST(BoardSettings, DriverConstantsComeFromTheHeader) {
  EXPECT_EQ(murvane::i2c_instance, murvane::board::i2c_instance);
  EXPECT_EQ(murvane::slave_config_values[0], murvane::board::i2c_speed_khz);
  EXPECT_EQ(murvane::slave_config_values[1], murvane::board::i2c_address);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(murvane::slave_config_values[2 + i], murvane::board::i2c_config_words_3_to_6[i]) << "word " << 3 + i;
  }
  EXPECT_EQ(murvane::reset_pin_config, murvane::board::reset_pin_word);
  EXPECT_EQ(murvane::reset_pin_gpio, murvane::board::reset_pin_gpio);
}

TEST(BoardSettings, TheBusSeesThem) {
  murvane_test::SimBoard b("zq3101");
  murvane::support_init(b.platform().image_handle(), b.platform().system_table());
  ASSERT_EQ(murvane::bus_open(), EFI_SUCCESS);
  uint8_t v = 0;
  ASSERT_EQ(murvane::reg_read(0x00, &v), 0u);
  const auto& ev = b.events();
  ASSERT_GE(ev.size(), 3u);
  EXPECT_EQ(ev[1]["instance"], murvane::board::i2c_instance);
  const auto& config = ev.back()["config"];
  ASSERT_EQ(config.size(), 6u);
  EXPECT_EQ(config[0], murvane::board::i2c_speed_khz);
  EXPECT_EQ(config[1], murvane::board::i2c_address);
  EXPECT_EQ(config[3], murvane::board::i2c_config_words_3_to_6[1]);
}

}  // namespace
