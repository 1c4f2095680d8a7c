#include "host/platform.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/family.h"
#include "core/regs.h"
#include "platform/log.h"
#include "platform/platform.h"

namespace host {

Platform* Platform::active_ = nullptr;

std::string status_string(EFI_STATUS s) {
  char buf[24];
  static_cast<void>(std::snprintf(buf, sizeof(buf), "0x%016llX", static_cast<unsigned long long>(efi_status_wide(s))));
  return buf;
}

std::string guid_string(const EFI_GUID& g) {
  char buf[40];
  static_cast<void>(std::snprintf(buf, sizeof(buf), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1,
                                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                                  g.Data4[5], g.Data4[6], g.Data4[7]));
  return buf;
}

namespace {

Platform& vp() { return *Platform::active(); }

EFI_STATUS EFIAPI bs_unsupported() { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI bs_locate(const EFI_GUID* guid, void* /*registration*/, void** iface) {
  return vp().locate(guid, iface);
}
EFI_STATUS EFIAPI bs_install(EFI_HANDLE* handle, const EFI_GUID* guid, EFI_INTERFACE_TYPE type, void* iface) {
  return vp().install(handle, guid, type, iface);
}
EFI_STATUS EFIAPI bs_install_config(const EFI_GUID* guid, void* table) { return vp().install_config(guid, table); }
EFI_STATUS EFIAPI bs_stall(UINTN us) { return vp().stall(us); }
EFI_STATUS EFIAPI con_output(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* /*self*/, const CHAR16* text) {
  return vp().output(text);
}
void EFIAPI rs_reset(EFI_RESET_TYPE /*type*/, EFI_STATUS /*status*/, UINTN /*size*/, void* /*data*/) {}

UINT32 EFIAPI i2c_open_entry(UINT32 instance, UINT64* handle) { return vp().i2c_open(instance, handle); }
UINT32 EFIAPI i2c_read_entry(UINT64 handle, const UINT32* config, UINT32 reg, UINT32 reg_len, UINT8* data, UINT32 len,
                             UINT32* transferred, UINT32 timeout) {
  return vp().i2c_transfer(false, handle, config, reg, reg_len, data, len, transferred, timeout);
}
UINT32 EFIAPI i2c_write_entry(UINT64 handle, const UINT32* config, UINT32 reg, UINT32 reg_len, UINT8* data, UINT32 len,
                              UINT32* transferred, UINT32 timeout) {
  return vp().i2c_transfer(true, handle, config, reg, reg_len, data, len, transferred, timeout);
}
EFI_STATUS EFIAPI korm_configure(UINT32 word, UINT32 value) { return vp().pin_configure(word, value); }
EFI_STATUS EFIAPI korm_set(UINT32 word, UINT32 level) { return vp().pin_set(word, level); }
EFI_STATUS EFIAPI rng_get_info(EFI_RNG_PROTOCOL* /*self*/, UINTN* /*size*/, EFI_RNG_ALGORITHM* /*list*/) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI rng_get_entry(EFI_RNG_PROTOCOL* /*self*/, EFI_RNG_ALGORITHM* /*alg*/, UINTN len, UINT8* out) {
  return vp().rng_get(out, len);
}

void log_observer(uint32_t level, const char* text) { vp().on_log(level, text); }

constexpr uint64_t fake_bus_handle = 0x5A5A0005;

}  // namespace

Platform::Platform(FarEnd& far_end, PlatformOptions& options)
    : far_end_(far_end), options_(options), rng_(options.seed) {
  EFI_GENERIC_FN* slots = reinterpret_cast<EFI_GENERIC_FN*>(&bs_.RaiseTPL);
  const size_t count = (sizeof(bs_) - sizeof(bs_.Hdr)) / sizeof(EFI_GENERIC_FN);
  for (size_t i = 0; i < count; ++i) {
    // The table is a run of function pointers after its header: every slot
    // starts as "unsupported", then the few the driver uses are set.
    // cppcheck-suppress objectIndex
    slots[i] = &bs_unsupported;
  }
  bs_.Reserved = nullptr;
  bs_.Hdr.Signature = EFI_BOOT_SERVICES_SIGNATURE;
  bs_.Hdr.HeaderSize = sizeof(bs_);
  bs_.LocateProtocol = &bs_locate;
  bs_.InstallProtocolInterface = &bs_install;
  bs_.InstallConfigurationTable = &bs_install_config;
  bs_.Stall = &bs_stall;
  EFI_GENERIC_FN* rslots = reinterpret_cast<EFI_GENERIC_FN*>(&rs_.GetTime);
  for (size_t i = 0; i < 10; ++i) {
    // cppcheck-suppress objectIndex
    rslots[i] = &bs_unsupported;
  }
  rs_.ResetSystem = &rs_reset;
  stderr_.OutputString = &con_output;
  st_.Hdr.Signature = EFI_SYSTEM_TABLE_SIGNATURE;
  st_.Hdr.HeaderSize = sizeof(st_);
  st_.StdErr = &stderr_;
  st_.ConOut = &stderr_;
  st_.BootServices = &bs_;
  st_.RuntimeServices = &rs_;
  i2c_.Open = &i2c_open_entry;
  i2c_.Read = &i2c_read_entry;
  i2c_.Write = &i2c_write_entry;
  korm_.Configure = &korm_configure;
  korm_.SetOutput = &korm_set;
  rng_proto_.GetInfo = &rng_get_info;
  rng_proto_.GetRNG = &rng_get_entry;
  active_ = this;
  murvane::g_log_observer = &log_observer;
}

Platform::~Platform() {
  if (active_ == this) {
    active_ = nullptr;
    murvane::g_log_observer = nullptr;
    // The driver must not keep pointers into a platform that is gone.
    reset_driver_state();
  }
}

void Platform::add_config_table(const EFI_GUID& guid, void* table) {
  config_.push_back({guid, table});
  st_.ConfigurationTable = config_.data();
  st_.NumberOfTableEntries = config_.size();
}

// Callers build an event only while recording: with the trace off (sweeps,
// fuzzing, benchmarks) no JSON is made at all. Whole microseconds are
// written as integers, others with their fraction (nanoseconds are exact).
void Platform::record(Event e, uint64_t at_ns) {
  if (const std::optional<double> measured = far_end_.measured_us()) {
    // At a far end with its own clock the time is the measured one, taken
    // where the event began.
    if (!e.contains("t_us")) {
      e["t_us"] = *measured;
    }
  } else if (at_ns % 1000 == 0) {
    e["t_us"] = at_ns / 1000;
  } else {
    e["t_us"] = static_cast<double>(at_ns) / 1000.0;
  }
  events_.push_back(std::move(e));
}

uint64_t event_start_ns(const Event& e) {
  const auto it = e.find("t_us");
  if (it == e.end() || !it->is_number()) {
    return 0;
  }
  if (it->is_number_unsigned()) {
    return it->get<uint64_t>() * 1000;
  }
  return static_cast<uint64_t>(std::llround(it->get<double>() * 1000.0));
}

uint32_t event_bus_khz(const Event& e) {
  const auto it = e.find("config");
  if (it == e.end() || !it->is_array() || it->empty() || !(*it)[0].is_number_unsigned()) {
    return build_bus_khz;
  }
  return static_cast<uint32_t>((*it)[0].get<uint64_t>());
}

uint64_t event_end_ns(const Event& e) {
  const std::string& ev = e["ev"].get_ref<const std::string&>();
  uint64_t length = 0;
  if (ev == "stall") {
    length = e["us"].get<uint64_t>() * 1000;
  } else if (ev == "i2c_read" || ev == "i2c_write") {
    length = transfer_ns(ev == "i2c_write", event_bus_khz(e));
  }
  return event_start_ns(e) + length;
}

void Platform::record_call(const std::string& fn, const nlohmann::json* args) {
  if (!recording_) {
    return;
  }
  Event e = {{"ev", "call"}, {"fn", fn}};
  if (args != nullptr) {
    e["args"] = *args;
  }
  record(std::move(e));
}

void Platform::record_return(const std::string& fn, const nlohmann::json& field_name_and_value) {
  if (!recording_) {
    return;
  }
  Event e = {{"ev", "return"}, {"fn", fn}};
  for (const auto& [k, v] : field_name_and_value.items()) {
    e[k] = v;
  }
  record(std::move(e));
}

void* Platform::installed(const EFI_GUID& guid) const {
  for (const Installed& i : installed_) {
    if (guid_equal(i.guid, guid)) {
      return i.iface;
    }
  }
  return nullptr;
}

EFI_HANDLE Platform::installed_handle(const EFI_GUID& guid) const {
  for (const Installed& i : installed_) {
    if (guid_equal(i.guid, guid)) {
      return i.handle;
    }
  }
  return nullptr;
}

void Platform::on_log(uint32_t level, const char* text) {
  log_.emplace_back(text);
  if (recording_) {
    record({{"ev", "log"}, {"level", level}, {"text", text}});
  }
}

EFI_STATUS Platform::locate(const EFI_GUID* guid, void** iface) {
  EFI_STATUS s = EFI_NOT_FOUND;
  void* found = nullptr;
  if (guid == nullptr || iface == nullptr) {
    s = EFI_INVALID_PARAMETER;
  } else if (guid_equal(*guid, EFI_ZELT_I2C_PROTOCOL_GUID)) {
    if (options_.i2c != I2cMode::absent) {
      found = &i2c_;
    }
  } else if (guid_equal(*guid, EFI_KORM_PROTOCOL_GUID)) {
    if (options_.pin != PinMode::absent) {
      found = &korm_;
    }
  } else if (guid_equal(*guid, EFI_RNG_PROTOCOL_GUID)) {
    if (options_.rng_present) {
      found = &rng_proto_;
    }
  } else {
    found = installed(*guid);
  }
  if (found != nullptr) {
    s = EFI_SUCCESS;
  }
  if (iface != nullptr) {
    *iface = found;
  }
  if (recording_) {
    record({{"ev", "locate"},
            {"guid", guid != nullptr ? guid_string(*guid) : std::string("null")},
            {"status", status_string(s)}});
  }
  return s;
}

EFI_STATUS Platform::install(EFI_HANDLE* handle, const EFI_GUID* guid, EFI_INTERFACE_TYPE type, void* iface) {
  EFI_STATUS s = options_.install_status;
  if (handle == nullptr || guid == nullptr) {
    s = EFI_INVALID_PARAMETER;
  }
  Event e = {{"ev", "install"},
             {"guid", guid != nullptr ? guid_string(*guid) : std::string("null")},
             {"on_image_handle", handle != nullptr && *handle == image_handle_},
             {"interface_type", static_cast<uint32_t>(type)}};
  uint64_t revision = 0;
  if (iface != nullptr) {
    std::memcpy(&revision, iface, sizeof(revision));
  }
  e["revision"] = status_string(revision);
  e["status"] = status_string(s);
  if (recording_) {
    record(std::move(e));
  }
  if (!EFI_ERROR(s)) {
    if (*handle == nullptr) {
      *handle = &installed_;  // a new handle
    }
    installed_.push_back({*handle, *guid, iface});
  }
  return s;
}

EFI_STATUS Platform::install_config(const EFI_GUID* guid, void* table) {
  EFI_STATUS s = EFI_SUCCESS;
  if (guid == nullptr) {
    s = EFI_INVALID_PARAMETER;
  } else {
    bool replaced = false;
    for (EFI_CONFIGURATION_TABLE& c : config_) {
      if (guid_equal(c.VendorGuid, *guid)) {
        c.VendorTable = table;
        replaced = true;
      }
    }
    if (!replaced) {
      add_config_table(*guid, table);
    }
  }
  if (recording_) {
    record({{"ev", "install_config_table"},
            {"guid", guid != nullptr ? guid_string(*guid) : std::string("null")},
            {"status", status_string(s)}});
  }
  return s;
}

EFI_STATUS Platform::stall(UINTN us) {
  if (recording_) {
    record({{"ev", "stall"}, {"us", static_cast<uint64_t>(us)}});
  }
  counters_.stall_us += us;
  ++counters_.stalls;
  now_ns_ += static_cast<uint64_t>(us) * 1000;
  far_end_.stall(us);
  return EFI_SUCCESS;
}

EFI_STATUS Platform::output(const CHAR16* text) {
  if (text == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  for (const CHAR16* p = text; *p != 0; ++p) {
    console_.push_back(static_cast<char16_t>(*p));
  }
  return EFI_SUCCESS;
}

uint32_t Platform::i2c_open(uint32_t instance, uint64_t* handle) {
  const uint32_t s = options_.i2c == I2cMode::open_fails ? i2c_open_fail_status : 0;
  if (s == 0 && handle != nullptr) {
    *handle = fake_bus_handle;
  }
  if (recording_) {
    record({{"ev", "i2c_open"}, {"instance", instance}, {"status", s}});
  }
  return s;
}

void Platform::record_transfer(const TransferRecord& t) {
  nlohmann::json cfg = nlohmann::json::array();
  for (int i = 0; i < 6 && t.config != nullptr; ++i) {
    cfg.push_back(t.config[i]);
  }
  Event e = {{"ev", t.write ? "i2c_write" : "i2c_read"},
             {"reg", t.reg},
             {"value", t.value},
             {"status", t.status},
             {"reg_len", t.reg_len},
             {"len", t.len},
             {"timeout", t.timeout},
             {"config", cfg}};
  if (t.began_us.has_value()) {
    e["t_us"] = *t.began_us;
  }
  record(std::move(e), t.start_ns);
}

uint32_t Platform::i2c_transfer(bool write, uint64_t /*handle*/, const uint32_t* config, uint32_t reg, uint32_t reg_len,
                                uint8_t* data, uint32_t len, uint32_t* transferred, uint32_t timeout) {
  ++transfers_;
  const uint64_t start_ns = now_ns_;
  // The slot the transfer takes at the clock it was passed (the build's
  // when the caller passed no configuration).
  now_ns_ += transfer_ns(write, config != nullptr ? config[0] : build_bus_khz);
  const auto reg8 = static_cast<uint8_t>(reg);
  const std::optional<double> began_us = far_end_.measured_us();
  const Transfer t{transfers_, write, reg8, now_ns_};
  nlohmann::json value = nullptr;
  uint32_t status = 0;
  if (write) {
    ++counters_.writes;
    value = data != nullptr ? *data : 0;
    status = far_end_.transfer(t, data);
  } else {
    ++counters_.reads;
    status = far_end_.transfer(t, data);
    if (status == 0 && data != nullptr) {
      value = *data;
    }
  }
  if (status != 0) {
    ++counters_.failed;
  } else if (transferred != nullptr) {
    *transferred = len;
  }
  if (recording_) {
    record_transfer({write, reg, value, status, reg_len, len, timeout, config, began_us, start_ns});
  }
  return status;
}

EFI_STATUS Platform::pin_configure(uint32_t word, uint32_t value) {
  const EFI_STATUS s = options_.pin == PinMode::config_fails ? EFI_DEVICE_ERROR : EFI_SUCCESS;
  if (recording_) {
    record({{"ev", "pin_config"}, {"word", word}, {"value", value}, {"status", status_string(s)}});
  }
  return s;
}

EFI_STATUS Platform::pin_set(uint32_t word, uint32_t level) {
  if (recording_) {
    record({{"ev", "pin_set"}, {"word", word}, {"level", level}});
  }
  far_end_.set_pin(level, now_ns_);
  // A low-to-high edge ends a reset pulse.
  if (level != 0 && last_pin_level_ == 0) {
    ++counters_.reset_pulses;
  }
  last_pin_level_ = level;
  return EFI_SUCCESS;
}

EFI_STATUS Platform::rng_get(uint8_t* out, UINTN len) {
  if (out == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  for (UINTN i = 0; i < len; ++i) {
    out[i] = static_cast<uint8_t>(rng_());
  }
  return EFI_SUCCESS;
}

void reset_driver_state() {
  murvane::i2c_iface = nullptr;
  murvane::bus_handle = 0;
  for (uint32_t& w : murvane::slave_config) {
    w = 0;
  }
  murvane::bus_failed_transfers = 0;
  murvane::current_family = nullptr;
  murvane::haptic_dev = {0, 0, murvane::haptic_dev_lra_f0_at_load};
  murvane::support_teardown();
}

}  // namespace host
