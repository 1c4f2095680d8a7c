// The standard I2C and GPIO protocols of EDK2 boards, as the bridge and the
// fake board use them: EFI_I2C_MASTER_PROTOCOL and EFI_I2C_IO_PROTOCOL (the PI
// standard's I2C volume) and EDK2's EMBEDDED_GPIO.
// Written from the documented layouts: member order, argument order and
// values; the offsets are checked below for 64-bit targets.
#pragma once

#include "platform/efi.h"

namespace pi {

// Task priority levels.
inline constexpr EFI_TPL TPL_APPLICATION = 4;
inline constexpr EFI_TPL TPL_CALLBACK = 8;
inline constexpr EFI_TPL TPL_NOTIFY = 16;
inline constexpr EFI_TPL TPL_HIGH_LEVEL = 31;

inline constexpr EFI_STATUS EFI_NO_RESPONSE = efi_error_code(16);

// Typed views of boot-service slots that platform/efi.h keeps generic.
using raise_tpl_fn = EFI_TPL(EFIAPI*)(EFI_TPL new_tpl);
using restore_tpl_fn = void(EFIAPI*)(EFI_TPL old_tpl);
using locate_handle_fn = EFI_STATUS(EFIAPI*)(EFI_LOCATE_SEARCH_TYPE search, const EFI_GUID* protocol, void* key,
                                             UINTN* buffer_size, EFI_HANDLE* buffer);

// One operation of a request: bit 0 of Flags set = read, clear = write.
inline constexpr UINT32 I2C_FLAG_READ = 0x00000001;
// A 10-bit slave address carries this bit; bits 10..30 are reserved.
inline constexpr UINTN I2C_ADDRESSING_10_BIT = 0x80000000;

struct EFI_I2C_OPERATION {
  UINT32 Flags;
  UINT32 LengthInBytes;
  UINT8* Buffer;
};
#if __SIZEOF_POINTER__ == 8  // the firmware's 64-bit layout (platform/efi.h)
static_assert(sizeof(EFI_I2C_OPERATION) == 16);
#endif

// A request packet: one transaction, its operations separated by repeated
// STARTs and ended by one STOP. The declared form holds one operation; a
// packet of N operations is the same head followed by N of them.
template <UINTN N>
struct i2c_request {
  UINTN OperationCount;
  EFI_I2C_OPERATION Operation[N];
};
using EFI_I2C_REQUEST_PACKET = i2c_request<1>;
#if __SIZEOF_POINTER__ == 8
static_assert(offsetof(EFI_I2C_REQUEST_PACKET, Operation) == 8);
static_assert(offsetof(i2c_request<2>, Operation[1]) == 24);
#endif

struct EFI_I2C_CONTROLLER_CAPABILITIES {
  UINT32 StructureSizeInBytes;
  UINT32 MaximumReceiveBytes;
  UINT32 MaximumTransmitBytes;
  UINT32 MaximumTotalBytes;
};

struct EFI_I2C_MASTER_PROTOCOL;
struct EFI_I2C_MASTER_PROTOCOL {
  EFI_STATUS(EFIAPI* SetBusFrequency)(const EFI_I2C_MASTER_PROTOCOL* self, UINTN* bus_clock_hertz);
  EFI_STATUS(EFIAPI* Reset)(const EFI_I2C_MASTER_PROTOCOL* self);
  EFI_STATUS(EFIAPI* StartRequest)
  (const EFI_I2C_MASTER_PROTOCOL* self, UINTN slave_address, EFI_I2C_REQUEST_PACKET* packet, EFI_EVENT event,
   EFI_STATUS* i2c_status);
  const EFI_I2C_CONTROLLER_CAPABILITIES* I2cControllerCapabilities;
};
#if __SIZEOF_POINTER__ == 8
static_assert(offsetof(EFI_I2C_MASTER_PROTOCOL, StartRequest) == 16);
static_assert(offsetof(EFI_I2C_MASTER_PROTOCOL, I2cControllerCapabilities) == 24);
#endif

struct EFI_I2C_IO_PROTOCOL;
struct EFI_I2C_IO_PROTOCOL {
  // Note the order: the event comes before the packet, unlike StartRequest.
  EFI_STATUS(EFIAPI* QueueRequest)
  (const EFI_I2C_IO_PROTOCOL* self, UINTN slave_address_index, EFI_EVENT event, EFI_I2C_REQUEST_PACKET* packet,
   EFI_STATUS* i2c_status);
  const EFI_GUID* DeviceGuid;
  UINT32 DeviceIndex;
  UINT32 HardwareRevision;
  const EFI_I2C_CONTROLLER_CAPABILITIES* I2cControllerCapabilities;
};
#if __SIZEOF_POINTER__ == 8
static_assert(offsetof(EFI_I2C_IO_PROTOCOL, DeviceGuid) == 8);
static_assert(offsetof(EFI_I2C_IO_PROTOCOL, DeviceIndex) == 16);
static_assert(offsetof(EFI_I2C_IO_PROTOCOL, I2cControllerCapabilities) == 24);
#endif

// EMBEDDED_GPIO: a pin is (port << 16) | pin; modes are a 32-bit enum.
using EMBEDDED_GPIO_PIN = UINTN;
using EMBEDDED_GPIO_MODE = UINT32;
using EMBEDDED_GPIO_PULL = UINT32;
inline constexpr EMBEDDED_GPIO_MODE GPIO_MODE_INPUT = 0x00;
inline constexpr EMBEDDED_GPIO_MODE GPIO_MODE_OUTPUT_0 = 0x0E;
inline constexpr EMBEDDED_GPIO_MODE GPIO_MODE_OUTPUT_1 = 0x0F;

struct EMBEDDED_GPIO;
struct EMBEDDED_GPIO {
  EFI_STATUS(EFIAPI* Get)(EMBEDDED_GPIO* self, EMBEDDED_GPIO_PIN gpio, UINTN* value);
  EFI_STATUS(EFIAPI* Set)(EMBEDDED_GPIO* self, EMBEDDED_GPIO_PIN gpio, EMBEDDED_GPIO_MODE mode);
  EFI_STATUS(EFIAPI* GetMode)(EMBEDDED_GPIO* self, EMBEDDED_GPIO_PIN gpio, EMBEDDED_GPIO_MODE* mode);
  EFI_STATUS(EFIAPI* SetPull)(EMBEDDED_GPIO* self, EMBEDDED_GPIO_PIN gpio, EMBEDDED_GPIO_PULL direction);
};
#if __SIZEOF_POINTER__ == 8
static_assert(offsetof(EMBEDDED_GPIO, Set) == 8);
static_assert(offsetof(EMBEDDED_GPIO, SetPull) == 24);
#endif

// {CD72881F-45B5-4FEB-98C8-313DA8117462}
inline constexpr EFI_GUID EFI_I2C_MASTER_PROTOCOL_GUID = {
    0xCD72881F, 0x45B5, 0x4FEB, {0x98, 0xC8, 0x31, 0x3D, 0xA8, 0x11, 0x74, 0x62}};
// {B60A3E6B-18C4-46E5-A29A-C9A10665A28E}
inline constexpr EFI_GUID EFI_I2C_IO_PROTOCOL_GUID = {
    0xB60A3E6B, 0x18C4, 0x46E5, {0xA2, 0x9A, 0xC9, 0xA1, 0x06, 0x65, 0xA2, 0x8E}};
// {A5AAB9E3-C727-48CD-8BBF-427233854948}: EDK2's generic I2C host driver
// installs it on the controller handle whose master it drives.
inline constexpr EFI_GUID EFI_I2C_HOST_PROTOCOL_GUID = {
    0xA5AAB9E3, 0xC727, 0x48CD, {0x8B, 0xBF, 0x42, 0x72, 0x33, 0x85, 0x49, 0x48}};
// {17A0A3D7-C0A5-4635-BBD5-072187DFE2EE}
inline constexpr EFI_GUID EMBEDDED_GPIO_PROTOCOL_GUID = {
    0x17A0A3D7, 0xC0A5, 0x4635, {0xBB, 0xD5, 0x07, 0x21, 0x87, 0xDF, 0xE2, 0xEE}};

}  // namespace pi
