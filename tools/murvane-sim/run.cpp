#include "tools/murvane-sim/run.h"

#include <stdexcept>

#include "core/family.h"
#include "host/harness.h"

namespace murvane_sim {

namespace {

// Registers a 16-bit identifier is read from, and the one-byte register
// that must then not hold a one-byte identifier.
constexpr uint8_t reg_id = 0x00;
constexpr uint8_t reg_id_hi = 0x57;
constexpr uint8_t reg_id_lo = 0x58;

}  // namespace

Simulation::Simulation(const Scenario& scenario) : scenario_(scenario) {
  sim::reset_driver_state();
  if (scenario_.chip != "absent") {
    chip_ = sim::make_model(scenario_.chip);
    if (chip_ == nullptr) {
      throw std::logic_error("no model named \"" + scenario_.chip + "\" although the scenario was checked");
    }
    apply_chip_settings();
  }
  platform_ = std::make_unique<sim::VirtualPlatform>(chip_ != nullptr ? &chip_->model() : nullptr, scenario_.platform);
  for (const sim::Fault& f : scenario_.faults) {
    platform_->add_fault(f);
  }
  murvane::haptic_dev.f0_cali_data = scenario_.f0_cali_data;
  murvane::haptic_dev.osc_cali_data = scenario_.osc_cali_data;
}

void Simulation::apply_chip_settings() {
  sim::chip_model& m = chip_->model();
  if (scenario_.lra_f0.has_value()) {
    m.lra_f0 = *scenario_.lra_f0;
  }
  if (scenario_.offset_code.has_value()) {
    m.offset_code = *scenario_.offset_code;
  }
  if (scenario_.chip_id.has_value()) {
    const uint32_t id = *scenario_.chip_id;
    if (sim::one_byte_id(chip_->info().family)) {
      m.set_register(reg_id, static_cast<uint8_t>(id));
    } else {
      // 0x00 reads 0 (a 16-bit identifier follows) whatever the model's own marker is.
      m.set_register(reg_id, 0x00);
      m.set_register(reg_id_hi, static_cast<uint8_t>(id >> 8));
      m.set_register(reg_id_lo, static_cast<uint8_t>(id));
    }
  }
  for (const auto& [reg, value] : scenario_.registers) {
    m.set_register(reg, value);
  }
  for (const auto& [reg, value] : scenario_.stuck) {
    m.set_stuck(reg, value);
  }
  for (const auto& [reg, answers] : scenario_.reads) {
    for (const uint8_t v : answers) {
      if (!m.script_read(reg, v)) {
        throw std::logic_error("scripted answers beyond the model's queue although the scenario was checked");
      }
    }
  }
}

void Simulation::run() {
  sim::VirtualPlatform& p = *platform_;
  for (const Call& call : scenario_.calls) {
    CallResult r;
    r.start_ns = p.now_ns();
    const uint64_t go_before = chip_ != nullptr ? chip_->model().go_time_ns() : 0;
    switch (call.kind) {
      case Call::Kind::entry:
        r.fn = "entry";
        r.is_status = true;
        r.value = static_cast<int64_t>(host::call_entry(p));
        break;
      case Call::Kind::load:
        r.fn = "load";
        r.is_status = true;
        r.value = static_cast<int64_t>(host::call_load(p));
        break;
      case Call::Kind::start:
        r.fn = "start";
        r.is_status = true;
        r.value = static_cast<int64_t>(host::call_start(p));
        break;
      case Call::Kind::slot: {
        if (murvane::current_family == nullptr) {
          throw InputError(
              scenario_.source, call.field,
              "slot call \"" + call.slot + "\" with no family selected (no earlier call identified a chip)");
        }
        const host::SlotResult sr = host::call_slot(p, call.slot, call.args);
        if (!sr.ok) {
          throw InputError(scenario_.source, call.field, sr.error);
        }
        r.fn = "slot:" + call.slot;
        r.args = call.args;
        r.is_status = call.slot == "qualify_check";
        r.has_value = call.slot != "write_ram";
        r.value = sr.value;
        break;
      }
    }
    r.end_ns = p.now_ns();
    const uint64_t go_after = chip_ != nullptr ? chip_->model().go_time_ns() : 0;
    if (go_after != 0 && go_after != go_before) {
      r.go_ns = go_after;
    }
    results_.push_back(std::move(r));
  }
  selected_family_ = murvane::current_family != nullptr ? murvane::current_family->name : "";
}

}  // namespace murvane_sim
