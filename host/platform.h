// The driver's host platform: what the driver sees of the firmware when it
// runs in a Linux process. A UEFI system table and boot services, the I2C bus
// and pin-control protocols (EFI_ZELT_I2C_PROTOCOL, EFI_KORM_PROTOCOL), an
// RNG protocol, the console, install/locate and the configuration table, a
// clock, and a recorder of every call the driver makes (events, counters,
// log lines). One platform is active at a time (the protocol entries take no
// context, as on the real platform).
//
// What answers on the bus and at the reset pin is the platform's far end: a
// simulated chip (sim/virtual_platform.h) or a Linux board
// (tools/murvane-board/board.h).
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/regs.h"
#include "host/bus_timing.h"
#include "platform/efi.h"
#include "platform/protocols.h"

namespace host {

enum class I2cMode { present, absent, open_fails };
enum class PinMode { present, absent, config_fails };

// Each transfer takes its time at the bus clock of the slave configuration
// it was passed with (host/bus_timing.h). These are the times at the clock
// this build's driver passes (the board setting MURVANE_I2C_SPEED_KHZ).
inline constexpr uint32_t build_bus_khz = murvane::slave_config_values[0];
inline constexpr uint64_t write_transfer_ns = transfer_ns(true, build_bus_khz);
inline constexpr uint64_t read_transfer_ns = transfer_ns(false, build_bus_khz);

inline constexpr uint32_t i2c_open_fail_status = 3;

// What the firmware offers the driver: which protocols are there, how the
// bus open, the pin configuration and installs answer, and the seed of the
// platform's random stream (the RNG protocol's bytes).
struct PlatformOptions {
  I2cMode i2c = I2cMode::present;
  PinMode pin = PinMode::present;
  EFI_STATUS install_status = EFI_SUCCESS;
  bool rng_present = false;
  uint64_t seed = 1;
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

// One register transfer as the platform hands it to its far end.
struct Transfer {
  uint64_t index;  // 1-based, reads and writes counted together
  bool write;
  uint8_t reg;
  uint64_t end_ns;  // the platform's clock at the end of the transfer's slot
};

// What sits at the far end of the bus and the reset pin.
class FarEnd {
 public:
  virtual ~FarEnd() = default;
  // One register transfer; returns the bus status (0: done). data is the
  // byte to write, or where a read puts its byte (only when it succeeds);
  // null when the caller passed no buffer: nothing is carried, but the far
  // end may still fail the transfer.
  virtual uint32_t transfer(const Transfer& t, uint8_t* data) = 0;
  // The level the driver sets on the reset pin, at the platform's clock.
  virtual void set_pin(uint32_t level, uint64_t at_ns) = 0;
  // The driver waits us microseconds (the platform's clock has moved on).
  virtual void stall(uint64_t us) = 0;
  // Microseconds since the run began, measured, for a far end that has its
  // own clock; none: events carry the platform's clock.
  virtual std::optional<double> measured_us() = 0;

 protected:
  FarEnd() = default;
  FarEnd(const FarEnd&) = default;
  FarEnd& operator=(const FarEnd&) = default;
  FarEnd(FarEnd&&) = default;
  FarEnd& operator=(FarEnd&&) = default;
};

std::string status_string(EFI_STATUS s);
std::string guid_string(const EFI_GUID& g);

// The time an event began (its t_us, in nanoseconds), and the time it
// ended: a stall lasts its microseconds, a transfer its time at the bus
// clock of its slave configuration, everything else takes no time.
uint64_t event_start_ns(const Event& e);
uint64_t event_end_ns(const Event& e);
// The bus clock a transfer event was passed with (config word 0), or the
// build's when the event carries none.
uint32_t event_bus_khz(const Event& e);

class Platform {
 public:
  // The caller keeps far_end and options alive as long as the platform;
  // options may change between calls into the driver.
  Platform(FarEnd& far_end, PlatformOptions& options);
  virtual ~Platform();
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;
  Platform(Platform&&) = delete;
  Platform& operator=(Platform&&) = delete;

  static Platform* active() { return active_; }

  EFI_SYSTEM_TABLE* system_table() { return &st_; }
  EFI_HANDLE image_handle() { return image_handle_; }
  FarEnd& far_end() { return far_end_; }
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
  // The platform's one random stream, seeded by options.seed: the RNG
  // protocol's bytes, and whatever else of the run draws at random in the
  // order the driver's calls reach it, so a seed replays a run.
  std::mt19937_64& random() { return rng_; }

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
  // Adds t_us, the time at which the event began.
  void record(Event e, uint64_t at_ns);
  void record(Event e) { record(std::move(e), now_ns_); }
  struct TransferRecord {
    bool write;
    uint32_t reg;
    nlohmann::json value;
    uint32_t status;
    uint32_t reg_len;
    uint32_t len;
    uint32_t timeout;
    const uint32_t* config;
    std::optional<double> began_us;
    uint64_t start_ns;
  };
  void record_transfer(const TransferRecord& t);

  static Platform* active_;

  FarEnd& far_end_;
  PlatformOptions& options_;
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

}  // namespace host
