// The kit's header as C++ code sees it, after the same C UEFI definitions:
// a C++ consumer (or a C++ driver of the integrator's) gets the same record.
#include <type_traits>

#include "integration/tests/kit_layout.h"

/* The kit header after the base definitions it needs, in this order. */
/* clang-format off */
#include "firmware/consumer/uefi_c.h"
#include "Protocol/ZeltI2cHaptic.h"
/* clang-format on */

static_assert(sizeof(EFI_ZELT_I2C_HAPTIC_PROTOCOL) == 16);
static_assert(offsetof(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Revision) == 0);
static_assert(offsetof(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Start) == 8);
static_assert(std::is_standard_layout_v<EFI_ZELT_I2C_HAPTIC_PROTOCOL>);
// Start takes nothing and returns an EFI_STATUS, in the UEFI convention.
static_assert(std::is_same_v<EFI_ZELT_I2C_HAPTIC_START, EFI_STATUS(EFIAPI*)()>);

namespace {

constexpr EFI_GUID haptic_guid = EFI_ZELT_I2C_HAPTIC_PROTOCOL_GUID;

}  // namespace

extern "C" {

const struct kit_layout kit_layout_cxx = {
    sizeof(EFI_ZELT_I2C_HAPTIC_PROTOCOL),
    alignof(EFI_ZELT_I2C_HAPTIC_PROTOCOL),
    offsetof(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Revision),
    sizeof(EFI_ZELT_I2C_HAPTIC_PROTOCOL::Revision),
    offsetof(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Start),
    sizeof(EFI_ZELT_I2C_HAPTIC_PROTOCOL::Start),
    EFI_ZELT_I2C_HAPTIC_PROTOCOL_REVISION,
    sizeof(EFI_GUID),
};

const uint8_t* kit_guid_bytes_from_cxx(void) { return reinterpret_cast<const uint8_t*>(&haptic_guid); }
}
