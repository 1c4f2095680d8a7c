// murvane-fw-check's own verdict: how QEMU ended, and every way a firmware
// log or verdict can differ from the host's (longer, shorter, at its start,
// middle or end), each of which must fail the boot with its finding. A
// checker that only ever sees agreeing logs proves nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "murvane/board_settings.h"
#include "testbench/qemu/fw_verdict.h"

namespace {

using fwcheck::comparison;
using fwcheck::firmware_record;
using fwcheck::run_record;

fwsim::scenario parsed(const char* text) {
  fwsim::scenario s = {};
  EXPECT_EQ(fwsim::parse_scenario(text, std::char_traits<char>::length(text), &s), fwsim::parse_status::ok);
  return s;
}

// A healthy chip on the host, with the C consumer's Start after the verdict.
const run_record& host_run() {
  static const run_record r = fwcheck::run_on_host(parsed("zq3201"), true);
  return r;
}

std::string crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  }
  return out;
}

// The serial log the test application and the C consumer write for a run
// (without the consumer: the application alone).
std::string serial_of(const run_record& r, bool consumer = true) {
  std::string s = "[fwtest] scenario: zq3201\r\n[fwtest] entry: begin\r\n" + crlf(r.entry_log);
  s += "\r\n[fwtest] entry: status " + r.entry_status + "\r\n";
  s += "[fwtest] stack guard: shared\r\n[fwtest] protocol: revision 0x00010005 ok\r\n";
  s += "[fwtest] start: begin\r\n" + crlf(r.start_log) + "\r\n[fwtest] start: status " + r.start_status + "\r\n";
  for (const std::string& v : r.verdict) {
    s += "[fwtest] " + v + "\r\n";
  }
  s += "[fwtest] " + r.traffic + "\r\n";
  s += "[fwtest] bus: opens 2, failed transfers 0, pin configures 2, pin outputs 4, reset pulses 2\r\n";
  s += "[fwtest] bad requests: 0\r\n";
  if (!consumer) {
    return s + "[fwtest] done\r\n";
  }
  s += "[fwtest] consumer: begin\r\n[consumer] Murvane C consumer\r\n[consumer] protocol: revision 0x00010005 ok\r\n";
  s += "[consumer] start: begin\r\n" + crlf(r.consumer_log) + "\r\n[consumer] start: status " + r.consumer_status;
  s += "\r\n\r\n[fwtest] consumer: status " + r.consumer_status + "\r\n[fwtest] done\r\n";
  return s;
}

fwcheck::options consumer_boot(int qemu_status = 0) {
  fwcheck::options o;
  o.scenario_text = "zq3201";
  o.serial_path = "serial.log";
  o.have_scenario = true;
  o.consumer = true;
  o.qemu_status = qemu_status;
  o.sc = parsed("zq3201");
  return o;
}

struct judged {
  comparison c;
  std::string printed;
  int exit_status = -1;
};

judged judge_serial(const fwcheck::options& o, const std::string& serial, bool opened = true) {
  const std::string log = fwcheck::strip_console(serial);
  firmware_record fw = fwcheck::parse_serial(log);
  judged j;
  j.c = fwcheck::judge(o, host_run(), fw, log, opened);
  std::ostringstream out;
  j.exit_status = fwcheck::report(out, o, host_run(), fw, j.c, log);
  j.printed = out.str();
  return j;
}

bool has_finding(const comparison& c, const std::string& start) {
  return std::any_of(c.report.begin(), c.report.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
}

std::string lines_text(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) {
    out += l + "\n";
  }
  return out;
}

TEST(FwVerdict, AnAgreeingBootPassesOnlyWhenQemuPoweredOff) {
  ASSERT_GE(fwcheck::split_lines(host_run().start_log).size(), 3U);
  ASSERT_EQ(host_run().consumer_status, "Success");
  struct row {
    int status;
    const char* finding;  // nullptr: the boot passes
  };
  const row rows[] = {
      {0, nullptr},
      {1, "QEMU: exited with status 1"},
      {2, "QEMU: exited with status 2"},
      {124, "QEMU: timed out (a crash or a hang: it never powered off)"},
      {125, "QEMU: stopped where the firmware went no further (a dead end, see above)"},
      {128, "QEMU: exited with status 128"},
      {130, "QEMU: ended by signal 2 (exit status 130)"},
      {137, "QEMU: ended by signal 9 (exit status 137)"},
      {143, "QEMU: ended by signal 15 (exit status 143)"},
      {255, "QEMU: exited with status 255"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.status);
    const judged j = judge_serial(consumer_boot(r.status), serial_of(host_run()));
    EXPECT_EQ(j.c.ok, r.finding == nullptr);
    ASSERT_FALSE(j.c.report.empty());
    if (r.finding == nullptr) {
      EXPECT_FALSE(fwcheck::qemu_exit_finding(r.status).has_value());
      EXPECT_EQ(j.exit_status, 0);
      EXPECT_TRUE(j.printed.ends_with("\nPASSED\n")) << j.printed;
      EXPECT_EQ(j.c.report.front(),
                "driver log during entry: " + std::to_string(fwcheck::split_lines(host_run().entry_log).size()) +
                    " lines, identical");
    } else {
      // The finding comes first, and the log follows the verdict.
      EXPECT_EQ(j.c.report.front(), r.finding);
      EXPECT_EQ(j.exit_status, 1);
      EXPECT_NE(j.printed.find("\n  " + std::string(r.finding) + "\n"), std::string::npos) << j.printed;
      EXPECT_NE(j.printed.find("FAILED: the firmware run differs from the host virtual platform\n"
                               "---- serial log (escape sequences and CR removed) ----\n"),
                std::string::npos);
      EXPECT_TRUE(j.printed.ends_with("[fwtest] done\n---- end of serial log ----\n")) << j.printed;
    }
  }
}

TEST(FwVerdict, AnUnreadableSerialLogFails) {
  const judged j = judge_serial(consumer_boot(), "", false);
  EXPECT_FALSE(j.c.ok);
  ASSERT_FALSE(j.c.report.empty());
  EXPECT_EQ(j.c.report.front(), "serial log serial.log: cannot read");
  EXPECT_EQ(j.exit_status, 1);
}

// Which of the run's texts a case changes, and the name its finding gives.
enum class part { entry, start, verdict, consumer };

struct part_info {
  part which;
  const char* finding;
};

constexpr part_info parts[] = {
    {part::entry, "driver log during entry: DIFFERENT from line "},
    {part::start, "driver log during Start: DIFFERENT from line "},
    {part::verdict, "chip verdict: DIFFERENT from line "},
    {part::consumer, "driver log during the C consumer's Start: DIFFERENT from line "},
};

std::vector<std::string> lines_of(const run_record& r, part p) {
  switch (p) {
    case part::entry:
      return fwcheck::split_lines(r.entry_log);
    case part::start:
      return fwcheck::split_lines(r.start_log);
    case part::verdict:
      return r.verdict;
    case part::consumer:
      return fwcheck::split_lines(r.consumer_log);
  }
  return {};
}

void set_lines(run_record& r, part p, const std::vector<std::string>& lines) {
  switch (p) {
    case part::entry:
      r.entry_log = lines_text(lines);
      break;
    case part::start:
      r.start_log = lines_text(lines);
      break;
    case part::verdict:
      r.verdict = lines;
      break;
    case part::consumer:
      r.consumer_log = lines_text(lines);
      break;
  }
}

// One line more (a driver line, or a verdict line) or one fewer than the
// host's, at the start, in the middle and at the end of each text: each
// fails, naming the text and the first line that differs.
TEST(FwVerdict, ALogOrVerdictLongerOrShorterThanTheHostsFails) {
  size_t tried = 0;
  for (const part_info& info : parts) {
    const std::vector<std::string> host_lines = lines_of(host_run(), info.which);
    ASSERT_FALSE(host_lines.empty()) << info.finding;
    const std::string extra = info.which == part::verdict ? "verdict: go set" : "Murvane: func init error";
    const size_t middle = host_lines.size() / 2;
    struct change {
      const char* what;
      bool add;
      size_t at;
    };
    const change changes[] = {
        {"one more line at the start", true, 0},
        {"one more line in the middle", true, middle},
        {"one more line at the end", true, host_lines.size()},
        {"one line fewer at the start", false, 0},
        {"one line fewer in the middle", false, middle},
        {"one line fewer at the end", false, host_lines.size() - 1},
    };
    for (const change& ch : changes) {
      SCOPED_TRACE(std::string(info.finding) + ch.what);
      std::vector<std::string> lines = host_lines;
      if (ch.add) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(ch.at), extra);
      } else {
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(ch.at));
      }
      // Where a neighbour is the same line, the first difference is later.
      size_t first = ch.at;
      while (first < lines.size() && first < host_lines.size() && lines[first] == host_lines[first]) {
        ++first;
      }
      run_record fw_side = host_run();
      set_lines(fw_side, info.which, lines);
      ++tried;
      const judged j = judge_serial(consumer_boot(), serial_of(fw_side));
      EXPECT_FALSE(j.c.ok);
      EXPECT_EQ(j.exit_status, 1);
      const std::string finding = info.finding + std::to_string(first + 1) + " on";
      EXPECT_TRUE(has_finding(j.c, finding)) << "no finding \"" << finding << "\"";
      // Every other text still agrees.
      for (const part_info& other : parts) {
        if (other.which != info.which) {
          EXPECT_FALSE(has_finding(j.c, other.finding)) << other.finding;
        }
      }
    }
  }
  EXPECT_EQ(tried, std::size(parts) * 6);
}

// The checks a boot asks for are the ones that decide it.
TEST(FwVerdict, TheBootsKindPicksItsCheck) {
  const std::string agreeing = serial_of(host_run());
  fwcheck::options refused = consumer_boot();
  refused.consumer = false;
  refused.expect_refused = true;
  const judged r = judge_serial(refused, agreeing);
  EXPECT_FALSE(r.c.ok);
  EXPECT_TRUE(has_finding(r.c, "NOT refused: the firmware loaded the driver"));
  EXPECT_TRUE(r.printed.find("FAILED: the firmware did not refuse the driver as expected\n") != std::string::npos);

  fwcheck::options halt = consumer_boot();
  halt.consumer = false;
  halt.expect_halt = true;
  const judged h = judge_serial(halt, agreeing);
  EXPECT_FALSE(h.c.ok);
  EXPECT_TRUE(has_finding(h.c, "the test application never overflowed its buffer"));
  EXPECT_TRUE(h.printed.find("FAILED: the stack-guard check did not stop the boot as expected\n") != std::string::npos);

  // Without its consumer part a --consumer boot fails; a plain boot does not look for it.
  std::string no_consumer = agreeing.substr(0, agreeing.find("[fwtest] consumer: begin")) + "[fwtest] done\r\n";
  EXPECT_FALSE(judge_serial(consumer_boot(), no_consumer).c.ok);
  fwcheck::options plain = consumer_boot();
  plain.consumer = false;
  EXPECT_TRUE(judge_serial(plain, no_consumer).c.ok);

  // A bridge boot needs the bridge's lines.
  fwcheck::options bridged = plain;
  bridged.bridge_mode = "master";
  std::string why;
  ASSERT_TRUE(fwcheck::parse_bridge_boot("master", "", &bridged.bridge, &why)) << why;
  const judged b = judge_serial(bridged, no_consumer);
  EXPECT_FALSE(b.c.ok);
  EXPECT_TRUE(has_finding(b.c, "bridge during entry: expected the one line \"MurvaneBridge: I2C master 0, bus clock "));
}

// A boot on the stock board with the bridge: its lines decide the boot
// as much as the driver's, and taking them out hides no driver line.
TEST(FwVerdictBridge, TheBridgesLinesDecideTheBootToo) {
  fwcheck::options o = consumer_boot();
  o.consumer = false;
  o.bridge_mode = "master";
  std::string why;
  ASSERT_TRUE(fwcheck::parse_bridge_boot("master", "", &o.bridge, &why)) << why;
  const run_record host = fwcheck::run_bridged_on_host(o.bridge, o.sc);
  const std::string rate = std::to_string(murvane::board::i2c_speed_khz * 1000);
  const std::string open = "MurvaneBridge: I2C master 0, bus clock " + rate + " Hz (asked for " + rate + " Hz)\n";
  const std::string installed = "MurvaneBridge: Install EFI_ZELT_I2C_PROTOCOL and EFI_KORM_PROTOCOL - Success\r\n";
  // The bridge's Open line after the driver's first line of each bring-up.
  auto with_open = [&](const std::string& log, int opens) {
    const size_t eol = log.find('\n') + 1;
    std::string lines;
    for (int k = 0; k < opens; ++k) {
      lines += open;
    }
    return log.substr(0, eol) + lines + log.substr(eol);
  };
  auto boot = [&](int entry_opens, int start_opens, const std::string& start_log, const std::string& tail) {
    run_record fw_side = host;
    fw_side.entry_log = with_open(host.entry_log, entry_opens);
    fw_side.start_log = with_open(start_log, start_opens);
    const std::string log = fwcheck::strip_console(serial_of(fw_side, false) + tail);
    firmware_record fw = fwcheck::parse_serial(log);
    return fwcheck::judge(o, host, fw, log, true);
  };
  const comparison sound = boot(1, 1, host.start_log, installed);
  EXPECT_TRUE(sound.ok);
  EXPECT_TRUE(has_finding(sound, "bridge during Start: " + open.substr(0, open.size() - 1)));
  struct row {
    const char* what;
    comparison c;
    const char* finding;
  };
  const std::string extra_driver_line =
      with_open(host.start_log, 0).insert(host.start_log.find('\n') + 1, "Murvane: func init error\n");
  const row rows[] = {
      {"no Open line in Start", boot(1, 0, host.start_log, installed), "bridge during Start: expected the one line"},
      {"two Open lines in the entry", boot(2, 1, host.start_log, installed),
       "bridge during entry: expected the one line"},
      {"not installed", boot(1, 1, host.start_log, ""), "no \"MurvaneBridge: Install"},
      {"a broken request", boot(1, 1, host.start_log, std::string(installed) + "[FakeBoard] broken request: x\r\n"),
       "fake board: broken request: x"},
      {"an extra driver line in Start", boot(1, 1, extra_driver_line, installed),
       "driver log during Start: DIFFERENT from line 2 on"},
  };
  for (const row& r : rows) {
    EXPECT_FALSE(r.c.ok) << r.what;
    EXPECT_TRUE(has_finding(r.c, r.finding)) << r.what << ": no finding \"" << r.finding << "\"";
  }
}

}  // namespace
