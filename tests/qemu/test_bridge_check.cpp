// The checker's part for the stock-board boots: the host run that stands for
// each master driver's behaviour, and the bridge's own lines in the log.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "murvane/version.h"
#include "testbench/qemu/bridge_check.h"

namespace {

// The driver's first line, from the one place the version is set.
const std::string version_line = murvane::version_line;

fwsim::scenario parsed(const char* text) {
  fwsim::scenario s = {};
  EXPECT_EQ(fwsim::parse_scenario(text, std::char_traits<char>::length(text), &s), fwsim::parse_status::ok);
  return s;
}

fwcheck::bridge_boot boot(const std::string& mode, const std::string& board) {
  fwcheck::bridge_boot b;
  std::string why;
  EXPECT_TRUE(fwcheck::parse_bridge_boot(mode, board, &b, &why)) << why;
  return b;
}

TEST(BridgeCheck, RefusesAModeOrBehaviourItDoesNotKnow) {
  fwcheck::bridge_boot b;
  std::string why;
  EXPECT_FALSE(fwcheck::parse_bridge_boot("host", "", &b, &why));
  EXPECT_EQ(why, "--bridge takes master or io, not host");
  EXPECT_FALSE(fwcheck::parse_bridge_boot("master", "round-down hide-nacks", &b, &why));
  EXPECT_EQ(why, "--board: unknown behaviour at \"hide-nacks\"");
}

// With no chip every read fails; the driver logs the master's code.
TEST(BridgeCheck, HostRunCarriesEachMastersNackStatus) {
  struct row {
    const char* board;
    const char* line;
  };
  const row rows[] = {
      {"", "Read addr:0x0 error:7"},
      {"nack-no-response", "Read addr:0x0 error:16"},
      {"status-only", "Read addr:0x0 error:7"},
      {"status-only nack-no-response", "Read addr:0x0 error:16"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.board);
    const fwcheck::run_record host = fwcheck::run_bridged_on_host(boot("master", r.board), parsed("absent"));
    const auto lines = fwcheck::split_lines(host.entry_log);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], r.line);
    EXPECT_EQ(host.start_log.find("error:5"), std::string::npos);
  }
}

// A master that hides NACKs: no failure at all, identification reads 0.
TEST(BridgeCheck, HiddenNacksEndTheBringUpAtIdentification) {
  const fwcheck::run_record host = fwcheck::run_bridged_on_host(boot("master", "nack-success"), parsed("absent"));
  const std::string want = version_line +
                           "Murvane: unexpected chipid!\n"
                           "Murvane: unexpected chipid!\n"
                           "Murvane: func init error\n";
  EXPECT_EQ(host.start_log, want);
  EXPECT_EQ(host.start_status, "Device Error");
  EXPECT_EQ(host.traffic, "traffic: 12 reads, 0 writes, 12 stalls, 48000 us stalled");
  EXPECT_EQ(host.verdict, (std::vector<std::string>{"verdict: no chip on the bus"}));
}

TEST(BridgeCheck, HealthyChipIsTheHostsOwnRun) {
  const fwcheck::run_record plain = fwcheck::run_on_host(parsed("zq3201"));
  const fwcheck::run_record bridged = fwcheck::run_bridged_on_host(boot("io", "nack-no-response"), parsed("zq3201"));
  EXPECT_EQ(bridged.entry_log, plain.entry_log);
  EXPECT_EQ(bridged.start_log, plain.start_log);
  EXPECT_EQ(bridged.traffic, plain.traffic);
  EXPECT_TRUE(bridged.healthy);
}

constexpr const char* installed = "MurvaneBridge: Install EFI_ZELT_I2C_PROTOCOL and EFI_KORM_PROTOCOL - Success\n";

fwcheck::firmware_record record(const std::string& open_line) {
  fwcheck::firmware_record fw;
  fw.saw_entry = true;
  fw.saw_start = true;
  fw.run.entry_log = version_line + open_line + "Murvane: detected zq3201.\n";
  fw.run.start_log = version_line + open_line + "Murvane: zq uefi driver end\n";
  return fw;
}

TEST(BridgeCheck, TakesOneOpenLinePerBringUpWithTheRateSet) {
  const std::string open = "MurvaneBridge: I2C master 0, bus clock 375000 Hz (asked for 400000 Hz)\n";
  fwcheck::firmware_record fw = record(open);
  const fwcheck::comparison c = fwcheck::take_bridge_lines(boot("master", "round-down"), fw, installed);
  EXPECT_TRUE(c.ok);
  EXPECT_EQ(fw.run.entry_log, version_line + "Murvane: detected zq3201.\n");
  EXPECT_EQ(fw.run.start_log, version_line + "Murvane: zq uefi driver end\n");

  fw = record(open);  // the controller did not round: another rate expected
  EXPECT_FALSE(fwcheck::take_bridge_lines(boot("master", ""), fw, installed).ok);
  fw = record(open + open);
  EXPECT_FALSE(fwcheck::take_bridge_lines(boot("master", "round-down"), fw, installed).ok);
  fw = record("");
  EXPECT_FALSE(fwcheck::take_bridge_lines(boot("master", "round-down"), fw, installed).ok);
  fw = record("MurvaneBridge: I2C IO device 1 of 2 has the board's DeviceGuid\n");
  EXPECT_TRUE(fwcheck::take_bridge_lines(boot("io", ""), fw, installed).ok);
}

TEST(BridgeCheck, ABrokenRequestOrAMissingInstallFails) {
  const std::string open = "MurvaneBridge: I2C master 0, bus clock 400000 Hz (asked for 400000 Hz)\n";
  fwcheck::firmware_record fw = record(open);
  fwcheck::comparison c = fwcheck::take_bridge_lines(
      boot("master", ""), fw, std::string(installed) + "[FakeBoard] broken request: a request above TPL_CALLBACK\n");
  EXPECT_FALSE(c.ok);
  EXPECT_NE(std::find(c.report.begin(), c.report.end(), "fake board: broken request: a request above TPL_CALLBACK"),
            c.report.end());
  fw = record(open);
  EXPECT_FALSE(fwcheck::take_bridge_lines(boot("master", ""), fw, "").ok);
}

}  // namespace
