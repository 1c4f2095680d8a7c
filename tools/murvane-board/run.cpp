#include "tools/murvane-board/run.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "core/driver_state.h"
#include "core/family.h"
#include "core/identify.h"
#include "host/harness.h"
#include "platform/log.h"
#include "tools/common/event_text.h"

namespace murvane_board {

using murvane_tools::identifier_read;
using murvane_tools::status_text;

namespace {

// The core marks a failed offset calibration by writing this to the
// identifier register and carries on.
constexpr uint32_t offset_fail_marker = 0xAA;
constexpr const char* driver_end_line = "Murvane: zq uefi driver end\n";
constexpr const char* detected_prefix = "Murvane: detected ";
// The entry point's own last line, after the bring-up whatever its outcome.
constexpr const char* install_prefix = "Murvane: Install ";

// Why the driver stopped before its end, by the line it stopped on.
struct StopReason {
  const char* line;
  const char* why;
};
constexpr StopReason stop_reasons[] = {
    {"Murvane: qualify check failed\n", "the chip failed the driver's qualification check"},
    {"Murvane: read chipid fail\n", "the driver could not read the chip's identifier after qualifying it"},
};

std::string hex(uint32_t v, int digits) {
  char buf[16];
  static_cast<void>(std::snprintf(buf, sizeof buf, "0x%0*X", digits, v));
  return buf;
}

std::string micros(double us) {
  char buf[32];
  static_cast<void>(std::snprintf(buf, sizeof buf, "%.1f", us));
  return buf;
}

std::string label(const char* name) {
  char buf[32];
  static_cast<void>(std::snprintf(buf, sizeof buf, "%-14s", name));
  return buf;
}

// A fault of the board itself (a reset line it could not drive, transfers
// that failed): the verdict, or nothing when the board did all it was asked.
std::optional<std::string> board_fault(const Board& board) {
  const BoardOptions& o = board.options();
  if (board.pin_error() != 0) {
    return "not complete: the reset line (line " + std::to_string(o.gpio_line) + " of " + o.gpio_chip +
           ") could not be driven (" + errno_text(board.pin_error()) + "), so the chip was not reset";
  }
  const std::vector<Board::Failure>& failures = board.failures();
  if (!failures.empty() && failures.size() == board.transfers()) {
    // Nothing at all answered: the bus controller's word for it varies
    // (ENXIO, EREMOTEIO, ETIMEDOUT), so no guess about held lines.
    return "not complete: nothing answered at " + hex(o.address, 2) + " on " + o.bus + ": all " +
           std::to_string(failures.size()) + " transfers failed (" + errno_name(failures.front().error) +
           "); is the chip powered, wired to this bus and at this address?";
  }
  if (!failures.empty()) {
    const Board::Failure& f = failures.front();
    return "not complete: " + std::to_string(failures.size()) + " of " + std::to_string(board.transfers()) +
           " transfers failed; the first, transfer " + std::to_string(f.transfer) + " (" +
           (f.write ? "write of register " : "read of register ") + hex(f.reg, 2) + "): " + errno_text(f.error);
  }
  return std::nullopt;
}

// How far the driver got, from its log and its traffic.
struct Progress {
  std::string last_log;  // the bring-up's last line (the entry point's own after it left out)
  std::string detected;  // the model it detected ("ZQ3101")
  bool reached_end = false;
  bool calibration_failed = false;
};

Progress read_progress(const std::vector<host::Event>& events) {
  Progress p;
  bool identified = false;
  for (const host::Event& e : events) {
    if (e["ev"] == "log" && e["text"].get<std::string>().rfind(install_prefix, 0) != 0) {
      p.last_log = e["text"].get<std::string>();
      p.reached_end = p.reached_end || p.last_log == driver_end_line;
      if (p.last_log.rfind(detected_prefix, 0) == 0) {
        p.detected = p.last_log.substr(std::string(detected_prefix).size());
        p.detected.resize(std::min(p.detected.size(), p.detected.find('.')));
        identified = true;
      }
    } else if (identified && e["ev"] == "i2c_write" && e["reg"] == murvane::reg_chip_id &&
               e["value"] == offset_fail_marker) {
      p.calibration_failed = true;
    }
  }
  return p;
}

// Why the driver stopped where it did, from the line it stopped on.
std::string stop_reason(const std::string& last_log) {
  for (const StopReason& r : stop_reasons) {
    if (last_log.rfind(r.line, 0) == 0) {
      return r.why;
    }
  }
  std::string line = last_log;
  if (!line.empty() && line.back() == '\n') {
    line.pop_back();
  }
  return "the driver stopped before its end, after \"" + line + "\"";
}

// "transfers  40 reads, 12 writes, 2 failed (2 EIO)": the failures by errno.
void write_transfers(std::ostream& out, const std::vector<host::Event>& evs, const Board& board) {
  uint64_t reads = 0;
  uint64_t writes = 0;
  for (const host::Event& e : evs) {
    reads += e["ev"] == "i2c_read" ? 1 : 0;
    writes += e["ev"] == "i2c_write" ? 1 : 0;
  }
  out << label("transfers") << reads << " reads, " << writes << " writes, " << board.failures().size() << " failed";
  std::map<int, size_t> by_errno;
  for (const Board::Failure& f : board.failures()) {
    ++by_errno[f.error];
  }
  std::string sep = " (";
  for (const auto& [error, n] : by_errno) {
    out << sep << n << ' ' << errno_name(error);
    sep = ", ";
  }
  out << (by_errno.empty() ? "" : ")") << '\n';
}

}  // namespace

BoardRun::BoardRun(System& system, RunOptions options)
    : system_(system), options_(std::move(options)), board_(system, options_.board) {}

const std::vector<host::Event>& BoardRun::events() const {
  static const std::vector<host::Event> none;
  return platform_ != nullptr ? platform_->events() : none;
}

BoardRun::Outcome BoardRun::run() {
  board_.open();
  // The calls go into the question beside the bring-up's writes.
  std::string plan = board_.plan();
  const size_t note = plan.find("  (--dry-run");
  plan.insert(note == std::string::npos ? plan.rfind("Continue?") : note, calls_plan(options_.calls));
  if (!options_.yes && !system_.confirm(plan)) {
    board_.release();
    verdict_ = "not confirmed: nothing was sent to the chip";
    return Outcome::declined;
  }
  board_.drive_reset_line();
  murvane::reset_driver_state();
  platform_ = std::make_unique<host::Platform>(board_, platform_options_);
  board_.start_clock();
  entry_status_ = host::call_entry(*platform_);
  family_ = murvane::current_family != nullptr ? murvane::current_family->name : "";
  if (!family_.empty()) {
    call_results_ = make_calls(*platform_, options_.calls);
    calls_ran_ = true;
  }
  // The line goes back to its default only now: the chip stayed out of
  // reset for the whole run.
  board_.release();
  const Outcome outcome = conclude();
  if (!options_.calls.empty() && !calls_ran_) {
    calls_verdict_ = "--call: not run: the bring-up selected no chip family";
  } else {
    calls_verdict_ = failed_measurement(call_results_);
  }
  return outcome == Outcome::complete && !calls_verdict_.empty() ? Outcome::incomplete : outcome;
}

BoardRun::Outcome BoardRun::conclude() {
  if (const std::optional<std::string> fault = board_fault(board_)) {
    verdict_ = *fault;
    return Outcome::incomplete;
  }
  const std::vector<host::Event>& events = platform_->events();
  const Progress p = read_progress(events);
  if (family_.empty()) {
    const std::optional<uint32_t> id = identifier_read(events);
    verdict_ = id.has_value() ? "not complete: the chip's identifier " + hex(*id, 2) +
                                    " is not one Murvane knows (a different chip, or another device at " +
                                    hex(board_.options().address, 2) + ")"
                              : "not complete: no identifier was read";
    return Outcome::incomplete;
  }
  if (!p.reached_end) {
    verdict_ = "not complete: " + stop_reason(p.last_log) + ", so it left the " + family_ + " chip unprogrammed";
    return Outcome::incomplete;
  }
  if (p.calibration_failed) {
    verdict_ = "not complete: the " + p.detected + "'s offset calibration failed (the driver marked it by writing " +
               hex(offset_fail_marker, 2) + " to register 0x00) and the chip runs uncalibrated";
    return Outcome::incomplete;
  }
  verdict_ = "complete: the chip identified itself as " + p.detected +
             ", the driver reached its end (waveform written, playback started), every transfer acknowledged";
  return Outcome::complete;
}

void BoardRun::write_report(std::ostream& out, const std::string& naming_family, const std::string& board_note) const {
  murvane_tools::write_log_and_trace(out, events(), family_.empty() ? naming_family : family_);
  write_summary(out, board_note);
}

void BoardRun::write_summary(std::ostream& out, const std::string& board_note) const {
  const std::vector<host::Event>& evs = events();
  const BoardOptions& o = board_.options();
  out << "\n== Summary ==\n";
  out << label("board") << o.bus << ", address " << hex(o.address, 2)
      << (board_.mode() == Board::Mode::i2c ? " (plain I2C)" : " (SMBus byte data)") << "; reset line " << o.gpio_line
      << " of " << o.gpio_chip << (o.gpio_active_low ? ", active low" : "") << '\n';
  if (!board_note.empty()) {
    out << label("") << board_note << '\n';
  }
  out << label("driver");
  if (!family_.empty()) {
    out << "selected family " << family_ << '\n';
  } else {
    const std::optional<uint32_t> id = identifier_read(evs);
    out << (id.has_value() ? "no family selected (identifier read: " + hex(*id, 4) + ")"
                           : std::string("no family selected (no identifier read)"))
        << '\n';
  }
  // The entry's own return: the calls after it have theirs.
  double end_us = 0;
  for (const host::Event& e : evs) {
    if (e.contains("t_us")) {
      end_us = e["t_us"].get<double>();
    }
    if (e["ev"] == "return" && e["fn"] == "entry") {
      break;
    }
  }
  out << label("calls") << "entry -> " << status_text(entry_status_) << ", returned after " << micros(end_us)
      << " us\n";
  write_call_results(out, options_.calls, call_results_, calls_ran_);
  write_transfers(out, evs, board_);
  out << label("waits") << board_.stall_asked_us() << " us asked in " << board_.stalls() << " waits, "
      << micros(static_cast<double>(board_.stall_slept_ns()) / 1000.0) << " us slept (longest overrun "
      << micros(static_cast<double>(board_.longest_overrun_ns()) / 1000.0) << " us)\n";
  out << label("bring-up") << verdict_ << '\n';
}

}  // namespace murvane_board
