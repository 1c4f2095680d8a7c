#include "tools/common/capture_check.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "tools/common/bus.h"
#include "tools/common/reg_names.h"
#include "tools/common/vcd.h"

namespace murvane_tools {

namespace {

// A real board's clock and analyzer differ a little from the virtual clock:
// a gap may fall short of the driver's wait by 2 % and 1 us.
constexpr uint64_t tolerance_percent = 2;
constexpr uint64_t tolerance_ns = 1000;

std::string ms(uint64_t ns) {
  char buf[32];
  static_cast<void>(std::snprintf(buf, sizeof buf, "%.6f ms", static_cast<double>(ns) / 1e6));
  return buf;
}

std::string us(uint64_t ns) {
  char buf[32];
  static_cast<void>(std::snprintf(buf, sizeof buf, "%.1f us", static_cast<double>(ns) / 1e3));
  return buf;
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string read_file(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    throw CaptureError(path, "cannot read: it is a directory");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw CaptureError(path, std::string("cannot read: ") + std::strerror(errno));
  }
  std::ostringstream s;
  s << in.rdbuf();
  if (in.bad()) {
    throw CaptureError(path, "cannot read");
  }
  return s.str();
}

// A sigrok session file (a zip archive of sample data) as sigrok-cli
// exports it to VCD.
std::string session_as_vcd(const std::string& path) {
  int fds[2];
  if (pipe(fds) != 0) {
    throw CaptureError(path, std::string("cannot run sigrok-cli: ") + std::strerror(errno));
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> args = {"sigrok-cli", "-i", path, "-O", "vcd"};
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& a : args) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "sigrok-cli", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string out;
  if (spawned == 0) {
    char buf[65536];
    ssize_t n = 0;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) {
      out.append(buf, static_cast<size_t>(n));
    }
  }
  close(fds[0]);
  int status = 0;
  if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      !looks_like_vcd(out)) {
    throw CaptureError(path, spawned != 0 ? "a sigrok session file, and sigrok-cli (scripts/deps.sh) is not there "
                                            "to read it"
                                          : "a sigrok session file that sigrok-cli cannot read");
  }
  return out;
}

size_t find_signal(const Waveform& w, const std::vector<std::string>& names) {
  for (const std::string& n : names) {
    for (size_t i = 0; i < w.names.size(); ++i) {
      if (lower(w.names[i]) == lower(n)) {
        return i;
      }
    }
  }
  return std::string::npos;
}

std::string signal_list(const Waveform& w) {
  std::string s;
  for (const std::string& n : w.names) {
    s += (s.empty() ? "" : ", ") + n;
  }
  return s.empty() ? std::string("none") : s;
}

std::vector<BusItem> capture_items(const std::string& text, const CaptureOptions& o, bool* has_reset) {
  *has_reset = false;
  const bool session = text.compare(0, 4, "PK\x03\x04") == 0;
  if (session || looks_like_vcd(text)) {
    const Waveform w = read_vcd(session ? session_as_vcd(o.path) : text, o.path);
    const size_t scl = find_signal(w, o.scl.empty() ? std::vector<std::string>{"SCL"} : std::vector{o.scl});
    const size_t sda = find_signal(w, o.sda.empty() ? std::vector<std::string>{"SDA"} : std::vector{o.sda});
    const size_t rst = find_signal(
        w, o.rst.empty() ? std::vector<std::string>{"RST", "RESET", "NRST", "RESET_N"} : std::vector{o.rst});
    for (const auto& [sig, name] :
         {std::pair{scl, o.scl.empty() ? "SCL" : o.scl}, std::pair{sda, o.sda.empty() ? "SDA" : o.sda}}) {
      if (sig == std::string::npos) {
        throw CaptureError(o.path, "no signal named " + name + " (the capture has: " + signal_list(w) +
                                       "; name them with --capture-signals)");
      }
    }
    if (!o.rst.empty() && rst == std::string::npos) {
      throw CaptureError(o.path, "no signal named " + o.rst + " (the capture has: " + signal_list(w) + ")");
    }
    *has_reset = rst != std::string::npos;
    return decode_bus(w, scl, sda, rst);
  }
  try {
    return parse_sigrok_i2c(text);
  } catch (const std::runtime_error&) {
    throw CaptureError(o.path, "neither a VCD nor sigrok-cli's decoded I2C text");
  }
}

// Some bus controllers read a register as two transfers, the register
// written and stopped, then read in a transfer of its own, where the driver's
// platform uses a repeated start. The bytes are the same: join them.
std::vector<BusItem> join_split_reads(const std::vector<BusItem>& items) {
  std::vector<BusItem> out;
  for (size_t i = 0; i < items.size(); ++i) {
    const BusItem& a = items[i];
    if (i + 1 < items.size() && a.kind == BusItem::Kind::transfer && items[i + 1].kind == BusItem::Kind::transfer) {
      const Transfer& w = a.transfer;
      const Transfer& r = items[i + 1].transfer;
      if (w.complete && w.segments.size() == 1 && !w.segments[0].read && w.segments[0].address_ack &&
          w.segments[0].bytes.size() == 1 && r.segments.size() == 1 && r.segments[0].read &&
          r.segments[0].address == w.segments[0].address) {
        BusItem joined = a;
        joined.transfer.segments.push_back(r.segments[0]);
        joined.transfer.complete = r.complete;
        joined.transfer.end_ns = joined.end_ns = items[i + 1].end_ns;
        out.push_back(joined);
        ++i;
        continue;
      }
    }
    out.push_back(a);
  }
  return out;
}

std::string item_text(const BusItem& item) {
  switch (item.kind) {
    case BusItem::Kind::reset_low:
      return "reset pin falls";
    case BusItem::Kind::reset_high:
      return "reset pin rises";
    case BusItem::Kind::transfer:
      break;
  }
  return describe(item.transfer);
}

// The two sides of the check, item by item: what the capture saw and what
// the driver sends.
struct Comparison {
  std::vector<BusItem> seen;
  std::vector<BusItem> expected;
  std::string family;
  bool timed = false;  // whether the capture carries times (decoded text does not)
  size_t transfers = 0;
};

// Reads the capture and lines both sides up. Other chips may share the bus:
// keep the driver's address only. Without the reset pin in the capture its
// pulse cannot be checked.
Comparison line_up(const std::vector<host::Event>& events, const std::string& family, const CaptureOptions& options) {
  const std::string text = read_file(options.path);
  bool has_reset = false;
  Comparison c;
  c.seen = capture_items(text, options, &has_reset);
  c.expected = expected_items(events);
  c.family = family;
  uint8_t address = 0;
  for (const BusItem& e : c.expected) {
    if (e.kind == BusItem::Kind::transfer) {
      address = e.transfer.segments.front().address;
      break;
    }
  }
  std::erase_if(c.seen, [&](const BusItem& b) {
    return b.kind == BusItem::Kind::transfer && !b.transfer.segments.empty() &&
           b.transfer.segments.front().address != address;
  });
  c.seen = join_split_reads(c.seen);
  if (!has_reset) {
    std::erase_if(c.expected, [](const BusItem& b) { return b.kind != BusItem::Kind::transfer; });
  }
  c.timed = std::any_of(c.seen.begin(), c.seen.end(), [](const BusItem& b) { return b.transfer.timed; }) ||
            (has_reset && !c.seen.empty());
  c.transfers = static_cast<size_t>(std::count_if(c.expected.begin(), c.expected.end(),
                                                  [](const BusItem& b) { return b.kind == BusItem::Kind::transfer; }));
  return c;
}

// Where item i is, in the driver's terms and the capture's: "transfer 3 of
// 40 (capture time 1.000000 ms, register 0x01 status)".
std::string position(const Comparison& c, size_t i, size_t transfer_no) {
  const bool past_end = i == c.expected.size();
  std::string where;
  if (past_end) {
    where = "after transfer " + std::to_string(c.transfers) + " of " + std::to_string(c.transfers);
  } else if (c.expected[i].kind == BusItem::Kind::transfer) {
    where = "transfer " + std::to_string(transfer_no) + " of " + std::to_string(c.transfers);
  } else {
    where = std::string("the reset pin's ") + (c.expected[i].kind == BusItem::Kind::reset_low ? "fall" : "rise") +
            " before transfer " + std::to_string(transfer_no + 1);
  }
  std::string when;
  if (i < c.seen.size()) {
    when = c.timed ? "capture time " + ms(c.seen[i].start_ns) : "capture time unknown: decoded text";
  } else {
    when = "the capture has ended";
  }
  std::string reg;
  if (!past_end && c.expected[i].kind == BusItem::Kind::transfer) {
    char buf[16];
    static_cast<void>(std::snprintf(buf, sizeof buf, "0x%02X", c.expected[i].reg));
    const std::string name = register_name(c.family, c.expected[i].reg);
    reg = std::string(", register ") + buf + (name.empty() ? std::string() : " " + name);
  }
  return where + " (" + when + reg + ")";
}

// How item i departs from the driver's traffic, or nothing when it does
// not: a different item, or a gap shorter than the driver's wait.
std::optional<std::string> departure(const Comparison& c, size_t i) {
  const std::vector<BusItem>& seen = c.seen;
  if (i == c.expected.size()) {
    return "expected the end of the boot's traffic, seen " + item_text(seen[i]);
  }
  if (i >= seen.size()) {
    return "expected " + item_text(c.expected[i]) + ", seen nothing more";
  }
  const BusItem& e = c.expected[i];
  const BusItem& s = seen[i];
  if (e.kind != s.kind ||
      (e.kind == BusItem::Kind::transfer && (e.transfer.segments != s.transfer.segments || !s.transfer.complete))) {
    return "expected " + item_text(e) + ", seen " + item_text(s);
  }
  if (c.timed && i > 0 && e.wait_ns > 0) {
    const uint64_t gap = s.start_ns >= seen[i - 1].end_ns ? s.start_ns - seen[i - 1].end_ns : 0;
    const uint64_t allowed = e.wait_ns * (100 - tolerance_percent) / 100;
    if (gap + tolerance_ns < allowed) {
      if (e.kind == BusItem::Kind::reset_high) {
        return "the reset pulse lasts " + us(gap) + "; the driver holds reset low for " + us(e.wait_ns) +
               (seen[i - 1].at_capture_start ? " (the capture begins with reset low)" : "");
      }
      return item_text(s) + " came " + us(gap) + " after the previous " +
             (seen[i - 1].kind == BusItem::Kind::transfer ? "transfer" : "reset edge") + "; the driver waits " +
             us(e.wait_ns) + " there";
    }
  }
  return std::nullopt;
}

void write_match(std::ostream& out, const Comparison& c) {
  out << "matches: " << c.transfers << " transfers";
  if (c.timed && !c.seen.empty()) {
    out << ", boot " << ms(c.seen.back().end_ns - c.seen.front().start_ns) << " from the first "
        << (c.seen.front().kind == BusItem::Kind::transfer ? "transfer" : "reset edge") << " to the last stop";
  } else {
    out << " (decoded text carries no times: gaps and boot time not checked)";
  }
  out << '\n';
}

}  // namespace

int check_capture(std::ostream& out, const std::vector<host::Event>& events, const std::string& family,
                  const CaptureOptions& options) {
  const Comparison c = line_up(events, family, options);
  size_t transfer_no = 0;
  for (size_t i = 0; i <= c.expected.size(); ++i) {
    if (i == c.expected.size() && i == c.seen.size()) {
      break;
    }
    if (i < c.expected.size() && c.expected[i].kind == BusItem::Kind::transfer) {
      ++transfer_no;
    }
    if (const std::optional<std::string> what = departure(c, i)) {
      out << "departs at " << position(c, i, transfer_no) << ": " << *what << '\n';
      return 1;
    }
  }
  write_match(out, c);
  return 0;
}

}  // namespace murvane_tools
