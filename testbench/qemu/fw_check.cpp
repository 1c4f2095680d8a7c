#include "testbench/qemu/fw_check.h"

#include <cstdio>
#include <memory>

#include "core/waveform.h"
#include "host/harness.h"
#include "platform/log.h"
#include "sim/model_factory.h"
#include "sim/virtual_platform.h"

namespace fwcheck {

std::string strip_console(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c == '\r') {
      continue;
    }
    if (c != '\x1b') {
      out.push_back(c);
      continue;
    }
    // ESC [ parameters... final byte (0x40..0x7E); ESC ( X and ESC ) X pick
    // a character set; any other ESC X is a two-byte sequence.
    if (i + 1 >= raw.size()) {
      break;
    }
    const char next = raw[i + 1];
    if (next == '[') {
      size_t j = i + 2;
      while (j < raw.size() && !(raw[j] >= 0x40 && raw[j] <= 0x7E)) {
        ++j;
      }
      i = j;
    } else if (next == '(' || next == ')') {
      i += 2;
    } else {
      i += 1;
    }
  }
  return out;
}

std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t nl = text.find('\n', start);
    if (nl == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    lines.emplace_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

bool starts_with(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

std::string status_text(EFI_STATUS s) {
  const char* name = murvane::status_name(s);
  if (name != nullptr) {
    return name;
  }
  char buf[24];
  std::snprintf(buf, sizeof(buf), "0x%016llX", static_cast<unsigned long long>(s));
  return buf;
}

namespace {

std::string narrow(const std::u16string& wide) {
  std::string s;
  s.reserve(wide.size());
  for (char16_t c : wide) {
    s.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  }
  return strip_console(s);
}

void judge_into(run_record& r, const sim::chip_model* chip) {
  const fwsim::verdict v =
      fwsim::judge(chip, murvane::waveform_image, murvane::waveform_image_len, murvane::waveform_sram_base);
  std::string text(fwsim::verdict_text_max, '\0');
  const size_t n = fwsim::format_verdict(v, chip, murvane::waveform_image_len, murvane::waveform_sram_base, text.data(),
                                         text.size());
  text.resize(n);
  r.verdict = split_lines(text);
  r.healthy = fwsim::healthy(v);
}

}  // namespace

void run_calls(sim::VirtualPlatform& p, unsigned loads, run_record& r) {
  const EFI_STATUS es = host::call_entry(p);
  const size_t after_entry = p.console().size();
  r.entry_log = narrow(p.console());
  r.entry_status = status_text(es);
  size_t before_start = after_entry;
  for (unsigned k = 1; k < loads; ++k) {
    const EFI_STATUS ls = host::call_load(p);
    r.reload_logs.push_back(narrow(p.console().substr(before_start)));
    r.reload_statuses.push_back(status_text(ls));
    before_start = p.console().size();
  }
  const EFI_STATUS ss = host::call_start(p);
  r.start_log = narrow(p.console().substr(before_start));
  r.start_status = status_text(ss);
  char traffic[128];
  const sim::Counters& k = p.counters();
  fwsim::format_traffic(k.reads, k.writes, k.stalls, k.stall_us, traffic, sizeof(traffic));
  r.traffic = traffic;
  if (!r.traffic.empty() && r.traffic.back() == '\n') {
    r.traffic.pop_back();
  }
}

run_record run_on_host(const fwsim::scenario& s, bool consumer, unsigned loads) {
  sim::reset_driver_state();
  std::unique_ptr<sim::ModelHandle> handle;
  if (s.model != nullptr) {
    handle = sim::make_model(s.model->name);
    fwsim::apply_scenario(s, handle->model());
  }
  sim::chip_model* chip = handle != nullptr ? &handle->model() : nullptr;
  run_record r;
  {
    sim::VirtualPlatform p(chip);
    run_calls(p, loads, r);
    if (consumer) {
      // The firmware judges the chip before the consumer runs.
      judge_into(r, chip);
      const size_t before = p.console().size();
      const EFI_STATUS cs = host::call_start(p);
      r.consumer_log = narrow(p.console().substr(before));
      r.consumer_status = status_text(cs);
      return r;
    }
  }
  judge_into(r, chip);
  return r;
}

namespace {

// The text between the line "[fwtest] <call>: begin" and the application's
// "\n[fwtest] <call>: status " that follows it; the status is the rest of
// that line. False when either marker is missing.
bool cut_call(std::string_view log, std::string_view call, size_t* from, std::string* text, std::string* status,
              std::string_view prefix = line_prefix) {
  // Appended piece by piece: GCC 12 at -O3 takes "literal" + string for an
  // overlapping copy (-Wrestrict).
  std::string begin(prefix);
  begin.append(call).append(": begin\n");
  std::string end = "\n";
  end.append(prefix).append(call).append(": status ");
  const size_t b = log.find(begin, *from);
  if (b == std::string_view::npos) {
    return false;
  }
  const size_t body = b + begin.size();
  // Search from the begin line's own "\n": with no output in between, the
  // application's line break is that very character.
  const size_t e = log.find(end, body - 1);
  if (e == std::string_view::npos) {
    return false;
  }
  *text = e >= body ? std::string(log.substr(body, e - body)) : std::string();
  const size_t st = e + end.size();
  const size_t eol = log.find('\n', st);
  *status = std::string(log.substr(st, eol == std::string_view::npos ? std::string_view::npos : eol - st));
  *from = eol == std::string_view::npos ? log.size() : eol;
  return true;
}

// The driver's calls, each between its markers: the entry, further loads of
// the driver (from the Shell), the start, and the consumer's start. Returns
// where the calls end.
size_t cut_calls(std::string_view log, firmware_record& fw) {
  size_t at = 0;
  fw.saw_entry = cut_call(log, "entry", &at, &fw.run.entry_log, &fw.run.entry_status);
  for (std::string text, status; fw.saw_entry && cut_call(log, "entry", &at, &text, &status);) {
    fw.run.reload_logs.push_back(text);
    fw.run.reload_statuses.push_back(status);
  }
  if (fw.saw_entry) {
    fw.saw_start = cut_call(log, "start", &at, &fw.run.start_log, &fw.run.start_status);
  }
  if (fw.saw_start) {
    size_t consumer_at = at;
    fw.saw_consumer_start =
        cut_call(log, "start", &consumer_at, &fw.run.consumer_log, &fw.run.consumer_status, consumer_prefix);
  }
  return at;
}

// One of the test application's own lines, its prefix taken off; a verdict
// counts only after the calls.
void take_app_line(firmware_record& fw, const std::string& rest, bool after_calls) {
  if (starts_with(rest, "verdict: ") && after_calls) {
    fw.run.verdict.push_back(rest);
  } else if (starts_with(rest, "traffic: ")) {
    fw.run.traffic = rest;
  } else if (starts_with(rest, "protocol: ")) {
    fw.revision = rest;
  } else if (starts_with(rest, "stack guard source: ")) {
    fw.guard_source = rest;
  } else if (starts_with(rest, "entry: not loaded: ")) {
    fw.refusal = rest.substr(std::string_view("entry: not loaded: ").size());
    fw.problems.push_back(rest);
  } else if (starts_with(rest, "entry: refused image unloaded: ")) {
    fw.refused_unloaded = rest.substr(std::string_view("entry: refused image unloaded: ").size());
  } else if (starts_with(rest, "stack guard: ")) {
    fw.stack_guard = rest;
  } else if (starts_with(rest, "bad requests: ")) {
    fw.bad_requests = rest;
  } else if (starts_with(rest, "bus: ")) {
    fw.bus = rest;
  } else if (starts_with(rest, "consumer: status ")) {
    fw.consumer_exit = rest.substr(std::string_view("consumer: status ").size());
  } else if (rest == "done") {
    fw.done = true;
  } else if (rest.find("failed") != std::string::npos || starts_with(rest, "no simulated platform") ||
             rest.find("not loaded") != std::string::npos) {
    fw.problems.push_back(rest);
  }
}

}  // namespace

firmware_record parse_serial(std::string_view log) {
  firmware_record fw;
  const size_t at = cut_calls(log, fw);
  // The application's own lines, wherever they are (after the calls for the
  // verdict: a driver line could not start with our prefix there).
  const size_t verdict_from = fw.saw_start ? at : log.size();
  size_t pos = 0;
  for (const std::string& line : split_lines(log)) {
    const size_t line_at = pos;
    pos += line.size() + 1;
    if (line.find("Murvane: ") != std::string::npos) {
      ++fw.driver_lines;
    }
    if (starts_with(line, consumer_prefix)) {
      const std::string rest = line.substr(consumer_prefix.size());
      if (starts_with(rest, "protocol: ")) {
        fw.consumer_revision = rest;
      }
      continue;
    }
    if (starts_with(line, line_prefix)) {
      take_app_line(fw, line.substr(line_prefix.size()), line_at >= verdict_from);
    }
  }
  return fw;
}

std::string shell_transcript(std::string_view log) {
  std::string out;
  out.reserve(log.size());
  static constexpr std::string_view head = "Image '";
  static constexpr std::string_view loaded = "Murvane.efi' loaded at ";
  static constexpr std::string_view dash = " - ";
  for (const std::string& line : split_lines(log)) {
    const size_t l = line.find(loaded);
    const size_t d = l == std::string::npos ? l : line.find(dash, l + loaded.size());
    if (starts_with(line, head) && d != std::string::npos) {
      out += std::string(line_prefix) + "entry: status " + line.substr(d + dash.size()) + "\n";
    } else {
      out += line + "\n";
    }
  }
  return out;
}

namespace {

void compare_lines(comparison& c, const std::string& what, const std::vector<std::string>& want,
                   const std::vector<std::string>& got) {
  if (want == got) {
    c.report.push_back(what + ": " + std::to_string(got.size()) + " lines, identical");
    return;
  }
  c.ok = false;
  size_t i = 0;
  while (i < want.size() && i < got.size() && want[i] == got[i]) {
    ++i;
  }
  c.report.push_back(what + ": DIFFERENT from line " + std::to_string(i + 1) + " on");
  for (size_t k = 0; k < want.size(); ++k) {
    c.report.push_back(std::string(k == i ? "  > " : "    ") + "host      " + std::to_string(k + 1) + ": " + want[k]);
  }
  for (size_t k = 0; k < got.size(); ++k) {
    c.report.push_back(std::string(k == i ? "  > " : "    ") + "firmware  " + std::to_string(k + 1) + ": " + got[k]);
  }
}

void compare_value(comparison& c, const std::string& what, const std::string& want, const std::string& got) {
  if (want == got) {
    c.report.push_back(what + ": " + got);
    return;
  }
  c.ok = false;
  c.report.push_back(what + ": DIFFERENT: host \"" + want + "\", firmware \"" + got + "\"");
}

void require(comparison& c, const std::string& what, const std::string& want, const std::string& got) {
  if (want == got) {
    c.report.push_back(got);
    return;
  }
  c.ok = false;
  c.report.push_back(what + ": expected \"" + want + "\", got \"" + (got.empty() ? "(nothing)" : got) + "\"");
}

}  // namespace

comparison compare(const run_record& host, const firmware_record& fw, guard_source guard) {
  comparison c;
  for (const std::string& p : fw.problems) {
    c.ok = false;
    c.report.push_back("test application: " + p);
  }
  if (!fw.saw_entry) {
    c.ok = false;
    c.report.push_back("driver entry: no transcript (the application never loaded the driver)");
    return c;
  }
  compare_lines(c, "driver log during entry", split_lines(host.entry_log), split_lines(fw.run.entry_log));
  compare_value(c, "entry status", host.entry_status, fw.run.entry_status);
  compare_value(c, "loads of the driver", std::to_string(1 + host.reload_logs.size()),
                std::to_string(1 + fw.run.reload_logs.size()));
  for (size_t k = 0; k < host.reload_logs.size() && k < fw.run.reload_logs.size(); ++k) {
    const std::string load = "load " + std::to_string(k + 2);
    compare_lines(c, "driver log during " + load, split_lines(host.reload_logs[k]), split_lines(fw.run.reload_logs[k]));
    compare_value(c, load + " status", host.reload_statuses[k], fw.run.reload_statuses[k]);
  }
  require(c, "published protocol", "protocol: revision 0x00010005 ok", fw.revision);
  require(c, "stack guard", "stack guard: shared", fw.stack_guard);
  if (guard == guard_source::rng) {
    require(c, "stack guard source", "stack guard source: RNG protocol (the value drawn)", fw.guard_source);
  } else if (guard == guard_source::counter) {
    require(c, "stack guard source", "stack guard source: processor counter (no RNG protocol)", fw.guard_source);
  } else if (!fw.guard_source.empty()) {
    c.report.push_back(fw.guard_source);
  }
  if (!fw.saw_start) {
    c.ok = false;
    c.report.push_back("Start: no transcript (the application stopped before calling it)");
    return c;
  }
  compare_lines(c, "driver log during Start", split_lines(host.start_log), split_lines(fw.run.start_log));
  compare_value(c, "Start status", host.start_status, fw.run.start_status);
  compare_lines(c, "chip verdict", host.verdict, fw.run.verdict);
  compare_value(c, "bus traffic and waits", host.traffic, fw.run.traffic);
  require(c, "bus and pin requests", "bad requests: 0", fw.bad_requests);
  if (!fw.done) {
    c.ok = false;
    c.report.push_back("test application: did not reach its end");
  }
  return c;
}

comparison compare_consumer(const run_record& host, const firmware_record& fw) {
  comparison c;
  require(c, "C consumer: published protocol", "protocol: revision 0x00010005 ok", fw.consumer_revision);
  if (c.ok) {
    c.report.back() = "C consumer: " + c.report.back();
  }
  if (!fw.saw_consumer_start) {
    c.ok = false;
    c.report.push_back("C consumer: no transcript of its Start (was Consumer.efi on the disk?)");
    return c;
  }
  compare_lines(c, "driver log during the C consumer's Start", split_lines(host.consumer_log),
                split_lines(fw.run.consumer_log));
  compare_value(c, "C consumer's Start status", host.consumer_status, fw.run.consumer_status);
  compare_value(c, "C consumer's exit status", host.consumer_status, fw.consumer_exit);
  return c;
}

comparison check_refused(const firmware_record& fw) {
  comparison c;
  if (fw.refusal == "Access Denied" || fw.refusal == "Security Violation") {
    c.report.push_back("refused: " + fw.refusal);
  } else {
    c.ok = false;
    c.report.push_back(fw.refusal.empty() ? "NOT refused: the firmware loaded the driver"
                                          : "refused with an unexpected status: " + fw.refusal);
  }
  // Security Violation leaves an image behind, which must go.
  if (fw.refusal == "Security Violation") {
    require(c, "refused image", "Success", fw.refused_unloaded);
  }
  if (fw.saw_entry && !fw.run.entry_status.empty()) {
    c.ok = false;
    c.report.push_back("the driver's entry ran: status " + fw.run.entry_status);
  }
  if (fw.driver_lines != 0) {
    c.ok = false;
    c.report.push_back("the driver printed " + std::to_string(fw.driver_lines) + " lines");
  }
  // A refused image never ran: the test platform counts only calls from the
  // driver image it watches, so the firmware's own waits count nothing either.
  const std::string_view no_traffic = "traffic: 0 reads, 0 writes, 0 stalls, 0 us stalled";
  if (fw.run.traffic == no_traffic) {
    c.report.push_back(std::string(no_traffic));
  } else {
    c.ok = false;
    c.report.push_back("traffic: expected \"" + std::string(no_traffic) + "\", got \"" + fw.run.traffic + "\"");
  }
  const std::string_view quiet_bus =
      "bus: opens 0, failed transfers 0, pin configures 0, pin outputs 0, reset pulses 0";
  if (starts_with(fw.bus, quiet_bus)) {
    c.report.push_back(std::string(quiet_bus));
  } else {
    c.ok = false;
    c.report.push_back("bus and reset pin: expected \"" + std::string(quiet_bus) + "...\", got \"" + fw.bus + "\"");
  }
  if (!fw.done) {
    c.ok = false;
    c.report.push_back("test application: did not reach its end");
  }
  return c;
}

comparison check_stack_guard_halt(std::string_view log) {
  comparison c;
  const std::vector<std::string> lines = split_lines(log);
  const std::string smash = std::string(line_prefix) + "stack smash: overflowing a protected buffer";
  const std::string failed = "Murvane: stack guard check failed at image offset 0x";
  size_t i = 0;
  while (i < lines.size() && lines[i] != smash) {
    ++i;
  }
  if (i == lines.size()) {
    c.ok = false;
    c.report.push_back("the test application never overflowed its buffer");
    return c;
  }
  c.report.push_back(lines[i].substr(line_prefix.size()));
  ++i;
  while (i < lines.size() && !starts_with(lines[i], failed)) {
    ++i;
  }
  const bool offset_ok = i < lines.size() && lines[i].size() == failed.size() + 16 &&
                         lines[i].find_first_not_of("0123456789ABCDEF", failed.size()) == std::string::npos;
  if (!offset_ok) {
    c.ok = false;
    c.report.push_back("no \"" + failed + "<16 hex digits>\" line after the overflow");
    return c;
  }
  c.report.push_back(lines[i]);
  if (i + 1 < lines.size() && lines[i + 1] == "Murvane: system halted") {
    c.report.push_back(lines[i + 1]);
  } else {
    c.ok = false;
    c.report.push_back("no \"Murvane: system halted\" right after it");
  }
  for (const std::string& l : lines) {
    const bool went_on =
        l == std::string(line_prefix) + "stack smash: NOT caught" || l == std::string(line_prefix) + "done";
    if (went_on) {
      c.ok = false;
      c.report.push_back("the application went on after the overflow: " + l);
    }
  }
  return c;
}

}  // namespace fwcheck
