/* The kit's header after another project's UEFI definitions, gnu-efi's
 * <efi.h> (Debian's gnu-efi package), instead of ours: it must need nothing
 * of ours. With GNU_EFI_USE_MS_ABI, gnu-efi's EFIAPI is the UEFI convention
 * on x86-64 hosts too, as the driver's is. */
#include "integration/tests/kit_layout.h"

/* clang-format off */
#include <efi.h>
#include "Protocol/ZeltI2cHaptic.h"
/* clang-format on */

_Static_assert(sizeof(EFI_ZELT_I2C_HAPTIC_PROTOCOL) == 16, "record size");
_Static_assert(offsetof(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Start) == 8, "Start offset");

static const EFI_GUID haptic_guid = EFI_ZELT_I2C_HAPTIC_PROTOCOL_GUID;

const uint8_t* kit_guid_bytes_with_gnu_efi(void) { return (const uint8_t*)&haptic_guid; }

uint64_t kit_call_start_with_gnu_efi(const void* protocol, uint64_t* revision) {
  const EFI_ZELT_I2C_HAPTIC_PROTOCOL* haptic = protocol;
  *revision = haptic->Revision;
  return haptic->Revision == EFI_ZELT_I2C_HAPTIC_PROTOCOL_REVISION ? haptic->Start() : EFI_INCOMPATIBLE_VERSION;
}
