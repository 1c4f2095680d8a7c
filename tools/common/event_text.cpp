#include "tools/common/event_text.h"

#include <cstdarg>
#include <cstdio>
#include <iostream>

#include "core/family.h"
#include "core/identify.h"
#include "core/regs.h"
#include "host/harness.h"
#include "platform/log.h"
#include "platform/protocols.h"
#include "tools/common/reg_names.h"

namespace murvane_tools {

namespace {

// Consecutive writes of one register from which the register trace shows
// them as one block of values (the waveform download, mostly).
constexpr size_t block_min = 4;
constexpr size_t block_row = 16;
// Identical reads of one register, each followed by the same wait, from
// which the traces show them as one line that says how many (a poll that
// runs long, or to its count).
constexpr size_t poll_min = 4;
}  // namespace

// A printf-style helper for the text report; the format attribute has the
// compiler check every call's arguments against its format.
// NOLINTNEXTLINE(cert-dcl50-cpp)
__attribute__((format(printf, 1, 2))) std::string printf_string(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  const int needed = std::vsnprintf(nullptr, 0, fmt, args);
  va_end(args);
  std::string out(needed > 0 ? static_cast<size_t>(needed) : 0, '\0');
  static_cast<void>(std::vsnprintf(out.data(), out.size() + 1, fmt, again));
  va_end(again);
  return out;
}

std::string hex2(uint64_t v) { return printf_string("0x%02llX", static_cast<unsigned long long>(v)); }

// Modeled time, in microseconds to a tenth.
std::string micros(uint64_t ns) {
  return printf_string("%llu.%llu", static_cast<unsigned long long>(ns / 1000),
                       static_cast<unsigned long long>(ns % 1000 / 100));
}

std::string status_text(EFI_STATUS s) {
  const char* name = murvane::status_name(s);
  return name != nullptr ? std::string(name) : host::status_string(s);
}

namespace {

EFI_STATUS parse_status(const host::Event& e, const char* key) {
  return efi_status_narrow(std::stoull(e[key].get<std::string>().substr(2), nullptr, 16));
}

std::string guid_name(const std::string& guid) {
  static const std::pair<EFI_GUID, const char*> known[] = {
      {EFI_ZELT_I2C_PROTOCOL_GUID, "EFI_ZELT_I2C_PROTOCOL"},
      {EFI_KORM_PROTOCOL_GUID, "EFI_KORM_PROTOCOL"},
      {EFI_ZELT_I2C_HAPTIC_PROTOCOL_GUID, "EFI_ZELT_I2C_HAPTIC_PROTOCOL"},
      {EFI_RNG_PROTOCOL_GUID, "EFI_RNG_PROTOCOL"},
      {MURVANE_STACK_GUARD_GUID, "stack guard"},
  };
  for (const auto& [g, name] : known) {
    if (host::guid_string(g) == guid) {
      return name;
    }
  }
  return guid;
}

bool failed(const host::Event& e) { return e["status"].get<uint64_t>() != 0; }

// What is unusual about a transfer's framing: every transfer the driver
// makes should be one byte to an 8-bit register with the fixed time-out.
std::string framing_oddities(const host::Event& e) {
  std::string out;
  if (e["reg_len"] != 1) {
    out += "  reg_len " + e["reg_len"].dump();
  }
  if (e["len"] != 1) {
    out += "  len " + e["len"].dump();
  }
  if (e["timeout"] != murvane::i2c_timeout) {
    out += "  timeout " + e["timeout"].dump();
  }
  host::Event expected = host::Event::array();
  for (const uint32_t w : murvane::slave_config_values) {
    expected.push_back(w);
  }
  if (e["config"] != expected) {
    out += "  config " + e["config"].dump();
  }
  return out;
}

std::string transfer_text(const host::Event& e, const std::string& family) {
  const auto reg = static_cast<uint8_t>(e["reg"].get<uint64_t>());
  std::string s = printf_string("%s %-20s ", hex2(reg).c_str(), register_name(family, reg).c_str());
  s += e["value"].is_null() ? std::string("----") : hex2(e["value"].get<uint64_t>());
  if (failed(e)) {
    s += "  FAILED status " + e["status"].dump();
  }
  return s + framing_oddities(e);
}

std::string call_text(const host::Event& e) {
  std::string s = e["fn"].get<std::string>();
  if (e.contains("args")) {
    s += "(";
    bool first = true;
    for (const auto& a : e["args"]) {
      s += (first ? "" : ", ") + a.dump();
      first = false;
    }
    s += ")";
  }
  return s;
}

std::string event_text(const host::Event& e, const std::string& family) {
  const std::string ev = e["ev"].get<std::string>();
  if (ev == "i2c_read" || ev == "i2c_write") {
    return transfer_text(e, family);
  }
  if (ev == "call") {
    return call_text(e);
  }
  if (ev == "return") {
    std::string s = e["fn"].get<std::string>();
    if (e.contains("status")) {
      s += " -> " + status_text(parse_status(e, "status"));
    } else if (e.contains("value")) {
      s += " -> " + e["value"].dump();
    }
    return s;
  }
  if (ev == "locate" || ev == "install_config_table") {
    return guid_name(e["guid"].get<std::string>()) + " -> " + status_text(parse_status(e, "status"));
  }
  if (ev == "install") {
    return guid_name(e["guid"].get<std::string>()) +
           (e["on_image_handle"].get<bool>() ? " on image handle" : " on another handle") + ", type " +
           e["interface_type"].dump() + ", revision " + e["revision"].get<std::string>() + " -> " +
           status_text(parse_status(e, "status"));
  }
  if (ev == "i2c_open") {
    return "instance " + e["instance"].dump() + " -> " + e["status"].dump();
  }
  if (ev == "pin_config") {
    return printf_string("word 0x%08llX value %llu -> ", e["word"].get<unsigned long long>(),
                         e["value"].get<unsigned long long>()) +
           status_text(parse_status(e, "status"));
  }
  if (ev == "pin_set") {
    return printf_string("word 0x%08llX level %llu", e["word"].get<unsigned long long>(),
                         e["level"].get<unsigned long long>());
  }
  if (ev == "stall") {
    return e["us"].dump() + " us";
  }
  if (ev == "log") {
    std::string t = e["text"].get<std::string>();
    if (!t.empty() && t.back() == '\n') {
      t.pop_back();
    } else {
      t += "  [no line end]";
    }
    return t;
  }
  std::string s;
  for (const auto& [k, v] : e.items()) {
    if (k != "ev") {
      s += k + "=" + v.dump() + " ";
    }
  }
  return s;
}

std::string line(uint64_t now_ns, const std::string& ev, const std::string& text) {
  return printf_string("%12s  %-20s %s", micros(now_ns).c_str(), ev.c_str(), text.c_str());
}

bool same_read(const host::Event& a, const host::Event& b) {
  return a["ev"] == "i2c_read" && b["ev"] == "i2c_read" && a["reg"] == b["reg"] && a["value"] == b["value"] &&
         a["status"] == b["status"] && framing_oddities(b) == framing_oddities(a);
}

// How many (read, wait) pairs from shown[i] on repeat the first one exactly.
size_t poll_run(const std::vector<const host::Event*>& shown, size_t i) {
  const host::Event& read = *shown[i];
  if (read["ev"] != "i2c_read" || i + 1 >= shown.size() || (*shown[i + 1])["ev"] != "stall") {
    return 0;
  }
  const host::Event& wait = *shown[i + 1];
  size_t pairs = 1;
  while (i + 2 * pairs + 1 < shown.size() && same_read(read, *shown[i + 2 * pairs]) &&
         (*shown[i + 2 * pairs + 1])["ev"] == "stall" && (*shown[i + 2 * pairs + 1])["us"] == wait["us"]) {
    ++pairs;
  }
  return pairs;
}

// The events shown, one line each, with a poll's identical reads folded into
// one line and, with blocks, writes to one register into a block of values.
void write_lines(std::ostream& out, const std::vector<const host::Event*>& shown, const std::string& family,
                 bool blocks) {
  for (size_t i = 0; i < shown.size(); ++i) {
    const host::Event& e = *shown[i];
    const std::string ev = e["ev"].get<std::string>();
    const size_t polls = poll_run(shown, i);
    if (polls >= poll_min) {
      const host::Event& last_wait = *shown[i + 2 * polls - 1];
      out << line(host::event_end_ns(last_wait), ev,
                  transfer_text(e, family) + printf_string("  read %zu times, each followed by a wait of %s us", polls,
                                                           last_wait["us"].dump().c_str()))
          << '\n';
      i += 2 * polls - 1;
      continue;
    }
    size_t run = 1;
    if (blocks && ev == "i2c_write" && !failed(e)) {
      while (i + run < shown.size() && (*shown[i + run])["ev"] == "i2c_write" && !failed(*shown[i + run]) &&
             (*shown[i + run])["reg"] == e["reg"] && framing_oddities(*shown[i + run]).empty()) {
        ++run;
      }
    }
    if (run < block_min) {
      out << line(host::event_end_ns(e), ev, event_text(e, family)) << '\n';
      continue;
    }
    const auto reg = static_cast<uint8_t>(e["reg"].get<uint64_t>());
    std::string values;
    for (size_t k = 0; k < run; ++k) {
      values += (k % block_row == 0 ? "\n" + std::string(36, ' ') : " ") +
                printf_string("%02llX", (*shown[i + k])["value"].get<unsigned long long>());
    }
    out << line(host::event_end_ns(*shown[i + run - 1]), ev,
                printf_string("%s %-20s %zu writes, all ok:", hex2(reg).c_str(), register_name(family, reg).c_str(),
                              run))
        << values << '\n';
    i += run - 1;
  }
}

}  // namespace

// Register traffic, calls, waits and pin changes.
void write_register_trace(std::ostream& out, const std::vector<host::Event>& events, const std::string& family) {
  std::vector<const host::Event*> shown;
  for (const host::Event& e : events) {
    const std::string ev = e["ev"].get<std::string>();
    if (ev != "log" && ev != "locate" && ev != "install" && ev != "install_config_table") {
      shown.push_back(&e);
    }
  }
  write_lines(out, shown, family, true);
}

// The identifier the driver's identification last read, put together from
// the trace as the driver does: register 0x00, or 0x57 and 0x58 after a
// 16-bit marker in 0x00. A failed read delivers nothing, and the driver then
// keeps the identifier it had, so it is skipped here too.
std::optional<uint32_t> identifier_read(const std::vector<host::Event>& events) {
  std::optional<uint32_t> id;
  bool long_id = false;
  int64_t high = -1;  // the byte of 0x57 once read
  for (const host::Event& e : events) {
    if (e["ev"] != "i2c_read" || e["value"].is_null()) {
      continue;
    }
    const auto reg = e["reg"].get<uint32_t>();
    const auto value = e["value"].get<uint32_t>();
    if (reg == murvane::reg_chip_id) {
      long_id = murvane::check_short_id(static_cast<uint8_t>(value)) != EFI_SUCCESS;
      high = -1;
      if (!long_id) {
        id = value;
      }
    } else if (long_id && reg == murvane::reg_chip_id_hi) {
      high = value;
    } else if (long_id && high >= 0 && reg == murvane::reg_chip_id_lo) {
      id = static_cast<uint32_t>(high) << 8 | value;
      long_id = false;
      high = -1;
    }
  }
  return id;
}

void write_text_trace(std::ostream& out, const std::vector<host::Event>& events, const std::string& family) {
  std::vector<const host::Event*> shown;
  shown.reserve(events.size());
  for (const host::Event& e : events) {
    shown.push_back(&e);
  }
  write_lines(out, shown, family, false);
}

void write_driver_log(std::ostream& out, const std::vector<host::Event>& events) {
  out << "== Driver log ==\n";
  bool line_open = false;
  for (const host::Event& e : events) {
    if (e["ev"] == "log") {
      const std::string t = e["text"].get<std::string>();
      out << t;
      line_open = !t.empty() && t.back() != '\n';
    }
  }
  if (line_open) {
    out << '\n';
  }
}

void write_log_and_trace(std::ostream& out, const std::vector<host::Event>& events, const std::string& family) {
  write_driver_log(out, events);
  out << "\n== Register trace" << (family.empty() ? std::string() : " (" + family + " register names)") << " ==\n"
      << printf_string("%12s  %-20s %s", "time us", "event", "what") << '\n';
  write_register_trace(out, events, family);
}

bool open_trace_file(const std::string& path, const char* command, std::ofstream& file) {
  if (!path.empty() && path != "-") {
    file.open(path, std::ios::binary | std::ios::trunc);
    if (!file) {
      std::cerr << command << ": --trace: cannot write " << path << '\n';
      return false;
    }
  }
  return true;
}

bool write_trace(const TraceRequest& trace, const std::vector<host::Event>& events, const std::string& family,
                 std::ofstream& file, const char* command) {
  std::ostream& out = trace.path == "-" ? std::cout : file;
  if (trace.format == "text") {
    write_text_trace(out, events, family);
  } else {
    host::write_jsonl(out, events);
  }
  out.flush();
  if (!out) {
    std::cerr << command << ": --trace: writing " << trace.path << " failed\n";
    return false;
  }
  return true;
}

}  // namespace murvane_tools
