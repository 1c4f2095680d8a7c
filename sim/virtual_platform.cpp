#include "sim/virtual_platform.h"

namespace sim {

SimulatedChip::SimulatedChip(chip_model* chip, const Chaos& chaos) : chip_(chip), chaos_(chaos) {
  if (chip_ != nullptr) {
    chip_->set_time(0);
  }
}

double SimulatedChip::draw() { return std::uniform_real_distribution<double>(0.0, 1.0)(*random_); }

uint32_t SimulatedChip::fault_for(const host::Transfer& t) {
  uint32_t status = 0;
  for (Fault& f : faults_) {
    if (f.transfer.has_value()) {
      // count keeps its "unlimited" default unless a scenario gave one.
      const uint64_t n = f.onward ? UINT64_MAX : (f.count == UINT64_MAX ? 1 : f.count);
      const bool hit = t.index >= *f.transfer && t.index - *f.transfer < n;
      if (hit && status == 0) {
        status = f.status;
      }
      continue;
    }
    const bool op_matches = f.op == Op::any || (f.op == Op::write) == t.write;
    if (f.reg != t.reg || !op_matches) {
      continue;
    }
    ++f.seen;
    if (f.seen >= f.from && f.seen - f.from < f.count && status == 0) {
      status = f.status;
    }
  }
  return status;
}

uint32_t SimulatedChip::bus_status(const host::Transfer& t) {
  uint32_t status = fault_for(t);
  if (status == 0 && chip_ == nullptr) {
    status = bus_fault_status;
  }
  if (status == 0 && transfer_hook) {
    status = transfer_hook(t.write, t.reg);
  }
  if (status == 0 && chaos_.fault > 0.0 && draw() < chaos_.fault) {
    status = bus_fault_status;
  }
  return status;
}

uint8_t SimulatedChip::read_from_chip(const host::Transfer& t) {
  chip_->set_time(t.end_ns);
  auto v = chip_->read(t.reg);
  if (read_hook) {
    read_hook(t.reg, &v);
  }
  if (chaos_.read_flip > 0.0 && draw() < chaos_.read_flip) {
    v = static_cast<uint8_t>((*random_)());
  }
  return v;
}

// A failed transfer leaves the caller's buffer untouched and is not seen by
// the chip model.
uint32_t SimulatedChip::transfer(const host::Transfer& t, uint8_t* data) {
  const uint32_t status = bus_status(t);
  if (status != 0 || data == nullptr) {
    return status;
  }
  if (t.write) {
    chip_->set_time(t.end_ns);
    chip_->write(t.reg, *data);
  } else {
    *data = read_from_chip(t);
  }
  return 0;
}

// A low-to-high edge ends a reset pulse.
void SimulatedChip::set_pin(uint32_t level, uint64_t at_ns) {
  if (level != 0 && last_pin_level_ == 0 && chip_ != nullptr) {
    chip_->set_time(at_ns);
    chip_->reset_pulse();
  }
  last_pin_level_ = level;
}

VirtualPlatform::VirtualPlatform(chip_model* chip, const PlatformOptions& options)
    : SimulatedParts(chip, options), host::Platform(simulated_chip, SimulatedParts::options) {
  simulated_chip.draw_from(random());
}

}  // namespace sim
