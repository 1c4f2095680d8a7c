/* The kit's headers after another project's UEFI definitions, gnu-efi's
 * <efi.h> (Debian's gnu-efi package), as after EDK2's <Uefi.h>: they must
 * take the definitions already there and add none of their own. With
 * GNU_EFI_USE_MS_ABI, gnu-efi's EFIAPI is the UEFI convention on x86-64
 * hosts too, as the driver's is. */
#include "tests/kit/kit_layout.h"

/* clang-format off */
#include <efi.h>
#include "Protocol/ZeltI2cHaptic.h"
#include "Protocol/ZeltI2c.h"
#include "Protocol/Korm.h"
/* clang-format on */

typedef char check_haptic_size[sizeof(EFI_ZELT_I2C_HAPTIC_PROTOCOL) == 16 ? 1 : -1];
typedef char check_start_offset[offsetof(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Start) == 8 ? 1 : -1];
typedef char check_i2c_write_offset[offsetof(EFI_ZELT_I2C_PROTOCOL, Write) == 24 ? 1 : -1];
typedef char check_korm_set_output_offset[offsetof(EFI_KORM_PROTOCOL, SetOutput) == 32 ? 1 : -1];

static const EFI_GUID guids[] = {EFI_ZELT_I2C_HAPTIC_PROTOCOL_GUID, EFI_ZELT_I2C_PROTOCOL_GUID, EFI_KORM_PROTOCOL_GUID};

const uint8_t* kit_guid_bytes_with_gnu_efi(int which) {
  return (const uint8_t*)&guids[which < 0 || which > 2 ? 2 : which];
}

uint64_t kit_call_start_with_gnu_efi(const void* protocol, uint64_t* revision) {
  const EFI_ZELT_I2C_HAPTIC_PROTOCOL* haptic = protocol;
  *revision = haptic->Revision;
  return haptic->Revision == EFI_ZELT_I2C_HAPTIC_PROTOCOL_REVISION ? haptic->Start() : EFI_INCOMPATIBLE_VERSION;
}
