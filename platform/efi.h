// Minimal UEFI definitions, written from the public UEFI layouts.
// Only what the driver, the virtual platform and the firmware test images use;
// every table keeps its real member order so the slots we call sit at the
// offsets real firmware expects (checked below for 64-bit targets: the
// firmware the driver ships for).
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(__x86_64__)
#define EFIAPI __attribute__((ms_abi))
#else
#define EFIAPI
#endif

using UINT8 = uint8_t;
using UINT16 = uint16_t;
using UINT32 = uint32_t;
using UINT64 = uint64_t;
using INT32 = int32_t;
// uintptr_t, not the compiler's __UINTPTR_TYPE__: on 32-bit Arm the kernel's
// uAPI headers (asm/types.h) redefine that macro to unsigned long, which
// would make UINTN a different type in a file that includes them.
using UINTN = uintptr_t;
using CHAR16 = uint16_t;
using BOOLEAN = uint8_t;
using EFI_STATUS = UINTN;
using EFI_HANDLE = void*;
using EFI_EVENT = void*;
using EFI_TPL = UINTN;
using EFI_PHYSICAL_ADDRESS = uint64_t;

// UINTN is pointer-sized, as in UEFI: 8 bytes in Murvane.efi and in a 64-bit
// host process, 4 bytes where the driver's bring-up runs in a 32-bit Linux
// process (murvane-board and murvane-sim on an armhf board). There the
// driver calls only the process's own tables (the virtual platform, the
// board's backend), never a firmware's, so their layout is the process's
// own; the firmware layout checks below hold wherever a firmware image is
// built. A status keeps its error flag in UINTN's top bit either way.
static_assert(sizeof(UINTN) == sizeof(void*), "UINTN is the native pointer width");

constexpr EFI_STATUS EFI_ERROR_BIT = static_cast<EFI_STATUS>(1) << (sizeof(UINTN) * 8 - 1);
constexpr EFI_STATUS efi_error_code(UINTN code) { return EFI_ERROR_BIT | code; }
constexpr bool EFI_ERROR(EFI_STATUS s) { return (s & EFI_ERROR_BIT) != 0; }

// A status as 64-bit firmware gives it (the error flag in bit 63), and back:
// what the host tools print and record, so a 32-bit process's trace reads
// as the firmware's.
constexpr uint64_t efi_status_wide(EFI_STATUS s) {
  if constexpr (sizeof(EFI_STATUS) == sizeof(uint64_t)) {
    return s;
  } else {
    return EFI_ERROR(s) ? (uint64_t{1} << 63) | (s & ~EFI_ERROR_BIT) : uint64_t{s};
  }
}
constexpr EFI_STATUS efi_status_narrow(uint64_t wide) {
  const bool error = (wide >> 63) != 0;
  return static_cast<EFI_STATUS>(wide & ~(uint64_t{1} << 63)) | (error ? EFI_ERROR_BIT : 0);
}

constexpr EFI_STATUS EFI_SUCCESS = 0;
constexpr EFI_STATUS EFI_LOAD_ERROR = efi_error_code(1);
constexpr EFI_STATUS EFI_INVALID_PARAMETER = efi_error_code(2);
constexpr EFI_STATUS EFI_UNSUPPORTED = efi_error_code(3);
constexpr EFI_STATUS EFI_BAD_BUFFER_SIZE = efi_error_code(4);
constexpr EFI_STATUS EFI_BUFFER_TOO_SMALL = efi_error_code(5);
constexpr EFI_STATUS EFI_NOT_READY = efi_error_code(6);
constexpr EFI_STATUS EFI_DEVICE_ERROR = efi_error_code(7);
constexpr EFI_STATUS EFI_WRITE_PROTECTED = efi_error_code(8);
constexpr EFI_STATUS EFI_OUT_OF_RESOURCES = efi_error_code(9);
constexpr EFI_STATUS EFI_NOT_FOUND = efi_error_code(14);
constexpr EFI_STATUS EFI_ACCESS_DENIED = efi_error_code(15);
constexpr EFI_STATUS EFI_TIMEOUT = efi_error_code(18);
constexpr EFI_STATUS EFI_ABORTED = efi_error_code(21);
constexpr EFI_STATUS EFI_SECURITY_VIOLATION = efi_error_code(26);

struct EFI_GUID {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  UINT8 Data4[8];
};

// Compared as two 64-bit words: the same bytes, and the fewest instructions.
struct efi_guid_words {
  uint64_t low;
  uint64_t high;
};
static_assert(sizeof(EFI_GUID) == sizeof(efi_guid_words));

constexpr bool guid_equal(const EFI_GUID& a, const EFI_GUID& b) {
  const auto x = __builtin_bit_cast(efi_guid_words, a);
  const auto y = __builtin_bit_cast(efi_guid_words, b);
  return x.low == y.low && x.high == y.high;
}

struct EFI_TABLE_HEADER {
  UINT64 Signature;
  UINT32 Revision;
  UINT32 HeaderSize;
  UINT32 CRC32;
  UINT32 Reserved;
};

constexpr UINT64 EFI_SYSTEM_TABLE_SIGNATURE = 0x5453595320494249ULL;   // "IBI SYST"
constexpr UINT64 EFI_BOOT_SERVICES_SIGNATURE = 0x56524553544f4f42ULL;  // "BOOTSERV"

enum EFI_INTERFACE_TYPE : UINT32 { EFI_NATIVE_INTERFACE = 0 };
enum EFI_LOCATE_SEARCH_TYPE : UINT32 { AllHandles = 0, ByRegisterNotify = 1, ByProtocol = 2 };
enum EFI_RESET_TYPE : UINT32 { EfiResetCold = 0, EfiResetWarm = 1, EfiResetShutdown = 2 };
enum EFI_MEMORY_TYPE : UINT32 { EfiLoaderData = 2, EfiBootServicesData = 4 };

struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL;
using EFI_TEXT_STRING = EFI_STATUS(EFIAPI*)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* self, const CHAR16* text);
using EFI_GENERIC_FN = EFI_STATUS(EFIAPI*)();

struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL {
  EFI_GENERIC_FN Reset;
  EFI_TEXT_STRING OutputString;
  EFI_GENERIC_FN TestString;
  EFI_GENERIC_FN QueryMode;
  EFI_GENERIC_FN SetMode;
  EFI_GENERIC_FN SetAttribute;
  EFI_GENERIC_FN ClearScreen;
  EFI_GENERIC_FN SetCursorPosition;
  EFI_GENERIC_FN EnableCursor;
  void* Mode;
};

struct EFI_DEVICE_PATH_PROTOCOL;

// Boot services, every slot in its UEFI order. Slots the driver never calls
// keep a generic pointer type: only their position matters.
struct EFI_BOOT_SERVICES {
  EFI_TABLE_HEADER Hdr;
  EFI_GENERIC_FN RaiseTPL;
  EFI_GENERIC_FN RestoreTPL;
  EFI_GENERIC_FN AllocatePages;
  EFI_GENERIC_FN FreePages;
  EFI_GENERIC_FN GetMemoryMap;
  EFI_STATUS(EFIAPI* AllocatePool)(EFI_MEMORY_TYPE type, UINTN size, void** buffer);
  EFI_STATUS(EFIAPI* FreePool)(void* buffer);
  EFI_GENERIC_FN CreateEvent;
  EFI_GENERIC_FN SetTimer;
  EFI_GENERIC_FN WaitForEvent;
  EFI_GENERIC_FN SignalEvent;
  EFI_GENERIC_FN CloseEvent;
  EFI_GENERIC_FN CheckEvent;
  EFI_STATUS(EFIAPI* InstallProtocolInterface)
  (EFI_HANDLE* handle, const EFI_GUID* protocol, EFI_INTERFACE_TYPE type, void* iface);
  EFI_GENERIC_FN ReinstallProtocolInterface;
  EFI_GENERIC_FN UninstallProtocolInterface;
  EFI_STATUS(EFIAPI* HandleProtocol)(EFI_HANDLE handle, const EFI_GUID* protocol, void** iface);
  void* Reserved;
  EFI_GENERIC_FN RegisterProtocolNotify;
  EFI_GENERIC_FN LocateHandle;
  EFI_GENERIC_FN LocateDevicePath;
  EFI_STATUS(EFIAPI* InstallConfigurationTable)(const EFI_GUID* guid, void* table);
  EFI_STATUS(EFIAPI* LoadImage)
  (BOOLEAN boot_policy, EFI_HANDLE parent, EFI_DEVICE_PATH_PROTOCOL* path, void* source, UINTN size, EFI_HANDLE* image);
  EFI_STATUS(EFIAPI* StartImage)(EFI_HANDLE image, UINTN* exit_size, CHAR16** exit_data);
  EFI_GENERIC_FN Exit;
  EFI_GENERIC_FN UnloadImage;
  EFI_GENERIC_FN ExitBootServices;
  EFI_GENERIC_FN GetNextMonotonicCount;
  EFI_STATUS(EFIAPI* Stall)(UINTN microseconds);
  EFI_STATUS(EFIAPI* SetWatchdogTimer)(UINTN timeout, UINT64 code, UINTN data_size, CHAR16* data);
  EFI_GENERIC_FN ConnectController;
  EFI_GENERIC_FN DisconnectController;
  EFI_GENERIC_FN OpenProtocol;
  EFI_GENERIC_FN CloseProtocol;
  EFI_GENERIC_FN OpenProtocolInformation;
  EFI_GENERIC_FN ProtocolsPerHandle;
  EFI_GENERIC_FN LocateHandleBuffer;
  EFI_STATUS(EFIAPI* LocateProtocol)(const EFI_GUID* protocol, void* registration, void** iface);
  EFI_GENERIC_FN InstallMultipleProtocolInterfaces;
  EFI_GENERIC_FN UninstallMultipleProtocolInterfaces;
  EFI_GENERIC_FN CalculateCrc32;
  EFI_GENERIC_FN CopyMem;
  EFI_GENERIC_FN SetMem;
  EFI_GENERIC_FN CreateEventEx;
};

struct EFI_RUNTIME_SERVICES {
  EFI_TABLE_HEADER Hdr;
  EFI_GENERIC_FN GetTime;
  EFI_GENERIC_FN SetTime;
  EFI_GENERIC_FN GetWakeupTime;
  EFI_GENERIC_FN SetWakeupTime;
  EFI_GENERIC_FN SetVirtualAddressMap;
  EFI_GENERIC_FN ConvertPointer;
  EFI_GENERIC_FN GetVariable;
  EFI_GENERIC_FN GetNextVariableName;
  EFI_GENERIC_FN SetVariable;
  EFI_GENERIC_FN GetNextHighMonotonicCount;
  void(EFIAPI* ResetSystem)(EFI_RESET_TYPE type, EFI_STATUS status, UINTN data_size, void* data);
};

struct EFI_CONFIGURATION_TABLE {
  EFI_GUID VendorGuid;
  void* VendorTable;
};

struct EFI_SYSTEM_TABLE {
  EFI_TABLE_HEADER Hdr;
  CHAR16* FirmwareVendor;
  UINT32 FirmwareRevision;
  EFI_HANDLE ConsoleInHandle;
  void* ConIn;
  EFI_HANDLE ConsoleOutHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* ConOut;
  EFI_HANDLE StandardErrorHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* StdErr;
  EFI_RUNTIME_SERVICES* RuntimeServices;
  EFI_BOOT_SERVICES* BootServices;
  UINTN NumberOfTableEntries;
  EFI_CONFIGURATION_TABLE* ConfigurationTable;
};

// EFI_RNG_PROTOCOL {3152BCA5-EADE-433D-862E-C01CDC291F44}
struct EFI_RNG_PROTOCOL;
using EFI_RNG_ALGORITHM = EFI_GUID;
struct EFI_RNG_PROTOCOL {
  EFI_STATUS(EFIAPI* GetInfo)(EFI_RNG_PROTOCOL* self, UINTN* list_size, EFI_RNG_ALGORITHM* list);
  EFI_STATUS(EFIAPI* GetRNG)(EFI_RNG_PROTOCOL* self, EFI_RNG_ALGORITHM* algorithm, UINTN length, UINT8* value);
};
inline constexpr EFI_GUID EFI_RNG_PROTOCOL_GUID = {
    0x3152BCA5, 0xEADE, 0x433D, {0x86, 0x2E, 0xC0, 0x1C, 0xDC, 0x29, 0x1F, 0x44}};

// Layout checks for the members we use, on 64-bit targets (the firmware's
// ABI; Murvane.efi is built only for it).
#if __SIZEOF_POINTER__ == 8
static_assert(sizeof(EFI_TABLE_HEADER) == 24);
static_assert(offsetof(EFI_SYSTEM_TABLE, ConOut) == 64);
static_assert(offsetof(EFI_SYSTEM_TABLE, StdErr) == 80);
static_assert(offsetof(EFI_SYSTEM_TABLE, RuntimeServices) == 88);
static_assert(offsetof(EFI_SYSTEM_TABLE, BootServices) == 96);
static_assert(offsetof(EFI_SYSTEM_TABLE, NumberOfTableEntries) == 104);
static_assert(offsetof(EFI_SYSTEM_TABLE, ConfigurationTable) == 112);
static_assert(sizeof(EFI_SYSTEM_TABLE) == 120);
static_assert(offsetof(EFI_BOOT_SERVICES, AllocatePool) == 64);
static_assert(offsetof(EFI_BOOT_SERVICES, FreePool) == 72);
static_assert(offsetof(EFI_BOOT_SERVICES, InstallProtocolInterface) == 128);
static_assert(offsetof(EFI_BOOT_SERVICES, HandleProtocol) == 152);
static_assert(offsetof(EFI_BOOT_SERVICES, InstallConfigurationTable) == 192);
static_assert(offsetof(EFI_BOOT_SERVICES, LoadImage) == 200);
static_assert(offsetof(EFI_BOOT_SERVICES, StartImage) == 208);
static_assert(offsetof(EFI_BOOT_SERVICES, Stall) == 248);
static_assert(offsetof(EFI_BOOT_SERVICES, SetWatchdogTimer) == 256);
static_assert(offsetof(EFI_BOOT_SERVICES, LocateProtocol) == 320);
static_assert(sizeof(EFI_BOOT_SERVICES) == 376);
static_assert(offsetof(EFI_RUNTIME_SERVICES, ResetSystem) == 104);
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, OutputString) == 8);
static_assert(sizeof(EFI_CONFIGURATION_TABLE) == 24);
static_assert(offsetof(EFI_RNG_PROTOCOL, GetRNG) == 8);
#endif
