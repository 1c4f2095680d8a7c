// The host checker of the QEMU boots: reading the test application's
// transcript out of a serial log and comparing it with the host run.
#include <gtest/gtest.h>

#include <string>

#include "murvane/version.h"
#include "testbench/qemu/fw_check.h"

namespace {

// The driver's first line, from the one place the version is set.
const std::string version_line = murvane::version_line;
const std::string version_text = version_line.substr(0, version_line.size() - 1);  // without its newline

using fwcheck::firmware_record;
using fwcheck::run_record;

// A serial log as the firmware writes it: the application's lines and the
// driver's output, with the terminal's CRs and a few escape sequences.
std::string serial_of(const run_record& r, const std::string& revision = "revision 0x00010005 ok",
                      const std::string& guard = "shared", const std::string& bad = "0", bool done = true) {
  std::string s = "UEFI firmware\r\n\x1b[2J\x1b[01;01H\x1b[=3h\x1b[2J\x1b[01;01HBdsDxe: loading Boot0001\r\n";
  s += "[SimPlatform] chip: zq3201\r\n[fwtest] scenario: zq3201\r\n";
  s += "[fwtest] entry: begin\r\n";
  for (char c : r.entry_log) {
    s += c == '\n' ? std::string("\r\n") : std::string(1, c);
  }
  s += "\r\n[fwtest] entry: status " + r.entry_status + "\r\n";
  s += "[fwtest] stack guard: " + guard + "\r\n";
  s += "[fwtest] protocol: " + revision + "\r\n";
  s += "[fwtest] start: begin\r\n";
  for (char c : r.start_log) {
    s += c == '\n' ? std::string("\r\n") : std::string(1, c);
  }
  s += "\r\n[fwtest] start: status " + r.start_status + "\r\n";
  for (const std::string& v : r.verdict) {
    s += "[fwtest] " + v + "\r\n";
  }
  s += "[fwtest] " + r.traffic + "\r\n";
  s +=
      "[fwtest] bus: opens 2, failed transfers 0, pin configures 2, pin outputs 4, reset pulses 2, bus time 380 us\r\n";
  s += "[fwtest] bad requests: " + bad + "\r\n";
  if (done) {
    s += "[fwtest] done\r\n";
  }
  return s;
}

run_record sample_run() {
  run_record r;
  r.entry_log = version_line +
                "Murvane: qualify check failed\n"
                "Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Success\n";
  r.entry_status = "Success";
  r.start_log = version_line + "Murvane: qualify check failed\n";
  r.start_status = "Unsupported";
  r.verdict = {"verdict: chip zq320x id 0x05", "verdict: go not set"};
  r.traffic = "traffic: 4 reads, 0 writes, 4 stalls, 20000 us stalled";
  return r;
}

firmware_record parse(const std::string& raw) { return fwcheck::parse_serial(fwcheck::strip_console(raw)); }

TEST(FwCheckConsole, StripsEscapeSequencesAndCarriageReturns) {
  EXPECT_EQ(fwcheck::strip_console("\x1b[2J\x1b[01;01H\x1b[=3hA\r\nB\x1b(B\x1b"
                                   "7C\r\n"),
            "A\nBC\n");
  EXPECT_EQ(fwcheck::strip_console("\x1b[0m\x1b[40;37mtext"), "text");
  EXPECT_EQ(fwcheck::strip_console("cut\x1b"), "cut");
  EXPECT_EQ(fwcheck::strip_console("cut\x1b[12"), "cut");
}

TEST(FwCheckConsole, SplitsLines) {
  EXPECT_EQ(fwcheck::split_lines("a\nb\n"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(fwcheck::split_lines("a\n\nb"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_TRUE(fwcheck::split_lines("").empty());
}

TEST(FwCheckSerial, CutsTheDriverOutputOfBothCalls) {
  const run_record r = sample_run();
  const firmware_record fw = parse(serial_of(r));
  ASSERT_TRUE(fw.saw_entry);
  ASSERT_TRUE(fw.saw_start);
  EXPECT_EQ(fw.run.entry_log, r.entry_log);
  EXPECT_EQ(fw.run.entry_status, "Success");
  EXPECT_EQ(fw.run.start_log, r.start_log);
  EXPECT_EQ(fw.run.start_status, "Unsupported");
  EXPECT_EQ(fw.run.verdict, r.verdict);
  EXPECT_EQ(fw.revision, "protocol: revision 0x00010005 ok");
  EXPECT_EQ(fw.stack_guard, "stack guard: shared");
  EXPECT_EQ(fw.bad_requests, "bad requests: 0");
  EXPECT_EQ(fw.run.traffic, r.traffic);
  EXPECT_TRUE(fw.done);
  EXPECT_TRUE(fw.problems.empty());
}

TEST(FwCheckSerial, KeepsOutputWithoutLineEndAndEmptyOutput) {
  run_record r = sample_run();
  // A message without "\n" as the last output, and a call that prints nothing.
  r.entry_log = "Murvane: zq350x_dts.cont_track_margin = 0";
  r.start_log = "";
  const firmware_record fw = parse(serial_of(r));
  EXPECT_EQ(fw.run.entry_log, "Murvane: zq350x_dts.cont_track_margin = 0");
  EXPECT_EQ(fw.run.start_log, "");
  EXPECT_EQ(fw.run.start_status, "Unsupported");
  EXPECT_TRUE(fwcheck::compare(r, fw).ok);
}

TEST(FwCheckCompare, AgreeingRunPasses) {
  const run_record r = sample_run();
  const fwcheck::comparison c = fwcheck::compare(r, parse(serial_of(r)));
  EXPECT_TRUE(c.ok);
  ASSERT_FALSE(c.report.empty());
  EXPECT_EQ(c.report.front(), "driver log during entry: 3 lines, identical");
}

TEST(FwCheckCompare, EachDifferenceFails) {
  const run_record host = sample_run();
  struct Case {
    const char* what;
    std::string serial;
    const char* finding;
  };
  run_record other_log = host;
  other_log.start_log = version_line + "Murvane: func init error\n";
  run_record other_status = host;
  other_status.entry_status = "Invalid Parameter";
  run_record other_verdict = host;
  other_verdict.verdict.back() = "verdict: go set";
  run_record other_traffic = host;
  other_traffic.traffic = "traffic: 4 reads, 0 writes, 5 stalls, 21000 us stalled";
  const Case cases[] = {
      {"driver line", serial_of(other_log), "driver log during Start: DIFFERENT from line 2 on"},
      {"status", serial_of(other_status), "entry status: DIFFERENT"},
      {"verdict", serial_of(other_verdict), "chip verdict: DIFFERENT from line 2 on"},
      {"traffic", serial_of(other_traffic), "bus traffic and waits: DIFFERENT"},
      {"revision", serial_of(host, "revision 0x00010004 wrong"), "published protocol: expected"},
      {"guard", serial_of(host, "revision 0x00010005 ok", "not shared"), "stack guard: expected"},
      {"bad requests", serial_of(host, "revision 0x00010005 ok", "shared", "3"), "bus and pin requests: expected"},
      {"no end", serial_of(host, "revision 0x00010005 ok", "shared", "0", false), "did not reach its end"},
  };
  for (const Case& c : cases) {
    const fwcheck::comparison cmp = fwcheck::compare(host, parse(c.serial));
    EXPECT_FALSE(cmp.ok) << c.what;
    bool found = false;
    for (const std::string& line : cmp.report) {
      found = found || line.find(c.finding) != std::string::npos;
    }
    EXPECT_TRUE(found) << c.what << ": no finding \"" << c.finding << "\"";
  }
}

TEST(FwCheckCompare, ApplicationThatStoppedEarlyFails) {
  const run_record host = sample_run();
  const std::string serial =
      "[fwtest] Murvane firmware test\r\n[fwtest] SimPlatform.efi failed: Not Found\r\n[fwtest] done\r\n";
  const fwcheck::comparison c = fwcheck::compare(host, parse(serial));
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.report.front(), "test application: SimPlatform.efi failed: Not Found");
  // A log that stops inside the driver's output (a crash) has no transcript.
  std::string crashed = serial_of(host);
  crashed = crashed.substr(0, crashed.find("[fwtest] entry: status"));
  EXPECT_FALSE(fwcheck::compare(host, parse(crashed)).ok);
}

TEST(FwCheckCompare, StackGuardSourceMustBeTheExpectedOne) {
  const run_record host = sample_run();
  const std::string rng = "[fwtest] stack guard source: RNG protocol (the value drawn)\r\n";
  const std::string counter = "[fwtest] stack guard source: processor counter (no RNG protocol)\r\n";
  const std::string other = "[fwtest] stack guard source: unknown (not the value the RNG protocol gave)\r\n";
  using fwcheck::guard_source;
  struct Case {
    const char* what;
    std::string source_line;
    guard_source expected;
    bool ok;
  };
  const Case cases[] = {
      {"rng wanted, rng", rng, guard_source::rng, true},
      {"counter wanted, counter", counter, guard_source::counter, true},
      {"rng wanted, counter", counter, guard_source::rng, false},
      {"counter wanted, rng", rng, guard_source::counter, false},
      {"rng wanted, another value", other, guard_source::rng, false},
      {"rng wanted, no line", "", guard_source::rng, false},
      {"any, no line", "", guard_source::any, true},
      {"any, rng", rng, guard_source::any, true},
  };
  for (const Case& c : cases) {
    const std::string serial = serial_of(host) + c.source_line;
    const fwcheck::comparison cmp = fwcheck::compare(host, parse(serial), c.expected);
    EXPECT_EQ(cmp.ok, c.ok) << c.what;
  }
}

TEST(FwCheckShell, TheShellsLoadLineEndsTheEntry) {
  const run_record host = sample_run();
  // The Shell's script echoes the begin line; its `load` prints the status.
  std::string serial = serial_of(host);
  const std::string app_end = "\r\n[fwtest] entry: status Success\r\n";
  const size_t at = serial.find(app_end);
  ASSERT_NE(at, std::string::npos);
  serial.replace(at, app_end.size(), "Image 'FS0:\\Murvane.efi' loaded at 5F7EF000 - Success\r\n");
  const std::string log = fwcheck::strip_console(serial);
  EXPECT_FALSE(fwcheck::compare(host, fwcheck::parse_serial(log)).ok);
  const firmware_record fw = fwcheck::parse_serial(fwcheck::shell_transcript(log));
  EXPECT_EQ(fw.run.entry_status, "Success");
  EXPECT_TRUE(fwcheck::compare(host, fw).ok);
  // Another image's line, or a failed load, is left alone.
  const std::string other = fwcheck::shell_transcript("Image 'FS0:\\SimPlatform.efi' loaded at 5F7F5000 - Success\n");
  EXPECT_EQ(other, "Image 'FS0:\\SimPlatform.efi' loaded at 5F7F5000 - Success\n");
}

// The Shell loads the driver more than once: each load is marked alike and
// ended by the Shell's line; every later load is compared with the host's.
TEST(FwCheckShell, EveryLoadIsComparedWithAFreshImagesEntry) {
  run_record host = sample_run();
  host.reload_logs = {host.entry_log, host.entry_log};
  host.reload_statuses = {"Success", "Success"};
  auto loads_serial = [&](const std::string& second_log) {
    std::string serial = serial_of(host);
    const size_t at = serial.find("[fwtest] stack guard:");
    std::string more;
    for (const std::string& log : {second_log, host.entry_log}) {
      more += "[fwtest] entry: begin\r\n" + log + "Image 'FS0:\\Murvane.efi' loaded at 5F7EF000 - Success\r\n";
    }
    serial.insert(at, more);
    const size_t end = serial.find("\r\n[fwtest] entry: status Success\r\n");
    serial.replace(end, std::string("\r\n[fwtest] entry: status Success\r\n").size(),
                   "Image 'FS0:\\Murvane.efi' loaded at 5F7EF000 - Success\r\n");
    return fwcheck::parse_serial(fwcheck::shell_transcript(fwcheck::strip_console(serial)));
  };
  const firmware_record same = loads_serial(host.entry_log);
  EXPECT_EQ(same.run.reload_logs.size(), 2u);
  const fwcheck::comparison ok = fwcheck::compare(host, same);
  EXPECT_TRUE(ok.ok);
  // A second load that saw its calibration fail is a difference.
  const std::string failed_log = version_line +
                                 "Murvane: offset calibration out of range\n"
                                 "Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Success\n";
  const fwcheck::comparison bad = fwcheck::compare(host, loads_serial(failed_log));
  EXPECT_FALSE(bad.ok);
  bool named = false;
  for (const std::string& line : bad.report) {
    named = named || line.rfind("driver log during load 2: DIFFERENT from line 2 on", 0) == 0;
  }
  EXPECT_TRUE(named);
  // Fewer loads than the host made is a difference too.
  run_record one_more = host;
  one_more.reload_logs.push_back(host.entry_log);
  one_more.reload_statuses.emplace_back("Success");
  EXPECT_FALSE(fwcheck::compare(one_more, same).ok);
}

// What the application prints when the firmware refuses the driver.
std::string refused_serial(const std::string& status, const std::string& unloaded, const std::string& traffic,
                           const std::string& bus, bool done = true) {
  std::string s =
      "[fwtest] scenario: zq3101\r\n[fwtest] entry: begin\r\n\r\n[fwtest] entry: not loaded: " + status + "\r\n";
  if (!unloaded.empty()) {
    s += "[fwtest] entry: refused image unloaded: " + unloaded + "\r\n";
  }
  s += "[fwtest] verdict: chip zq310x id 0x95\r\n[fwtest] verdict: go not set\r\n";
  s += "[fwtest] traffic: " + traffic + "\r\n[fwtest] bus: " + bus + "\r\n[fwtest] bad requests: 0\r\n";
  if (done) {
    s += "[fwtest] done\r\n";
  }
  return s;
}

TEST(FwCheckRefused, NothingOfTheDriverMayRun) {
  const std::string quiet_traffic = "0 reads, 0 writes, 0 stalls, 0 us stalled";
  const std::string quiet_bus =
      "opens 0, failed transfers 0, pin configures 0, pin outputs 0, reset pulses 0, bus time 0 us";
  struct Case {
    const char* what;
    std::string serial;
    bool ok;
  };
  const Case cases[] = {
      {"access denied", refused_serial("Access Denied", "", quiet_traffic, quiet_bus), true},
      {"security violation, unloaded", refused_serial("Security Violation", "Success", quiet_traffic, quiet_bus), true},
      {"security violation, not unloaded", refused_serial("Security Violation", "", quiet_traffic, quiet_bus), false},
      {"security violation, unload failed",
       refused_serial("Security Violation", "Invalid Parameter", quiet_traffic, quiet_bus), false},
      {"another status", refused_serial("Load Error", "", quiet_traffic, quiet_bus), false},
      {"bus traffic", refused_serial("Access Denied", "", "4 reads, 0 writes, 0 stalls, 0 us stalled", quiet_bus),
       false},
      // The firmware's own waits while loading: not the driver's, never counted.
      {"firmware waits",
       refused_serial("Access Denied", "", "0 reads, 0 writes, 11 stalls, 2047 us stalled", quiet_bus), false},
      {"reset pin", refused_serial("Access Denied", "", quiet_traffic, "opens 0, failed transfers 0, pin configures 1"),
       false},
      {"no end", refused_serial("Access Denied", "", quiet_traffic, quiet_bus, false), false},
      {"driver line", refused_serial("Access Denied", "", quiet_traffic, quiet_bus) + "Murvane: ram mode\r\n", false},
      {"loaded after all", serial_of(sample_run()), false},
  };
  for (const Case& c : cases) {
    const fwcheck::comparison cmp = fwcheck::check_refused(parse(c.serial));
    EXPECT_EQ(cmp.ok, c.ok) << c.what;
  }
  // A refusal is a failure for a boot that must run the driver.
  EXPECT_FALSE(fwcheck::compare(sample_run(), parse(refused_serial("Access Denied", "", quiet_traffic, quiet_bus))).ok);
}

TEST(FwCheckHalt, StackGuardStopsTheBoot) {
  const std::string head =
      "[fwtest] scenario: absent stacksmash\r\n[fwtest] stack smash: overflowing a protected buffer\r\n";
  const std::string caught =
      "\r\nMurvane: stack guard check failed at image offset 0x0000000000001A2C\r\n"
      "Murvane: system halted\r\n";
  EXPECT_TRUE(fwcheck::check_stack_guard_halt(fwcheck::strip_console(head + caught)).ok);

  struct Case {
    const char* what;
    std::string serial;
  };
  const Case cases[] = {
      {"no overflow", caught},
      {"not caught", head + "[fwtest] stack smash: NOT caught\r\n[fwtest] done\r\n"},
      {"short offset", head + "Murvane: stack guard check failed at image offset 0x1A2C\r\nMurvane: system halted\r\n"},
      {"not halted", head + "Murvane: stack guard check failed at image offset 0x0000000000001A2C\r\n"},
      {"went on", head + caught + "[fwtest] done\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(fwcheck::check_stack_guard_halt(fwcheck::strip_console(c.serial)).ok) << c.what;
  }
}

// The C consumer's part, as the test application and Consumer.efi print it
// after the verdict when the disk carries Consumer.efi.
std::string with_consumer(const run_record& r, const std::string& revision = "revision 0x00010005 ok",
                          const std::string& exit_status = "") {
  std::string s = serial_of(r, "revision 0x00010005 ok", "shared", "0", false);
  s += "[fwtest] consumer: begin\r\n[consumer] Murvane C consumer\r\n";
  s += "[consumer] protocol: " + revision + "\r\n[consumer] start: begin\r\n";
  for (char c : r.consumer_log) {
    s += c == '\n' ? std::string("\r\n") : std::string(1, c);
  }
  s += "\r\n[consumer] start: status " + r.consumer_status + "\r\n";
  s += "\r\n[fwtest] consumer: status " + (exit_status.empty() ? r.consumer_status : exit_status) + "\r\n";
  s += "[fwtest] done\r\n";
  return s;
}

run_record sample_consumer_run() {
  run_record r = sample_run();
  r.consumer_log = version_line + "Murvane: qualify check failed\n";
  r.consumer_status = "Unsupported";
  return r;
}

TEST(FwCheckConsumer, CutsTheConsumersStartAndKeepsTheRestAsItWas) {
  const run_record r = sample_consumer_run();
  const firmware_record fw = parse(with_consumer(r));
  ASSERT_TRUE(fw.saw_consumer_start);
  EXPECT_EQ(fw.run.consumer_log, r.consumer_log);
  EXPECT_EQ(fw.run.consumer_status, "Unsupported");
  EXPECT_EQ(fw.consumer_revision, "protocol: revision 0x00010005 ok");
  EXPECT_EQ(fw.consumer_exit, "Unsupported");
  // The consumer's lines change nothing the other checks read.
  EXPECT_EQ(fw.run.start_log, r.start_log);
  EXPECT_EQ(fw.revision, "protocol: revision 0x00010005 ok");
  EXPECT_TRUE(fwcheck::compare(r, fw).ok);
  EXPECT_TRUE(fwcheck::compare_consumer(r, fw).ok);
}

TEST(FwCheckConsumer, EachDifferenceFails) {
  const run_record host = sample_consumer_run();
  run_record other_log = host;
  other_log.consumer_log = version_line + "Murvane: func init error\n";
  run_record other_status = host;
  other_status.consumer_status = "Device Error";
  struct Case {
    const char* what;
    std::string serial;
    const char* finding;
  };
  const Case cases[] = {
      {"driver line", with_consumer(other_log), "driver log during the C consumer's Start: DIFFERENT from line 2 on"},
      {"status", with_consumer(other_status, "revision 0x00010005 ok", "Unsupported"),
       "C consumer's Start status: DIFFERENT"},
      {"exit status", with_consumer(host, "revision 0x00010005 ok", "Success"), "C consumer's exit status: DIFFERENT"},
      {"revision", with_consumer(host, "revision 0x00010004 wrong"), "C consumer: published protocol: expected"},
      {"not run", serial_of(host), "no transcript of its Start"},
  };
  for (const Case& c : cases) {
    const fwcheck::comparison cmp = fwcheck::compare_consumer(host, parse(c.serial));
    EXPECT_FALSE(cmp.ok) << c.what;
    bool found = false;
    for (const std::string& line : cmp.report) {
      found = found || line.find(c.finding) != std::string::npos;
    }
    EXPECT_TRUE(found) << c.what << ": no finding \"" << c.finding << "\"";
  }
}

TEST(FwCheckHost, ConsumerRunsOneMoreStartAfterTheVerdict) {
  fwsim::scenario s = {};
  ASSERT_EQ(fwsim::parse_scenario("zq3101", 6, &s), fwsim::parse_status::ok);
  const run_record plain = fwcheck::run_on_host(s);
  const run_record r = fwcheck::run_on_host(s, true);
  EXPECT_TRUE(plain.consumer_log.empty());
  // What the other checks compare does not move.
  EXPECT_EQ(r.entry_log, plain.entry_log);
  EXPECT_EQ(r.start_log, plain.start_log);
  EXPECT_EQ(r.verdict, plain.verdict);
  EXPECT_EQ(r.traffic, plain.traffic);
  // A healthy chip brings up again the same way.
  EXPECT_EQ(r.consumer_log, r.start_log);
  EXPECT_EQ(r.consumer_status, "Success");
}

TEST(FwCheckHost, RunsEntryThenStartOnTheVirtualPlatform) {
  fwsim::scenario absent = {};
  ASSERT_EQ(fwsim::parse_scenario("absent", 6, &absent), fwsim::parse_status::ok);
  const run_record r = fwcheck::run_on_host(absent);
  const auto entry = fwcheck::split_lines(r.entry_log);
  ASSERT_GE(entry.size(), 2u);
  EXPECT_EQ(entry.front(), version_text);
  EXPECT_EQ(entry.back(), "Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Success");
  EXPECT_EQ(r.entry_status, "Success");
  const auto start = fwcheck::split_lines(r.start_log);
  ASSERT_FALSE(start.empty());
  EXPECT_EQ(start.front(), version_text);
  EXPECT_EQ(r.start_log.find("Install EFI_ZELT_I2C_HAPTIC_PROTOCOL"), std::string::npos);
  EXPECT_NE(r.start_status, "Success");  // nothing answers: bring-up cannot succeed
  EXPECT_EQ(r.verdict, (std::vector<std::string>{"verdict: no chip on the bus"}));
  EXPECT_FALSE(r.healthy);
  // Two reset pulses per bring-up (one retry), each with its two waits.
  EXPECT_EQ(r.traffic.rfind("traffic: ", 0), 0u) << r.traffic;
  EXPECT_NE(r.traffic.find(" 0 writes,"), std::string::npos) << r.traffic;
}

// Loaded three times before Start on one chip and clock: each later load is
// a fresh image and logs what the first did, and the traffic counts them all.
TEST(FwCheckHost, LoadsAgainBeforeStart) {
  fwsim::scenario s = {};
  ASSERT_EQ(fwsim::parse_scenario("zq3201", 6, &s), fwsim::parse_status::ok);
  const run_record once = fwcheck::run_on_host(s);
  const run_record r = fwcheck::run_on_host(s, false, 3);
  EXPECT_TRUE(once.reload_logs.empty());
  ASSERT_EQ(r.reload_logs.size(), 2u);
  EXPECT_EQ(r.reload_logs[0], r.entry_log);
  EXPECT_EQ(r.reload_logs[1], r.entry_log);
  EXPECT_EQ(r.reload_statuses, (std::vector<std::string>{"Success", "Success"}));
  EXPECT_EQ(r.start_log, once.start_log);
  EXPECT_EQ(r.verdict, once.verdict);
  EXPECT_NE(r.traffic, once.traffic);
}

TEST(FwCheckHost, JudgesTheScenariosChip) {
  fwsim::scenario s = {};
  ASSERT_EQ(fwsim::parse_scenario("zq3402", 6, &s), fwsim::parse_status::ok);
  const run_record r = fwcheck::run_on_host(s);
  ASSERT_FALSE(r.verdict.empty());
  EXPECT_EQ(r.verdict.front(), "verdict: chip zq340x id 0x7280");
  // The same scenario twice gives the same record: nothing leaks between runs.
  const run_record again = fwcheck::run_on_host(s);
  EXPECT_EQ(again.entry_log, r.entry_log);
  EXPECT_EQ(again.start_log, r.start_log);
  EXPECT_EQ(again.verdict, r.verdict);
}

}  // namespace
