// murvane-sim's bus views, closed through outside tools: the VCD export
// decoded by sigrok's own I2C decoder against the jsonl trace, the capture
// check on exported and mutated captures, and the timeline rendered by
// librsvg. sigrok-cli and rsvg-convert come from scripts/deps.sh.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/hex.h"
#include "sim/models/model_table.h"
#include "tests/model_lists.h"
#include "tests/work_dir.h"

#ifndef MURVANE_SIM_COMMAND
#error "MURVANE_SIM_COMMAND (path of the built murvane-sim) is set by tools/CMakeLists.txt"
#endif

extern char** environ;

namespace {

using json = nlohmann::json;
namespace fs = std::filesystem;

constexpr int exit_ran = 0;
constexpr int exit_departs = 1;
constexpr int exit_bad_input = 2;

const std::vector<std::string> one_per_family = murvane_test::first_model_of_each_family();

// sigrok's I2C decoder on a VCD whose channels are named SCL and SDA.
const std::vector<std::string> sigrok_i2c = {
    "-I", "vcd",
    "-P", "i2c:scl=SCL:sda=SDA",
    "-A", "i2c=start:repeat-start:stop:ack:nack:address-read:address-write:data-read:data-write"};

fs::path work(const std::string& name) {
  static const murvane_test::WorkDir dir("murvane-sim-bus");
  return dir.path() / name;
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void spit(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

struct Outcome {
  int exit_code = -1;  // -1: did not start, or killed by a signal
  std::string out;
  std::string err;
};

// Runs program (a path, or a name looked up in PATH) with args.
Outcome run(const std::string& program, const std::vector<std::string>& args) {
  static int serial = 0;
  const fs::path out_path = work("out" + std::to_string(serial));
  const fs::path err_path = work("err" + std::to_string(serial++));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> argv_strings = {program};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_strings) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  pid_t pid = 0;
  Outcome r;
  if (posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  r.out = slurp(out_path);
  r.err = slurp(err_path);
  fs::remove(out_path);
  fs::remove(err_path);
  return r;
}

Outcome sim(const std::vector<std::string>& args) { return run(MURVANE_SIM_COMMAND, args); }

// sigrok-cli's I2C decoder on vcd: its annotations as text, with extra
// options after the decoder's.
Outcome sigrok_text(const fs::path& vcd, const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args = sigrok_i2c;
  args.insert(args.begin() + 2, {"-i", vcd.string()});
  args.insert(args.end(), extra.begin(), extra.end());
  return run("sigrok-cli", args);
}

size_t lines(const std::string& s) { return static_cast<size_t>(std::count(s.begin(), s.end(), '\n')); }

// A run's jsonl trace and VCD, written under name.
struct Export {
  std::vector<json> events;
  fs::path vcd;
};

Export export_run(const std::string& name, const std::vector<std::string>& args) {
  Export e;
  e.vcd = work(name + ".vcd");
  const fs::path trace = work(name + ".jsonl");
  std::vector<std::string> all = args;
  all.insert(all.end(), {"--trace", trace.string(), "--vcd", e.vcd.string(), "--quiet"});
  const Outcome r = sim(all);
  EXPECT_EQ(r.exit_code, exit_ran) << r.err;
  std::istringstream in(slurp(trace));
  std::string line;
  while (std::getline(in, line)) {
    e.events.push_back(json::parse(line));
  }
  return e;
}

std::vector<json> transfers_of(const std::vector<json>& events) {
  std::vector<json> out;
  std::copy_if(events.begin(), events.end(), std::back_inserter(out),
               [](const json& e) { return e["ev"] == "i2c_read" || e["ev"] == "i2c_write"; });
  return out;
}

// A byte as sigrok writes it: the hex digits alone ("5A").
std::string sigrok_byte(int v) { return host::hex2(static_cast<uint8_t>(v)).substr(2); }

// What a transfer of the trace must look like on the bus, in sigrok's
// words: the address from the slave configuration the driver passed; a
// failed transfer is an address nobody acknowledges.
std::string expected_on_bus(const json& e) {
  const std::string a = sigrok_byte(e["config"][1].get<int>());
  if (e["status"] != 0) {
    return "S AW:" + a + " NACK P";
  }
  const std::string reg = sigrok_byte(e["reg"].get<int>());
  const std::string value = sigrok_byte(e["value"].get<int>());
  if (e["ev"] == "i2c_write") {
    return "S AW:" + a + " ACK DW:" + reg + " ACK DW:" + value + " ACK P";
  }
  return "S AW:" + a + " ACK DW:" + reg + " ACK Sr AR:" + a + " ACK DR:" + value + " NACK P";
}

// sigrok-cli's annotations, one transfer (start to stop) a string, with the
// sample number each transfer's start condition was seen at.
struct Decoded {
  std::vector<std::string> transfers;
  std::vector<uint64_t> start_samples;
};

Decoded sigrok_decode(const fs::path& vcd) {
  const Outcome r = sigrok_text(vcd, {"--protocol-decoder-samplenum"});
  EXPECT_EQ(r.exit_code, 0) << "sigrok-cli (from scripts/deps.sh) failed: " << r.err;
  Decoded d;
  std::istringstream in(r.out);
  std::string line;
  std::string cur;
  while (std::getline(in, line)) {
    // "123-456 i2c-1: Address write: 5A"
    const size_t space = line.find(' ');
    const size_t colon = line.find(": ");
    if (space == std::string::npos || colon == std::string::npos) {
      continue;
    }
    const std::string ann = line.substr(colon + 2);
    const uint64_t sample = std::stoull(line.substr(0, line.find('-')));
    std::string word;
    if (ann == "Start") {
      word = "S";
      d.start_samples.push_back(sample);
    } else if (ann == "Start repeat") {
      word = "Sr";
    } else if (ann == "Stop") {
      word = "P";
    } else if (ann == "ACK" || ann == "NACK") {
      word = ann;
    } else if (ann.rfind("Address write: ", 0) == 0) {
      word = "AW:" + ann.substr(15);
    } else if (ann.rfind("Address read: ", 0) == 0) {
      word = "AR:" + ann.substr(14);
    } else if (ann.rfind("Data write: ", 0) == 0) {
      word = "DW:" + ann.substr(12);
    } else if (ann.rfind("Data read: ", 0) == 0) {
      word = "DR:" + ann.substr(11);
    } else {
      continue;
    }
    cur += (cur.empty() ? "" : " ") + word;
    if (word == "P") {
      d.transfers.push_back(cur);
      cur.clear();
    }
  }
  if (!cur.empty()) {
    d.transfers.push_back(cur + " (no stop)");
  }
  return d;
}

// An event's t_us in ns.
uint64_t t_ns(const json& e) { return static_cast<uint64_t>(std::llround(e["t_us"].get<double>() * 1000.0)); }

// Virtual-clock time at which each transfer of the trace began, in ns: the
// time the stalls and transfers before it add up to at 400 kHz (a write 30
// bit times, a read 40, at 2.5 us each), which must be its t_us too.
std::vector<uint64_t> transfer_times(const std::vector<json>& events) {
  std::vector<uint64_t> out;
  uint64_t now = 0;
  for (const json& e : events) {
    EXPECT_EQ(t_ns(e), now) << e.dump();
    if (e["ev"] == "stall") {
      now += e["us"].get<uint64_t>() * 1000;
    } else if (e["ev"] == "i2c_read" || e["ev"] == "i2c_write") {
      out.push_back(now);
      now += e["ev"] == "i2c_read" ? 100000 : 75000;
    }
  }
  return out;
}

// ---- The export, decoded by sigrok ----

struct RoundTripCase {
  std::string name;
  std::vector<std::string> args;
  bool has_failures;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }

class SigrokRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(SigrokRoundTrip, DecodedTransfersEqualTheTraceOneForOne) {
  const RoundTripCase& c = GetParam();
  const Export ex = export_run(c.name, c.args);
  const std::vector<json> trace = transfers_of(ex.events);
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(std::any_of(trace.begin(), trace.end(), [](const json& e) { return e["status"] != 0; }), c.has_failures);
  const Decoded d = sigrok_decode(ex.vcd);
  ASSERT_EQ(d.transfers.size(), trace.size());
  for (size_t i = 0; i < trace.size(); ++i) {
    ASSERT_EQ(d.transfers[i], expected_on_bus(trace[i])) << "transfer " << i + 1 << " of " << trace.size();
  }
}

// The bus is the virtual clock: each start condition lies exactly where the
// trace's t_us puts its transfer (the VCD's samples are 100 ns), however
// many transfers come back to back.
TEST_P(SigrokRoundTrip, StartsFollowTheVirtualClock) {
  const RoundTripCase& c = GetParam();
  const Export ex = export_run(c.name + "-clock", c.args);
  const std::vector<uint64_t> times = transfer_times(ex.events);
  const Decoded d = sigrok_decode(ex.vcd);
  ASSERT_EQ(d.start_samples.size(), times.size());
  for (size_t i = 0; i < times.size(); ++i) {
    EXPECT_EQ(d.start_samples[i] * 100, (times[i] + 50) / 100 * 100) << "transfer " << i + 1;
  }
  // The first transfer waits for the reset pulse and the settling time.
  EXPECT_GE(d.start_samples.front() * 100, 10000000U);
}

std::vector<RoundTripCase> round_trip_cases() {
  std::vector<RoundTripCase> cases;
  for (const std::string& m : one_per_family) {
    cases.push_back({m, {"--chip", m}, false});
  }
  // Failing transfers by index and by register, as any scenario gives them.
  const fs::path faults = work("faults.json");
  spit(faults, R"({"chip": "zq3201", "faults": [{"transfer": 2, "status": 5},
                  {"reg": "0x2D", "op": "write", "from": 1, "count": 2, "status": 7}]})");
  cases.push_back({"failed_transfers", {faults.string()}, true});
  cases.push_back({"absent_chip", {"--chip", "absent"}, true});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Runs, SigrokRoundTrip, ::testing::ValuesIn(round_trip_cases()),
                         [](const auto& param_info) { return param_info.param.name; });

// ---- The export, checked as a capture of itself ----

// Each family's longest polls: the state register the f0 measurement and the
// stop wait on, stuck at a value that is never standby or idle, so every
// poll runs to its count (thousands of readings, waits between them).
std::string stuck_scenario(const std::string& chip) {
  const bool family_a = chip.rfind("zq310", 0) == 0;
  return R"({"chip": ")" + chip + R"(", "stuck": {")" + (family_a ? "0x46" : "0x3F") +
         R"(": 1}, "calls": ["entry", {"slot": "get_f0"}, {"slot": "stop"}]})";
}

struct SelfCheckCase {
  std::string name;
  std::string scenario;  // empty: a healthy --chip, checked against the default
  std::string chip;
};

void PrintTo(const SelfCheckCase& c, std::ostream* os) { *os << c.name; }

std::vector<SelfCheckCase> self_check_cases() {
  std::vector<SelfCheckCase> cases;
  for (const std::string& m : one_per_family) {
    cases.push_back({"healthy_" + m, "", m});
    cases.push_back({"stuck_" + m, stuck_scenario(m), m});
  }
  cases.push_back({"failures_and_vanishing_chip",
                   R"({"chip": "zq3301", "faults": [{"transfer": 3, "status": 5},
                      {"reg": "0x3F", "op": "read", "from": 2, "count": 3, "status": 7},
                      {"transfer": 120, "count": 100000, "status": 5}], "calls": ["entry", "start"]})",
                   "zq3301"});
  cases.push_back({"reloaded", R"({"chip": "zq3501", "calls": ["entry", "load", "start"]})", "zq3501"});
  return cases;
}

class CaptureSelfCheck : public ::testing::TestWithParam<SelfCheckCase> {};

// --vcd then --check-capture of that file, with the same scenario (or none:
// the named chip's healthy run), always matches: the export never shortens
// a wait, after a poll of any length as after a failed transfer.
TEST_P(CaptureSelfCheck, TheToolsOwnExportMatches) {
  const SelfCheckCase& c = GetParam();
  std::vector<std::string> args = {"--chip", c.chip};
  if (!c.scenario.empty()) {
    const fs::path scenario = work("self-" + c.name + ".json");
    spit(scenario, c.scenario);
    args = {scenario.string()};
  }
  const Export ex = export_run("self-" + c.name, args);
  const size_t n = transfers_of(ex.events).size();
  ASSERT_GT(n, 0U);
  args.insert(args.end(), {"--check-capture", ex.vcd.string()});
  const Outcome r = sim(args);
  EXPECT_EQ(r.exit_code, exit_ran) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("matches: " + std::to_string(n) + " transfers, boot ", 0), 0U) << r.out;
  EXPECT_EQ(r.err, "");
}

INSTANTIATE_TEST_SUITE_P(Runs, CaptureSelfCheck, ::testing::ValuesIn(self_check_cases()),
                         [](const auto& param_info) { return param_info.param.name; });

TEST(VcdExport, NamesItsSignalsAndWhereTheAddressComesFrom) {
  const Export ex = export_run("header", {"--chip", "zq3402"});
  const std::string vcd = slurp(ex.vcd);
  EXPECT_NE(vcd.find("$timescale 100 ns $end"), std::string::npos);
  for (const char* name : {" SCL $end", " SDA $end", " RST $end"}) {
    EXPECT_NE(vcd.find(name), std::string::npos) << name;
  }
  EXPECT_NE(vcd.find("I2C address 0x5A at 400 kHz, from the driver's slave configuration"), std::string::npos);
}

// ---- The capture check ----

// A VCD as murvane-sim writes it: the header, then timestamps and changes
// of one-letter signals (a SCL, b SDA, c RST), so a test can edit the wires.
struct Vcd {
  struct Change {
    uint64_t t;
    char sig;
    bool level;
  };
  std::string header;  // through "$enddefinitions $end"
  std::vector<Change> changes;
  uint64_t end = 0;

  static Vcd parse(const std::string& text) {
    Vcd v;
    const std::string marker = "$enddefinitions $end\n";
    const size_t body = text.find(marker) + marker.size();
    v.header = text.substr(0, body);
    std::istringstream in(text.substr(body));
    std::string w;
    uint64_t t = 0;
    while (in >> w) {
      if (w[0] == '#') {
        t = std::stoull(w.substr(1));
      } else {
        v.changes.push_back({t, w[1], w[0] == '1'});
      }
    }
    v.end = t;
    return v;
  }
  std::string text() const {
    std::vector<Change> sorted = changes;
    std::stable_sort(sorted.begin(), sorted.end(), [](const Change& a, const Change& b) { return a.t < b.t; });
    std::ostringstream out;
    out << header;
    uint64_t t = UINT64_MAX;
    for (const Change& c : sorted) {
      if (c.t != t) {
        out << '#' << c.t << '\n';
        t = c.t;
      }
      out << (c.level ? '1' : '0') << c.sig << '\n';
    }
    out << '#' << end << '\n';
    return out.str();
  }

  // Start and stop times of each transfer, and the SCL rises in between.
  struct Frame {
    uint64_t start;
    uint64_t stop;
    std::vector<uint64_t> clock_rises;
  };
  std::vector<Frame> frames() const {
    std::vector<Frame> out;
    bool scl = true;
    bool sda = true;
    bool open = false;
    for (const Change& c : changes) {
      if (c.sig == 'a') {
        if (!scl && c.level && open) {
          out.back().clock_rises.push_back(c.t);
        }
        scl = c.level;
      } else if (c.sig == 'b') {
        if (scl && sda && !c.level && !open) {
          out.push_back({c.t, 0, {}});
          open = true;
        } else if (scl && !sda && c.level && open) {
          out.back().stop = c.t;
          open = false;
        }
        sda = c.level;
      }
    }
    return out;
  }
  bool sda_at(uint64_t t) const {
    bool sda = true;
    for (const Change& c : changes) {
      if (c.t > t) {
        break;
      }
      if (c.sig == 'b') {
        sda = c.level;
      }
    }
    return sda;
  }
};

Outcome check(const fs::path& capture, const std::string& chip) {
  return sim({"--chip", chip, "--check-capture", capture.string()});
}

// Index (1-based) of a write in the waveform download whose value differs
// from the next transfer's, so that removing it cannot go unnoticed.
size_t a_download_write(const std::vector<json>& trace) {
  for (size_t i = trace.size() / 2; i + 1 < trace.size(); ++i) {
    if (trace[i]["ev"] == "i2c_write" && trace[i] != trace[i + 1]) {
      return i + 1;
    }
  }
  return 0;
}

class CaptureCheck : public ::testing::TestWithParam<std::string> {};

TEST_P(CaptureCheck, ExportedHealthyBootMatchesAsVcdAndAsSigrokText) {
  const std::string chip = GetParam();
  const Export ex = export_run("healthy-" + chip, {"--chip", chip});
  const size_t n = transfers_of(ex.events).size();
  const Outcome r = check(ex.vcd, chip);
  EXPECT_EQ(r.exit_code, exit_ran) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("matches: " + std::to_string(n) + " transfers, boot ", 0), 0U) << r.out;
  EXPECT_EQ(r.err, "");

  const Outcome decoded = sigrok_text(ex.vcd);
  ASSERT_EQ(decoded.exit_code, 0) << decoded.err;
  const fs::path text = work("healthy-" + chip + ".txt");
  spit(text, decoded.out);
  const Outcome t = check(text, chip);
  EXPECT_EQ(t.exit_code, exit_ran) << t.out << t.err;
  EXPECT_EQ(t.out.rfind("matches: " + std::to_string(n) + " transfers", 0), 0U) << t.out;
}

// What a board's capture is saved as: a sigrok session file, and the VCD
// sigrok-cli exports from it (which has the reset pin low from time 0).
TEST_P(CaptureCheck, ExportedHealthyBootMatchesAsSigrokSessionAndSigroksVcd) {
  const std::string chip = GetParam();
  const Export ex = export_run("session-" + chip, {"--chip", chip});
  const fs::path session = work("session-" + chip + ".sr");
  const fs::path again = work("session-" + chip + "-sigrok.vcd");
  ASSERT_EQ(run("sigrok-cli", {"-I", "vcd", "-i", ex.vcd.string(), "-o", session.string()}).exit_code, 0);
  ASSERT_EQ(run("sigrok-cli", {"-i", session.string(), "-O", "vcd", "-o", again.string()}).exit_code, 0);
  for (const fs::path& capture : {session, again}) {
    const Outcome r = check(capture, chip);
    EXPECT_EQ(r.exit_code, exit_ran) << capture << ": " << r.out << r.err;
    EXPECT_EQ(r.out.rfind("matches: ", 0), 0U) << capture << ": " << r.out;
  }
}

// A controller that stops after the register and reads in a transfer of
// its own moves the same bytes: that still matches.
TEST(CaptureCheckOutput, ReadsSplitAtAStopMatchToo) {
  const Export ex = export_run("split", {"--chip", "zq3601"});
  const Outcome decoded = sigrok_text(ex.vcd);
  ASSERT_EQ(decoded.exit_code, 0) << decoded.err;
  std::string text = decoded.out;
  const std::string repeated = "i2c-1: Start repeat\n";
  size_t splits = 0;
  for (size_t at = text.find(repeated); at != std::string::npos; at = text.find(repeated, at)) {
    text.replace(at, repeated.size(), "i2c-1: Stop\ni2c-1: Start\n");
    ++splits;
  }
  ASSERT_GT(splits, 0U);
  const fs::path split = work("split.txt");
  spit(split, text);
  const Outcome r = check(split, "zq3601");
  EXPECT_EQ(r.exit_code, exit_ran) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("matches: ", 0), 0U) << r.out;
}

// A capture begun in the middle of a transfer (the analyzer started late):
// the transfer whose start it lacks is shown as such and departs, in each
// format the check reads; nothing is decoded from a start that never came.
TEST(CaptureCheckOutput, ACaptureBegunMidTransferDepartsThere) {
  const std::string chip = "zq3201";
  const Export ex = export_run("midway", {"--chip", chip});
  const std::vector<json> trace = transfers_of(ex.events);
  const Vcd whole = Vcd::parse(slurp(ex.vcd));
  // The third transfer, cut just after its tenth clock rise: the capture
  // begins there with the levels the lines had.
  const Vcd::Frame f = whole.frames().at(2);
  ASSERT_GT(f.clock_rises.size(), 11U);
  const uint64_t cut = f.clock_rises[9] + 1;
  Vcd cut_vcd = whole;
  cut_vcd.changes.clear();
  std::map<char, bool> level;
  for (const Vcd::Change& c : whole.changes) {
    ASSERT_NE(c.t, cut);
    if (c.t < cut) {
      level[c.sig] = c.level;
    } else {
      cut_vcd.changes.push_back(c);
    }
  }
  ASSERT_EQ(level.size(), 3U);
  for (const auto& [sig, high] : level) {
    cut_vcd.changes.insert(cut_vcd.changes.begin(), {cut, sig, high});
  }
  const std::string unstarted = "seen part of a transfer whose start is not in the capture\n";
  const fs::path vcd = work("midway-cut.vcd");
  spit(vcd, cut_vcd.text());
  const Outcome v = check(vcd, chip);
  EXPECT_EQ(v.exit_code, exit_departs) << v.out << v.err;
  char at[64];
  std::snprintf(at, sizeof at, "(capture time %.6f ms)", static_cast<double>(f.clock_rises[10]) / 1e4);
  // The reset pulse came before the capture began.
  EXPECT_EQ(v.out, "departs at the reset pin's fall before transfer 1 " + std::string(at) +
                       ": expected reset pin falls, " + unstarted);
  EXPECT_EQ(v.err, "");

  // The same capture as a sigrok session file.
  const fs::path session = work("midway-cut.sr");
  ASSERT_EQ(run("sigrok-cli", {"-I", "vcd", "-i", vcd.string(), "-o", session.string()}).exit_code, 0);
  const Outcome s = check(session, chip);
  EXPECT_EQ(s.exit_code, exit_departs) << s.out << s.err;
  EXPECT_EQ(s.out.rfind("departs at the reset pin's fall before transfer 1 (capture time ", 0), 0U) << s.out;
  EXPECT_TRUE(s.out.ends_with("): expected reset pin falls, " + unstarted)) << s.out;
  EXPECT_EQ(lines(s.out), 1U);

  // sigrok-cli's decoded text beginning at the first transfer's register
  // byte: "Data write: ..." before any "Start".
  const Outcome decoded = sigrok_text(ex.vcd);
  ASSERT_EQ(decoded.exit_code, 0) << decoded.err;
  const size_t data = decoded.out.find("i2c-1: Data write: ");
  ASSERT_NE(data, std::string::npos);
  ASSERT_EQ(decoded.out.rfind("Start", data), decoded.out.find("Start"));  // the first transfer's
  const fs::path text = work("midway-cut.txt");
  spit(text, decoded.out.substr(data));
  const Outcome t = check(text, chip);
  EXPECT_EQ(t.exit_code, exit_departs) << t.out << t.err;
  EXPECT_EQ(
      t.out.rfind("departs at transfer 1 of " + std::to_string(trace.size()) +
                      " (capture time unknown: decoded text, register 0x" + sigrok_byte(trace[0]["reg"].get<int>()),
                  0),
      0U)
      << t.out;
  EXPECT_TRUE(t.out.ends_with(unstarted)) << t.out;
  EXPECT_EQ(lines(t.out), 1U);
  EXPECT_EQ(t.err, "");

  // Only the first "Start" missing: every byte after it is as the driver
  // sends them, and still that transfer is not the driver's first.
  const std::string first_start = "i2c-1: Start\n";
  const size_t at_start = decoded.out.find(first_start);
  ASSERT_NE(at_start, std::string::npos);
  const fs::path no_start = work("midway-no-start.txt");
  spit(no_start, decoded.out.substr(0, at_start) + decoded.out.substr(at_start + first_start.size()));
  const Outcome n = check(no_start, chip);
  EXPECT_EQ(n.exit_code, exit_departs) << n.out << n.err;
  EXPECT_EQ(n.out.rfind("departs at transfer 1 of ", 0), 0U) << n.out;
  EXPECT_TRUE(n.out.ends_with(unstarted)) << n.out;
}

// A start lost in the middle: the transfer after it is not taken for the
// read a controller splits at a stop, nor for the driver's.
TEST(CaptureCheckOutput, ATransferWithoutItsStartIsNeverJoinedNorMatched) {
  const Export ex = export_run("lost-start", {"--chip", "zq3101"});
  const Outcome decoded = sigrok_text(ex.vcd);
  ASSERT_EQ(decoded.exit_code, 0) << decoded.err;
  std::string text = decoded.out;
  // The first read's repeated start, gone: its read half follows a stop
  // with no start of its own.
  const std::string repeated = "i2c-1: Start repeat\n";
  const size_t at = text.find(repeated);
  ASSERT_NE(at, std::string::npos);
  text.replace(at, repeated.size(), "i2c-1: Stop\n");
  const fs::path lost = work("lost-start.txt");
  spit(lost, text);
  const Outcome r = check(lost, "zq3101");
  EXPECT_EQ(r.exit_code, exit_departs) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("departs at transfer 1 of ", 0), 0U) << r.out;
  EXPECT_TRUE(r.out.ends_with(", seen S 5A+W ACK 00 ACK P\n")) << r.out;
}

TEST(CaptureCheckOutput, QuietDropsMatchesButNotADeparture) {
  const Export ex = export_run("quiet", {"--chip", "zq3201"});
  const Outcome ok = sim({"--chip", "zq3201", "--check-capture", ex.vcd.string(), "--quiet"});
  EXPECT_EQ(ok.exit_code, exit_ran);
  EXPECT_EQ(ok.out, "");
  const Outcome other = sim({"--chip", "zq3101", "--check-capture", ex.vcd.string(), "--quiet"});
  EXPECT_EQ(other.exit_code, exit_departs);
  EXPECT_EQ(other.out.rfind("departs at transfer 1 of ", 0), 0U) << other.out;
}

TEST_P(CaptureCheck, OneFlippedDataBitIsReportedAtItsTransfer) {
  const std::string chip = GetParam();
  const Export ex = export_run("flip-" + chip, {"--chip", chip});
  const std::vector<json> trace = transfers_of(ex.events);
  const size_t k = a_download_write(trace);
  ASSERT_GT(k, 0U);
  Vcd v = Vcd::parse(slurp(ex.vcd));
  const Vcd::Frame f = v.frames().at(k - 1);
  ASSERT_EQ(f.clock_rises.size(), 28U);  // 27 bits and the rise before the stop
  // The data byte's lowest bit (bit 26 of the transfer): drive SDA the other
  // way while SCL is high, and back once it is low again.
  const uint64_t rise = f.clock_rises[25];
  const bool bit = v.sda_at(rise);
  v.changes.push_back({rise - 4, 'b', !bit});
  v.changes.push_back({rise + 13, 'b', bit});
  const fs::path mutated = work("flip-" + chip + "-mutated.vcd");
  spit(mutated, v.text());

  const Outcome r = check(mutated, chip);
  EXPECT_EQ(r.exit_code, exit_departs) << r.out << r.err;
  const int value = trace[k - 1]["value"].get<int>();
  const std::string expected = "departs at transfer " + std::to_string(k) + " of " + std::to_string(trace.size());
  EXPECT_EQ(r.out.rfind(expected, 0), 0U) << r.out;
  EXPECT_NE(r.out.find("<- " + host::hex2(value) + ", seen write 0x42 <- " + host::hex2(value ^ 1)), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("register 0x42 RAM data"), std::string::npos) << r.out;
  EXPECT_EQ(lines(r.out), 1U);
}

TEST_P(CaptureCheck, OneRemovedTransferIsReportedAtItsPlace) {
  const std::string chip = GetParam();
  const Export ex = export_run("remove-" + chip, {"--chip", chip});
  const std::vector<json> trace = transfers_of(ex.events);
  const size_t k = a_download_write(trace);
  Vcd v = Vcd::parse(slurp(ex.vcd));
  const Vcd::Frame f = v.frames().at(k - 1);
  std::erase_if(v.changes, [&](const Vcd::Change& c) { return c.sig != 'c' && c.t >= f.start && c.t <= f.stop; });
  const fs::path mutated = work("remove-" + chip + "-mutated.vcd");
  spit(mutated, v.text());

  const Outcome r = check(mutated, chip);
  EXPECT_EQ(r.exit_code, exit_departs) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("departs at transfer " + std::to_string(k) + " of ", 0), 0U) << r.out;
  EXPECT_NE(r.out.find("expected write 0x42 <- " + host::hex2(trace[k - 1]["value"].get<int>())), std::string::npos)
      << r.out;
}

TEST_P(CaptureCheck, ShortenedResetPulseIsReportedAtTheResetRise) {
  const std::string chip = GetParam();
  const Export ex = export_run("reset-" + chip, {"--chip", chip});
  Vcd v = Vcd::parse(slurp(ex.vcd));
  // The reset pin's rise: its first high level after a low one.
  auto fall =
      std::find_if(v.changes.begin(), v.changes.end(), [](const Vcd::Change& c) { return c.sig == 'c' && !c.level; });
  auto rise = std::find_if(fall, v.changes.end(), [](const Vcd::Change& c) { return c.sig == 'c' && c.level; });
  ASSERT_NE(rise, v.changes.end());
  ASSERT_EQ(rise->t - fall->t, 20000U);  // the driver's 2 ms pulse, in 100 ns units
  rise->t = fall->t + 5000;              // a quarter of it
  const fs::path mutated = work("reset-" + chip + "-mutated.vcd");
  spit(mutated, v.text());

  const Outcome r = check(mutated, chip);
  EXPECT_EQ(r.exit_code, exit_departs) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("departs at the reset pin's rise before transfer 1 ", 0), 0U) << r.out;
  EXPECT_NE(r.out.find("the reset pulse lasts 500.0 us; the driver holds reset low for 2000.0 us"), std::string::npos)
      << r.out;
}

// Gaps may grow (a slower board) but not shrink below the driver's waits.
TEST_P(CaptureCheck, GapsMayBeLongerButNotShorterThanTheDriversWaits) {
  const std::string chip = GetParam();
  const Export ex = export_run("gaps-" + chip, {"--chip", chip});
  // The first transfer after the identification that follows a wait.
  size_t k = 0;
  uint64_t wait_us = 0;
  size_t transfer = 0;
  uint64_t pending_us = 0;
  for (const json& e : ex.events) {
    if (e["ev"] == "stall") {
      pending_us += e["us"].get<uint64_t>();
    } else if (e["ev"] == "i2c_read" || e["ev"] == "i2c_write") {
      ++transfer;
      if (transfer > 1 && pending_us >= 500 && k == 0) {
        k = transfer;
        wait_us = pending_us;
      }
      pending_us = 0;
    }
  }
  ASSERT_GT(k, 1U);
  const Vcd v = Vcd::parse(slurp(ex.vcd));
  const uint64_t from = v.frames().at(k - 1).start;
  auto shifted = [&](int64_t by_units) {
    Vcd w = v;
    for (Vcd::Change& c : w.changes) {
      if (c.t >= from) {
        c.t = static_cast<uint64_t>(static_cast<int64_t>(c.t) + by_units);
      }
    }
    w.end = static_cast<uint64_t>(static_cast<int64_t>(w.end) + by_units);
    return w;
  };
  const fs::path slower = work("gaps-" + chip + "-slower.vcd");
  spit(slower, shifted(50000).text());  // 5 ms more
  const Outcome ok = check(slower, chip);
  EXPECT_EQ(ok.exit_code, exit_ran) << ok.out << ok.err;

  const fs::path hurried = work("gaps-" + chip + "-hurried.vcd");
  const auto half_wait_units = static_cast<int64_t>(wait_us * 10 / 2);
  spit(hurried, shifted(-half_wait_units).text());
  const Outcome r = check(hurried, chip);
  EXPECT_EQ(r.exit_code, exit_departs) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("departs at transfer " + std::to_string(k) + " of ", 0), 0U) << r.out;
  char waits[64];
  std::snprintf(waits, sizeof waits, "the driver waits %llu.0 us there", static_cast<unsigned long long>(wait_us));
  EXPECT_NE(r.out.find(waits), std::string::npos) << r.out;
}

TEST_P(CaptureCheck, AFailingBusIsReportedAtTheFirstUnacknowledgedAddress) {
  const std::string chip = GetParam();
  const fs::path scenario = work("nack-" + chip + ".json");
  spit(scenario, R"({"chip": ")" + chip + R"(", "faults": [{"transfer": 5, "status": 5}]})");
  const Export ex = export_run("nack-" + chip, {scenario.string()});
  // By default the check compares with the healthy run of the named chip...
  const Outcome r = check(ex.vcd, chip);
  EXPECT_EQ(r.exit_code, exit_departs) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("departs at transfer 5 of ", 0), 0U) << r.out;
  EXPECT_NE(r.out.find("seen address 0x5A+W not acknowledged"), std::string::npos) << r.out;
  // ...and with the scenario's run when one is given.
  const Outcome same = sim({scenario.string(), "--check-capture", ex.vcd.string()});
  EXPECT_EQ(same.exit_code, exit_ran) << same.out << same.err;
  EXPECT_EQ(same.out.rfind("matches: ", 0), 0U) << same.out;
}

INSTANTIATE_TEST_SUITE_P(OnePerFamily, CaptureCheck, ::testing::ValuesIn(one_per_family));

// Another model's boot departs where the identification tells them apart:
// the first transfer whose bytes differ, before the driver names a family.
TEST(CaptureCheckModels, AnotherModelFailsAtIdentification) {
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"zq3301", "zq3402"}, {"zq3101", "zq3201"}, {"zq3402", "zq3401"}, {"zq3603", "zq3501"}};
  for (const auto& [captured, checked] : pairs) {
    const Export cap = export_run("model-" + captured, {"--chip", captured});
    const Export exp = export_run("model-" + checked, {"--chip", checked});
    const std::vector<json> a = transfers_of(cap.events);
    const std::vector<json> b = transfers_of(exp.events);
    size_t k = 0;
    while (k < a.size() && k < b.size() && a[k] == b[k]) {
      ++k;
    }
    // Transfers before the driver logs "detected": the identification.
    size_t identification = 0;
    for (const json& e : exp.events) {
      if (e["ev"] == "log" && e["text"].get<std::string>().find("detected") != std::string::npos) {
        break;
      }
      identification += e["ev"] == "i2c_read" || e["ev"] == "i2c_write" ? 1 : 0;
    }
    ASSERT_LT(k, identification) << captured << " vs " << checked;
    const Outcome r = check(cap.vcd, checked);
    EXPECT_EQ(r.exit_code, exit_departs) << r.out << r.err;
    EXPECT_EQ(r.out.rfind("departs at transfer " + std::to_string(k + 1) + " of ", 0), 0U)
        << captured << " vs " << checked << ": " << r.out;
    EXPECT_NE(r.out.find("chip ID"), std::string::npos) << r.out;
  }
}

struct BadCapture {
  std::string name;
  std::string content;  // written to the capture file; empty: no file
  std::string message;  // what the one line says after "murvane-sim: FILE: "
};

void PrintTo(const BadCapture& c, std::ostream* os) { *os << c.name; }

class BadCaptures : public ::testing::TestWithParam<BadCapture> {};

TEST_P(BadCaptures, OneClearLineAndExit2) {
  const BadCapture& c = GetParam();
  fs::path path = work("bad-" + c.name);
  if (c.name == "directory") {
    fs::create_directories(path);
  } else if (!c.content.empty()) {
    spit(path, c.content);
  }
  const Outcome r = check(path, "zq3101");
  EXPECT_EQ(r.exit_code, exit_bad_input) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "murvane-sim: " + path.string() + ": " + c.message + "\n");
}

const char* const vcd_without_sda =
    "$timescale 1 us $end\n$scope module top $end\n$var wire 1 ! SCL $end\n$var wire 1 \" RST $end\n"
    "$upscope $end\n$enddefinitions $end\n#0 1! 1\"\n#10 0!\n#20\n";

INSTANTIATE_TEST_SUITE_P(
    Inputs, BadCaptures,
    ::testing::Values(
        BadCapture{"missing", "", "cannot read: No such file or directory"},
        BadCapture{"directory", "", "cannot read: it is a directory"},
        BadCapture{"notes", "board bring-up notes\nnothing decoded here\n",
                   "neither a VCD nor sigrok-cli's decoded I2C text"},
        BadCapture{"binary",
                   std::string("\x7f"
                               "ELF\x02\x01\x01\0\0\0",
                               10),
                   "neither a VCD nor sigrok-cli's decoded I2C text"},
        BadCapture{"no_sda", vcd_without_sda,
                   "no signal named SDA (the capture has: SCL, RST; name them with --capture-signals)"},
        BadCapture{"truncated_header", "$timescale 1 us $end\n$var wire 1 ! SCL $end\n",
                   "VCD header does not end ($enddefinitions missing)"},
        BadCapture{"bad_timescale", "$timescale 3 us $end\n$enddefinitions $end\n",
                   "line 1: VCD header: unusable $timescale \"3us\""},
        BadCapture{"cut_mid_line", std::string(vcd_without_sda) + "#2",
                   "line 10: the file ends in the middle of this line (\"#2\"): cut short?"},
        BadCapture{"unknown_word", std::string(vcd_without_sda) + "#30 2!\n", "line 10: VCD: unexpected \"2!\""},
        BadCapture{"session", std::string("PK\x03\x04rest", 8), "a sigrok session file that sigrok-cli cannot read"}),
    [](const auto& param_info) { return param_info.param.name; });

// A logic analyzer's own channel names, mapped on the command line.
TEST(CaptureCheckSignals, ChannelNamesGivenOnTheCommandLine) {
  const Export ex = export_run("renamed", {"--chip", "zq3501"});
  std::string vcd = slurp(ex.vcd);
  for (const auto& [from, to] :
       {std::pair{" SCL $end", " D0 $end"}, {" SDA $end", " D1 $end"}, {" RST $end", " D2 $end"}}) {
    vcd.replace(vcd.find(from), std::string(from).size(), to);
  }
  const fs::path renamed = work("renamed-d.vcd");
  spit(renamed, vcd);
  EXPECT_EQ(check(renamed, "zq3501").exit_code, exit_bad_input);
  const Outcome r = sim({"--chip", "zq3501", "--check-capture", renamed.string(), "--capture-signals", "D0,D1,D2"});
  EXPECT_EQ(r.exit_code, exit_ran) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("matches: ", 0), 0U) << r.out;
}

// ---- The timeline ----

struct TimelineCase {
  std::string name;
  std::vector<std::string> args;
  std::vector<std::string> labels;
};

void PrintTo(const TimelineCase& c, std::ostream* os) { *os << c.name; }

class Timeline : public ::testing::TestWithParam<TimelineCase> {};

TEST_P(Timeline, RendersWithItsLabels) {
  const TimelineCase& c = GetParam();
  const fs::path svg = work("timeline-" + c.name + ".svg");
  const fs::path png = work("timeline-" + c.name + ".png");
  std::vector<std::string> args = c.args;
  args.insert(args.end(), {"--timeline", svg.string(), "--quiet"});
  const Outcome r = sim(args);
  ASSERT_EQ(r.exit_code, exit_ran) << r.err;
  const Outcome render = run("rsvg-convert", {svg.string(), "-o", png.string()});
  ASSERT_EQ(render.exit_code, 0) << "rsvg-convert (from scripts/deps.sh): " << render.err;
  EXPECT_EQ(slurp(png).substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  const std::string text = slurp(svg);
  for (const std::string& label : c.labels) {
    EXPECT_NE(text.find(">" + label), std::string::npos) << label;
  }
}

const std::vector<std::string> healthy_labels = {
    "reset pulse 2.0 ms", "identification", "calibration", "defaults", "waveform download", "playback set-up", "GO<",
    "wait 8 ms",          "time, ms"};

std::vector<TimelineCase> timeline_cases() {
  std::vector<TimelineCase> cases;
  for (const std::string& m : one_per_family) {
    cases.push_back({m, {"--chip", m}, healthy_labels});
  }
  const fs::path faults = work("timeline-faults.json");
  spit(faults, R"({"chip": "zq3401", "faults": [{"reg": "0x42", "op": "write", "from": 3, "count": 2}]})");
  cases.push_back({"failed_transfers", {faults.string()}, {"failed<", "waveform download"}});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Runs, Timeline, ::testing::ValuesIn(timeline_cases()),
                         [](const auto& param_info) { return param_info.param.name; });

TEST(BusOptions, HelpShowsThem) {
  const Outcome r = sim({"--help"});
  EXPECT_EQ(r.exit_code, exit_ran);
  for (const char* option : {"--vcd", "--timeline", "--check-capture", "--capture-signals"}) {
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
  }
}

TEST(BusOptions, UnwritableOutputsAreNotInputErrors) {
  for (const auto& [option, path] :
       {std::pair{"--vcd", "/nonexistent-dir/x.vcd"}, {"--timeline", "/nonexistent-dir/x.svg"}}) {
    const Outcome r = sim({"--chip", "zq3101", option, path, "--quiet"});
    EXPECT_EQ(r.exit_code, 1) << option;
    EXPECT_EQ(r.err, std::string("murvane-sim: ") + option + ": cannot write " + path + "\n");
  }
}

// The timeline is an SVG picture: another name is refused before anything
// runs or is written, and an upper-case .SVG is fine.
TEST(BusOptions, TimelineNameMustBeSvg) {
  for (const char* name : {"boot.png", "boot", "svg"}) {
    const fs::path path = work(name);
    fs::remove(path);
    const Outcome r = sim({"--chip", "zq3101", "--timeline", path.string(), "--quiet"});
    EXPECT_EQ(r.exit_code, exit_bad_input) << name;
    EXPECT_EQ(r.err, "murvane-sim: --timeline: " + path.string() +
                         " does not end in .svg (the timeline is an SVG picture; rsvg-convert makes a PNG of it)\n");
    EXPECT_FALSE(fs::exists(path)) << name;
  }
  EXPECT_EQ(sim({"--chip", "zq3101", "--timeline", work("upper.SVG").string(), "--quiet"}).exit_code, exit_ran);
}

// Where the timeline writes its texts: every label right of the row names'
// column, and each call's own span bar in each phase it reached.
TEST(TimelineLayout, LabelsStayOutOfTheRowNamesAndEachCallHasItsBar) {
  const fs::path scenario = work("timeline-calls.json");
  spit(scenario, R"({"chip": "zq3201", "calls": ["entry", "load", "start"]})");
  const fs::path svg = work("timeline-calls.svg");
  ASSERT_EQ(sim({scenario.string(), "--timeline", svg.string(), "--quiet"}).exit_code, exit_ran);
  const std::string text = slurp(svg);
  const std::set<std::string> row_names = {"reset pin", "bus (all transfers)", "identification",  "calibration",
                                           "defaults",  "waveform download",   "playback set-up", "GO"};
  const std::regex label(R"re(<text x="([0-9.]+)"[^>]*>([^<]*)</text>)re");
  size_t spans = 0;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), label); it != std::sregex_iterator(); ++it) {
    const double x = std::stod((*it)[1]);
    const std::string what = (*it)[2];
    if (x < 170) {  // the row names' column, and the title lines above the rows
      EXPECT_TRUE(row_names.count(what) != 0 || what.find("on the virtual clock") != std::string::npos ||
                  what.find("gaps are") != std::string::npos)
          << "\"" << what << "\" at x " << x;
    }
    spans += what.find(" ms") != std::string::npos && what.find(" to ") != std::string::npos ? 1 : 0;
  }
  // Identification: three calls, three bars of their own (opacity 0.4).
  size_t bars = 0;
  const std::string identification_bar = R"(fill="#4c78a8" opacity="0.4")";
  for (size_t at = text.find(identification_bar); at != std::string::npos; at = text.find(identification_bar, at + 1)) {
    ++bars;
  }
  EXPECT_EQ(bars, 3U);
  EXPECT_GE(spans, 6U);
}

}  // namespace
