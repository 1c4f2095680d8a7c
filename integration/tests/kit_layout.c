/* The kit's header as C code sees it (C11, -Wpedantic), after our minimal C
 * UEFI definitions, as Consumer.efi includes it. */
#include "integration/tests/kit_layout.h"

/* The kit header after the base definitions it needs, in this order. */
/* clang-format off */
#include "firmware/consumer/uefi_c.h"
#include "Protocol/ZeltI2cHaptic.h"
/* clang-format on */

EFI_GUID gEfiZeltI2cHapticProtocolGuid = EFI_ZELT_I2C_HAPTIC_PROTOCOL_GUID;

/* The layout the header promises in its own words. */
UEFI_C_STATIC_ASSERT(sizeof(EFI_ZELT_I2C_HAPTIC_PROTOCOL) == 16, "record size");
UEFI_C_STATIC_ASSERT(offsetof(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Revision) == 0, "Revision offset");
UEFI_C_STATIC_ASSERT(offsetof(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Start) == 8, "Start offset");

#define MEMBER_SIZE(type, member) sizeof(((type*)0)->member)

const struct kit_layout kit_layout_c = {
    sizeof(EFI_ZELT_I2C_HAPTIC_PROTOCOL),
    _Alignof(EFI_ZELT_I2C_HAPTIC_PROTOCOL),
    offsetof(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Revision),
    MEMBER_SIZE(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Revision),
    offsetof(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Start),
    MEMBER_SIZE(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Start),
    EFI_ZELT_I2C_HAPTIC_PROTOCOL_REVISION,
    sizeof(EFI_GUID),
};

uint64_t kit_call_start_from_c(const void* protocol, uint64_t* revision) {
  const EFI_ZELT_I2C_HAPTIC_PROTOCOL* haptic = protocol;
  *revision = haptic->Revision;
  return haptic->Start();
}

const uint8_t* kit_guid_bytes_from_c(void) { return (const uint8_t*)&gEfiZeltI2cHapticProtocolGuid; }
