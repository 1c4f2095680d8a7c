#include "tests/sim_fixture.h"

#include "core/regs.h"
#include "platform/platform.h"

namespace murvane_test {

void SimBoard::select_family(const murvane::chip_family& family) {
  murvane::support_init(platform_->image_handle(), platform_->system_table());
  ASSERT_EQ(murvane::bus_open(), EFI_SUCCESS);
  murvane::current_family = &family;
}

std::vector<SimBoard::Xfer> SimBoard::traffic(size_t from_event) const {
  std::vector<Xfer> out;
  const auto& ev = platform_->events();
  for (size_t i = from_event; i < ev.size(); ++i) {
    const std::string kind = ev[i]["ev"].get<std::string>();
    if (kind != "i2c_read" && kind != "i2c_write") {
      continue;
    }
    const int value = ev[i]["value"].is_null() || ev[i]["status"].get<int>() != 0 ? -1 : ev[i]["value"].get<int>();
    out.push_back({kind == "i2c_read" ? 'R' : 'W', ev[i]["reg"].get<int>(), value});
  }
  return out;
}

std::vector<SimBoard::Xfer> SimBoard::writes(size_t from_event) const {
  std::vector<Xfer> out;
  for (const Xfer& x : traffic(from_event)) {
    if (x.op == 'W') {
      out.push_back(x);
    }
  }
  return out;
}

std::vector<uint64_t> SimBoard::stalls(size_t from_event) const {
  std::vector<uint64_t> out;
  const auto& ev = platform_->events();
  for (size_t i = from_event; i < ev.size(); ++i) {
    if (ev[i]["ev"] == "stall") {
      out.push_back(ev[i]["us"].get<uint64_t>());
    }
  }
  return out;
}

std::ostream& operator<<(std::ostream& os, const SimBoard::Xfer& x) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "%c 0x%02X=0x%02X", x.op, x.reg, x.value & 0xFF);
  return os << (x.value < 0 ? std::string(1, x.op) + " FAILED" : std::string(buf));
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
