// The two platform protocols the driver reaches, as the driver uses them.
// Neither table receives an interface pointer: the platform's entries are
// plain functions in a table of pointer-sized slots (64-bit in the firmware).
#pragma once

#include "platform/efi.h"

// EFI_ZELT_I2C_PROTOCOL: the platform's I2C bus.
using ZELT_I2C_OPEN = UINT32(EFIAPI*)(UINT32 instance, UINT64* handle);
using ZELT_I2C_XFER = UINT32(EFIAPI*)(UINT64 handle, const UINT32* slave_config, UINT32 reg, UINT32 reg_len,
                                      UINT8* data, UINT32 len, UINT32* transferred, UINT32 timeout);

struct EFI_ZELT_I2C_PROTOCOL {
  void* Reserved0;  // entry 0: not used by the driver
  ZELT_I2C_OPEN Open;
  ZELT_I2C_XFER Read;
  ZELT_I2C_XFER Write;
};
#if __SIZEOF_POINTER__ == 8  // the firmware's ABI (platform/efi.h)
static_assert(offsetof(EFI_ZELT_I2C_PROTOCOL, Open) == 8);
static_assert(offsetof(EFI_ZELT_I2C_PROTOCOL, Read) == 16);
static_assert(offsetof(EFI_ZELT_I2C_PROTOCOL, Write) == 24);
#endif

inline constexpr EFI_GUID EFI_ZELT_I2C_PROTOCOL_GUID = {
    0x2D95E7B4, 0x6A13, 0x4C08, {0xB7, 0xF2, 0xE4, 0xA1, 0x90, 0x3C, 0x5D, 0x86}};

// EFI_KORM_PROTOCOL: the platform's pin control.
using KORM_CONFIGURE = EFI_STATUS(EFIAPI*)(UINT32 config_word, UINT32 value);
using KORM_SET_OUTPUT = EFI_STATUS(EFIAPI*)(UINT32 config_word, UINT32 level);

struct EFI_KORM_PROTOCOL {
  void* Reserved0;  // entry 0
  KORM_CONFIGURE Configure;
  void* Reserved2;  // entry 2
  void* Reserved3;  // entry 3
  KORM_SET_OUTPUT SetOutput;
};
#if __SIZEOF_POINTER__ == 8
static_assert(offsetof(EFI_KORM_PROTOCOL, Configure) == 8);
static_assert(offsetof(EFI_KORM_PROTOCOL, SetOutput) == 32);
#endif

inline constexpr EFI_GUID EFI_KORM_PROTOCOL_GUID = {
    0xC47E1A05, 0x3B92, 0x4F6D, {0xA1, 0xE8, 0x5D, 0x20, 0xB7, 0xC9, 0xF3, 0x64}};

// EFI_ZELT_I2C_HAPTIC_PROTOCOL: what this driver publishes.
using HAPTIC_START = EFI_STATUS(EFIAPI*)();

struct EFI_ZELT_I2C_HAPTIC_PROTOCOL {
  UINT64 Revision;
  HAPTIC_START Start;
};
#if __SIZEOF_POINTER__ == 8
static_assert(offsetof(EFI_ZELT_I2C_HAPTIC_PROTOCOL, Start) == 8);
#endif

inline constexpr EFI_GUID EFI_ZELT_I2C_HAPTIC_PROTOCOL_GUID = {
    0x6B0F3C2E, 0x91D4, 0x4A57, {0x8E, 0x6B, 0x2F, 0x19, 0xC0, 0x4D, 0x7A, 0x31}};
inline constexpr UINT64 EFI_ZELT_I2C_HAPTIC_PROTOCOL_REVISION = 0x00010005;

// Configuration-table entry under which images share the stack-guard value.
inline constexpr EFI_GUID MURVANE_STACK_GUARD_GUID = {
    0x8E2A4F71, 0xD05C, 0x4B39, {0x9C, 0x16, 0x7B, 0x3E, 0x2A, 0x0F, 0x8D, 0x45}};
