#include "tools/common/bus.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <stdexcept>

namespace murvane_tools {

namespace {

constexpr size_t sig_scl = 0;
constexpr size_t sig_sda = 1;
constexpr size_t sig_rst = 2;

// The drawing's grid: a VCD at 100 ns resolution keeps a 30 ms boot small
// for sigrok (300 000 samples) and holds every I2C phase up to 1000 kHz.
constexpr uint64_t grid_ns = 100;
constexpr uint64_t tail_ns = 10000;  // idle bus after the last event: sigrok misses a stop at the very end
constexpr uint32_t min_khz = 10;
constexpr uint32_t max_khz = 1000;

// Nearest grid point.
uint64_t nearest_grid(uint64_t ns) { return (ns + grid_ns / 2) / grid_ns * grid_ns; }
// The same for a bus edge, never at 0, where sigrok would miss a start.
uint64_t on_grid(uint64_t ns) { return std::max(grid_ns, nearest_grid(ns)); }

// One transfer drawn in the bit-time slots of host/bus_timing.h, so that it
// holds the bus exactly as long as the virtual clock gives it. Within a slot
// of one bit time T (fast-mode proportions, which at 400 kHz are SCL low
// 1.3 us and high 1.2 us): a data bit's slot begins with SCL falling, SDA
// takes the bit at 0.2 T, SCL rises at 0.52 T; a start is SDA falling with
// SCL high, held for T; a repeated start lets SDA go high at 0.2 T, SCL rise
// at 0.52 T and SDA fall at 0.76 T; a stop has SDA low at 0.2 T, SCL rising
// at 0.52 T and SDA rising at 0.76 T. The bus-free slot is idle. Edges are
// computed in picoseconds from the transfer's start and put on the grid one
// by one, so a clock whose period is not a whole grid step keeps its length.
class SlotClock {
 public:
  SlotClock(uint64_t start_ns, uint32_t khz) : start_ns_(start_ns), period_ps_(1000000000 / khz) {}
  // Time of the point `percent` into slot `slot`, on the grid.
  uint64_t at(uint64_t slot, uint64_t percent) const {
    const uint64_t ps = slot * period_ps_ + period_ps_ * percent / 100;
    return on_grid(start_ns_ + (ps + 500) / 1000);
  }

 private:
  uint64_t start_ns_;
  uint64_t period_ps_;
};

constexpr uint64_t data_at = 20;
constexpr uint64_t rise_at = 52;
constexpr uint64_t settle_at = 76;

class Drawer {
 public:
  explicit Drawer(Waveform* w) : w_(w), level_(w->names.size(), true) {}
  void set(uint64_t t, size_t sig, bool level) {
    if (level_[sig] != level) {
      level_[sig] = level;
      w_->changes.push_back({t, sig, level});
    }
  }

 private:
  Waveform* w_;
  std::vector<bool> level_;
};

// Draws one transfer from its start on the virtual clock; returns the time
// of its stop.
uint64_t draw_transfer(Drawer& d, const SlotClock& c, const Transfer& tr) {
  d.set(c.at(0, 0), sig_sda, false);  // start: SDA falls while SCL is high
  uint64_t slot = 1;
  d.set(c.at(slot, 0), sig_scl, false);
  auto bit = [&](bool v) {
    d.set(c.at(slot, data_at), sig_sda, v);
    d.set(c.at(slot, rise_at), sig_scl, true);
    ++slot;
    d.set(c.at(slot, 0), sig_scl, false);
  };
  auto byte = [&](uint8_t b, bool ack) {
    for (int i = 7; i >= 0; --i) {
      bit(((b >> i) & 1U) != 0);
    }
    bit(!ack);  // ACK: the receiver holds SDA low
  };
  bool first = true;
  for (const Segment& s : tr.segments) {
    if (!first) {  // repeated start
      d.set(c.at(slot, data_at), sig_sda, true);
      d.set(c.at(slot, rise_at), sig_scl, true);
      d.set(c.at(slot, settle_at), sig_sda, false);
      ++slot;
      d.set(c.at(slot, 0), sig_scl, false);
    }
    first = false;
    byte(static_cast<uint8_t>((s.address << 1) | (s.read ? 1 : 0)), s.address_ack);
    for (const auto& [b, ack] : s.bytes) {
      byte(b, ack);
    }
  }
  d.set(c.at(slot, data_at), sig_sda, false);  // stop: SDA rises while SCL is high
  d.set(c.at(slot, rise_at), sig_scl, true);
  const uint64_t stop = c.at(slot, settle_at);
  d.set(stop, sig_sda, true);
  return stop;
}

std::string hex2(unsigned v) {
  char buf[8];
  static_cast<void>(std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFFU));
  return buf;
}

std::string hex_plain(unsigned v) {
  char buf[8];
  static_cast<void>(std::snprintf(buf, sizeof buf, "%02X", v & 0xFFU));
  return buf;
}

}  // namespace

BusConfig bus_config(const host::Event& e) {
  const host::Event& config = e["config"];
  if (!config.is_array() || config.size() < 2) {
    throw std::runtime_error("a transfer carries no slave configuration to take the bus clock and address from");
  }
  BusConfig c;
  const uint64_t khz = config[0].get<uint64_t>();
  if (khz < min_khz || khz > max_khz) {
    throw std::runtime_error("the slave configuration's bus clock (word 0) is " + std::to_string(khz) +
                             " kHz; the drawing handles " + std::to_string(min_khz) + " to " + std::to_string(max_khz) +
                             " kHz");
  }
  c.khz = static_cast<uint32_t>(khz);
  c.address = static_cast<uint8_t>(config[1].get<uint64_t>() & 0x7FU);
  return c;
}

std::vector<BusItem> expected_items(const std::vector<host::Event>& events) {
  std::vector<BusItem> items;
  std::map<uint64_t, bool> pin_level;  // by pin word; a pin idles high until driven
  uint64_t wait = 0;
  for (const host::Event& e : events) {
    const std::string ev = e["ev"].get<std::string>();
    if (ev == "stall") {
      wait += e["us"].get<uint64_t>() * 1000;
    } else if (ev == "pin_set") {
      const bool level = e["level"].get<uint64_t>() != 0;
      auto [it, fresh] = pin_level.try_emplace(e["word"].get<uint64_t>(), true);
      static_cast<void>(fresh);
      if (it->second != level) {
        it->second = level;
        BusItem item;
        item.kind = level ? BusItem::Kind::reset_high : BusItem::Kind::reset_low;
        item.sim_ns = host::event_start_ns(e);
        item.wait_ns = wait;
        items.push_back(item);
        wait = 0;
      }
    } else if (ev == "i2c_read" || ev == "i2c_write") {
      const BusConfig c = bus_config(e);
      const bool write = ev == "i2c_write";
      BusItem item;
      item.reg = static_cast<uint8_t>(e["reg"].get<uint64_t>());
      item.failed = e["status"].get<uint64_t>() != 0;
      item.sim_ns = host::event_start_ns(e);
      item.khz = c.khz;
      item.wait_ns = wait;
      wait = 0;
      Segment first{c.address, false, !item.failed, {}};
      // The driver moves one byte to one 8-bit register per transfer.
      if (!item.failed) {
        first.bytes.emplace_back(item.reg, true);
        const auto value = static_cast<uint8_t>(e["value"].get<uint64_t>());
        if (write) {
          first.bytes.emplace_back(value, true);
          item.transfer.segments.push_back(first);
        } else {
          item.transfer.segments.push_back(first);
          // The master does not acknowledge the last byte it reads.
          item.transfer.segments.push_back(Segment{c.address, true, true, {{value, false}}});
        }
      } else {
        item.transfer.segments.push_back(first);  // nobody answers the address
      }
      items.push_back(item);
    }
  }
  return items;
}

Waveform draw_bus(const std::vector<host::Event>& events, std::vector<BusItem>* items_out) {
  std::vector<BusItem> items = expected_items(events);
  Waveform w;
  w.names = {"SCL", "SDA", "RST"};
  w.initial = {true, true, true};
  Drawer d(&w);
  uint64_t end = 0;
  // Every item where the virtual clock puts it: a transfer fills the slot
  // its bus clock gives it, so the next one never has to wait for the bus.
  for (BusItem& item : items) {
    if (item.kind != BusItem::Kind::transfer) {
      item.start_ns = item.end_ns = nearest_grid(item.sim_ns);
      d.set(item.start_ns, sig_rst, item.kind == BusItem::Kind::reset_high);
      end = std::max(end, item.end_ns);
      continue;
    }
    const SlotClock clock(item.sim_ns, item.khz);
    item.start_ns = item.transfer.start_ns = clock.at(0, 0);
    item.end_ns = item.transfer.end_ns = draw_transfer(d, clock, item.transfer);
    item.transfer.timed = true;
    end = std::max(end, item.end_ns);
  }
  for (const host::Event& e : events) {
    end = std::max(end, host::event_end_ns(e));
  }
  w.end_ns = end + tail_ns;
  std::stable_sort(w.changes.begin(), w.changes.end(),
                   [](const Waveform::Change& a, const Waveform::Change& b) { return a.t_ns < b.t_ns; });
  if (items_out != nullptr) {
    *items_out = std::move(items);
  }
  return w;
}

namespace {

// Builds transfers from start, byte, acknowledge and stop, whether they come
// from levels or from a decoder's annotations.
class TransferBuilder {
 public:
  explicit TransferBuilder(std::vector<BusItem>* items) : items_(items) {}
  bool open() const { return open_; }
  void start(uint64_t t, bool timed) {
    if (!open_) {
      cur_ = Transfer{};
      cur_.timed = timed;
      cur_.start_ns = t;
      open_ = true;
    }
    cur_.segments.emplace_back();
    have_address_ = false;
  }
  void address(uint8_t addr7, bool read) {
    if (!open_) {
      start(0, false);
    }
    if (have_address_) {
      cur_.segments.emplace_back();  // an address without a repeated start: keep it visible
    }
    cur_.segments.back().address = addr7;
    cur_.segments.back().read = read;
    have_address_ = true;
    last_is_address_ = true;
  }
  void data(uint8_t b) {
    if (!open_) {
      start(0, false);
    }
    cur_.segments.back().bytes.emplace_back(b, false);
    last_is_address_ = false;
  }
  // An 8-bit byte on the wire: the address when the segment has none yet.
  void wire_byte(uint8_t b) {
    if (!have_address_) {
      address(static_cast<uint8_t>(b >> 1), (b & 1U) != 0);
    } else {
      data(b);
    }
  }
  void ack(bool ok) {
    if (!open_ || cur_.segments.empty()) {
      return;
    }
    Segment& s = cur_.segments.back();
    if (last_is_address_) {
      s.address_ack = ok;
    } else if (!s.bytes.empty()) {
      s.bytes.back().second = ok;
    }
  }
  void stop(uint64_t t, bool complete) {
    if (!open_) {
      return;
    }
    cur_.end_ns = t;
    cur_.complete = complete;
    BusItem item;
    item.transfer = cur_;
    item.start_ns = cur_.start_ns;
    item.end_ns = t;
    items_->push_back(item);
    open_ = false;
  }

 private:
  std::vector<BusItem>* items_;
  Transfer cur_;
  bool open_ = false;
  bool have_address_ = false;
  bool last_is_address_ = false;
};

// The levels of SCL, SDA and the reset pin.
struct Lines {
  bool scl;
  bool sda;
  bool rst;
};

// The levels after every change at the time of change i; moves i past them.
Lines next_levels(const Waveform& w, size_t scl, size_t sda, size_t rst, Lines now, size_t* i) {
  const uint64_t t = w.changes[*i].t_ns;
  for (; *i < w.changes.size() && w.changes[*i].t_ns == t; ++*i) {
    const Waveform::Change& ch = w.changes[*i];
    if (ch.signal == scl) {
      now.scl = ch.level;
    } else if (ch.signal == sda) {
      now.sda = ch.level;
    } else if (ch.signal == rst) {
      now.rst = ch.level;
    }
  }
  return now;
}

}  // namespace

std::vector<BusItem> decode_bus(const Waveform& w, size_t scl, size_t sda, size_t rst) {
  std::vector<BusItem> items;
  TransferBuilder b(&items);
  Lines was{w.initial[scl], w.initial[sda], rst != std::string::npos ? static_cast<bool>(w.initial[rst]) : true};
  if (!was.rst) {
    BusItem fall;
    fall.kind = BusItem::Kind::reset_low;
    fall.start_ns = fall.end_ns = w.start_ns;
    fall.at_capture_start = true;
    items.push_back(fall);
  }
  unsigned bits = 0;
  unsigned nbits = 0;
  size_t i = 0;
  while (i < w.changes.size()) {
    const uint64_t t = w.changes[i].t_ns;
    const Lines is = next_levels(w, scl, sda, rst, was, &i);
    if (is.rst != was.rst) {
      BusItem item;
      item.kind = is.rst ? BusItem::Kind::reset_high : BusItem::Kind::reset_low;
      item.start_ns = item.end_ns = t;
      items.push_back(item);
    }
    if (was.scl && is.scl && is.sda != was.sda) {
      if (!is.sda) {  // SDA falls while SCL is high: start, or repeated start
        b.start(t, true);
      } else {  // SDA rises while SCL is high: stop
        // The clock rises once before a stop: that is no byte begun.
        b.stop(t, nbits <= 1);
      }
      bits = 0;
      nbits = 0;
    } else if (!was.scl && is.scl && b.open()) {  // SCL rises: SDA holds a bit
      bits = (bits << 1) | (is.sda ? 1U : 0U);
      if (++nbits == 9) {
        b.wire_byte(static_cast<uint8_t>(bits >> 1));
        b.ack((bits & 1U) == 0);  // the receiver holds SDA low to acknowledge
        bits = 0;
        nbits = 0;
      }
    }
    was = is;
  }
  b.stop(w.end_ns, false);
  return items;
}

std::vector<BusItem> parse_sigrok_i2c(const std::string& text) {
  std::vector<BusItem> items;
  TransferBuilder b(&items);
  std::istringstream in(text);
  std::string line;
  size_t recognised = 0;
  auto byte_after = [](const std::string& ann, size_t prefix_len) {
    return static_cast<uint8_t>(std::stoul(ann.substr(prefix_len), nullptr, 16));
  };
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    const size_t colon = line.find(": ");
    if (colon == std::string::npos) {
      continue;
    }
    const std::string ann = line.substr(colon + 2);
    try {
      if (ann == "Start" || ann == "Start repeat") {
        b.start(0, false);
      } else if (ann == "Stop") {
        b.stop(0, true);
      } else if (ann == "ACK" || ann == "NACK") {
        b.ack(ann == "ACK");
      } else if (ann.rfind("Address write: ", 0) == 0) {
        b.address(byte_after(ann, 15), false);
      } else if (ann.rfind("Address read: ", 0) == 0) {
        b.address(byte_after(ann, 14), true);
      } else if (ann.rfind("Data write: ", 0) == 0) {
        b.data(byte_after(ann, 12));
      } else if (ann.rfind("Data read: ", 0) == 0) {
        b.data(byte_after(ann, 11));
      } else {
        continue;  // bit and read/write-bit annotations, other decoders
      }
    } catch (const std::logic_error&) {  // stoul: not a hex byte
      continue;
    }
    ++recognised;
  }
  b.stop(0, false);
  if (recognised == 0) {
    throw std::runtime_error("holds no sigrok I2C annotations (\"i2c-1: Address write: 5A\")");
  }
  return items;
}

// Built by appending: GCC 12 at -O3 warns (-Wrestrict, a known false
// positive) about chains of std::string operator+ here.
std::string describe(const Transfer& t) {
  const std::vector<Segment>& s = t.segments;
  std::string out;
  if (t.complete && s.size() == 1 && !s[0].read && s[0].address_ack && s[0].bytes.size() == 2 && s[0].bytes[0].second &&
      s[0].bytes[1].second) {
    out.append("write ").append(hex2(s[0].bytes[0].first)).append(" <- ").append(hex2(s[0].bytes[1].first));
    return out;
  }
  if (t.complete && s.size() == 2 && !s[0].read && s[0].address_ack && s[0].bytes.size() == 1 && s[0].bytes[0].second &&
      s[1].read && s[1].address_ack && s[1].bytes.size() == 1 && !s[1].bytes[0].second &&
      s[0].address == s[1].address) {
    out.append("read ").append(hex2(s[0].bytes[0].first)).append(" -> ").append(hex2(s[1].bytes[0].first));
    return out;
  }
  if (t.complete && s.size() == 1 && !s[0].address_ack && s[0].bytes.empty()) {
    out.append("address ").append(hex2(s[0].address)).append(s[0].read ? "+R" : "+W").append(" not acknowledged");
    return out;
  }
  out.append("S");
  bool first = true;
  for (const Segment& seg : s) {
    out.append(first ? " " : " Sr ");
    first = false;
    out.append(hex_plain(seg.address)).append(seg.read ? "+R " : "+W ").append(seg.address_ack ? "ACK" : "NACK");
    for (const auto& [v, ack] : seg.bytes) {
      out.append(" ").append(hex_plain(v)).append(ack ? " ACK" : " NACK");
    }
  }
  out.append(t.complete ? " P" : " (no stop)");
  return out;
}

bool transfer_register(const Transfer& t, uint8_t* reg) {
  if (t.segments.empty() || t.segments[0].read || t.segments[0].bytes.empty()) {
    return false;
  }
  *reg = t.segments[0].bytes[0].first;
  return true;
}

}  // namespace murvane_tools
