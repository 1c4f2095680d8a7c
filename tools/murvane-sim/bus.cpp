#include "tools/murvane-sim/bus.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <stdexcept>

namespace murvane_sim {

namespace {

constexpr size_t sig_scl = 0;
constexpr size_t sig_sda = 1;
constexpr size_t sig_rst = 2;

// The drawing's grid: a VCD at 100 ns resolution keeps a 30 ms boot small
// for sigrok (300 000 samples) and holds every I2C phase at 400 kHz.
constexpr uint64_t grid_ns = 100;
constexpr uint64_t tail_ns = 10000;  // idle bus after the last event: sigrok misses a stop at the very end
constexpr uint32_t min_khz = 10;
constexpr uint32_t max_khz = 1000;

uint64_t on_grid(uint64_t ns) { return std::max(grid_ns, (ns + grid_ns / 2) / grid_ns * grid_ns); }

// Fast-mode phases scaled to the clock: at 400 kHz SCL is low 1.3 us and
// high 1.2 us, SDA changes 0.5 us into the low phase, start and stop hold
// 0.6 us, and the bus stays free 1.3 us between a stop and the next start.
struct Timing {
  uint64_t period;
  uint64_t low;
  uint64_t hold;
  uint64_t data;
  uint64_t bus_free;
  explicit Timing(uint32_t khz)
      : period(on_grid(1000000 / khz)),
        low(on_grid(period * 13 / 25)),
        hold(on_grid(period * 6 / 25)),
        data(on_grid(period / 5)),
        bus_free(low) {}
};

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

// Draws one transfer from start time t; returns the time of its stop.
uint64_t draw_transfer(Drawer& d, const Timing& tm, uint64_t t, const Transfer& tr) {
  d.set(t, sig_sda, false);  // start: SDA falls while SCL is high
  uint64_t clk = t + tm.hold;
  d.set(clk, sig_scl, false);
  auto bit = [&](bool v) {
    d.set(clk + tm.data, sig_sda, v);
    d.set(clk + tm.low, sig_scl, true);
    d.set(clk + tm.period, sig_scl, false);
    clk += tm.period;
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
      d.set(clk + tm.data, sig_sda, true);
      d.set(clk + tm.low, sig_scl, true);
      d.set(clk + tm.low + tm.hold, sig_sda, false);
      clk += tm.low + 2 * tm.hold;
      d.set(clk, sig_scl, false);
    }
    first = false;
    byte(static_cast<uint8_t>((s.address << 1) | (s.read ? 1 : 0)), s.address_ack);
    for (const auto& [b, ack] : s.bytes) {
      byte(b, ack);
    }
  }
  d.set(clk + tm.data, sig_sda, false);  // stop: SDA rises while SCL is high
  d.set(clk + tm.low, sig_scl, true);
  const uint64_t stop = clk + tm.low + tm.hold;
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

BusConfig bus_config(const sim::Event& e) {
  const sim::Event& config = e["config"];
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

std::vector<BusItem> expected_items(const std::vector<sim::Event>& events) {
  std::vector<BusItem> items;
  std::map<uint64_t, bool> pin_level;  // by pin word; a pin idles high until driven
  uint64_t now = 0;
  uint64_t wait = 0;
  for (const sim::Event& e : events) {
    const std::string ev = e["ev"].get<std::string>();
    if (ev == "stall") {
      const uint64_t ns = e["us"].get<uint64_t>() * 1000;
      now += ns;
      wait += ns;
    } else if (ev == "pin_set") {
      const bool level = e["level"].get<uint64_t>() != 0;
      auto [it, fresh] = pin_level.try_emplace(e["word"].get<uint64_t>(), true);
      static_cast<void>(fresh);
      if (it->second != level) {
        it->second = level;
        BusItem item;
        item.kind = level ? BusItem::Kind::reset_high : BusItem::Kind::reset_low;
        item.sim_ns = now;
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
      item.sim_ns = now;
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
      now += write ? sim::write_transfer_ns : sim::read_transfer_ns;
    }
  }
  return items;
}

Waveform draw_bus(const std::vector<sim::Event>& events, std::vector<BusItem>* items_out) {
  std::vector<BusItem> items = expected_items(events);
  Waveform w;
  w.names = {"SCL", "SDA", "RST"};
  w.initial = {true, true, true};
  Drawer d(&w);
  uint64_t last_stop = 0;  // the bus idles from time 0: sigrok misses a start right at 0
  uint64_t end = 0;
  size_t k = 0;
  for (const sim::Event& e : events) {
    if (e["ev"] != "i2c_read" && e["ev"] != "i2c_write") {
      continue;
    }
    for (; items[k].kind != BusItem::Kind::transfer; ++k) {
      BusItem& pin = items[k];
      pin.start_ns = pin.end_ns = pin.sim_ns;
      d.set(pin.sim_ns, sig_rst, pin.kind == BusItem::Kind::reset_high);
      end = std::max(end, pin.sim_ns);
    }
    BusItem& item = items[k++];
    // Each transfer's own slave configuration sets its clock and address.
    const Timing tm(bus_config(e).khz);
    const uint64_t start = std::max(item.sim_ns, last_stop + tm.bus_free);
    last_stop = draw_transfer(d, tm, start, item.transfer);
    item.start_ns = item.transfer.start_ns = start;
    item.end_ns = item.transfer.end_ns = last_stop;
    item.transfer.timed = true;
    end = std::max(end, last_stop);
  }
  for (; k < items.size(); ++k) {
    BusItem& pin = items[k];
    pin.start_ns = pin.end_ns = pin.sim_ns;
    d.set(pin.sim_ns, sig_rst, pin.kind == BusItem::Kind::reset_high);
    end = std::max(end, pin.sim_ns);
  }
  uint64_t now = 0;
  for (const sim::Event& e : events) {
    const std::string ev = e["ev"].get<std::string>();
    if (ev == "stall") {
      now += e["us"].get<uint64_t>() * 1000;
    } else if (ev == "i2c_read") {
      now += sim::read_transfer_ns;
    } else if (ev == "i2c_write") {
      now += sim::write_transfer_ns;
    }
  }
  w.end_ns = std::max(end, now) + tail_ns;
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

}  // namespace

std::vector<BusItem> decode_bus(const Waveform& w, size_t scl, size_t sda, size_t rst) {
  std::vector<BusItem> items;
  TransferBuilder b(&items);
  bool c = w.initial[scl];
  bool s = w.initial[sda];
  bool r = rst != std::string::npos ? static_cast<bool>(w.initial[rst]) : true;
  if (!r) {
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
    bool nc = c;
    bool ns = s;
    bool nr = r;
    for (; i < w.changes.size() && w.changes[i].t_ns == t; ++i) {
      const Waveform::Change& ch = w.changes[i];
      if (ch.signal == scl) {
        nc = ch.level;
      } else if (ch.signal == sda) {
        ns = ch.level;
      } else if (ch.signal == rst) {
        nr = ch.level;
      }
    }
    if (nr != r) {
      BusItem item;
      item.kind = nr ? BusItem::Kind::reset_high : BusItem::Kind::reset_low;
      item.start_ns = item.end_ns = t;
      items.push_back(item);
    }
    if (c && nc && ns != s) {
      if (!ns) {  // SDA falls while SCL is high: start, or repeated start
        b.start(t, true);
      } else {  // SDA rises while SCL is high: stop
        // The clock rises once before a stop: that is no byte begun.
        b.stop(t, nbits <= 1);
      }
      bits = 0;
      nbits = 0;
    } else if (!c && nc && b.open()) {  // SCL rises: SDA holds a bit
      bits = (bits << 1) | (ns ? 1U : 0U);
      if (++nbits == 9) {
        b.wire_byte(static_cast<uint8_t>(bits >> 1));
        b.ack((bits & 1U) == 0);  // the receiver holds SDA low to acknowledge
        bits = 0;
        nbits = 0;
      }
    }
    c = nc;
    s = ns;
    r = nr;
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

std::string describe(const Transfer& t) {
  const std::vector<Segment>& s = t.segments;
  if (t.complete && s.size() == 1 && !s[0].read && s[0].address_ack && s[0].bytes.size() == 2 && s[0].bytes[0].second &&
      s[0].bytes[1].second) {
    return "write " + hex2(s[0].bytes[0].first) + " <- " + hex2(s[0].bytes[1].first);
  }
  if (t.complete && s.size() == 2 && !s[0].read && s[0].address_ack && s[0].bytes.size() == 1 && s[0].bytes[0].second &&
      s[1].read && s[1].address_ack && s[1].bytes.size() == 1 && !s[1].bytes[0].second &&
      s[0].address == s[1].address) {
    return "read " + hex2(s[0].bytes[0].first) + " -> " + hex2(s[1].bytes[0].first);
  }
  if (t.complete && s.size() == 1 && !s[0].address_ack && s[0].bytes.empty()) {
    return "address " + hex2(s[0].address) + (s[0].read ? "+R" : "+W") + " not acknowledged";
  }
  std::string out = "S";
  bool first = true;
  for (const Segment& seg : s) {
    out += first ? " " : " Sr ";
    first = false;
    out += hex_plain(seg.address) + (seg.read ? "+R " : "+W ") + (seg.address_ack ? "ACK" : "NACK");
    for (const auto& [v, ack] : seg.bytes) {
      out += " " + hex_plain(v) + (ack ? " ACK" : " NACK");
    }
  }
  return out + (t.complete ? " P" : " (no stop)");
}

bool transfer_register(const Transfer& t, uint8_t* reg) {
  if (t.segments.empty() || t.segments[0].read || t.segments[0].bytes.empty()) {
    return false;
  }
  *reg = t.segments[0].bytes[0].first;
  return true;
}

}  // namespace murvane_sim
