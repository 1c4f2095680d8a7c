#include "tests/sim_fixture.h"

using murvane_test::SimBoard;

TEST(Smoke, EntryInstallsAndLogsLast) {
  SimBoard b("zq3101");
  EXPECT_EQ(b.entry(), EFI_SUCCESS);
  auto log = b.log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front(), "Murvane: zq uefi driver version is v1.5.0\n");
  EXPECT_EQ(log.back(), "Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Success\n");
}
