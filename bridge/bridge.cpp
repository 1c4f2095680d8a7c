#include "bridge/bridge.h"

#include "platform/log.h"
#include "platform/platform.h"

namespace murvane::bridge {

namespace {

// Handles looked at when searching for a master or a device; a board with
// more I2C controllers or devices than this is told so at Open.
constexpr UINTN max_handles = 16;

struct bridge_state {
  const settings* board;
  const pi::EFI_I2C_MASTER_PROTOCOL* master;
  const pi::EFI_I2C_IO_PROTOCOL* device;
  pi::EMBEDDED_GPIO* gpio;
  UINTN bus_clock_hz;
};

constinit bridge_state state = {nullptr, nullptr, nullptr, nullptr, 0};

EFI_TPL current_tpl() {
  EFI_BOOT_SERVICES* bs = g_support.boot_services;
  const auto raise = __builtin_bit_cast(pi::raise_tpl_fn, bs->RaiseTPL);
  const auto restore = __builtin_bit_cast(pi::restore_tpl_fn, bs->RestoreTPL);
  const EFI_TPL old = raise(pi::TPL_HIGH_LEVEL);
  restore(old);
  return old;
}

// The handles that carry `protocol`, in the firmware's order; the count
// found, which may exceed what fits (then only the count is good).
EFI_STATUS find_handles(const EFI_GUID& protocol, EFI_HANDLE* handles, UINTN* count) {
  const auto locate = __builtin_bit_cast(pi::locate_handle_fn, g_support.boot_services->LocateHandle);
  UINTN size = max_handles * sizeof(EFI_HANDLE);
  const EFI_STATUS s = locate(ByProtocol, &protocol, nullptr, &size, handles);
  *count = size / sizeof(EFI_HANDLE);
  return s;
}

void* protocol_on(EFI_HANDLE handle, const EFI_GUID& protocol) {
  void* iface = nullptr;
  if (g_support.boot_services->HandleProtocol(handle, &protocol, &iface) != EFI_SUCCESS) {
    return nullptr;
  }
  return iface;
}

uint32_t open_master() {
  const settings& b = *state.board;
  EFI_HANDLE handles[max_handles] = {};
  UINTN count = 0;
  const EFI_STATUS s = find_handles(pi::EFI_I2C_MASTER_PROTOCOL_GUID, handles, &count);
  if (s != EFI_SUCCESS && s != EFI_BUFFER_TOO_SMALL) {
    log_error("MurvaneBridge: no EFI_I2C_MASTER_PROTOCOL - %r\n", s);
    return status_not_found;
  }
  UINTN index = b.master_index;
  if (b.master_index == only_master) {
    if (count != 1) {
      log_error("MurvaneBridge: %d I2C masters and none chosen (MURVANE_BRIDGE_MASTER)\n", count);
      return status_not_found;
    }
    index = 0;
  }
  if (index >= count || index >= max_handles) {
    log_error("MurvaneBridge: I2C master %d chosen, %d found\n", index, count);
    return status_not_found;
  }
  // Transactions behind the back of EDK2's host driver would break into
  // its queue: on its stack the bridge goes through the bus driver's I2C IO.
  if (protocol_on(handles[index], pi::EFI_I2C_HOST_PROTOCOL_GUID) != nullptr) {
    log_error("MurvaneBridge: I2C master %d is EDK2's I2C host's: build the bridge in io mode\n", index);
    return status_host_owned;
  }
  const auto* master =
      static_cast<const pi::EFI_I2C_MASTER_PROTOCOL*>(protocol_on(handles[index], pi::EFI_I2C_MASTER_PROTOCOL_GUID));
  if (master == nullptr) {
    log_error("MurvaneBridge: I2C master %d: no interface\n", index);
    return status_not_found;
  }
  EFI_STATUS r = master->Reset(master);
  if (r != EFI_SUCCESS) {
    log_error("MurvaneBridge: I2C master %d: Reset - %r\n", index, r);
    return bus_status_of(r, EFI_SUCCESS);
  }
  // In and out: the controller sets the highest rate it can that is not
  // above the one asked for, and says which.
  const UINTN asked_hz = static_cast<UINTN>(b.bus_clock_khz) * 1000;
  UINTN hz = asked_hz;
  r = master->SetBusFrequency(master, &hz);
  if (r != EFI_SUCCESS) {
    log_error("MurvaneBridge: I2C master %d: SetBusFrequency(%d Hz) - %r\n", index, asked_hz, r);
    return bus_status_of(r, EFI_SUCCESS);
  }
  log_error("MurvaneBridge: I2C master %d, bus clock %d Hz (asked for %d Hz)\n", index, hz, asked_hz);
  state.master = master;
  state.bus_clock_hz = hz;
  return 0;
}

uint32_t open_device() {
  EFI_HANDLE handles[max_handles] = {};
  UINTN count = 0;
  const EFI_STATUS s = find_handles(pi::EFI_I2C_IO_PROTOCOL_GUID, handles, &count);
  if (s != EFI_SUCCESS && s != EFI_BUFFER_TOO_SMALL) {
    log_error("MurvaneBridge: no EFI_I2C_IO_PROTOCOL - %r\n", s);
    return status_not_found;
  }
  const UINTN searched = count < max_handles ? count : max_handles;
  for (UINTN i = 0; s == EFI_SUCCESS && i < searched; ++i) {
    const auto* io = static_cast<const pi::EFI_I2C_IO_PROTOCOL*>(protocol_on(handles[i], pi::EFI_I2C_IO_PROTOCOL_GUID));
    if (io != nullptr && io->DeviceGuid != nullptr && guid_equal(*io->DeviceGuid, state.board->device_guid)) {
      log_error("MurvaneBridge: I2C IO device %d of %d has the board's DeviceGuid\n", i, count);
      state.device = io;
      return 0;
    }
  }
  log_error("MurvaneBridge: no I2C IO device with the board's DeviceGuid among %d\n", count);
  return status_not_found;
}

// The checks every register access passes before anything reaches the bus.
uint32_t check_access(UINT64 handle, const UINT32* slave_config, UINT32 reg, UINT32 reg_len, const UINT8* data,
                      UINT32 len) {
  if (handle != bridge_handle || slave_config == nullptr || reg > 0xFF || reg_len != 1 || data == nullptr || len != 1 ||
      slave_config[1] > 0x7F) {
    return status_bad_request;
  }
  if (state.master == nullptr && state.device == nullptr) {
    return status_not_open;
  }
  // Synchronous requests are allowed only at or below TPL_CALLBACK.
  if (current_tpl() > pi::TPL_CALLBACK) {
    return status_tpl_too_high;
  }
  return 0;
}

uint32_t send(UINTN address, pi::EFI_I2C_REQUEST_PACKET* packet) {
  EFI_STATUS i2c_status = EFI_SUCCESS;
  EFI_STATUS r = EFI_SUCCESS;
  if (state.master != nullptr) {
    r = state.master->StartRequest(state.master, address, packet, nullptr, &i2c_status);
  } else {
    // The device knows its own address: index 0 is its first.
    r = state.device->QueueRequest(state.device, 0, nullptr, packet, &i2c_status);
  }
  return bus_status_of(r, i2c_status);
}

}  // namespace

uint32_t bus_status_of(EFI_STATUS returned, EFI_STATUS i2c_status) {
  const EFI_STATUS first = returned != EFI_SUCCESS ? returned : i2c_status;
  if (first == EFI_SUCCESS) {
    return 0;
  }
  const auto code = static_cast<uint32_t>(first & ~EFI_ERROR_BIT);
  if (!EFI_ERROR(first)) {
    return 0x100 | code;
  }
  // An error with code 0 is not a UEFI status, but it is not success either.
  return code != 0 ? code : 0x100;
}

void bridge_init(const settings* s) { state = {s, nullptr, nullptr, nullptr, 0}; }

const pi::EFI_I2C_MASTER_PROTOCOL* opened_master() { return state.master; }
const pi::EFI_I2C_IO_PROTOCOL* opened_device() { return state.device; }
UINTN opened_bus_clock_hz() { return state.bus_clock_hz; }

UINT32 EFIAPI bridge_open(UINT32 instance, UINT64* handle) {
  state.master = nullptr;
  state.device = nullptr;
  state.bus_clock_hz = 0;
  if (state.board == nullptr || g_support.boot_services == nullptr || handle == nullptr) {
    return status_not_open;
  }
  if (instance != state.board->i2c_instance) {
    log_error("MurvaneBridge: Open of I2C instance %d, the board's is %d\n", instance, state.board->i2c_instance);
    return status_bad_request;
  }
  const uint32_t s = state.board->mode == bridge_mode::master ? open_master() : open_device();
  if (s == 0) {
    *handle = bridge_handle;
  }
  return s;
}

UINT32 EFIAPI bridge_read(UINT64 handle, const UINT32* slave_config, UINT32 reg, UINT32 reg_len, UINT8* data,
                          UINT32 len, UINT32* transferred, UINT32 /*timeout*/) {
  const uint32_t bad = check_access(handle, slave_config, reg, reg_len, data, len);
  if (bad != 0) {
    return bad;
  }
  // Register number, then the byte: a repeated START between them, one STOP.
  UINT8 reg_byte = static_cast<UINT8>(reg);
  pi::i2c_request<2> packet = {2, {{0, 1, &reg_byte}, {pi::I2C_FLAG_READ, 1, data}}};
  const uint32_t s = send(slave_config[1], reinterpret_cast<pi::EFI_I2C_REQUEST_PACKET*>(&packet));
  if (s == 0 && transferred != nullptr) {
    *transferred = 1;
  }
  return s;
}

UINT32 EFIAPI bridge_write(UINT64 handle, const UINT32* slave_config, UINT32 reg, UINT32 reg_len, UINT8* data,
                           UINT32 len, UINT32* transferred, UINT32 /*timeout*/) {
  const uint32_t bad = check_access(handle, slave_config, reg, reg_len, data, len);
  if (bad != 0) {
    return bad;
  }
  // One write of two bytes: two write operations would put a repeated
  // START between the register number and the value.
  UINT8 bytes[2] = {static_cast<UINT8>(reg), *data};
  pi::EFI_I2C_REQUEST_PACKET packet = {1, {{0, 2, bytes}}};
  const uint32_t s = send(slave_config[1], &packet);
  if (s == 0 && transferred != nullptr) {
    *transferred = 1;
  }
  return s;
}

namespace {

EFI_STATUS find_gpio(UINT32 config_word) {
  if (state.board == nullptr || config_word != state.board->reset_pin_word) {
    log_error("MurvaneBridge: pin word 0x%08x is not the board's reset pin\n", config_word);
    return EFI_INVALID_PARAMETER;
  }
  if (state.gpio != nullptr) {
    return EFI_SUCCESS;
  }
  void* iface = nullptr;
  const EFI_STATUS s = locate_protocol(pi::EMBEDDED_GPIO_PROTOCOL_GUID, &iface);
  // UEFI lets a protocol be installed with a NULL interface: its GUID is
  // found, with no GPIO behind it to drive the reset line with.
  if (s != EFI_SUCCESS || iface == nullptr) {
    const EFI_STATUS missing = s != EFI_SUCCESS ? s : EFI_NOT_FOUND;
    log_error("MurvaneBridge: no EMBEDDED_GPIO protocol - %r\n", missing);
    return missing;
  }
  state.gpio = static_cast<pi::EMBEDDED_GPIO*>(iface);
  return EFI_SUCCESS;
}

}  // namespace

// Nothing to configure: EMBEDDED_GPIO.Set makes the pin an output as it
// drives it, and driving it here would start the reset pulse early.
EFI_STATUS EFIAPI bridge_pin_configure(UINT32 config_word, UINT32 /*value*/) { return find_gpio(config_word); }

EFI_STATUS EFIAPI bridge_pin_set_output(UINT32 config_word, UINT32 level) {
  const EFI_STATUS s = find_gpio(config_word);
  if (s != EFI_SUCCESS) {
    return s;
  }
  const bool high = (level != 0) != state.board->gpio_active_low;
  return state.gpio->Set(state.gpio, state.board->gpio_pin, high ? pi::GPIO_MODE_OUTPUT_1 : pi::GPIO_MODE_OUTPUT_0);
}

constinit EFI_ZELT_I2C_PROTOCOL bridge_i2c_protocol = {nullptr, &bridge_open, &bridge_read, &bridge_write};
constinit EFI_KORM_PROTOCOL bridge_korm_protocol = {nullptr, &bridge_pin_configure, nullptr, nullptr,
                                                    &bridge_pin_set_output};

EFI_STATUS install_bridge(EFI_HANDLE* handle) {
  const EFI_STATUS first = install_protocol(handle, EFI_ZELT_I2C_PROTOCOL_GUID, &bridge_i2c_protocol);
  EFI_STATUS s = first;
  if (s == EFI_SUCCESS) {
    s = install_protocol(handle, EFI_KORM_PROTOCOL_GUID, &bridge_korm_protocol);
  }
  log_error("MurvaneBridge: Install EFI_ZELT_I2C_PROTOCOL and EFI_KORM_PROTOCOL - %r\n", s);
  // Once an interface of ours is installed the image must stay resident,
  // or the firmware would free what it points into: the log says the rest.
  return first;
}

}  // namespace murvane::bridge
