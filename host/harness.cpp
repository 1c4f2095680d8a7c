#include "host/harness.h"

#include <cstdio>

#include "core/entry.h"
#include "core/family.h"

namespace host {

EFI_STATUS call_entry(Platform& p) {
  p.record_call("entry");
  const EFI_STATUS s = efi_main(p.image_handle(), p.system_table());
  p.record_return("entry", {{"status", status_string(s)}});
  return s;
}

EFI_STATUS call_load(Platform& p) {
  p.record_call("load");
  reset_driver_state();
  const EFI_STATUS s = efi_main(p.image_handle(), p.system_table());
  p.record_return("load", {{"status", status_string(s)}});
  return s;
}

EFI_STATUS call_start(Platform& p) {
  p.record_call("start");
  auto* proto = static_cast<EFI_ZELT_I2C_HAPTIC_PROTOCOL*>(p.installed(EFI_ZELT_I2C_HAPTIC_PROTOCOL_GUID));
  const EFI_STATUS s = proto != nullptr ? proto->Start() : EFI_NOT_FOUND;
  p.record_return("start", {{"status", status_string(s)}});
  return s;
}

int slot_index(const std::string& name) {
  for (size_t i = 0; i < murvane::haptic_ops_slots; ++i) {
    if (name == murvane::haptic_ops_names[i]) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int slot_arity(int index) {
  switch (index) {
    case 2:
    case 7:
    case 8:
    case 9:
    case 12:
      return 1;
    case 10:
    case 11:
      return 2;
    default:
      return 0;
  }
}

SlotResult call_slot(Platform& p, const std::string& name, const std::vector<int64_t>& args) {
  SlotResult r;
  const int index = slot_index(name);
  if (index < 0) {
    r.error = "no slot named \"" + name + "\"";
    return r;
  }
  if (murvane::current_family == nullptr) {
    r.error = "slot call \"" + name + "\" with no family selected";
    return r;
  }
  if (static_cast<int>(args.size()) != slot_arity(index)) {
    r.error = "slot \"" + name + "\" takes " + std::to_string(slot_arity(index)) + " argument(s), got " +
              std::to_string(args.size());
    return r;
  }
  nlohmann::json jargs = args;
  const std::string fn = "slot:" + name;
  p.record_call(fn, &jargs);
  const murvane::haptic_ops& ops = *murvane::current_family->ops;
  auto b = [&](size_t i) { return static_cast<uint8_t>(args[i]); };
  r.ok = true;
  switch (index) {
    case 0:
      r.value = ops.get_f0();
      break;
    case 1:
      r.value = ops.offset_calibration();
      break;
    case 2:
      r.value = ops.set_go(b(0));
      break;
    case 3:
      r.value = ops.stop();
      break;
    case 4:
      ops.write_ram();
      break;
    case 5:
      r.value = ops.set_ram_base();
      break;
    case 6:
      r.value = ops.chip_init();
      break;
    case 7:
      r.value = ops.set_gain(b(0));
      break;
    case 8:
      r.value = ops.set_play_mode(b(0));
      break;
    case 9:
      r.value = ops.write_trim_lra(static_cast<int32_t>(args[0]));
      break;
    case 10:
      r.value = ops.set_sequence(b(0), b(1));
      break;
    case 11:
      r.value = ops.set_sequence_loop(b(0), b(1));
      break;
    case 12:
      r.value = ops.set_ram_access(b(0));
      break;
    default: {
      const EFI_STATUS s = ops.qualify_check();
      r.value = static_cast<int64_t>(s);
      p.record_return(fn, {{"status", status_string(s)}});
      return r;
    }
  }
  if (index == 4) {
    p.record_return(fn, nlohmann::json::object());
  } else {
    p.record_return(fn, {{"value", r.value}});
  }
  return r;
}

void write_jsonl(std::ostream& out, const std::vector<Event>& events) {
  for (const Event& e : events) {
    out << e.dump() << '\n';
  }
}

namespace {

std::string hex2(uint64_t v) {
  char buf[8];
  static_cast<void>(std::snprintf(buf, sizeof(buf), "0x%02llX", static_cast<unsigned long long>(v)));
  return buf;
}

std::string text_line(const Event& e) {
  const std::string ev = e["ev"].get<std::string>();
  char head[32];
  static_cast<void>(std::snprintf(head, sizeof(head), "%-20s ", ev.c_str()));
  std::string s = head;
  if (ev == "i2c_read" || ev == "i2c_write") {
    s += "reg " + hex2(e["reg"].get<uint64_t>()) + "  value ";
    s += e["value"].is_null() ? std::string("----") : hex2(e["value"].get<uint64_t>());
    const auto st = e["status"].get<uint64_t>();
    if (st != 0) {
      s += "  FAILED status " + std::to_string(st);
    }
    return s;
  }
  if (ev == "log") {
    std::string t = e["text"].get<std::string>();
    if (!t.empty() && t.back() == '\n') {
      t.pop_back();
    }
    return s + t;
  }
  for (const auto& [k, v] : e.items()) {
    if (k == "ev") {
      continue;
    }
    s += k + "=" + (v.is_string() ? v.get<std::string>() : v.dump()) + " ";
  }
  if (!s.empty() && s.back() == ' ') {
    s.pop_back();
  }
  return s;
}

}  // namespace

void write_text(std::ostream& out, const std::vector<Event>& events) {
  for (const Event& e : events) {
    out << text_line(e) << '\n';
  }
}

}  // namespace host
