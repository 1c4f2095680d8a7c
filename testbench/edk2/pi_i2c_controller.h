// What an I2C controller driver publishes for EDK2's generic I2C host and
// bus drivers (I2cDxe), beside EFI_I2C_MASTER_PROTOCOL (bridge/pi_i2c.h):
// the devices on its bus (EFI_I2C_ENUMERATE_PROTOCOL) and the switching of
// bus configurations (EFI_I2C_BUS_CONFIGURATION_MANAGEMENT_PROTOCOL). Written
// from the PI standard's I2C volume: member order, argument order, values.
// Test images only.
#pragma once

#include "bridge/pi_i2c.h"
#include "platform/efi.h"

namespace pi {

struct EFI_I2C_DEVICE {
  const EFI_GUID* DeviceGuid;
  UINT32 DeviceIndex;
  UINT32 HardwareRevision;
  UINT32 I2cBusConfiguration;
  UINT32 SlaveAddressCount;
  const UINT32* SlaveAddressArray;
};
#if __SIZEOF_POINTER__ == 8
static_assert(offsetof(EFI_I2C_DEVICE, SlaveAddressArray) == 24);
#endif

struct EFI_I2C_ENUMERATE_PROTOCOL;
struct EFI_I2C_ENUMERATE_PROTOCOL {
  // *device null: the first device; a device: the one after it;
  // EFI_NO_MAPPING after the last.
  EFI_STATUS(EFIAPI* Enumerate)(const EFI_I2C_ENUMERATE_PROTOCOL* self, const EFI_I2C_DEVICE** device);
  EFI_STATUS(EFIAPI* GetBusFrequency)
  (const EFI_I2C_ENUMERATE_PROTOCOL* self, UINTN bus_configuration, UINTN* bus_clock_hertz);
};

struct EFI_I2C_BUS_CONFIGURATION_MANAGEMENT_PROTOCOL;
struct EFI_I2C_BUS_CONFIGURATION_MANAGEMENT_PROTOCOL {
  EFI_STATUS(EFIAPI* EnableI2cBusConfiguration)
  (const EFI_I2C_BUS_CONFIGURATION_MANAGEMENT_PROTOCOL* self, UINTN bus_configuration, EFI_EVENT event,
   EFI_STATUS* i2c_status);
};

inline constexpr EFI_STATUS EFI_NO_MAPPING = efi_error_code(17);

using signal_event_fn = EFI_STATUS(EFIAPI*)(EFI_EVENT event);

// {DA8CD7C4-1C00-49E2-803E-5214E701894C}
inline constexpr EFI_GUID EFI_I2C_ENUMERATE_PROTOCOL_GUID = {
    0xDA8CD7C4, 0x1C00, 0x49E2, {0x80, 0x3E, 0x52, 0x14, 0xE7, 0x01, 0x89, 0x4C}};
// {55B71FB5-17C6-410E-B5BD-5FA2E3D4466B}
inline constexpr EFI_GUID EFI_I2C_BUS_CONFIGURATION_MANAGEMENT_PROTOCOL_GUID = {
    0x55B71FB5, 0x17C6, 0x410E, {0xB5, 0xBD, 0x5F, 0xA2, 0xE3, 0xD4, 0x46, 0x6B}};

}  // namespace pi
