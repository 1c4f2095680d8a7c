#include "tests/sim_fixture.h"

#include <algorithm>
#include <cstdio>

#include "core/regs.h"
#include "platform/platform.h"

namespace murvane_test {

Trace operator+(Trace a, const Trace& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Trace& operator+=(Trace& a, const Trace& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Trace times(size_t n, const Trace& block) {
  Trace out;
  for (size_t i = 0; i < n; ++i) {
    out += block;
  }
  return out;
}

Trace only(const Trace& t, Ev::Kind kind) {
  Trace out;
  for (const Ev& e : t) {
    if (e.kind == kind) {
      out.push_back(e);
    }
  }
  return out;
}

Trace transfers_of(const Trace& t, int reg) {
  Trace out;
  for (const Ev& e : t) {
    if (e.is_transfer() && e.reg == reg) {
      out.push_back(e);
    }
  }
  return out;
}

Trace tail(const Trace& t, size_t n) { return {t.end() - static_cast<std::ptrdiff_t>(std::min(n, t.size())), t.end()}; }

size_t count(const Trace& t, const Ev& e) { return static_cast<size_t>(std::count(t.begin(), t.end(), e)); }

size_t count(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

size_t n_reads(const Trace& t, int reg) {
  return static_cast<size_t>(
      std::count_if(t.begin(), t.end(), [reg](const Ev& e) { return e.kind == Ev::Kind::read && e.reg == reg; }));
}

size_t n_writes(const Trace& t, int reg) {
  return static_cast<size_t>(
      std::count_if(t.begin(), t.end(), [reg](const Ev& e) { return e.kind == Ev::Kind::write && e.reg == reg; }));
}

void PrintTo(const Ev& e, std::ostream* os) {
  char buf[48];
  switch (e.kind) {
    case Ev::Kind::read:
    case Ev::Kind::write: {
      const char op = e.kind == Ev::Kind::read ? 'R' : 'W';
      if (e.failed && e.kind == Ev::Kind::read) {
        std::snprintf(buf, sizeof(buf), "R 0x%02X FAIL", static_cast<unsigned>(e.reg));
      } else {
        std::snprintf(buf, sizeof(buf), "%c 0x%02X=0x%02X%s", op, static_cast<unsigned>(e.reg),
                      static_cast<unsigned>(e.value), e.failed ? " FAIL" : "");
      }
      *os << buf;
      return;
    }
    case Ev::Kind::stall:
      *os << "S " << e.us;
      return;
    case Ev::Kind::log: {
      std::string text = e.text;
      if (!text.empty() && text.back() == '\n') {
        text.replace(text.size() - 1, 1, "\\n");
      }
      *os << "L \"" << text << '"';
      return;
    }
    case Ev::Kind::pin:
      *os << "P 0x" << std::hex << e.reg << std::dec << '=' << e.value;
      return;
  }
}

std::ostream& operator<<(std::ostream& os, const Ev& e) {
  PrintTo(e, &os);
  return os;
}

void SimBoard::select_family(const murvane::chip_family& family) {
  murvane::support_init(platform_->image_handle(), platform_->system_table());
  ASSERT_EQ(murvane::bus_open(), EFI_SUCCESS);
  murvane::current_family = &family;
}

Trace SimBoard::trace(size_t from) const {
  Trace out;
  const auto& ev = platform_->events();
  for (size_t i = from; i < ev.size(); ++i) {
    const std::string kind = ev[i]["ev"].get<std::string>();
    if (kind == "i2c_read" || kind == "i2c_write") {
      const bool read = kind == "i2c_read";
      const bool failed = ev[i]["status"].get<uint32_t>() != 0;
      const int reg = ev[i]["reg"].get<int>();
      if (read) {
        out.push_back(failed ? rd_fail(reg) : rd(reg, ev[i]["value"].get<int>()));
      } else {
        const int value = ev[i]["value"].get<int>();
        out.push_back(failed ? wr_fail(reg, value) : wr(reg, value));
      }
    } else if (kind == "stall") {
      out.push_back(stall(ev[i]["us"].get<uint64_t>()));
    } else if (kind == "log") {
      out.push_back(msg(ev[i]["text"].get<std::string>()));
    } else if (kind == "pin_set") {
      out.push_back(pin(ev[i]["word"].get<int>(), ev[i]["level"].get<int>()));
    }
  }
  return out;
}

Trace SimBoard::traffic(size_t from) const {
  Trace out;
  for (const Ev& e : trace(from)) {
    if (e.is_transfer()) {
      out.push_back(e);
    }
  }
  return out;
}

Trace SimBoard::writes(size_t from) const { return only(trace(from), Ev::Kind::write); }

std::vector<uint64_t> SimBoard::stalls(size_t from) const {
  std::vector<uint64_t> out;
  for (const Ev& e : only(trace(from), Ev::Kind::stall)) {
    out.push_back(e.us);
  }
  return out;
}

std::vector<std::string> SimBoard::log_from(size_t from) const {
  std::vector<std::string> out;
  for (const Ev& e : only(trace(from), Ev::Kind::log)) {
    out.push_back(e.text);
  }
  return out;
}

sim::Fault fault_on(uint8_t reg, sim::Op op, uint64_t from, uint64_t n) {
  sim::Fault f;
  f.reg = reg;
  f.op = op;
  f.from = from;
  f.count = n;
  return f;
}

std::vector<std::string> violations(sim::chip_model& chip) {
  std::vector<std::string> out;
  for (size_t i = 0; i < chip.violations_kept(); ++i) {
    char buf[16];
    std::snprintf(buf, sizeof(buf), "0x%02X: ", chip.violation_at(i).reg);
    out.push_back(buf + std::string(chip.violation_at(i).what));
  }
  return out;
}

std::vector<FamilyCase> one_model_per_family() {
  // Each family's first model in core/family_list.h, and the driver's family
  // at the same place in that list.
  std::vector<FamilyCase> out;
  for (size_t i = 0; i < sim::family_count; ++i) {
    out.push_back({sim::first_model_of(sim::all_families[i]).name, murvane::chip_families[i]});
  }
  return out;
}

}  // namespace murvane_test
