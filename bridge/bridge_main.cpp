// MurvaneBridge.efi's entry point: the bridge with this build's board
// settings (cmake/board_settings.cmake and bridge/settings.cmake).
#include "bridge/bridge.h"
#include "murvane/board_settings.h"
#include "murvane/bridge_settings.h"
#include "platform/platform.h"
#include "platform/stack_guard.h"

namespace {

constexpr murvane::bridge::settings board_settings = {
    murvane::bridge_board::io_mode ? murvane::bridge::bridge_mode::io : murvane::bridge::bridge_mode::master,
    murvane::bridge_board::master_index,
    murvane::bridge_board::device_guid,
    murvane::bridge_board::gpio_pin,
    murvane::bridge_board::gpio_active_low,
    murvane::board::i2c_instance,
    murvane::board::i2c_speed_khz,
    murvane::board::reset_pin_word,
};

EFI_STATUS run_entry(EFI_HANDLE image, EFI_SYSTEM_TABLE* st) {
  if (!murvane::support_init(image, st)) {
    return EFI_INVALID_PARAMETER;
  }
  murvane::bridge::bridge_init(&board_settings);
  EFI_HANDLE handle = nullptr;
  return murvane::bridge::install_bridge(&handle);
}

}  // namespace

extern "C" MURVANE_NO_STACK_PROTECTOR EFI_STATUS EFIAPI bridge_main(EFI_HANDLE image, EFI_SYSTEM_TABLE* st) {
  // The guard the driver's images share, set with no protected frame live.
  __security_cookie = static_cast<uintptr_t>(murvane::obtain_stack_guard(image, st).value);
  return run_entry(image, st);
}
