// MurvaneBridge: the driver's two platform protocols, EFI_ZELT_I2C_PROTOCOL
// and EFI_KORM_PROTOCOL, built on what a stock EDK2 board publishes: an
// EFI_I2C_MASTER_PROTOCOL (master mode) or the EFI_I2C_IO_PROTOCOL of one
// enumerated device (I2C IO mode), and EMBEDDED_GPIO for the reset pin.
//
// Freestanding, like the driver: the same sources build MurvaneBridge.efi
// and the host library its unit tests drive. All state is static; every
// firmware service is reached through the support tables (platform/).
//
// What the driver's calls become:
//   Open(instance)        master mode: pick the master (refused when EDK2's
//                         I2C host drives it: its handle carries
//                         EFI_I2C_HOST_PROTOCOL), Reset, SetBusFrequency
//                         with the board's kHz x 1000, log the rate the
//                         controller set; I2C IO mode: find the device whose
//                         DeviceGuid is the board's.
//   Read(reg)             one request of two operations, {write reg} and
//                         {read 1 byte}: START, repeated START, one STOP.
//   Write(reg, value)     one request of one operation, {write reg, value}.
//   Configure(pin word)   checks the word and that EMBEDDED_GPIO is there.
//   SetOutput(word, lvl)  EMBEDDED_GPIO.Set(pin, GPIO_MODE_OUTPUT_0/1), the
//                         level inverted on an active-low board.
//
// Bus status (what Read, Write and Open return, and what the driver logs as
// "error:%d"): 0 only when the transfer was done; otherwise the UEFI error
// code of the first failure, without its top bit (7 Device Error, 16 No
// Response, 2 Invalid Parameter, ...). A request whose call returned success
// but whose *I2cStatus holds a failure has failed. A warning status counts
// as a failure too, as 0x100 plus its code: nothing is passed on as done
// that the controller did not call done.
#pragma once

#include <stdint.h>

#include "bridge/pi_i2c.h"
#include "platform/efi.h"
#include "platform/protocols.h"

namespace murvane::bridge {

enum class bridge_mode : uint8_t { master, io };

// master_index: "take the only master there is".
inline constexpr uint32_t only_master = 0xFFFFFFFFu;

struct settings {
  bridge_mode mode;
  uint32_t master_index;  // master mode: which EFI_I2C_MASTER_PROTOCOL, in handle order, or only_master
  EFI_GUID device_guid;   // I2C IO mode: the DeviceGuid of the chip's EFI_I2C_IO_PROTOCOL
  UINTN gpio_pin;         // EMBEDDED_GPIO pin of the chip's reset line, (port << 16) | pin
  bool gpio_active_low;   // the GPIO drives the reset line through an inverter
  // The driver's words, as its own board settings give them: the instance
  // it opens, the bus clock, the reset pin's configuration word.
  uint32_t i2c_instance;
  uint32_t bus_clock_khz;
  uint32_t reset_pin_word;
};

// Bus statuses of the bridge's own refusals (no transfer is made).
inline constexpr uint32_t status_bad_request = 2;   // Invalid Parameter: not a one-byte register access
inline constexpr uint32_t status_tpl_too_high = 3;  // Unsupported: called above TPL_CALLBACK
inline constexpr uint32_t status_not_open = 6;      // Not Ready: no successful Open yet
inline constexpr uint32_t status_not_found = 14;    // Not Found: no master / device to open
inline constexpr uint32_t status_host_owned = 15;   // Access Denied: EDK2's I2C host drives that master

// The bus status for a request whose call returned `returned` and whose
// *I2cStatus holds `i2c_status` (pre-set to EFI_SUCCESS by the bridge).
uint32_t bus_status_of(EFI_STATUS returned, EFI_STATUS i2c_status);

// The handle value Open hands out; Read and Write take no other.
inline constexpr UINT64 bridge_handle = 0x4D42524Eu;  // "MBRN"

// Forgets any opened master or device and takes `s` as the board's settings.
void bridge_init(const settings* s);

// What is open now (for tests): the master or device, and the bus clock
// the controller reported.
const pi::EFI_I2C_MASTER_PROTOCOL* opened_master();
const pi::EFI_I2C_IO_PROTOCOL* opened_device();
UINTN opened_bus_clock_hz();

UINT32 EFIAPI bridge_open(UINT32 instance, UINT64* handle);
UINT32 EFIAPI bridge_read(UINT64 handle, const UINT32* slave_config, UINT32 reg, UINT32 reg_len, UINT8* data,
                          UINT32 len, UINT32* transferred, UINT32 timeout);
UINT32 EFIAPI bridge_write(UINT64 handle, const UINT32* slave_config, UINT32 reg, UINT32 reg_len, UINT8* data,
                           UINT32 len, UINT32* transferred, UINT32 timeout);
EFI_STATUS EFIAPI bridge_pin_configure(UINT32 config_word, UINT32 value);
EFI_STATUS EFIAPI bridge_pin_set_output(UINT32 config_word, UINT32 level);

// Installs EFI_ZELT_I2C_PROTOCOL and EFI_KORM_PROTOCOL on a new handle
// (*handle null on the way in) and logs the outcome. Returns the status of
// the first install: once it is in, the image must stay resident.
EFI_STATUS install_bridge(EFI_HANDLE* handle);

extern EFI_ZELT_I2C_PROTOCOL bridge_i2c_protocol;
extern EFI_KORM_PROTOCOL bridge_korm_protocol;

}  // namespace murvane::bridge
