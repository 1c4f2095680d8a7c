#include "tools/murvane-sim/scenario.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "core/family.h"
#include "host/harness.h"
#include "sim/models/chip_model.h"
#include "sim/models/model_table.h"
#include "tools/common/command_line.h"

namespace murvane_sim {

using json = nlohmann::ordered_json;

InputError::InputError(const std::string& source, const std::string& field, const std::string& problem)
    : std::runtime_error(source + ": " + field + ": " + problem) {}

bool Scenario::has(const std::string& field) const {
  return std::find(given.begin(), given.end(), field) != given.end();
}

Scenario default_scenario(const std::string& source) {
  Scenario s;
  s.source = source;
  s.calls.front().field = "calls[0]";
  return s;
}

namespace {

constexpr const char* top_fields[] = {"chip",   "chip_id",     "registers", "reads", "stuck", "faults", "platform",
                                      "device", "offset_code", "lra_f0",    "calls", "seed",  "chaos"};
constexpr const char* fault_fields[] = {"transfer", "reg", "op", "from", "count", "status"};
constexpr const char* platform_fields[] = {"i2c", "pin", "install"};
constexpr const char* device_fields[] = {"f0_cali_data", "osc_cali_data"};
constexpr const char* chaos_fields[] = {"read_flip", "fault"};
constexpr const char* call_fields[] = {"slot", "args"};

// The nearest of a table's names (tools/common: one wording for both commands).
template <class Names>
std::string nearest(const std::string& word, const Names& names) {
  return murvane_tools::nearest(word, std::vector<std::string>(std::begin(names), std::end(names)));
}

template <class Names>
std::string one_of(const Names& names) {
  std::string out;
  for (const auto& n : names) {
    out += (out.empty() ? "\"" : ", \"") + std::string(n) + "\"";
  }
  return out;
}

std::string in_quotes(const std::string& s) { return json(s).dump(); }

// How a value was written, for messages.
std::string shown(const json& v) {
  if (v.is_string()) {
    return in_quotes(v.get<std::string>());
  }
  if (v.is_object()) {
    return "an object";
  }
  if (v.is_array()) {
    return "an array";
  }
  return v.dump();
}

class Reader {
 public:
  explicit Reader(std::string source) : source_(std::move(source)) {}

  [[noreturn]] void fail(const std::string& field, const std::string& problem) const {
    throw InputError(source_, field, problem);
  }

  template <class Names>
  void check_fields(const json& obj, const std::string& where, const Names& names) const {
    for (const auto& [key, value] : obj.items()) {
      if (std::find(std::begin(names), std::end(names), key) == std::end(names)) {
        fail(join(where, key), "unknown field (nearest known name: " + in_quotes(nearest(key, names)) + ")");
      }
    }
  }

  static std::string join(const std::string& where, const std::string& key) {
    return where.empty() ? key : where + "." + key;
  }

  const json& object(const json& v, const std::string& field) const {
    if (!v.is_object()) {
      fail(field, "must be a JSON object, got " + shown(v));
    }
    return v;
  }

  const json& array(const json& v, const std::string& field) const {
    if (!v.is_array()) {
      fail(field, "must be a JSON array, got " + shown(v));
    }
    return v;
  }

  std::string string(const json& v, const std::string& field) const {
    if (!v.is_string()) {
      fail(field, "must be a string, got " + shown(v));
    }
    return v.get<std::string>();
  }

  // A whole number in [lo, hi]; what names the quantity in messages.
  int64_t integer(const json& v, const std::string& field, int64_t lo, int64_t hi, const std::string& what) const {
    if (!v.is_number_integer()) {
      fail(field, "must be an integer, got " + shown(v));
    }
    if (v.is_number_unsigned()) {
      const uint64_t u = v.get<uint64_t>();
      if (u > static_cast<uint64_t>(hi) || (lo > 0 && u < static_cast<uint64_t>(lo))) {
        out_of_range(field, what, v.dump(), lo, hi);
      }
      return static_cast<int64_t>(u);
    }
    const int64_t i = v.get<int64_t>();
    if (i < lo || i > hi) {
      out_of_range(field, what, v.dump(), lo, hi);
    }
    return i;
  }

  uint64_t unsigned64(const json& v, const std::string& field, const std::string& what) const {
    if (!v.is_number_integer()) {
      fail(field, "must be an integer, got " + shown(v));
    }
    if (!v.is_number_unsigned()) {
      fail(field, what + " " + v.dump() + " is outside 0.." + std::to_string(UINT64_MAX));
    }
    return v.get<uint64_t>();
  }

  // An integer, or a "0x…" string, in [lo, hi].
  int64_t integer_or_hex(const json& v, const std::string& field, int64_t lo, int64_t hi,
                         const std::string& what) const {
    if (v.is_string()) {
      const uint64_t u = hex(v.get<std::string>(), field);
      if (u > static_cast<uint64_t>(hi) || (lo > 0 && u < static_cast<uint64_t>(lo))) {
        out_of_range(field, what, v.get<std::string>(), lo, hi);
      }
      return static_cast<int64_t>(u);
    }
    if (!v.is_number_integer()) {
      fail(field, "must be an integer or a \"0x...\" string, got " + shown(v));
    }
    return integer(v, field, lo, hi, what);
  }

  uint64_t hex(const std::string& s, const std::string& field) const {
    const bool prefixed = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    const size_t digits = prefixed ? s.size() - 2 : 0;
    if (!prefixed || digits > 16 || s.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos) {
      fail(field, "must be written \"0x\" and 1 to 16 hex digits, got " + in_quotes(s));
    }
    return std::stoull(s.substr(2), nullptr, 16);
  }

  uint8_t register_key(const std::string& key, const std::string& field) const {
    const uint64_t r = hex(key, field);
    if (r > 0xFF) {
      out_of_range(field, "register", key, 0, 0xFF);
    }
    return static_cast<uint8_t>(r);
  }

  double probability(const json& v, const std::string& field) const {
    if (!v.is_number()) {
      fail(field, "must be a number, got " + shown(v));
    }
    const double p = v.get<double>();
    if (!(p >= 0.0 && p <= 1.0)) {
      fail(field, "probability " + v.dump() + " is outside 0..1");
    }
    return p;
  }

  [[noreturn]] void out_of_range(const std::string& field, const std::string& what, const std::string& written,
                                 int64_t lo, int64_t hi) const {
    fail(field, what + " " + written + " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
  }

 private:
  std::string source_;
};

constexpr int64_t byte_max = 0xFF;
constexpr int64_t status_max = UINT32_MAX;
constexpr int64_t lra_f0_max = 0xFFFF;
constexpr int64_t offset_code_max = 1023;
constexpr int64_t chip_id_max = 0xFFFF;

// "0x10" and "0x010" are different keys but one register: refuse the second
// rather than let one of them win unseen.
void check_register_once(const Reader& in, std::vector<std::pair<uint8_t, std::string>>& seen, uint8_t reg,
                         const std::string& key, const std::string& field) {
  for (const auto& [r, k] : seen) {
    if (r == reg) {
      in.fail(field, "register given twice (also as " + in_quotes(k) + ")");
    }
  }
  seen.emplace_back(reg, key);
}

void read_registers(const Reader& in, const json& v, Scenario& s) {
  std::vector<std::pair<uint8_t, std::string>> seen;
  for (const auto& [key, value] : in.object(v, "registers").items()) {
    const std::string field = "registers." + key;
    const uint8_t reg = in.register_key(key, field);
    check_register_once(in, seen, reg, key, field);
    s.registers.emplace_back(reg, static_cast<uint8_t>(in.integer_or_hex(value, field, 0, byte_max, "value")));
  }
}

void read_stuck(const Reader& in, const json& v, Scenario& s) {
  std::vector<std::pair<uint8_t, std::string>> seen;
  for (const auto& [key, value] : in.object(v, "stuck").items()) {
    const std::string field = "stuck." + key;
    const uint8_t reg = in.register_key(key, field);
    check_register_once(in, seen, reg, key, field);
    s.stuck.emplace_back(reg, static_cast<uint8_t>(in.integer_or_hex(value, field, 0, byte_max, "value")));
  }
}

void read_reads(const Reader& in, const json& v, Scenario& s) {
  size_t total = 0;
  std::vector<std::pair<uint8_t, std::string>> seen;
  for (const auto& [key, value] : in.object(v, "reads").items()) {
    const std::string field = "reads." + key;
    const uint8_t reg = in.register_key(key, field);
    check_register_once(in, seen, reg, key, field);
    std::vector<uint8_t> answers;
    size_t i = 0;
    for (const json& a : in.array(value, field)) {
      const std::string at = field + "[" + std::to_string(i++) + "]";
      answers.push_back(static_cast<uint8_t>(in.integer_or_hex(a, at, 0, byte_max, "value")));
      if (++total > sim::chip_model::max_scripted) {
        in.fail(at, "more than " + std::to_string(sim::chip_model::max_scripted) +
                        " scripted answers in all; the chip model queues no more");
      }
    }
    s.reads.emplace_back(reg, std::move(answers));
  }
}

sim::Fault read_fault(const Reader& in, const json& v, const std::string& where) {
  in.check_fields(in.object(v, where), where, fault_fields);
  sim::Fault f;
  const bool by_transfer = v.contains("transfer");
  const bool by_reg = v.contains("reg");
  if (by_transfer == by_reg) {
    in.fail(where, by_transfer ? "takes \"transfer\" or \"reg\", not both" : "needs \"transfer\" or \"reg\"");
  }
  if (v.contains("status")) {
    f.status = static_cast<uint32_t>(in.integer(v["status"], where + ".status", 1, status_max, "bus status"));
  }
  if (by_transfer) {
    for (const char* reg_only : {"op", "from"}) {
      if (v.contains(reg_only)) {
        in.fail(where + "." + reg_only, "applies only to a fault by \"reg\"");
      }
    }
    f.transfer = static_cast<uint64_t>(in.integer(v["transfer"], where + ".transfer", 1, INT64_MAX, "transfer"));
    f.count = v.contains("count")
                  ? static_cast<uint64_t>(in.integer(v["count"], where + ".count", 1, INT64_MAX, "count"))
                  : 1;
    return f;
  }
  f.reg = static_cast<uint8_t>(in.integer_or_hex(v["reg"], where + ".reg", 0, byte_max, "register"));
  if (v.contains("op")) {
    const std::string op = in.string(v["op"], where + ".op");
    if (op == "read") {
      f.op = sim::Op::read;
    } else if (op == "write") {
      f.op = sim::Op::write;
    } else if (op == "any") {
      f.op = sim::Op::any;
    } else {
      in.fail(where + ".op", "must be one of \"read\", \"write\", \"any\", got " + in_quotes(op));
    }
  }
  if (v.contains("from")) {
    f.from = static_cast<uint64_t>(in.integer(v["from"], where + ".from", 1, INT64_MAX, "from"));
  }
  if (v.contains("count")) {
    f.count = static_cast<uint64_t>(in.integer(v["count"], where + ".count", 1, INT64_MAX, "count"));
  }
  return f;
}

void read_platform(const Reader& in, const json& v, Scenario& s) {
  in.check_fields(in.object(v, "platform"), "platform", platform_fields);
  if (v.contains("i2c")) {
    const std::string m = in.string(v["i2c"], "platform.i2c");
    if (m == "present") {
      s.platform.i2c = sim::I2cMode::present;
    } else if (m == "absent") {
      s.platform.i2c = sim::I2cMode::absent;
    } else if (m == "open_fails") {
      s.platform.i2c = sim::I2cMode::open_fails;
    } else {
      in.fail("platform.i2c", "must be one of \"present\", \"absent\", \"open_fails\", got " + in_quotes(m));
    }
  }
  if (v.contains("pin")) {
    const std::string m = in.string(v["pin"], "platform.pin");
    if (m == "present") {
      s.platform.pin = sim::PinMode::present;
    } else if (m == "absent") {
      s.platform.pin = sim::PinMode::absent;
    } else if (m == "config_fails") {
      s.platform.pin = sim::PinMode::config_fails;
    } else {
      in.fail("platform.pin", "must be one of \"present\", \"absent\", \"config_fails\", got " + in_quotes(m));
    }
  }
  if (v.contains("install")) {
    const std::string m = in.string(v["install"], "platform.install");
    s.platform.install_status = m == "ok" ? EFI_SUCCESS : efi_status_narrow(in.hex(m, "platform.install"));
  }
}

void read_device(const Reader& in, const json& v, Scenario& s) {
  in.check_fields(in.object(v, "device"), "device", device_fields);
  if (v.contains("f0_cali_data")) {
    s.f0_cali_data =
        static_cast<uint8_t>(in.integer_or_hex(v["f0_cali_data"], "device.f0_cali_data", 0, byte_max, "value"));
  }
  if (v.contains("osc_cali_data")) {
    s.osc_cali_data =
        static_cast<uint8_t>(in.integer_or_hex(v["osc_cali_data"], "device.osc_cali_data", 0, byte_max, "value"));
  }
}

void read_chaos(const Reader& in, const json& v, Scenario& s) {
  in.check_fields(in.object(v, "chaos"), "chaos", chaos_fields);
  if (v.contains("read_flip")) {
    s.platform.chaos.read_flip = in.probability(v["read_flip"], "chaos.read_flip");
  }
  if (v.contains("fault")) {
    s.platform.chaos.fault = in.probability(v["fault"], "chaos.fault");
  }
}

std::vector<std::string> slot_names() {
  std::vector<std::string> names;
  for (const char* n : murvane::haptic_ops_names) {
    names.emplace_back(n);
  }
  return names;
}

Call read_call(const Reader& in, const json& v, const std::string& where) {
  Call c;
  c.field = where;
  if (v.is_string()) {
    const std::string name = v.get<std::string>();
    if (name == "entry") {
      c.kind = Call::Kind::entry;
    } else if (name == "start") {
      c.kind = Call::Kind::start;
    } else if (name == "load") {
      c.kind = Call::Kind::load;
    } else if (host::slot_index(name) >= 0) {
      in.fail(where, "unknown call " + in_quotes(name) + "; a slot is called as {\"slot\": " + in_quotes(name) + "}");
    } else {
      const char* kinds[] = {"entry", "start", "load"};
      in.fail(where, "unknown call " + in_quotes(name) + " (nearest known name: " + in_quotes(nearest(name, kinds)) +
                         "; slots are called as {\"slot\": NAME})");
    }
    return c;
  }
  if (!v.is_object()) {
    in.fail(where, "must be \"entry\", \"start\", \"load\" or {\"slot\": NAME, \"args\": [...]}, got " + shown(v));
  }
  in.check_fields(v, where, call_fields);
  if (!v.contains("slot")) {
    in.fail(where, "needs \"slot\": the name of the operation to call");
  }
  c.kind = Call::Kind::slot;
  c.slot = in.string(v["slot"], where + ".slot");
  const int index = host::slot_index(c.slot);
  if (index < 0) {
    in.fail(where + ".slot", "no slot named " + in_quotes(c.slot) +
                                 " (nearest known name: " + in_quotes(nearest(c.slot, slot_names())) + ")");
  }
  if (v.contains("args")) {
    size_t i = 0;
    for (const json& a : in.array(v["args"], where + ".args")) {
      // Slots take bytes or a 32-bit kind; any 32-bit value is a fair test of how they narrow it.
      c.args.push_back(in.integer(a, where + ".args[" + std::to_string(i++) + "]", INT32_MIN, UINT32_MAX, "argument"));
    }
  }
  const int arity = host::slot_arity(index);
  if (static_cast<int>(c.args.size()) != arity) {
    in.fail(v.contains("args") ? where + ".args" : where,
            "slot " + in_quotes(c.slot) + " takes " + std::to_string(arity) + " argument" + (arity == 1 ? "" : "s") +
                ", got " + std::to_string(c.args.size()));
  }
  return c;
}

void read_calls(const Reader& in, const json& v, Scenario& s) {
  s.calls.clear();
  size_t i = 0;
  for (const json& c : in.array(v, "calls")) {
    s.calls.push_back(read_call(in, c, "calls[" + std::to_string(i++) + "]"));
  }
}

// Rejects a key written twice in one object: JSON readers disagree on which
// one counts, so a scenario must not depend on it.
class DuplicateKeyWatch {
 public:
  bool on_event(int /*depth*/, json::parse_event_t event, const json& parsed) {
    switch (event) {
      case json::parse_event_t::object_start:
        frames_.push_back({true, {}, 0, {}});
        break;
      case json::parse_event_t::array_start:
        frames_.push_back({false, {}, 0, {}});
        break;
      case json::parse_event_t::key: {
        Frame& f = frames_.back();
        f.key = parsed.get<std::string>();
        if (std::find(f.keys.begin(), f.keys.end(), f.key) != f.keys.end() && duplicate_.empty()) {
          duplicate_ = path();
        }
        f.keys.push_back(f.key);
        break;
      }
      case json::parse_event_t::object_end:
      case json::parse_event_t::array_end:
        frames_.pop_back();
        next_element();
        break;
      case json::parse_event_t::value:
        next_element();
        break;
    }
    return true;
  }
  const std::string& duplicate() const { return duplicate_; }

 private:
  struct Frame {
    bool object;
    std::string key;
    size_t index;
    std::vector<std::string> keys;
  };
  void next_element() {
    if (!frames_.empty() && !frames_.back().object) {
      ++frames_.back().index;
    }
  }
  std::string path() const {
    std::string p;
    for (const Frame& f : frames_) {
      if (f.object) {
        p += (p.empty() ? "" : ".") + f.key;
      } else {
        p += "[" + std::to_string(f.index) + "]";
      }
    }
    return p;
  }
  std::vector<Frame> frames_;
  std::string duplicate_;
};

json parse_json(const std::string& text, const Reader& in) {
  DuplicateKeyWatch watch;
  json doc;
  try {
    doc = json::parse(text, [&watch](int depth, json::parse_event_t event, json& parsed) {
      return watch.on_event(depth, event, parsed);
    });
  } catch (const json::parse_error& e) {
    // e.what(): "[json.exception.parse_error.101] parse error at line L, column C: what went wrong"
    std::string what = e.what();
    std::string where = "byte " + std::to_string(e.byte);
    const size_t at = what.find(" at line ");
    if (at != std::string::npos) {
      const size_t colon = what.find(": ", at);
      where = what.substr(at + 4, colon == std::string::npos ? std::string::npos : colon - at - 4);
      what = colon == std::string::npos ? std::string() : what.substr(colon + 2);
    }
    std::replace(what.begin(), what.end(), '\n', ' ');
    in.fail(where, "malformed JSON: " + what);
  }
  if (!watch.duplicate().empty()) {
    in.fail(watch.duplicate(), "field written twice in one object");
  }
  return doc;
}

}  // namespace

Scenario parse_scenario(const std::string& text, const std::string& source) {
  const Reader in(source);
  const json doc = parse_json(text, in);
  if (!doc.is_object()) {
    in.fail("(top level)", "a scenario must be a JSON object, got " + shown(doc));
  }
  in.check_fields(doc, "", top_fields);

  Scenario s = default_scenario(source);
  for (const auto& [key, value] : doc.items()) {
    s.given.push_back(key);
  }
  if (doc.contains("chip")) {
    s.chip = in.string(doc["chip"], "chip");
    s.chip_field = "chip";
  }
  if (doc.contains("chip_id")) {
    s.chip_id = static_cast<uint32_t>(in.integer_or_hex(doc["chip_id"], "chip_id", 0, chip_id_max, "chip_id"));
  }
  if (doc.contains("stuck")) {
    read_stuck(in, doc["stuck"], s);
  }
  if (doc.contains("registers")) {
    read_registers(in, doc["registers"], s);
  }
  if (doc.contains("reads")) {
    read_reads(in, doc["reads"], s);
  }
  if (doc.contains("faults")) {
    size_t i = 0;
    for (const json& f : in.array(doc["faults"], "faults")) {
      s.faults.push_back(read_fault(in, f, "faults[" + std::to_string(i++) + "]"));
    }
  }
  if (doc.contains("platform")) {
    read_platform(in, doc["platform"], s);
  }
  if (doc.contains("device")) {
    read_device(in, doc["device"], s);
  }
  if (doc.contains("lra_f0")) {
    s.lra_f0 = static_cast<uint32_t>(in.integer(doc["lra_f0"], "lra_f0", 1, lra_f0_max, "lra_f0"));
  }
  if (doc.contains("offset_code")) {
    s.offset_code =
        static_cast<uint16_t>(in.integer(doc["offset_code"], "offset_code", 0, offset_code_max, "offset code"));
  }
  if (doc.contains("calls")) {
    read_calls(in, doc["calls"], s);
  }
  if (doc.contains("seed")) {
    s.platform.seed = in.unsigned64(doc["seed"], "seed", "seed");
  }
  if (doc.contains("chaos")) {
    read_chaos(in, doc["chaos"], s);
  }
  return s;
}

Scenario load_scenario(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    throw InputError(path, "(file)", "cannot be read");
  }
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) {
    throw InputError(path, "(file)", "cannot be read");
  }
  return parse_scenario(text.str(), path);
}

void settle_chip(Scenario& s, const std::optional<std::string>& chip_option) {
  std::string source = s.source;
  std::string field = "chip";
  if (chip_option.has_value()) {
    s.chip = *chip_option;
    source = "murvane-sim";
    field = "--chip";
  }
  const Reader in(source);
  if (s.chip == "absent") {
    // Settings of a chip that is not there would silently do nothing.
    for (const char* chip_setting : {"chip_id", "registers", "reads", "stuck", "lra_f0", "offset_code"}) {
      if (s.has(chip_setting)) {
        throw InputError(s.source, chip_setting, "no chip to apply it to: chip is \"absent\"");
      }
    }
    return;
  }
  if (const std::optional<std::string> problem = murvane_tools::chip_problem(s.chip)) {
    in.fail(field, *problem);
  }
  const sim::model_info* info = sim::find_model_info(s.chip.c_str());
  const bool short_id_family = sim::one_byte_id(info->family);
  if (s.chip_id.has_value() && short_id_family && *s.chip_id > byte_max) {
    char id[16];
    static_cast<void>(std::snprintf(id, sizeof(id), "0x%X", static_cast<unsigned>(*s.chip_id)));
    throw InputError(s.source, "chip_id",
                     std::string(id) + " does not fit the one-byte identifier register 0x00 of family " +
                         info->family_name + " (chip " + s.chip + "): use 0..255");
  }
}

}  // namespace murvane_sim
