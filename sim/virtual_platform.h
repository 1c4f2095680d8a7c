// The virtual platform: a fake UEFI system table and boot services, the
// I2C bus and pin-control protocols in front of a chip model, a virtual
// clock, fault injection and a recorder of every platform call the driver
// makes. One platform is active at a time (the protocol entries take no
// context, as on the real platform).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/regs.h"
#include "platform/efi.h"
#include "platform/protocols.h"
#include "sim/bus_timing.h"
#include "sim/model_factory.h"

namespace sim {

enum class I2cMode { present, absent, open_fails };
enum class PinMode { present, absent, config_fails };
enum class Op { read, write, any };

// Each transfer takes its time at the bus clock of the slave configuration
// it was passed with (sim/bus_timing.h). These are the times at the clock
// this build's driver passes (the board setting MURVANE_I2C_SPEED_KHZ).
inline constexpr uint32_t build_bus_khz = murvane::slave_config_values[0];
inline constexpr uint64_t write_transfer_ns = transfer_ns(true, build_bus_khz);
inline constexpr uint64_t read_transfer_ns = transfer_ns(false, build_bus_khz);

inline constexpr uint32_t i2c_open_fail_status = 3;
inline constexpr uint32_t bus_fault_status = 5;

struct Fault {
  // By transfer index (1-based, reads and writes counted together): that
  // transfer and the count - 1 after it, or with onward every later one
  // (the chip vanishes)...
  std::optional<uint64_t> transfer;
  bool onward = false;
  // ...or by register, direction and range of matching transfers (1-based).
  uint8_t reg = 0;
  Op op = Op::any;
  uint64_t from = 1;
  uint64_t count = UINT64_MAX;
  uint32_t status = bus_fault_status;
  uint64_t seen = 0;  // matching transfers so far
};

struct Chaos {
  double read_flip = 0.0;
  double fault = 0.0;
};

struct PlatformOptions {
  I2cMode i2c = I2cMode::present;
  PinMode pin = PinMode::present;
  EFI_STATUS install_status = EFI_SUCCESS;
  bool rng_present = false;
  uint64_t seed = 1;
  Chaos chaos;
};

struct Counters {
  uint64_t reads = 0;
  uint64_t writes = 0;
  uint64_t failed = 0;
  uint64_t stall_us = 0;
  uint64_t stalls = 0;
  uint64_t reset_pulses = 0;
};

using Event = nlohmann::ordered_json;

// A real bus, reset pin and clock behind the platform's firmware tables, for
// running the driver on a board (murvane-board). While one is attached,
// register transfers, reset-pin levels and waits go to it instead of the chip
// model and the virtual clock, and every event carries the hardware's clock
// as t_us (when the event began); the firmware tables, the recorder and the
// counters work as without it.
class Hardware {
 public:
  virtual ~Hardware() = default;
  // One register transfer; returns the bus status (0: done). A read fills
  // *data only when it succeeds.
  virtual uint32_t transfer(bool write, uint8_t reg, uint8_t* data) = 0;
  virtual void set_pin(uint32_t level) = 0;
  virtual void stall(uint64_t us) = 0;
  // Microseconds since the run began.
  virtual double now_us() = 0;

 protected:
  Hardware() = default;
  Hardware(const Hardware&) = default;
  Hardware& operator=(const Hardware&) = default;
  Hardware(Hardware&&) = default;
  Hardware& operator=(Hardware&&) = default;
};

std::string status_string(EFI_STATUS s);
std::string guid_string(const EFI_GUID& g);

// The virtual time an event began (its t_us, in nanoseconds), and the time
// it ended: a stall lasts its microseconds, a transfer its time at the bus
// clock of its slave configuration, everything else takes no time.
uint64_t event_start_ns(const Event& e);
uint64_t event_end_ns(const Event& e);
// The bus clock a transfer event was passed with (config word 0), or the
// build's when the event carries none.
uint32_t event_bus_khz(const Event& e);

class VirtualPlatform {
 public:
  // chip null: nothing answers on the bus (every transfer fails with 5).
  explicit VirtualPlatform(chip_model* chip, const PlatformOptions& options = {});
  ~VirtualPlatform();
  VirtualPlatform(const VirtualPlatform&) = delete;
  VirtualPlatform& operator=(const VirtualPlatform&) = delete;
  VirtualPlatform(VirtualPlatform&&) = delete;
  VirtualPlatform& operator=(VirtualPlatform&&) = delete;

  static VirtualPlatform* active() { return active_; }

  EFI_SYSTEM_TABLE* system_table() { return &st_; }
  EFI_HANDLE image_handle() { return image_handle_; }
  chip_model* chip() { return chip_; }
  PlatformOptions& options() { return options_; }
  void add_fault(const Fault& f) { faults_.push_back(f); }
  // Programmable chip and bus behaviour for fuzzing: the transfer hook may
  // fail a transfer (non-zero status); the read hook may replace the
  // model's answer. Both see every transfer the faults above let through.
  std::function<uint32_t(bool write, uint8_t reg)> transfer_hook;
  std::function<bool(uint8_t reg, uint8_t* value)> read_hook;
  void clear_faults() { faults_.clear(); }
  // Routes transfers, pin levels and waits to real hardware (null: back to
  // the chip model and the virtual clock). The caller keeps it alive.
  void set_hardware(Hardware* hardware) { hardware_ = hardware; }
  // Adds an entry to the firmware's configuration table before the run.
  void add_config_table(const EFI_GUID& guid, void* table);

  // Harness markers around calls into the driver.
  void record_call(const std::string& fn, const nlohmann::json* args = nullptr);
  void record_return(const std::string& fn, const nlohmann::json& field_name_and_value);

  uint64_t now_ns() const { return now_ns_; }
  // Transfers attempted so far (the index the next one gets, minus one).
  uint64_t transfers() const { return transfers_; }
  const Counters& counters() const { return counters_; }
  const std::vector<Event>& events() const { return events_; }
  // Every log message in order, exactly as formatted (kept even when the
  // trace is off).
  const std::vector<std::string>& log_lines() const { return log_; }
  // What reached the console (StdErr or ConOut), "\r\n" included.
  const std::u16string& console() const { return console_; }
  // Interface installed under guid, or nullptr.
  void* installed(const EFI_GUID& guid) const;
  EFI_HANDLE installed_handle(const EFI_GUID& guid) const;
  const std::vector<EFI_CONFIGURATION_TABLE>& config_table() const { return config_; }
  // Disables the trace (the counters and the clock still run), for benchmarks.
  void set_recording(bool on) { recording_ = on; }

  void on_log(uint32_t level, const char* text);

  // The platform's entries, reached through the active platform.
  EFI_STATUS locate(const EFI_GUID* guid, void** iface);
  EFI_STATUS install(EFI_HANDLE* handle, const EFI_GUID* guid, EFI_INTERFACE_TYPE type, void* iface);
  EFI_STATUS install_config(const EFI_GUID* guid, void* table);
  EFI_STATUS stall(UINTN us);
  EFI_STATUS output(const CHAR16* text);
  uint32_t i2c_open(uint32_t instance, uint64_t* handle);
  uint32_t i2c_transfer(bool write, uint64_t handle, const uint32_t* config, uint32_t reg, uint32_t reg_len,
                        uint8_t* data, uint32_t len, uint32_t* transferred, uint32_t timeout);
  EFI_STATUS pin_configure(uint32_t word, uint32_t value);
  EFI_STATUS pin_set(uint32_t word, uint32_t level);
  EFI_STATUS rng_get(uint8_t* out, UINTN len);

 private:
  // Adds t_us, the virtual time at which the event began.
  void record(Event e, uint64_t at_ns);
  void record(Event e) { record(std::move(e), now_ns_); }
  uint32_t fault_for(bool write, uint8_t reg);
  // The stages of a transfer: whether the bus fails it, then the byte to
  // the chip or from it, then its event.
  uint32_t bus_status(bool write, uint8_t reg);
  uint32_t write_to_chip(uint8_t reg, uint8_t byte);
  uint32_t read_from_chip(uint8_t reg, uint8_t* byte);
  struct TransferRecord {
    bool write;
    uint32_t reg;
    nlohmann::json value;
    uint32_t status;
    uint32_t reg_len;
    uint32_t len;
    uint32_t timeout;
    const uint32_t* config;
    double began_us;
    uint64_t start_ns;
  };
  void record_transfer(const TransferRecord& t);

  static VirtualPlatform* active_;

  chip_model* chip_;
  Hardware* hardware_ = nullptr;
  PlatformOptions options_;
  std::vector<Fault> faults_;
  std::mt19937_64 rng_;
  std::vector<Event> events_;
  bool recording_ = true;
  Counters counters_;
  uint64_t now_ns_ = 0;
  uint64_t transfers_ = 0;
  uint32_t last_pin_level_ = 1;
  std::u16string console_;
  std::vector<std::string> log_;

  struct Installed {
    EFI_HANDLE handle;
    EFI_GUID guid;
    void* iface;
  };
  std::vector<Installed> installed_;
  std::vector<EFI_CONFIGURATION_TABLE> config_;

  int image_token_ = 0;
  EFI_HANDLE image_handle_ = &image_token_;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL stderr_{};
  EFI_BOOT_SERVICES bs_{};
  EFI_RUNTIME_SERVICES rs_{};
  EFI_SYSTEM_TABLE st_{};
  EFI_ZELT_I2C_PROTOCOL i2c_{};
  EFI_KORM_PROTOCOL korm_{};
  EFI_RNG_PROTOCOL rng_proto_{};
};

// Puts the driver's globals back to their load values, as a fresh image.
void reset_driver_state();

}  // namespace sim
