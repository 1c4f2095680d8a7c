// UEFI definitions only the test images need (loading images from the boot
// volume and reading a file), from the public UEFI layouts.
#pragma once

#include "platform/efi.h"

namespace fwefi {

struct EFI_DEVICE_PATH {
  UINT8 Type;
  UINT8 SubType;
  UINT8 Length[2];
};
static_assert(sizeof(EFI_DEVICE_PATH) == 4);

inline constexpr UINT8 END_DEVICE_PATH_TYPE = 0x7F;
inline constexpr UINT8 END_ENTIRE_DEVICE_PATH_SUBTYPE = 0xFF;
inline constexpr UINT8 MEDIA_DEVICE_PATH = 0x04;
inline constexpr UINT8 MEDIA_FILEPATH_DP = 0x04;

struct EFI_LOADED_IMAGE_PROTOCOL {
  UINT32 Revision;
  EFI_HANDLE ParentHandle;
  EFI_SYSTEM_TABLE* SystemTable;
  EFI_HANDLE DeviceHandle;
  EFI_DEVICE_PATH* FilePath;
  void* Reserved;
  UINT32 LoadOptionsSize;
  void* LoadOptions;
  void* ImageBase;
  UINT64 ImageSize;
  EFI_MEMORY_TYPE ImageCodeType;
  EFI_MEMORY_TYPE ImageDataType;
  EFI_GENERIC_FN Unload;
};
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, DeviceHandle) == 24);
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, ImageBase) == 64);

struct EFI_FILE_PROTOCOL;
struct EFI_FILE_PROTOCOL {
  UINT64 Revision;
  EFI_STATUS(EFIAPI* Open)
  (EFI_FILE_PROTOCOL* self, EFI_FILE_PROTOCOL** out, const CHAR16* name, UINT64 mode, UINT64 attributes);
  EFI_STATUS(EFIAPI* Close)(EFI_FILE_PROTOCOL* self);
  EFI_GENERIC_FN Delete;
  EFI_STATUS(EFIAPI* Read)(EFI_FILE_PROTOCOL* self, UINTN* size, void* buffer);
  EFI_GENERIC_FN Write;
  EFI_STATUS(EFIAPI* GetPosition)(EFI_FILE_PROTOCOL* self, UINT64* position);
  EFI_STATUS(EFIAPI* SetPosition)(EFI_FILE_PROTOCOL* self, UINT64 position);
};
static_assert(offsetof(EFI_FILE_PROTOCOL, Open) == 8);
static_assert(offsetof(EFI_FILE_PROTOCOL, Close) == 16);
static_assert(offsetof(EFI_FILE_PROTOCOL, Read) == 32);

struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL;
struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL {
  UINT64 Revision;
  EFI_STATUS(EFIAPI* OpenVolume)(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL* self, EFI_FILE_PROTOCOL** root);
};
static_assert(offsetof(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL, OpenVolume) == 8);

inline constexpr UINT64 EFI_FILE_MODE_READ = 1;

inline constexpr EFI_GUID EFI_LOADED_IMAGE_PROTOCOL_GUID = {
    0x5B1B31A1, 0x9562, 0x11D2, {0x8E, 0x3F, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
inline constexpr EFI_GUID EFI_DEVICE_PATH_PROTOCOL_GUID = {
    0x09576E91, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
inline constexpr EFI_GUID EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID = {
    0x964E5B22, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

}  // namespace fwefi
