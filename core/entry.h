// The driver image's entry point and the protocol record it publishes.
#pragma once

#include "platform/efi.h"
#include "platform/protocols.h"
#include "platform/stack_guard.h"

namespace murvane {

extern const EFI_ZELT_I2C_HAPTIC_PROTOCOL haptic_protocol;

}  // namespace murvane

extern "C" MURVANE_NO_STACK_PROTECTOR EFI_STATUS EFIAPI efi_main(EFI_HANDLE image, EFI_SYSTEM_TABLE* st);
