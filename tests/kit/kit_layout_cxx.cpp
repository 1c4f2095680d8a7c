// The kit's headers as C++ code sees them, each on its own as in C: a C++
// consumer (or a C++ driver of the integrator's) gets the same records.
#include <type_traits>

#include "tests/kit/kit_layout.h"

/* clang-format off */
#include "Protocol/ZeltI2cHaptic.h"
#include "Protocol/ZeltI2c.h"
#include "Protocol/Korm.h"
/* clang-format on */

static_assert(sizeof(EFI_ZELT_I2C_HAPTIC_PROTOCOL) == 16);
static_assert(offsetof(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Revision) == 0);
static_assert(offsetof(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Start) == 8);
static_assert(std::is_standard_layout_v<EFI_ZELT_I2C_HAPTIC_PROTOCOL>);
static_assert(std::is_standard_layout_v<EFI_ZELT_I2C_PROTOCOL>);
static_assert(std::is_standard_layout_v<EFI_KORM_PROTOCOL>);
// Every entry in the UEFI convention, with the driver's argument types.
static_assert(std::is_same_v<EFI_ZELT_I2C_HAPTIC_START, EFI_STATUS(EFIAPI*)()>);
static_assert(std::is_same_v<EFI_ZELT_I2C_OPEN, UINT32(EFIAPI*)(UINT32, UINT64*)>);
static_assert(std::is_same_v<EFI_ZELT_I2C_TRANSFER,
                             UINT32(EFIAPI*)(UINT64, const UINT32*, UINT32, UINT32, UINT8*, UINT32, UINT32*, UINT32)>);
static_assert(std::is_same_v<EFI_KORM_CONFIGURE, EFI_STATUS(EFIAPI*)(UINT32, UINT32)>);
static_assert(std::is_same_v<EFI_KORM_SET_OUTPUT, EFI_STATUS(EFIAPI*)(UINT32, UINT32)>);

namespace {

constexpr EFI_GUID guids[] = {EFI_ZELT_I2C_HAPTIC_PROTOCOL_GUID, EFI_ZELT_I2C_PROTOCOL_GUID, EFI_KORM_PROTOCOL_GUID};

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
    sizeof(EFI_ZELT_I2C_PROTOCOL),
    offsetof(EFI_ZELT_I2C_PROTOCOL, Open),
    offsetof(EFI_ZELT_I2C_PROTOCOL, Read),
    offsetof(EFI_ZELT_I2C_PROTOCOL, Write),
    EFI_ZELT_I2C_SLAVE_CONFIG_WORDS,
    sizeof(EFI_KORM_PROTOCOL),
    offsetof(EFI_KORM_PROTOCOL, Configure),
    offsetof(EFI_KORM_PROTOCOL, SetOutput),
};

const uint8_t* kit_guid_bytes_from_cxx(int which) {
  return reinterpret_cast<const uint8_t*>(&guids[which < 0 || which > 2 ? 2 : which]);
}
}
