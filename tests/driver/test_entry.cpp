// The image entry point as firmware calls it: protocol publication, the
// order of its log lines, its result, and the shared stack-guard value.
#include <gtest/gtest.h>

#include "core/entry.h"
#include "murvane/version.h"
#include "platform/platform.h"
#include "platform/stack_guard.h"
#include "tests/sim_fixture.h"

namespace {

using murvane_test::SimBoard;

const char* const version_line = murvane::version_line;
const char* const install_ok = "Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Success\n";

size_t count_events(const SimBoard& b, const char* kind) {
  size_t n = 0;
  for (const auto& e : b.events()) {
    n += e["ev"] == kind ? 1 : 0;
  }
  return n;
}

TEST(Entry, InstallsTheRecordOnTheImageHandleBeforeAnyChipTraffic) {
  SimBoard b("absent");
  EXPECT_EQ(b.entry(), EFI_SUCCESS);
  const auto& ev = b.events();
  size_t install_at = 0;
  size_t first_bus = 0;
  for (size_t i = 0; i < ev.size(); ++i) {
    if (ev[i]["ev"] == "install") {
      install_at = i;
      EXPECT_EQ(ev[i]["guid"], "6B0F3C2E-91D4-4A57-8E6B-2F19C04D7A31");
      EXPECT_EQ(ev[i]["on_image_handle"], true);
      EXPECT_EQ(ev[i]["interface_type"], 0);
      EXPECT_EQ(ev[i]["revision"], "0x0000000000010005");
      EXPECT_EQ(ev[i]["status"], "0x0000000000000000");
    }
    if (first_bus == 0 && (ev[i]["ev"] == "i2c_open" || ev[i]["ev"] == "pin_set")) {
      first_bus = i;
    }
  }
  EXPECT_GT(install_at, 0u);
  EXPECT_LT(install_at, first_bus);
  EXPECT_EQ(b.platform().installed_handle(EFI_ZELT_I2C_HAPTIC_PROTOCOL_GUID), b.platform().image_handle());
}

TEST(Entry, NoChipStillReturnsSuccessWithInstallLineLast) {
  SimBoard b("absent");
  EXPECT_EQ(b.entry(), EFI_SUCCESS);
  const auto log = b.log();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log.front(), version_line);
  EXPECT_EQ(log[log.size() - 2], "Murvane: func init error\n");
  EXPECT_EQ(log.back(), install_ok);
}

TEST(Entry, BusProtocolAbsentStopsAtBusOpen) {
  sim::PlatformOptions o;
  o.i2c = sim::I2cMode::absent;
  SimBoard b("zq3101", o);
  EXPECT_EQ(b.entry(), EFI_SUCCESS);
  EXPECT_EQ(b.log(), (std::vector<std::string>{version_line, "Failed to get I2C protocol 0x0000000e\n",
                                               "Failed to initialize instance 5 I2C 1\n", "Murvane: hw init err 7\n",
                                               install_ok}));
  EXPECT_EQ(count_events(b, "pin_set"), 0u);
}

TEST(Entry, InstallRefusedLogsOnlyTheInstallLineAndReturnsTheError) {
  const std::pair<EFI_STATUS, const char*> cases[] = {
      {EFI_INVALID_PARAMETER, "Invalid Parameter"},
      {EFI_OUT_OF_RESOURCES, "Out of Resources"},
      {EFI_ACCESS_DENIED, "Access Denied"},
  };
  for (const auto& [status, name] : cases) {
    sim::PlatformOptions o;
    o.install_status = status;
    SimBoard b("zq3101", o);
    EXPECT_EQ(b.entry(), status);
    EXPECT_EQ(b.log(), (std::vector<std::string>{std::string("Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - ") +
                                                 name + "\n"}));
    EXPECT_TRUE(b.traffic().empty());
    EXPECT_EQ(count_events(b, "i2c_open") + count_events(b, "pin_set") + count_events(b, "pin_config"), 0u);
    // The support state is torn down after a failed entry.
    EXPECT_EQ(murvane::g_support.boot_services, nullptr);
  }
}

TEST(Entry, InstallWarningIsNotAnError) {
  sim::PlatformOptions o;
  o.install_status = 4;  // a warning: top bit clear
  SimBoard b("absent", o);
  EXPECT_EQ(b.entry(), EFI_SUCCESS);
  EXPECT_EQ(b.log().front(), version_line);
  EXPECT_EQ(b.log().back(), "Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Warning Buffer Too Small\n");
}

TEST(Entry, PublishedStartRunsTheWholeSequenceAgain) {
  SimBoard b("absent");
  ASSERT_EQ(b.entry(), EFI_SUCCESS);
  auto* proto = static_cast<EFI_ZELT_I2C_HAPTIC_PROTOCOL*>(b.platform().installed(EFI_ZELT_I2C_HAPTIC_PROTOCOL_GUID));
  ASSERT_NE(proto, nullptr);
  EXPECT_EQ(proto->Revision, 0x00010005u);
  const size_t before = b.log().size();
  EXPECT_EQ(b.start(), EFI_DEVICE_ERROR);  // no chip: identification fails
  const auto log = b.log();
  EXPECT_EQ(log[before], version_line);
  EXPECT_EQ(log.back(), "Murvane: func init error\n");
  EXPECT_EQ(count_events(b, "i2c_open"), 2u);
  EXPECT_EQ(b.platform().counters().reset_pulses, 4u);
}

TEST(Entry, NullOrForeignSystemTableIsRefusedWithoutTouchingIt) {
  SimBoard b("zq3101");
  EXPECT_EQ(efi_main(b.platform().image_handle(), nullptr), EFI_INVALID_PARAMETER);
  EFI_SYSTEM_TABLE foreign = *b.platform().system_table();
  foreign.Hdr.Signature = 0x1234;
  EXPECT_EQ(efi_main(b.platform().image_handle(), &foreign), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(b.events().empty());
}

// --- stack guard -----------------------------------------------------------

TEST(StackGuard, SharedValueInTheConfigurationTableIsTakenAsIs) {
  SimBoard b("absent");
  b.platform().add_config_table(MURVANE_STACK_GUARD_GUID, reinterpret_cast<void*>(uintptr_t{0x1122334455667788}));
  const auto r = murvane::obtain_stack_guard(b.platform().image_handle(), b.platform().system_table());
  EXPECT_EQ(r.source, murvane::stack_guard_source::config_table);
  EXPECT_EQ(r.value, 0x1122334455667788u);
  EXPECT_FALSE(r.published);
  ASSERT_EQ(b.entry(), EFI_SUCCESS);
  EXPECT_EQ(__security_cookie, 0x1122334455667788u);
  EXPECT_EQ(count_events(b, "install_config_table"), 0u);
}

TEST(StackGuard, FreshValueFromTheRngIsPublishedForLaterImages) {
  sim::PlatformOptions o;
  o.rng_present = true;
  SimBoard b("absent", o);
  ASSERT_EQ(b.entry(), EFI_SUCCESS);
  ASSERT_EQ(b.platform().config_table().size(), 1u);
  const auto& entry = b.platform().config_table()[0];
  EXPECT_TRUE(guid_equal(entry.VendorGuid, MURVANE_STACK_GUARD_GUID));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(entry.VendorTable), __security_cookie);
  EXPECT_NE(__security_cookie, 0u);
  // The guard is settled before anything else happens.
  EXPECT_EQ(b.events()[0]["ev"], "call");
  EXPECT_EQ(b.events()[1]["ev"], "locate");
  EXPECT_EQ(b.events()[1]["guid"], "3152BCA5-EADE-433D-862E-C01CDC291F44");
  EXPECT_EQ(b.events()[2]["ev"], "install_config_table");
  EXPECT_EQ(b.events()[2]["guid"], "8E2A4F71-D05C-4B39-9C16-7B3E2A0F8D45");

  // A second image of the same boot takes the published value.
  const auto again = murvane::obtain_stack_guard(b.platform().image_handle(), b.platform().system_table());
  EXPECT_EQ(again.source, murvane::stack_guard_source::config_table);
  EXPECT_EQ(again.value, __security_cookie);
}

TEST(StackGuard, WithoutRngTheCounterIsUsedAndPublished) {
  SimBoard b("absent");
  const auto r1 = murvane::obtain_stack_guard(b.platform().image_handle(), b.platform().system_table());
  EXPECT_EQ(r1.source, murvane::stack_guard_source::counter);
  EXPECT_TRUE(r1.published);
  EXPECT_NE(r1.value, 0u);
  SimBoard b2("absent");
  const auto r2 = murvane::obtain_stack_guard(b2.platform().image_handle(), b2.platform().system_table());
  EXPECT_NE(r1.value, r2.value);
}

TEST(StackGuard, NullImageHandleSkipsTheStep) {
  SimBoard b("absent");
  const uintptr_t before = __security_cookie;
  const auto r = murvane::obtain_stack_guard(nullptr, b.platform().system_table());
  EXPECT_EQ(r.source, murvane::stack_guard_source::untouched);
  EXPECT_EQ(r.value, before);
  EXPECT_TRUE(b.events().empty());
}

TEST(StackGuard, NullTableDrawsAFreshValueAndPublishesNothing) {
  SimBoard b("absent");
  const auto r = murvane::obtain_stack_guard(b.platform().image_handle(), nullptr);
  EXPECT_EQ(r.source, murvane::stack_guard_source::counter);
  EXPECT_FALSE(r.published);
  EXPECT_NE(r.value, 0u);
  EXPECT_TRUE(b.events().empty());
}

}  // namespace
