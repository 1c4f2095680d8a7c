#include "core/entry.h"

#include "core/bringup.h"
#include "platform/log.h"
#include "platform/platform.h"

namespace murvane {

namespace {

EFI_STATUS EFIAPI start() { return bringup(); }

}  // namespace

// Installed as is; UEFI takes the interface as a non-const pointer but
// nothing writes through it.
constinit const EFI_ZELT_I2C_HAPTIC_PROTOCOL haptic_protocol = {EFI_ZELT_I2C_HAPTIC_PROTOCOL_REVISION, &start};

namespace {

EFI_STATUS run_entry(EFI_HANDLE image, EFI_SYSTEM_TABLE* st) {
  if (!support_init(image, st)) {
    // Nothing to install into and nowhere to log: refuse rather than crash.
    return EFI_INVALID_PARAMETER;
  }
  EFI_HANDLE handle = image;
  const EFI_STATUS install_status = install_protocol(&handle, EFI_ZELT_I2C_HAPTIC_PROTOCOL_GUID,
                                                     const_cast<EFI_ZELT_I2C_HAPTIC_PROTOCOL*>(&haptic_protocol));
  EFI_STATUS result = install_status;
  if (!EFI_ERROR(install_status)) {
    bringup();  // its outcome is reported by its own messages only
    result = EFI_SUCCESS;
  }
  log_error("Murvane: Install EFI_ZELT_I2C_HAPTIC_PROTOCOL - %r\n", install_status);
  if (EFI_ERROR(result)) {
    support_teardown();
  }
  return result;
}

}  // namespace

}  // namespace murvane

extern "C" MURVANE_NO_STACK_PROTECTOR EFI_STATUS EFIAPI efi_main(EFI_HANDLE image, EFI_SYSTEM_TABLE* st) {
  // Set the guard here, with no protected frame of ours live, then hand over.
  __security_cookie = static_cast<uintptr_t>(murvane::obtain_stack_guard(image, st).value);
  return murvane::run_entry(image, st);
}
