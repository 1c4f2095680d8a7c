// murvane-sim end to end: the built command run as an integrator runs it,
// with scenario files, checked on its exit status, its standard streams and
// its event trace.
#include <fcntl.h>
#include <gtest/gtest.h>
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

#include "murvane/version.h"
#include "sim/models/model_table.h"
#include "tests/command_run.h"
#include "tests/model_lists.h"
#include "tests/work_dir.h"

#ifndef MURVANE_SIM_COMMAND
#error "MURVANE_SIM_COMMAND (path of the built murvane-sim) is set by tools/CMakeLists.txt"
#endif

namespace {

using json = nlohmann::json;
namespace fs = std::filesystem;

constexpr int exit_ran = 0;
constexpr int exit_bad_input = 2;

// One model per family, as the golden traces keep them (scripts/update-golden.sh
// reads the same list).
const std::vector<std::string> golden_models = murvane_test::first_model_of_each_family();

fs::path work_dir() {
  static const murvane_test::WorkDir dir("murvane-sim-test");
  return dir.path();
}

using murvane_test::slurp;
using SimRun = murvane_test::CommandRun;

SimRun run_command(const char* program, const std::vector<std::string>& args) {
  return murvane_test::run_command(program, args, work_dir());
}

SimRun run_sim(const std::vector<std::string>& args) { return run_command(MURVANE_SIM_COMMAND, args); }

std::string scenario_file(const std::string& name, const std::string& text) {
  const fs::path p = work_dir() / (name + ".json");
  std::ofstream(p, std::ios::binary) << text;
  return p.string();
}

std::vector<json> parse_jsonl(const std::string& text) {
  std::vector<json> events;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    events.push_back(json::parse(line));
  }
  return events;
}

// Runs a scenario and returns its jsonl trace; the run must succeed.
std::vector<json> trace_of(const std::string& name, const std::string& scenario,
                           const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args = {scenario_file(name, scenario), "--trace", "-"};
  args.insert(args.end(), extra.begin(), extra.end());
  const SimRun r = run_sim(args);
  EXPECT_EQ(r.exit_code, exit_ran) << r.err;
  EXPECT_EQ(r.err, "");
  return parse_jsonl(r.out);
}

std::vector<json> of_kind(const std::vector<json>& events, const std::string& kind) {
  std::vector<json> out;
  std::copy_if(events.begin(), events.end(), std::back_inserter(out), [&](const json& e) { return e["ev"] == kind; });
  return out;
}

std::vector<std::string> log_of(const std::vector<json>& events) {
  std::vector<std::string> out;
  for (const json& e : of_kind(events, "log")) {
    out.push_back(e["text"].get<std::string>());
  }
  return out;
}

bool logged(const std::vector<json>& events, const std::string& text) {
  const auto log = log_of(events);
  return std::find(log.begin(), log.end(), text) != log.end();
}

size_t count_logged(const std::vector<json>& events, const std::string& text) {
  const auto log = log_of(events);
  return static_cast<size_t>(std::count(log.begin(), log.end(), text));
}

json return_of(const std::vector<json>& events, const std::string& fn) {
  for (const json& e : of_kind(events, "return")) {
    if (e["fn"] == fn) {
      return e;
    }
  }
  return json();
}

// Reads of one register, as (value or -1, status).
std::vector<std::pair<int, int>> reads_of(const std::vector<json>& events, int reg) {
  std::vector<std::pair<int, int>> out;
  for (const json& e : of_kind(events, "i2c_read")) {
    if (e["reg"] == reg) {
      out.emplace_back(e["value"].is_null() ? -1 : e["value"].get<int>(), e["status"].get<int>());
    }
  }
  return out;
}

using Reads = std::vector<std::pair<int, int>>;

// The first reads of a register; later ones belong to steps after family
// selection, which differ from family to family.
Reads first_reads(const std::vector<json>& events, int reg, size_t n) {
  Reads all = reads_of(events, reg);
  all.resize(std::min(all.size(), n));
  return all;
}

// True when the register was read at least once and every read answered v.
bool always_answers(const std::vector<json>& events, int reg, int v) {
  const Reads all = reads_of(events, reg);
  return !all.empty() && std::all_of(all.begin(), all.end(), [&](const auto& r) {
    return r == std::pair<int, int>{v, 0};
  });
}

constexpr const char* status_success = "0x0000000000000000";
constexpr const char* status_invalid_parameter = "0x8000000000000002";
constexpr const char* status_device_error = "0x8000000000000007";
constexpr const char* status_not_found = "0x800000000000000E";
constexpr const char* guid_i2c = "2D95E7B4-6A13-4C08-B7F2-E4A1903C5D86";
constexpr const char* guid_korm = "C47E1A05-3B92-4F6D-A1E8-5D20B7C9F364";

// ---------------------------------------------------------------------------
// Golden traces: a healthy boot per family, byte for byte.

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    out.push_back(line);
  }
  return out;
}

// A line diff (longest common subsequence) shown as "-expected" / "+actual"
// with two lines of context, cut after max_lines.
std::string line_diff(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  const size_t n = a.size();
  const size_t m = b.size();
  std::vector<std::vector<uint32_t>> lcs(n + 1, std::vector<uint32_t>(m + 1, 0));
  for (size_t i = n; i-- > 0;) {
    for (size_t j = m; j-- > 0;) {
      lcs[i][j] = a[i] == b[j] ? lcs[i + 1][j + 1] + 1 : std::max(lcs[i + 1][j], lcs[i][j + 1]);
    }
  }
  struct Row {
    char tag;
    size_t line;  // 1-based, in a for '-' and ' ', in b for '+'
    std::string text;
  };
  std::vector<Row> rows;
  size_t i = 0;
  size_t j = 0;
  while (i < n || j < m) {
    if (i < n && j < m && a[i] == b[j]) {
      rows.push_back({' ', i + 1, a[i]});
      ++i;
      ++j;
    } else if (j < m && (i == n || lcs[i][j + 1] >= lcs[i + 1][j])) {
      rows.push_back({'+', j + 1, b[j]});
      ++j;
    } else {
      rows.push_back({'-', i + 1, a[i]});
      ++i;
    }
  }
  constexpr size_t context = 2;
  constexpr size_t max_lines = 60;
  std::ostringstream out;
  size_t shown = 0;
  size_t last_shown = SIZE_MAX;
  for (size_t k = 0; k < rows.size() && shown < max_lines; ++k) {
    bool near_change = false;
    for (size_t d = (k >= context ? k - context : 0); d <= std::min(rows.size() - 1, k + context); ++d) {
      near_change = near_change || rows[d].tag != ' ';
    }
    if (!near_change) {
      continue;
    }
    if (last_shown != SIZE_MAX && k != last_shown + 1) {
      out << "   ...\n";
    }
    out << rows[k].tag << ' ' << (rows[k].tag == '+' ? "new " : "gold") << ' ' << rows[k].line << ": " << rows[k].text
        << '\n';
    last_shown = k;
    ++shown;
  }
  if (shown == max_lines) {
    out << "   ... (diff cut)\n";
  }
  return out.str();
}

// The golden traces keep what the driver did, not when: every event's t_us,
// its last field, is taken off (scripts/update-golden.sh does the same), so
// a change of the bus timing leaves them as they are. Each line must have one.
std::string without_times(const std::string& trace, size_t* untimed) {
  static const std::regex t_us(R"(,"t_us":[0-9]+(\.[0-9]+)?\}$)");
  std::string out;
  *untimed = 0;
  for (const std::string& l : lines_of(trace)) {
    const std::string stripped = std::regex_replace(l, t_us, "}");
    *untimed += stripped == l ? 1 : 0;
    out += stripped + "\n";
  }
  return out;
}

class GoldenTrace : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenTrace, HealthyBootMatchesTheKeptTrace) {
  const std::string model = GetParam();
  const fs::path golden = fs::path(MURVANE_SOURCE_DIR) / "tests" / "golden" / (model + ".jsonl");
  ASSERT_TRUE(fs::exists(golden)) << golden << " is missing; create it with scripts/update-golden.sh";
  const SimRun run = run_sim({"--chip", model, "--trace", "-"});
  ASSERT_EQ(run.exit_code, exit_ran) << run.err;
  size_t untimed = 0;
  SimRun r = run;
  r.out = without_times(run.out, &untimed);
  EXPECT_EQ(untimed, 0u) << "events without t_us";
  const std::string expected = slurp(golden);
  if (r.out != expected) {
    ADD_FAILURE() << "the trace of a healthy " << model << " boot differs from " << golden << " ("
                  << lines_of(expected).size() << " lines kept, " << lines_of(r.out).size() << " produced):\n"
                  << line_diff(lines_of(expected), lines_of(r.out))
                  << "If the change is intended, regenerate the golden traces with scripts/update-golden.sh "
                     "and review the diff.";
  }
}

INSTANTIATE_TEST_SUITE_P(OnePerFamily, GoldenTrace, ::testing::ValuesIn(golden_models),
                         [](const auto& p) { return p.param; });

// The f0 measurement, which no healthy boot runs, kept the same way: after a
// healthy boot, get_f0 from its call on (tests/golden/f0/<model>.jsonl,
// written by scripts/update-golden.sh). Every register it writes carries
// the family's own record values (drive levels, widths, track margins) and
// the period it reads becomes the logged f0, so a changed record value that
// reaches the bus shows here.
TEST_P(GoldenTrace, F0MeasurementMatchesTheKeptTrace) {
  const std::string model = GetParam();
  const fs::path dir = fs::path(MURVANE_SOURCE_DIR) / "tests" / "golden" / "f0";
  const fs::path golden = dir / (model + ".jsonl");
  ASSERT_TRUE(fs::exists(golden)) << golden << " is missing; create it with scripts/update-golden.sh";
  const SimRun run = run_sim({(dir / "measure.json").string(), "--chip", model, "--trace", "-"});
  ASSERT_EQ(run.exit_code, exit_ran) << run.err;
  size_t untimed = 0;
  const std::vector<std::string> all = lines_of(without_times(run.out, &untimed));
  EXPECT_EQ(untimed, 0u) << "events without t_us";
  const auto call = std::find(all.begin(), all.end(), R"({"ev":"call","fn":"slot:get_f0","args":[]})");
  ASSERT_NE(call, all.end()) << "no get_f0 call in the run";
  const std::vector<std::string> measured(call, all.end());
  const std::vector<std::string> expected = lines_of(slurp(golden));
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(expected.back(), R"({"ev":"return","fn":"slot:get_f0","value":0})") << "the kept measurement failed";
  if (measured != expected) {
    ADD_FAILURE() << "the f0 measurement of a healthy " << model << " differs from " << golden << " ("
                  << expected.size() << " lines kept, " << measured.size() << " produced):\n"
                  << line_diff(expected, measured)
                  << "If the change is intended, regenerate the golden traces with scripts/update-golden.sh "
                     "and review the diff.";
  }
}

// ---------------------------------------------------------------------------
// The trace contract: every event kind with its fields and their types.

const std::regex status_pattern("0x[0-9A-F]{16}");
const std::regex guid_pattern("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");

bool is_status(const json& v) { return v.is_string() && std::regex_match(v.get<std::string>(), status_pattern); }
bool is_guid(const json& v) { return v.is_string() && std::regex_match(v.get<std::string>(), guid_pattern); }
bool is_uint(const json& v) { return v.is_number_unsigned(); }

std::set<std::string> keys_of(const json& e) {
  std::set<std::string> out;
  for (const auto& [k, v] : e.items()) {
    out.insert(k);
  }
  return out;
}

// The contract's checks of one event, stage by stage: its envelope (the
// kind and the time every event carries), then the fields of its kind. Each
// returns what is wrong, or "".
using Keys = std::set<std::string>;

// The event's fields but t_us are exactly these.
std::string fields_are(const json& e, const Keys& expected) {
  Keys keys = keys_of(e);
  keys.erase("t_us");
  return keys == expected ? std::string()
                          : "fields of " + e["ev"].get<std::string>() + " are not as the contract lists them";
}

std::string envelope_violation(const json& e) {
  if (!e.is_object() || !e.contains("ev") || !e["ev"].is_string()) {
    return "no \"ev\"";
  }
  // Every event: t_us, the virtual time it began, a number of microseconds
  // (an integer when whole, else with its fraction).
  if (!e.contains("t_us") || !e["t_us"].is_number() || e["t_us"].get<double>() < 0 ||
      (e["t_us"].is_number_float() && e["t_us"].get<double>() == std::floor(e["t_us"].get<double>()))) {
    return "no t_us, or not a number of microseconds as the contract writes it";
  }
  return "";
}

std::string call_violation(const json& e) {
  const bool slot = e["fn"].is_string() && e["fn"].get<std::string>().rfind("slot:", 0) == 0;
  if (slot) {
    if (!e["args"].is_array()) {
      return "slot call without args array";
    }
    for (const json& a : e["args"]) {
      if (!a.is_number_integer()) {
        return "non-integer slot argument";
      }
    }
    return fields_are(e, {"ev", "fn", "args"});
  }
  if (e["fn"] != "entry" && e["fn"] != "start" && e["fn"] != "load") {
    return "unknown fn";
  }
  return fields_are(e, {"ev", "fn"});
}

std::string return_violation(const json& e) {
  const std::string fn = e["fn"].is_string() ? e["fn"].get<std::string>() : "";
  if (fn == "entry" || fn == "start" || fn == "load" || fn == "slot:qualify_check") {
    return is_status(e["status"]) ? fields_are(e, {"ev", "fn", "status"}) : "status is not an EFI_STATUS string";
  }
  if (fn == "slot:write_ram") {
    return fields_are(e, {"ev", "fn"});
  }
  if (fn.rfind("slot:", 0) != 0) {
    return "unknown fn";
  }
  return e["value"].is_number_integer() ? fields_are(e, {"ev", "fn", "value"}) : "value is not an integer";
}

// locate, install, install_config_table: the firmware's protocol database.
std::string protocol_violation(const json& e) {
  if (e["ev"] != "install") {
    return is_guid(e["guid"]) && is_status(e["status"]) ? fields_are(e, {"ev", "guid", "status"})
                                                        : "bad guid or status";
  }
  const bool ok = is_guid(e["guid"]) && e["on_image_handle"].is_boolean() && is_uint(e["interface_type"]) &&
                  is_status(e["revision"]) && is_status(e["status"]);
  return ok ? fields_are(e, {"ev", "guid", "on_image_handle", "interface_type", "revision", "status"})
            : "bad field type";
}

// i2c_read, i2c_write.
std::string transfer_violation(const json& e) {
  bool ok = is_uint(e["reg"]) && (e["value"].is_null() || is_uint(e["value"])) && is_uint(e["status"]) &&
            is_uint(e["reg_len"]) && is_uint(e["len"]) && is_uint(e["timeout"]) && e["config"].is_array() &&
            e["config"].size() == 6;
  for (const json& w : e["config"]) {
    ok = ok && is_uint(w);
  }
  // A failed read delivers nothing; a successful one a byte.
  if (e["ev"] == "i2c_read" && ok) {
    ok = e["value"].is_null() == (e["status"] != 0);
  }
  return ok ? fields_are(e, {"ev", "reg", "value", "status", "reg_len", "len", "timeout", "config"}) : "bad field type";
}

// i2c_open, pin_config, pin_set, stall, log: a few plain fields each.
std::string plain_violation(const json& e) {
  const std::string ev = e["ev"];
  if (ev == "i2c_open") {
    return is_uint(e["instance"]) && is_uint(e["status"]) ? fields_are(e, {"ev", "instance", "status"})
                                                          : "bad field type";
  }
  if (ev == "pin_config") {
    return is_uint(e["word"]) && is_uint(e["value"]) && is_status(e["status"])
               ? fields_are(e, {"ev", "word", "value", "status"})
               : "bad field type";
  }
  if (ev == "pin_set") {
    return is_uint(e["word"]) && is_uint(e["level"]) ? fields_are(e, {"ev", "word", "level"}) : "bad field type";
  }
  if (ev == "stall") {
    return is_uint(e["us"]) ? fields_are(e, {"ev", "us"}) : "bad field type";
  }
  return is_uint(e["level"]) && e["text"].is_string() ? fields_are(e, {"ev", "level", "text"}) : "bad field type";
}

// Checks one event against the contract; returns what is wrong, or "".
std::string contract_violation(const json& e) {
  if (std::string why = envelope_violation(e); !why.empty()) {
    return why;
  }
  static const std::pair<const char*, std::string (*)(const json&)> kinds[] = {
      {"call", call_violation},
      {"return", return_violation},
      {"locate", protocol_violation},
      {"install", protocol_violation},
      {"install_config_table", protocol_violation},
      {"i2c_read", transfer_violation},
      {"i2c_write", transfer_violation},
      {"i2c_open", plain_violation},
      {"pin_config", plain_violation},
      {"pin_set", plain_violation},
      {"stall", plain_violation},
      {"log", plain_violation},
  };
  for (const auto& [kind, check] : kinds) {
    if (e["ev"] == kind) {
      return check(e);
    }
  }
  return "unknown event kind";
}

void expect_contract(const std::vector<json>& events) {
  for (size_t i = 0; i < events.size(); ++i) {
    const std::string why = contract_violation(events[i]);
    EXPECT_EQ(why, "") << "event " << i << ": " << events[i].dump();
  }
}

TEST(TraceContract, EveryEventKindCarriesItsFields) {
  // Entry, a second bring-up through Start, slots of each result shape, and
  // a failed transfer: every kind of event the driver can cause here.
  const auto events = trace_of("contract", R"({
    "faults": [{"transfer": 1, "status": 6}],
    "calls": ["entry", "start", "load",
              {"slot": "set_gain", "args": [128]},
              {"slot": "set_sequence", "args": [0, 1]},
              {"slot": "write_ram"},
              {"slot": "qualify_check"}]})");
  expect_contract(events);
  std::set<std::string> kinds;
  for (const json& e : events) {
    kinds.insert(e["ev"].get<std::string>());
  }
  for (const char* kind : {"call", "return", "locate", "install", "install_config_table", "i2c_open", "i2c_read",
                           "pin_config", "pin_set", "stall", "log"}) {
    EXPECT_TRUE(kinds.count(kind)) << "no " << kind << " event in the trace";
  }
  EXPECT_EQ(of_kind(events, "call")[2]["fn"], "load");
  const json call = of_kind(events, "call")[3];
  EXPECT_EQ(call["fn"], "slot:set_gain");
  EXPECT_EQ(call["args"], json::array({128}));
  EXPECT_EQ(of_kind(events, "call")[4]["args"], json::array({0, 1}));
  EXPECT_FALSE(return_of(events, "slot:write_ram").contains("value"));
  EXPECT_TRUE(return_of(events, "slot:qualify_check").contains("status"));
  EXPECT_TRUE(return_of(events, "slot:set_gain").contains("value"));
  // The first read failed: no value delivered, its status as given.
  const json first_read = of_kind(events, "i2c_read").front();
  EXPECT_TRUE(first_read["value"].is_null());
  EXPECT_EQ(first_read["status"], 6);
}

TEST(TraceContract, PlatformCallsCarryTheDriversArguments) {
  const auto events = trace_of("arguments", R"({"calls": ["entry"]})");
  const json install = of_kind(events, "install").at(0);
  EXPECT_EQ(install["guid"], "6B0F3C2E-91D4-4A57-8E6B-2F19C04D7A31");
  EXPECT_EQ(install["on_image_handle"], true);
  EXPECT_EQ(install["interface_type"], 0);
  EXPECT_EQ(install["revision"], "0x0000000000010005");
  EXPECT_EQ(install["status"], status_success);
  const json open = of_kind(events, "i2c_open").at(0);
  EXPECT_EQ(open["instance"], 5);
  EXPECT_EQ(open["status"], 0);
  for (const json& e : of_kind(events, "i2c_read")) {
    EXPECT_EQ(e["reg_len"], 1);
    EXPECT_EQ(e["len"], 1);
    EXPECT_EQ(e["timeout"], 2500);
    EXPECT_EQ(e["config"], json::array({400, 0x5A, 0, 500, 0, 0}));
  }
  const auto pins = of_kind(events, "pin_set");
  ASSERT_EQ(pins.size(), 2u);
  EXPECT_EQ(pins[0]["word"], 0x200EC1E0);
  EXPECT_EQ(pins[0]["level"], 0);
  EXPECT_EQ(pins[1]["level"], 1);
  for (const std::string& e : log_of(events)) {
    EXPECT_FALSE(e.empty());
  }
  EXPECT_EQ(of_kind(events, "log").at(0)["level"], 0x80000000u);
}

TEST(TraceContract, WritesCarryTheirFields) {
  const auto events = trace_of("writes", R"({"calls": ["entry"]})");
  const auto writes = of_kind(events, "i2c_write");
  ASSERT_FALSE(writes.empty());
  expect_contract(writes);
  for (const json& w : writes) {
    EXPECT_FALSE(w["value"].is_null());
  }
}

// ---------------------------------------------------------------------------
// Chip settings: identifiers, register values, scripted answers.

TEST(ChipSettings, OneByteIdentifierIsAnsweredInRegister0x00) {
  const auto events = trace_of("id-a", R"({"chip": "zq3101", "chip_id": "0x97"})");
  EXPECT_TRUE(always_answers(events, 0x00, 0x97));
  EXPECT_TRUE(reads_of(events, 0x57).empty());
}

TEST(ChipSettings, WideIdentifierIsAnsweredIn0x57And0x58With0x00ReadingZero) {
  const auto events = trace_of("id-c", R"({"chip": "zq3301", "chip_id": "0x7170"})");
  EXPECT_TRUE(always_answers(events, 0x00, 0x00));
  EXPECT_TRUE(always_answers(events, 0x57, 0x71));
  EXPECT_TRUE(always_answers(events, 0x58, 0x70));
}

TEST(ChipSettings, SmallIdentifierOnAWideFamilyStaysInTheWideRegisters) {
  // Families C to F answer any identifier in 0x57/0x58, 0x00 reading 0:
  // 0x42 there is the 16-bit 0x0042, which no chip has (in 0x00 it would
  // have been taken as a one-byte identifier, also unknown, with no 0x57 read).
  const auto events = trace_of("id-d-small", R"({"chip": "zq3401", "chip_id": 66})");
  EXPECT_EQ(reads_of(events, 0x00), (Reads{{0x00, 0}, {0x00, 0}}));
  EXPECT_EQ(reads_of(events, 0x57), (Reads{{0x00, 0}, {0x00, 0}}));
  EXPECT_EQ(reads_of(events, 0x58), (Reads{{0x42, 0}, {0x42, 0}}));
  EXPECT_EQ(count_logged(events, "Murvane: unexpected chipid!\n"), 2u);
  EXPECT_TRUE(logged(events, "Murvane: func init error\n"));
}

TEST(ChipSettings, UnknownIdentifierFailsSelectionAfterTwoPulses) {
  const auto events = trace_of("id-unknown", R"({"chip": "zq3501", "chip_id": "0x1234"})");
  EXPECT_EQ(count_logged(events, "Murvane: unexpected chipid!\n"), 2u);
  EXPECT_EQ(of_kind(events, "pin_set").size(), 4u);
  EXPECT_TRUE(logged(events, "Murvane: func init error\n"));
  EXPECT_EQ(return_of(events, "entry")["status"], status_success);
}

TEST(ChipSettings, RegisterValuesOverrideThePowerOnValues) {
  const auto events = trace_of("registers", R"({"chip": "zq3101", "registers": {"0x00": 151}})");
  EXPECT_TRUE(always_answers(events, 0x00, 0x97));
}

TEST(ChipSettings, ScriptedAnswersComeFirstThenTheModelAgain) {
  // 0x11 names no chip: a second pass reads the model's own identifier.
  const auto events = trace_of("reads", R"({"chip": "zq3101", "reads": {"0x00": [17]}, "calls": ["entry", "start"]})");
  const Reads id = reads_of(events, 0x00);
  ASSERT_GE(id.size(), 3u);
  EXPECT_EQ(id[0], (std::pair<int, int>{0x11, 0}));
  for (size_t i = 1; i < id.size(); ++i) {
    EXPECT_EQ(id[i], (std::pair<int, int>{0x95, 0})) << "read " << i;
  }
  EXPECT_EQ(count_logged(events, "Murvane: unexpected chipid!\n"), 1u);
}

// A calibration that never finishes, written out as a scenario: 2000 busy
// readings for each of the two calibrations of a family A boot.
TEST(ChipSettings, ThousandsOfScriptedAnswersAreTaken) {
  std::string busy = "1";
  for (int i = 1; i < 5000; ++i) {
    busy += ",1";
  }
  const auto events = trace_of("reads-5000", R"({"chip": "zq3101", "reads": {"0x5F": [)" + busy + "]}}");
  EXPECT_EQ(reads_of(events, 0x5F).size(), 2u * 2001u);  // the start update's read, then 2000 readings
  EXPECT_EQ(count_logged(events, "Murvane: calibration offset failed\n"), 2u);
  EXPECT_TRUE(logged(events, "Murvane: zq uefi driver end\n"));
}

TEST(ChipSettings, StuckRegisterAnswersOneValueAfterItsScript) {
  const auto events =
      trace_of("stuck", R"({"chip": "zq3101", "reads": {"0x5F": [0]}, "stuck": {"0x5F": 1}, "calls": ["entry"]})");
  const Reads r = reads_of(events, 0x5F);
  ASSERT_GT(r.size(), 2u);
  EXPECT_EQ(r[0], (std::pair<int, int>{0, 0}));
  for (size_t i = 1; i < r.size(); ++i) {
    EXPECT_EQ(r[i].first, 1) << "read " << i;
  }
  EXPECT_EQ(count_logged(events, "Murvane: calibration offset failed\n"), 2u);
}

// ---------------------------------------------------------------------------
// Faults.

TEST(Faults, ByTransferIndexFailsThatTransferOnly) {
  const auto events = trace_of("fault-transfer", R"({"faults": [{"transfer": 1, "status": 7}]})");
  EXPECT_EQ(first_reads(events, 0x00, 2), (Reads{{-1, 7}, {0x95, 0}}));
  EXPECT_TRUE(logged(events, "Read addr:0x0 error:7\n"));
  EXPECT_TRUE(logged(events, "Murvane: read chip id fail\n"));
}

TEST(Faults, ByTransferWithACountFailsThatManyTransfers) {
  // The chip vanishes from the 40th transfer on: the boot still runs its
  // whole sequence, every later transfer failing and logged once.
  const auto events = trace_of("fault-vanish", R"({"faults": [{"transfer": 40, "count": 100000}]})");
  size_t transfers = 0;
  size_t failed = 0;
  for (const json& e : events) {
    if (e["ev"] == "i2c_read" || e["ev"] == "i2c_write") {
      ++transfers;
      failed += e["status"] != 0 ? 1 : 0;
    }
  }
  EXPECT_EQ(failed, transfers - 39);
  EXPECT_TRUE(logged(events, "Murvane: zq uefi driver end\n"));
  EXPECT_EQ(return_of(events, "entry")["status"], "0x0000000000000000");
}

TEST(Faults, FailedTransferIsNotSeenByTheChip) {
  // The failed read must not consume the scripted answer.
  const auto events =
      trace_of("fault-unseen", R"({"reads": {"0x00": ["0x97"]}, "faults": [{"transfer": 1, "status": 5}]})");
  EXPECT_EQ(first_reads(events, 0x00, 2), (Reads{{-1, 5}, {0x97, 0}}));
}

TEST(Faults, ByRegisterCountsMatchingTransfersFromK) {
  // Second read of 0x00 fails, once; the identifier stays the rejected 0x11.
  const auto events = trace_of("fault-reg", R"({
    "reads": {"0x00": [17]},
    "faults": [{"reg": "0x00", "op": "read", "from": 2, "count": 1, "status": 9}],
    "calls": ["entry", "start"]})");
  EXPECT_EQ(first_reads(events, 0x00, 3), (Reads{{0x11, 0}, {-1, 9}, {0x95, 0}}));
  EXPECT_TRUE(logged(events, "Murvane: func init error\n"));
}

TEST(Faults, ByRegisterDefaultsToEveryTransferWithStatus5) {
  const auto events = trace_of("fault-reg-any", R"({"faults": [{"reg": 0}], "calls": ["entry", "start"]})");
  EXPECT_EQ(reads_of(events, 0x00), (Reads{{-1, 5}, {-1, 5}, {-1, 5}, {-1, 5}}));
}

TEST(Faults, WriteFaultsLeaveReadsAlone) {
  const auto events = trace_of("fault-write-only", R"({"faults": [{"reg": "0x00", "op": "write"}]})");
  EXPECT_TRUE(always_answers(events, 0x00, 0x95));
}

TEST(Faults, WriteFaultFailsTheWritesOfThatRegister) {
  // Family B's set_gain writes register 0x07; bring-up sets gain 0x80.
  const auto events =
      trace_of("fault-write", R"({"chip": "zq3201", "faults": [{"reg": "0x07", "op": "write", "status": 6}]})");
  size_t gain_writes = 0;
  for (const json& w : of_kind(events, "i2c_write")) {
    if (w["reg"] == 0x07) {
      ++gain_writes;
      EXPECT_EQ(w["status"], 6);
      EXPECT_EQ(w["value"], 0x80);
    } else {
      EXPECT_EQ(w["status"], 0) << w.dump();
    }
  }
  EXPECT_EQ(gain_writes, 1u);
  EXPECT_TRUE(logged(events, "Write addr:0x7 data:0x80 error\n"));
}

TEST(Faults, AbsentChipFailsEveryTransfer) {
  const auto events = trace_of("absent", R"({"chip": "absent"})");
  const auto reads = of_kind(events, "i2c_read");
  ASSERT_EQ(reads.size(), 2u);
  for (const json& r : reads) {
    EXPECT_EQ(r["status"], 5);
    EXPECT_TRUE(r["value"].is_null());
  }
  EXPECT_EQ(count_logged(events, "Murvane: read chip id fail\n"), 2u);
  EXPECT_EQ(count_logged(events, "Murvane: unexpected chipid!\n"), 2u);
  EXPECT_EQ(of_kind(events, "pin_set").size(), 4u);
  EXPECT_EQ(return_of(events, "entry")["status"], status_success);
}

// ---------------------------------------------------------------------------
// Platform options.

TEST(PlatformOptions, I2cAbsentStopsBeforeAnyBusTraffic) {
  const auto events = trace_of("i2c-absent", R"({"platform": {"i2c": "absent"}})");
  bool located = false;
  for (const json& l : of_kind(events, "locate")) {
    if (l["guid"] == guid_i2c) {
      located = true;
      EXPECT_EQ(l["status"], status_not_found);
    }
  }
  EXPECT_TRUE(located);
  EXPECT_TRUE(of_kind(events, "i2c_open").empty());
  EXPECT_TRUE(of_kind(events, "i2c_read").empty());
  EXPECT_TRUE(of_kind(events, "pin_set").empty());
  EXPECT_TRUE(logged(events, "Failed to initialize instance 5 I2C 1\n"));
  EXPECT_EQ(return_of(events, "entry")["status"], status_success);
}

TEST(PlatformOptions, I2cOpenFailsWithStatus3) {
  const auto events = trace_of("i2c-open", R"({"platform": {"i2c": "open_fails"}})");
  ASSERT_EQ(of_kind(events, "i2c_open").size(), 1u);
  EXPECT_EQ(of_kind(events, "i2c_open")[0]["status"], 3);
  EXPECT_TRUE(of_kind(events, "i2c_read").empty());
  EXPECT_TRUE(logged(events, "Failed to initialize instance 5 I2C 3\n"));
}

TEST(PlatformOptions, PinAbsentSkipsThePulseButNotTheIdentification) {
  const auto events = trace_of("pin-absent", R"({"platform": {"pin": "absent"}})");
  for (const json& l : of_kind(events, "locate")) {
    if (l["guid"] == guid_korm) {
      EXPECT_EQ(l["status"], status_not_found);
    }
  }
  EXPECT_TRUE(of_kind(events, "pin_config").empty());
  EXPECT_TRUE(of_kind(events, "pin_set").empty());
  EXPECT_TRUE(logged(events, "failed to get korm protocol\n"));
  EXPECT_TRUE(always_answers(events, 0x00, 0x95));
}

TEST(PlatformOptions, PinConfigFailsButThePulseIsDriven) {
  const auto events = trace_of("pin-config", R"({"platform": {"pin": "config_fails"}})");
  ASSERT_EQ(of_kind(events, "pin_config").size(), 1u);
  EXPECT_EQ(of_kind(events, "pin_config")[0]["status"], status_device_error);
  EXPECT_TRUE(logged(events, "failed to set gpio 30\n"));
  EXPECT_EQ(of_kind(events, "pin_set").size(), 2u);
}

TEST(PlatformOptions, InstallRefusedMeansNoBringUpAndNoStart) {
  const auto events =
      trace_of("install", R"({"platform": {"install": "0x8000000000000002"}, "calls": ["entry", "start"]})");
  EXPECT_EQ(of_kind(events, "install").at(0)["status"], status_invalid_parameter);
  EXPECT_EQ(log_of(events),
            (std::vector<std::string>{"Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Invalid Parameter\n"}));
  EXPECT_TRUE(of_kind(events, "i2c_read").empty());
  EXPECT_EQ(return_of(events, "entry")["status"], status_invalid_parameter);
  // Nothing was installed, so there is no Start to call.
  EXPECT_EQ(return_of(events, "start")["status"], status_not_found);
}

TEST(PlatformOptions, InstallOkAndAllPresentAreTheDefaults) {
  const auto explicit_defaults =
      trace_of("defaults",
               R"({"platform": {"i2c": "present", "pin": "present", "install": "ok"}, "seed": 1, "calls": ["entry"]})");
  const SimRun plain = run_sim({"--trace", "-"});
  EXPECT_EQ(explicit_defaults, parse_jsonl(plain.out));
}

// ---------------------------------------------------------------------------
// Chaos.

std::string chaos_scenario(int seed) {
  std::string text =
      R"({"seed": )" + std::to_string(seed) + R"(, "chaos": {"read_flip": 0.5, "fault": 0.3}, "calls": ["entry")";
  for (int i = 0; i < 20; ++i) {
    text += R"(, "start")";
  }
  text += "]}";
  return text;
}

TEST(Chaos, SameSeedSameTrace) {
  const std::string a = run_sim({scenario_file("chaos-a", chaos_scenario(11)), "--trace", "-"}).out;
  const std::string b = run_sim({scenario_file("chaos-b", chaos_scenario(11)), "--trace", "-"}).out;
  ASSERT_FALSE(a.empty());
  EXPECT_EQ(a, b);
}

TEST(Chaos, DifferentSeedDifferentTrace) {
  const std::string a = run_sim({scenario_file("chaos-c", chaos_scenario(11)), "--trace", "-"}).out;
  const std::string b = run_sim({scenario_file("chaos-d", chaos_scenario(12)), "--trace", "-"}).out;
  ASSERT_FALSE(a.empty());
  EXPECT_NE(a, b);
}

TEST(Chaos, FaultsFailWithStatus5AndFlipsAnswerOtherBytes) {
  const auto events = trace_of("chaos-e", chaos_scenario(11));
  size_t failed = 0;
  size_t flipped = 0;
  for (const auto& [value, status] : reads_of(events, 0x00)) {
    if (status != 0) {
      EXPECT_EQ(status, 5);
      ++failed;
    } else if (value != 0x95) {
      ++flipped;
    }
  }
  EXPECT_GT(failed, 0u);
  EXPECT_GT(flipped, 0u);
}

TEST(Chaos, ZeroProbabilitiesChangeNothing) {
  const auto calm = trace_of("chaos-zero", R"({"seed": 99, "chaos": {"read_flip": 0, "fault": 0}})");
  const SimRun plain = run_sim({"--trace", "-"});
  EXPECT_EQ(calm, parse_jsonl(plain.out));
}

// ---------------------------------------------------------------------------
// Output for a person, trace files, --quiet.

TEST(Output, PersonSeesLogRegisterTraceAndSummary) {
  // Selection fails (a foreign identifier, then a failed read), so the run
  // ends the same way whatever the families do after it.
  const SimRun r = run_sim({scenario_file("person", R"({"reads": {"0x00": [17]},
      "faults": [{"reg": "0x00", "from": 2, "status": 7}]})")});
  ASSERT_EQ(r.exit_code, exit_ran) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string& o = r.out;
  EXPECT_NE(o.find(std::string("== Driver log ==\n") + murvane::version_line +
                   "Murvane: unexpected chipid!\n"
                   "Read addr:0x0 error:7\n"
                   "Murvane: read chip id fail\n"
                   "Murvane: unexpected chipid!\n"
                   "Murvane: func init error\n"
                   "Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Success\n"),
            std::string::npos)
      << o;
  EXPECT_NE(o.find("== Register trace (zq310x register names) =="), std::string::npos) << o;
  EXPECT_TRUE(std::regex_search(o, std::regex(R"(i2c_read +0x00 chip ID +0x11\n)"))) << o;
  EXPECT_TRUE(std::regex_search(o, std::regex(R"(i2c_read +0x00 chip ID +---- +FAILED status 7\n)"))) << o;
  EXPECT_NE(o.find("== Summary =="), std::string::npos);
  EXPECT_TRUE(std::regex_search(o, std::regex(R"(chip +zq3101, family zq310x\n)"))) << o;
  // The foreign identifier is kept across the failed read, as the driver keeps it.
  EXPECT_TRUE(std::regex_search(
      o, std::regex(R"(driver +no family selected \(identifier read: 0x0011, not a known model\)\n)")))
      << o;
  EXPECT_TRUE(std::regex_search(o, std::regex(R"(SRAM 0x0800 +not loaded\n)"))) << o;
  EXPECT_TRUE(std::regex_search(o, std::regex(R"(calls +entry -> Success +returned after 24200.0 us\n)"))) << o;
  EXPECT_TRUE(std::regex_search(o, std::regex(R"(transfers +2 reads, 0 writes, 1 failed\n)"))) << o;
  // Two pulses (2000 + 8000 us each) and 2000 us after each rejected identifier.
  EXPECT_TRUE(std::regex_search(o, std::regex(R"(stalls +24000 us in 6 waits\n)"))) << o;
  // The waits and two reads of 100 us (40 bit times at 400 kHz).
  EXPECT_TRUE(std::regex_search(o, std::regex(R"(modeled time +24200.0 us in all\n)"))) << o;
  EXPECT_TRUE(std::regex_search(o, std::regex(R"(violations +none\n)"))) << o;
}

TEST(Output, SummaryNamesEveryCallsResult) {
  const SimRun r = run_sim({scenario_file("person-calls", R"({"platform": {"install": "0x8000000000000002"},
      "calls": ["entry", "start"]})")});
  EXPECT_TRUE(std::regex_search(
      r.out, std::regex(R"(calls +entry -> Invalid Parameter +returned after 0.0 us\n +start -> Not Found )")))
      << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(driver +no family selected \(no identifier read\)\n)"))) << r.out;
}

// --call: slot calls after the scenario's own calls, as if it listed them.
TEST(Output, CallOptionsFollowTheScenariosCalls) {
  const std::string file = scenario_file("calls-then-options", R"({"chip": "zq3402", "calls": ["entry", "start"]})");
  const SimRun listed = run_sim({scenario_file("calls-listed", R"({"chip": "zq3402", "calls": ["entry", "start",
      {"slot": "get_f0"}, {"slot": "set_sequence", "args": [2, 7]}]})"),
                                 "--trace", "-"});
  const SimRun asked = run_sim({file, "--call", "get_f0", "--call", "set_sequence:2,0x07", "--trace", "-"});
  ASSERT_EQ(asked.exit_code, exit_ran) << asked.err;
  ASSERT_EQ(listed.exit_code, exit_ran) << listed.err;
  EXPECT_EQ(asked.out, listed.out);
  EXPECT_NE(asked.out.find(R"("fn":"slot:set_sequence")"), std::string::npos) << asked.out;
  const SimRun report = run_sim({file, "--call", "get_f0"});
  EXPECT_TRUE(
      std::regex_search(report.out, std::regex(R"(\n +start -> Success .*\n +slot:get_f0 -> 0 +returned after )")))
      << report.out;
}

TEST(Output, CallWithNoFamilyIsUnusableInputNamingTheCall) {
  const SimRun r = run_sim({"--chip", "absent", "--call", "stop"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "murvane-sim: --call stop: slot call \"stop\" with no family selected (no earlier call identified a "
            "chip)\n");
}

TEST(Output, UnknownIdentifierIsNamedAndNothingIsCalledLoaded) {
  const SimRun r = run_sim({scenario_file("unknown-id", R"({"chip_id": "0x42"})")});
  ASSERT_EQ(r.exit_code, exit_ran) << r.err;
  EXPECT_TRUE(std::regex_search(
      r.out, std::regex(R"(driver +no family selected \(identifier read: 0x0042, not a known model\)\n)")))
      << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(SRAM 0x0800 +not loaded\n)"))) << r.out;
  EXPECT_EQ(r.out.find("bytes differ"), std::string::npos) << r.out;
}

TEST(Output, UnknownSixteenBitIdentifierIsReadFromItsTwoRegisters) {
  const SimRun r = run_sim({scenario_file("unknown-id16", R"({"chip": "zq3501", "chip_id": "0x9299"})")});
  ASSERT_EQ(r.exit_code, exit_ran) << r.err;
  EXPECT_TRUE(std::regex_search(
      r.out, std::regex(R"(driver +no family selected \(identifier read: 0x9299, not a known model\)\n)")))
      << r.out;
}

TEST(Output, AbsentChipIsSaidSo) {
  const SimRun r = run_sim({"--chip", "absent"});
  EXPECT_EQ(r.exit_code, exit_ran);
  EXPECT_NE(r.out.find("absent (nothing answers on the bus)"), std::string::npos) << r.out;
}

TEST(Output, QuietPrintsNothing) {
  const SimRun r = run_sim({"--quiet"});
  EXPECT_EQ(r.exit_code, exit_ran);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST(Output, TraceFileHoldsWhatStandardOutputWouldCarry) {
  const std::string file = (work_dir() / "trace.jsonl").string();
  const SimRun to_file = run_sim({"--chip", "zq3402", "--trace", file, "--quiet"});
  const SimRun to_stdout = run_sim({"--chip", "zq3402", "--trace", "-"});
  EXPECT_EQ(to_file.exit_code, exit_ran);
  EXPECT_EQ(to_file.out, "");
  EXPECT_EQ(slurp(file), to_stdout.out);
  EXPECT_FALSE(to_stdout.out.empty());
}

TEST(Output, TextTraceHasOneLinePerEvent) {
  const SimRun jsonl = run_sim({"--chip", "zq3601", "--trace", "-"});
  const SimRun text = run_sim({"--chip", "zq3601", "--trace", "-", "--trace-format", "text"});
  ASSERT_EQ(text.exit_code, exit_ran) << text.err;
  const auto events = parse_jsonl(jsonl.out);
  const auto lines = lines_of(text.out);
  ASSERT_EQ(lines.size(), events.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_NE(lines[i].find(events[i]["ev"].get<std::string>()), std::string::npos) << lines[i];
  }
  // Identification of a 16-bit identifier, by register name, in hex.
  EXPECT_TRUE(std::regex_search(text.out, std::regex(R"(i2c_read +0x57 chip ID high +0x93\n)"))) << text.out;
}

TEST(Output, UnwritableTraceFileIsNotAnInputError) {
  const SimRun r = run_sim({"--trace", (work_dir() / "no-such-dir" / "t.jsonl").string()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("--trace"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Healthy boots of every family: what the summary promises.

class HealthyBoot : public ::testing::TestWithParam<std::string> {};

TEST_P(HealthyBoot, LoadsTheImageAndPlays) {
  const std::string model = GetParam();
  const SimRun r = run_sim({"--chip", model});
  ASSERT_EQ(r.exit_code, exit_ran) << r.err;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(SRAM 0x0800 +holds the image exactly \(146 bytes\)\n)"))) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(violations +none\n)"))) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(calls +entry -> Success +GO after \d+\.\d us, returned after)")))
      << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(i2c_write +0x42 RAM data +146 writes, all ok:)"))) << r.out;
  EXPECT_NE(r.out.find("Murvane: zq uefi driver end\nMurvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - Success\n"),
            std::string::npos)
      << r.out;
}

INSTANTIATE_TEST_SUITE_P(OnePerFamily, HealthyBoot, ::testing::ValuesIn(golden_models),
                         [](const auto& p) { return p.param; });

// The image loaded again ("load"), then Start, as the Shell's `load` twice
// and a consumer make it: the second image starts from its load values on
// the same chip and clock, so it logs exactly what the first did (no
// calibration failure), and the chip ends up playing the image.
class Reload : public ::testing::TestWithParam<std::string> {};

std::vector<std::string> log_during(const std::vector<json>& events, const std::string& fn) {
  std::vector<std::string> out;
  bool inside = false;
  for (const json& e : events) {
    if ((e["ev"] == "call" || e["ev"] == "return") && e["fn"] == fn) {
      inside = e["ev"] == "call";
    } else if (inside && e["ev"] == "log") {
      out.push_back(e["text"].get<std::string>());
    }
  }
  return out;
}

TEST_P(Reload, SecondImageBehavesAsTheFirst) {
  const std::string model = GetParam();
  const std::string scenario = R"({"chip": ")" + model + R"(", "calls": ["entry", "load", "start"]})";
  const auto events = trace_of("reload-" + model, scenario);
  const auto calls = of_kind(events, "call");
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[1]["fn"], "load");
  EXPECT_EQ(return_of(events, "load")["status"], status_success);
  const auto entry_log = log_during(events, "entry");
  ASSERT_FALSE(entry_log.empty());
  EXPECT_EQ(log_during(events, "load"), entry_log);
  for (const std::string& line : log_during(events, "load")) {
    EXPECT_EQ(line.find("calibration"), std::string::npos) << line;
  }
  // The clock carries on: the load begins where the entry ended.
  const json& entry_return = return_of(events, "entry");
  EXPECT_EQ(calls[1]["t_us"], entry_return["t_us"]);
  EXPECT_GT(calls[1]["t_us"].get<double>(), 10000.0);
  const SimRun r = run_sim({scenario_file("reload-report-" + model, scenario)});
  ASSERT_EQ(r.exit_code, exit_ran) << r.err;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(load -> Success +GO after)"))) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(SRAM 0x0800 +holds the image exactly \(146 bytes\)\n)"))) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(violations +none\n)"))) << r.out;
}

// A load puts the device state back to its load values, as a fresh image
// has it, whatever the run before it (or the scenario) set.
TEST(ReloadState, DeviceStateGoesBackToItsLoadValues) {
  // Family C prints the byte it writes to trim_lra for kind 1: f0_cali_data.
  const auto events = trace_of("reload-device", R"({"chip": "zq3301", "device": {"f0_cali_data": 17},
      "calls": ["entry", {"slot": "write_trim_lra", "args": [1]}, "load", {"slot": "write_trim_lra", "args": [1]}]})");
  std::vector<std::string> trims;
  for (const std::string& line : log_of(events)) {
    if (line.rfind("Murvane: write f0_cali_data to trim_lra = ", 0) == 0) {
      trims.push_back(line);
    }
  }
  EXPECT_EQ(trims, (std::vector<std::string>{"Murvane: write f0_cali_data to trim_lra = 0x11\n",
                                             "Murvane: write f0_cali_data to trim_lra = 0x00\n"}));
}

INSTANTIATE_TEST_SUITE_P(OnePerFamily, Reload, ::testing::ValuesIn(golden_models),
                         [](const auto& p) { return p.param; });

// A poll that runs long is one line in the text trace, with its count.
TEST(Output, TextTraceFoldsAPollOfIdenticalReads) {
  const std::string scenario = R"({"chip": "zq3201", "stuck": {"0x3F": 1}, "calls": ["entry", {"slot": "get_f0"}]})";
  const SimRun jsonl = run_sim({scenario_file("fold", scenario), "--trace", "-"});
  const SimRun text = run_sim({scenario_file("fold", scenario), "--trace", "-", "--trace-format", "text"});
  ASSERT_EQ(text.exit_code, exit_ran) << text.err;
  // The longest run of (read 0x3F -> 0x01, the same wait) in the jsonl trace.
  const auto events = parse_jsonl(jsonl.out);
  size_t longest = 0;
  uint64_t wait = 0;
  for (size_t i = 0; i + 1 < events.size();) {
    size_t n = 0;
    while (i + 2 * n + 1 < events.size() && events[i + 2 * n]["ev"] == "i2c_read" && events[i + 2 * n]["reg"] == 0x3F &&
           events[i + 2 * n]["value"] == 1 && events[i + 2 * n + 1]["ev"] == "stall" &&
           events[i + 2 * n + 1]["us"] == events[i + 1]["us"]) {
      ++n;
    }
    if (n > longest) {
      longest = n;
      wait = events[i + 1]["us"].get<uint64_t>();
    }
    i += n > 0 ? 2 * n : 1;
  }
  ASSERT_GE(longest, 100u);
  const std::string line = "0x3F chip state           0x01  read " + std::to_string(longest) +
                           " times, each followed by a wait of " + std::to_string(wait) + " us\n";
  EXPECT_NE(text.out.find(line), std::string::npos) << text.out;
  EXPECT_LT(lines_of(text.out).size(), events.size() - 2 * longest + 2);
}

TEST(HealthyBootSettings, DeviceStateReachesTheTrimWrite) {
  // Family C prints the byte it writes to trim_lra for kind 2.
  const auto events = trace_of("device", R"({"chip": "zq3301", "device": {"f0_cali_data": 17, "osc_cali_data": "0xC5"},
      "calls": ["entry", {"slot": "write_trim_lra", "args": [2]}, {"slot": "write_trim_lra", "args": [1]}]})");
  EXPECT_TRUE(logged(events, "Murvane: write osc_cali_data to trim_lra = 0xC5\n"));
  EXPECT_TRUE(logged(events, "Murvane: write f0_cali_data to trim_lra = 0x11\n"));
}

TEST(HealthyBootSettings, OffsetCodeOutOfReachFailsTheCalibration) {
  // No gain code accepts code 1023; bring-up then marks register 0x00 and goes on.
  const auto events = trace_of("offset", R"({"chip": "zq3401", "offset_code": 1023})");
  EXPECT_TRUE(logged(events, "offset calibration out of range\n"));
  bool marked = false;
  for (const json& w : of_kind(events, "i2c_write")) {
    marked = marked || (w["reg"] == 0x00 && w["value"] == 0xAA);
  }
  EXPECT_TRUE(marked);
  EXPECT_TRUE(logged(events, "Murvane: zq uefi driver end\n"));
}

TEST(HealthyBootSettings, ActuatorFrequencyReachesTheModel) {
  auto scenario = [](int f0) {
    return R"({"chip": "zq3201", "lra_f0": )" + std::to_string(f0) + R"(, "calls": ["entry", {"slot": "get_f0"}]})";
  };
  const std::string a = scenario(1500);
  const std::string b = scenario(2300);
  EXPECT_NE(trace_of("f0-a", a), trace_of("f0-b", b));
}

// ---------------------------------------------------------------------------
// Unusable input: exit 2, one line naming the file, the field and the problem.

struct BadInput {
  const char* name;
  const char* scenario;  // nullptr: command line only
  std::vector<std::string> args;
  const char* field;
  const char* problem;
};

std::ostream& operator<<(std::ostream& os, const BadInput& b) { return os << b.name; }

class BadInputs : public ::testing::TestWithParam<BadInput> {};

TEST_P(BadInputs, ExitWith2AndOneLineNamingFileFieldAndProblem) {
  const BadInput& b = GetParam();
  std::vector<std::string> args;
  std::string source = "murvane-sim";
  if (b.scenario != nullptr) {
    source = scenario_file(std::string("bad-") + b.name, b.scenario);
    args.push_back(source);
  } else if (!b.args.empty() && b.args.front().rfind("--", 0) != 0) {
    source = b.args.front();  // a scenario file named on the command line
  }
  args.insert(args.end(), b.args.begin(), b.args.end());
  if (std::find(b.args.begin(), b.args.end(), "--chip") != b.args.end()) {
    source = "murvane-sim";
  }
  const SimRun r = run_sim(args);
  EXPECT_EQ(r.exit_code, exit_bad_input) << r.err;
  EXPECT_EQ(r.out, "");
  ASSERT_FALSE(r.err.empty());
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(r.err.back(), '\n');
  EXPECT_EQ(r.err.rfind(source + ": ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(std::string(": ") + b.field + ": "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(b.problem), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Scenario, BadInputs,
    ::testing::Values(
        BadInput{"malformed",
                 "{\"chip\": \"zq3101\",\n  \"calls\": [\"entry\" \"start\"]}",
                 {},
                 "line 2, column 27",
                 "malformed JSON: syntax error"},
        BadInput{"truncated", "{\"chip\": ", {}, "line 1, column 10", "malformed JSON"},
        BadInput{"not_an_object", "[\"entry\"]", {}, "(top level)", "must be a JSON object"},
        BadInput{"unknown_field", R"({"chp": "zq3101"})", {}, "chp", "unknown field (nearest known name: \"chip\")"},
        BadInput{"unknown_nested_field",
                 R"({"platform": {"i2c_mode": "absent"}})",
                 {},
                 "platform.i2c_mode",
                 "nearest known name: \"i2c\""},
        BadInput{"unknown_fault_field",
                 R"({"faults": [{"reg": "0x00", "stauts": 3}]})",
                 {},
                 "faults[0].stauts",
                 "nearest known name: \"status\""},
        BadInput{"duplicate_field", R"({"chip": "zq3101", "chip": "zq3201"})", {}, "chip", "written twice"},
        BadInput{"unknown_chip", R"({"chip": "zq3109"})", {}, "chip", "unknown chip \"zq3109\""},
        BadInput{"register_out_of_range",
                 R"({"registers": {"0x100": 1}})",
                 {},
                 "registers.0x100",
                 "register 0x100 is outside 0..255"},
        BadInput{"register_not_hex", R"({"registers": {"16": 1}})", {}, "registers.16", "\"0x\""},
        BadInput{"register_twice",
                 R"({"registers": {"0x10": 1, "0x010": 2}})",
                 {},
                 "registers.0x010",
                 "register given twice (also as \"0x10\")"},
        BadInput{"value_out_of_range",
                 R"({"registers": {"0x10": 256}})",
                 {},
                 "registers.0x10",
                 "value 256 is outside 0..255"},
        BadInput{
            "negative_value", R"({"registers": {"0x10": -1}})", {}, "registers.0x10", "value -1 is outside 0..255"},
        BadInput{"read_value_out_of_range",
                 R"({"reads": {"0x3F": [0, 300]}})",
                 {},
                 "reads.0x3F[1]",
                 "value 300 is outside 0..255"},
        BadInput{
            "stuck_value_out_of_range", R"({"stuck": {"0x5F": 256}})", {}, "stuck.0x5F", "value 256 is outside 0..255"},
        BadInput{"stuck_on_absent_chip",
                 R"({"chip": "absent", "stuck": {"0x5F": 1}})",
                 {},
                 "stuck",
                 "no chip to apply it to"},
        BadInput{"fault_transfer_count_zero",
                 R"({"faults": [{"transfer": 3, "count": 0}]})",
                 {},
                 "faults[0].count",
                 "outside 1.."},
        BadInput{
            "fault_register_out_of_range", R"({"faults": [{"reg": "0x1FF"}]})", {}, "faults[0].reg", "outside 0..255"},
        BadInput{"fault_status_zero",
                 R"({"faults": [{"transfer": 3, "status": 0}]})",
                 {},
                 "faults[0].status",
                 "outside 1..4294967295"},
        BadInput{
            "fault_without_target", R"({"faults": [{"status": 5}]})", {}, "faults[0]", "needs \"transfer\" or \"reg\""},
        BadInput{
            "device_out_of_range", R"({"device": {"f0_cali_data": 300}})", {}, "device.f0_cali_data", "outside 0..255"},
        BadInput{"chip_id_too_wide_for_family",
                 R"({"chip": "zq3201", "chip_id": 256})",
                 {},
                 "chip_id",
                 "does not fit the one-byte identifier register"},
        BadInput{
            "chip_id_out_of_range", R"({"chip": "zq3301", "chip_id": "0x10000"})", {}, "chip_id", "outside 0..65535"},
        BadInput{"offset_code_high", R"({"offset_code": 1024})", {}, "offset_code", "1024 is outside 0..1023"},
        BadInput{"offset_code_negative", R"({"offset_code": -1})", {}, "offset_code", "-1 is outside 0..1023"},
        BadInput{"lra_f0_zero", R"({"lra_f0": 0})", {}, "lra_f0", "outside 1..65535"},
        BadInput{"lra_f0_as_string", R"({"lra_f0": "1700"})", {}, "lra_f0", "must be an integer"},
        BadInput{"probability_high", R"({"chaos": {"fault": 1.01}})", {}, "chaos.fault", "outside 0..1"},
        BadInput{"probability_negative", R"({"chaos": {"read_flip": -0.5}})", {}, "chaos.read_flip", "outside 0..1"},
        BadInput{"platform_value", R"({"platform": {"pin": "broken"}})", {}, "platform.pin", "must be one of"},
        BadInput{"install_value", R"({"platform": {"install": "fail"}})", {}, "platform.install", "\"0x\""},
        BadInput{"unknown_slot",
                 R"({"calls": ["entry", {"slot": "get_f1"}]})",
                 {},
                 "calls[1].slot",
                 "no slot named \"get_f1\" (nearest known name: \"get_f0\")"},
        BadInput{"slot_as_string", R"({"calls": ["entry", "get_f0"]})", {}, "calls[1]", "{\"slot\": \"get_f0\"}"},
        BadInput{"unknown_call", R"({"calls": ["entyr"]})", {}, "calls[0]", "nearest known name: \"entry\""},
        BadInput{"slot_before_any_family",
                 R"({"calls": [{"slot": "get_f0"}]})",
                 {},
                 "calls[0]",
                 "slot call \"get_f0\" with no family selected"},
        BadInput{"slot_after_failed_selection",
                 R"({"chip": "absent", "calls": ["entry", {"slot": "stop"}]})",
                 {},
                 "calls[1]",
                 "slot call \"stop\" with no family selected"},
        BadInput{"too_few_args",
                 R"({"calls": ["entry", {"slot": "set_sequence", "args": [0]}]})",
                 {},
                 "calls[1].args",
                 "takes 2 arguments, got 1"},
        BadInput{
            "missing_args", R"({"calls": ["entry", {"slot": "set_gain"}]})", {}, "calls[1]", "takes 1 argument, got 0"},
        BadInput{"too_many_args",
                 R"({"calls": ["entry", {"slot": "stop", "args": [1]}]})",
                 {},
                 "calls[1].args",
                 "takes 0 arguments, got 1"},
        BadInput{"argument_not_integer",
                 R"({"calls": ["entry", {"slot": "set_go", "args": [true]}]})",
                 {},
                 "calls[1].args[0]",
                 "must be an integer"},
        BadInput{"chip_settings_without_chip",
                 R"({"chip": "absent", "registers": {"0x00": 1}})",
                 {},
                 "registers",
                 "no chip to apply it to"},
        BadInput{"unknown_chip_option",
                 nullptr,
                 {"--chip", "zq31o1"},
                 "--chip",
                 "unknown chip \"zq31o1\" (nearest known name: \"zq3101\""},
        BadInput{"chip_option_over_scenario",
                 R"({"chip": "zq3101"})",
                 {"--chip", "zq9999"},
                 "--chip",
                 "unknown chip \"zq9999\""},
        BadInput{"missing_file", nullptr, {"/nonexistent/scenario.json"}, "(file)", "cannot be read"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(CommandLine, BadOptionsExitWith2OnOneLine) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--trace", "-", "--trace-format", "xml"}, {"--trace-format", "text"}, {"--bogus"}, {"a.json", "b.json"}}) {
    const SimRun r = run_sim(args);
    EXPECT_EQ(r.exit_code, exit_bad_input) << args.front();
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.rfind("murvane-sim: ", 0), 0u) << r.err;
  }
}

TEST(CommandLine, HelpExitsWith0) {
  const SimRun r = run_sim({"--help"});
  EXPECT_EQ(r.exit_code, exit_ran);
  EXPECT_NE(r.out.find("--trace-format"), std::string::npos);
  EXPECT_NE(r.out.find("--version"), std::string::npos);
}

// Both commands name the driver version they belong to, as the driver logs it.
TEST(CommandLine, VersionIsTheOneTheDriverLogs) {
  const auto events = trace_of("version", R"({"calls": ["entry"]})");
  const std::string first = log_of(events).at(0);
  const std::string prefix = "Murvane: zq uefi driver version is ";
  ASSERT_EQ(first.rfind(prefix, 0), 0u) << first;
  const std::string version = first.substr(prefix.size(), first.size() - prefix.size() - 1);  // "v1.5.0"
  const SimRun r = run_sim({"--version"});
  EXPECT_EQ(r.exit_code, exit_ran);
  EXPECT_EQ(r.out, "murvane-sim " + version + "\n");
  EXPECT_EQ(r.err, "");
  const SimRun d = run_command(MURVANE_DEPEX_COMMAND, {"--version"});
  EXPECT_EQ(d.exit_code, 0);
  EXPECT_EQ(d.out, "murvane-depex " + version + "\n");
}

TEST(CommandLine, ShippedExampleScenariosRun) {
  const fs::path dir = fs::path(MURVANE_SOURCE_DIR) / "tools" / "murvane-sim" / "examples";
  size_t examples = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() != ".json") {
      continue;
    }
    ++examples;
    const SimRun r = run_sim({entry.path().string(), "--trace", "-"});
    EXPECT_EQ(r.exit_code, exit_ran) << entry.path() << ": " << r.err;
    EXPECT_EQ(r.err, "") << entry.path();
    for (const json& e : parse_jsonl(r.out)) {
      EXPECT_EQ(contract_violation(e), "") << entry.path() << ": " << e.dump();
    }
  }
  EXPECT_GT(examples, 0u);
}

TEST(CommandLine, FailedDriverCallsStillExit0) {
  // The scenario ran to its end: the driver's failures are results, not errors.
  const SimRun r =
      run_sim({scenario_file("driver-fails", R"({"chip": "absent", "platform": {"install": "0x8000000000000007"},
      "calls": ["entry", "start"]})")});
  EXPECT_EQ(r.exit_code, exit_ran) << r.err;
}

}  // namespace
