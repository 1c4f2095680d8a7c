/* The kit's headers as C code sees them: C99, -pedantic, every header on
 * its own (each brings the UEFI definitions it needs, MurvaneUefi.h), as
 * the consumer and a platform's bus and pin-control drivers include them. */
#include "tests/kit/kit_layout.h"

#include "Protocol/Korm.h"
#include "Protocol/ZeltI2c.h"
#include "Protocol/ZeltI2cHaptic.h"

EFI_GUID gEfiZeltI2cHapticProtocolGuid = EFI_ZELT_I2C_HAPTIC_PROTOCOL_GUID;
EFI_GUID gEfiZeltI2cProtocolGuid = EFI_ZELT_I2C_PROTOCOL_GUID;
EFI_GUID gEfiKormProtocolGuid = EFI_KORM_PROTOCOL_GUID;

/* The layout the headers promise in their own words. */
MURVANE_UEFI_CHECK(haptic_size, sizeof(EFI_ZELT_I2C_HAPTIC_PROTOCOL) == 16);
MURVANE_UEFI_CHECK(haptic_revision, offsetof(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Revision) == 0);
MURVANE_UEFI_CHECK(haptic_start, offsetof(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Start) == 8);
MURVANE_UEFI_CHECK(i2c_size, sizeof(EFI_ZELT_I2C_PROTOCOL) == 32);
MURVANE_UEFI_CHECK(korm_size, sizeof(EFI_KORM_PROTOCOL) == 40);

#define MEMBER_SIZE(type, member) sizeof(((type*)0)->member)
/* Alignment without C11's _Alignof. */
struct haptic_alignment {
  char c;
  EFI_ZELT_I2C_HAPTIC_PROTOCOL t;
};

const struct kit_layout kit_layout_c = {
    sizeof(EFI_ZELT_I2C_HAPTIC_PROTOCOL),
    offsetof(struct haptic_alignment, t),
    offsetof(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Revision),
    MEMBER_SIZE(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Revision),
    offsetof(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Start),
    MEMBER_SIZE(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Start),
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

uint64_t kit_call_start_from_c(const void* protocol, uint64_t* revision) {
  const EFI_ZELT_I2C_HAPTIC_PROTOCOL* haptic = (const EFI_ZELT_I2C_HAPTIC_PROTOCOL*)protocol;
  *revision = haptic->Revision;
  return haptic->Start();
}

const uint8_t* kit_guid_bytes_from_c(int which) {
  switch (which) {
    case 0:
      return (const uint8_t*)&gEfiZeltI2cHapticProtocolGuid;
    case 1:
      return (const uint8_t*)&gEfiZeltI2cProtocolGuid;
    default:
      return (const uint8_t*)&gEfiKormProtocolGuid;
  }
}

struct kit_platform_calls kit_platform_calls_c;

static UINT32 EFIAPI NoteOpen(UINT32 Instance, UINT64* Handle) {
  kit_platform_calls_c.open_instance = Instance;
  *Handle = 0x1122334455667788u;
  return 0;
}

static void NoteTransfer(UINT64 Handle, CONST UINT32* SlaveConfig, UINT32 Register, UINT32 RegisterLength, UINT8* Data,
                         UINT32 Length, UINT32* Transferred, UINT32 Timeout) {
  kit_platform_calls_c.transfer_handle = Handle;
  kit_platform_calls_c.transfer_config = SlaveConfig;
  kit_platform_calls_c.transfer_register = Register;
  kit_platform_calls_c.transfer_register_length = RegisterLength;
  kit_platform_calls_c.transfer_data = Data;
  kit_platform_calls_c.transfer_length = Length;
  kit_platform_calls_c.transfer_transferred = Transferred;
  kit_platform_calls_c.transfer_timeout = Timeout;
}

static UINT32 EFIAPI NoteRead(UINT64 Handle, CONST UINT32* SlaveConfig, UINT32 Register, UINT32 RegisterLength,
                              UINT8* Data, UINT32 Length, UINT32* Transferred, UINT32 Timeout) {
  NoteTransfer(Handle, SlaveConfig, Register, RegisterLength, Data, Length, Transferred, Timeout);
  ++kit_platform_calls_c.reads;
  *Data = 0x95;
  return 0;
}

static UINT32 EFIAPI NoteWrite(UINT64 Handle, CONST UINT32* SlaveConfig, UINT32 Register, UINT32 RegisterLength,
                               UINT8* Data, UINT32 Length, UINT32* Transferred, UINT32 Timeout) {
  NoteTransfer(Handle, SlaveConfig, Register, RegisterLength, Data, Length, Transferred, Timeout);
  ++kit_platform_calls_c.writes;
  return 7;
}

static EFI_STATUS EFIAPI NoteConfigure(UINT32 ConfigWord, UINT32 Value) {
  kit_platform_calls_c.pin_word = ConfigWord;
  kit_platform_calls_c.pin_value = Value;
  ++kit_platform_calls_c.pin_configures;
  return EFI_SUCCESS;
}

static EFI_STATUS EFIAPI NoteSetOutput(UINT32 ConfigWord, UINT32 Level) {
  kit_platform_calls_c.pin_word = ConfigWord;
  kit_platform_calls_c.pin_value = Level;
  ++kit_platform_calls_c.pin_outputs;
  return EFI_DEVICE_ERROR;
}

static EFI_ZELT_I2C_PROTOCOL NotingI2c = {NULL, NoteOpen, NoteRead, NoteWrite};
static EFI_KORM_PROTOCOL NotingKorm = {NULL, NoteConfigure, NULL, NULL, NoteSetOutput};

const void* kit_i2c_protocol_from_c(void) { return &NotingI2c; }
const void* kit_korm_protocol_from_c(void) { return &NotingKorm; }
