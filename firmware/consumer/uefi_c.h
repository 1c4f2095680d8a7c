/* Minimal UEFI definitions in C, written from the public UEFI layouts: what
 * a small C application needs to find a protocol and print on the console,
 * and what integration/MurvanePkg/Include/Protocol/ZeltI2cHaptic.h expects
 * to be defined before it (EFI_GUID, EFI_STATUS, UINT64, VOID, EFIAPI).
 * The names are those of the UEFI headers, so code written against this file
 * builds unchanged against EDK2's <Uefi.h>.
 *
 * Valid as C11 and as C++: the kit's layout test compiles it both ways. */
#ifndef MURVANE_UEFI_C_H_
#define MURVANE_UEFI_C_H_

#include <stddef.h>
#include <stdint.h>

#if defined(__x86_64__)
#define EFIAPI __attribute__((ms_abi))
#else
#define EFIAPI
#endif

#ifdef __cplusplus
#define UEFI_C_STATIC_ASSERT(cond, why) static_assert(cond, why)
#else
#define UEFI_C_STATIC_ASSERT(cond, why) _Static_assert(cond, why)
#endif

#define VOID void
#define IN
#define OUT
#define OPTIONAL
#define CONST const

typedef uint8_t UINT8;
typedef uint16_t UINT16;
typedef uint32_t UINT32;
typedef uint64_t UINT64;
typedef int32_t INT32;
typedef __UINTPTR_TYPE__ UINTN; /* pointer-sized; long is 32-bit on the UEFI Arm target */
typedef uint16_t CHAR16;
typedef char CHAR8;
typedef uint8_t BOOLEAN;
typedef UINTN EFI_STATUS;
typedef void* EFI_HANDLE;

UEFI_C_STATIC_ASSERT(sizeof(UINTN) == 8, "64-bit firmware only");

#define EFI_ERROR_BIT ((EFI_STATUS)1 << 63)
#define EFI_ERROR(s) (((EFI_STATUS)(s)&EFI_ERROR_BIT) != 0)
#define EFI_SUCCESS ((EFI_STATUS)0)
#define EFI_INVALID_PARAMETER (EFI_ERROR_BIT | 2)
#define EFI_UNSUPPORTED (EFI_ERROR_BIT | 3)
#define EFI_DEVICE_ERROR (EFI_ERROR_BIT | 7)
#define EFI_NOT_FOUND (EFI_ERROR_BIT | 14)
#define EFI_INCOMPATIBLE_VERSION (EFI_ERROR_BIT | 25)

typedef struct {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  UINT8 Data4[8];
} EFI_GUID;

typedef struct {
  UINT64 Signature;
  UINT32 Revision;
  UINT32 HeaderSize;
  UINT32 CRC32;
  UINT32 Reserved;
} EFI_TABLE_HEADER;

typedef struct _EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL;
typedef EFI_STATUS(EFIAPI* EFI_TEXT_STRING)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* This, CONST CHAR16* String);

struct _EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL {
  VOID* Reset;
  EFI_TEXT_STRING OutputString;
  /* TestString .. EnableCursor and Mode follow; not used here. */
};

typedef EFI_STATUS(EFIAPI* EFI_LOCATE_PROTOCOL)(CONST EFI_GUID* Protocol, VOID* Registration, VOID** Interface);
typedef EFI_STATUS(EFIAPI* EFI_SET_WATCHDOG_TIMER)(UINTN Timeout, UINT64 WatchdogCode, UINTN DataSize,
                                                   CHAR16* WatchdogData);

/* Boot services up to LocateProtocol; the slots before it only keep it at
 * its place. */
typedef struct {
  EFI_TABLE_HEADER Hdr;
  VOID* Slots1[29]; /* RaiseTPL .. Stall */
  EFI_SET_WATCHDOG_TIMER SetWatchdogTimer;
  VOID* Slots2[7]; /* ConnectController .. LocateHandleBuffer */
  EFI_LOCATE_PROTOCOL LocateProtocol;
} EFI_BOOT_SERVICES;

typedef struct {
  EFI_TABLE_HEADER Hdr;
  CHAR16* FirmwareVendor;
  UINT32 FirmwareRevision;
  EFI_HANDLE ConsoleInHandle;
  VOID* ConIn;
  EFI_HANDLE ConsoleOutHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* ConOut;
  EFI_HANDLE StandardErrorHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* StdErr;
  VOID* RuntimeServices;
  EFI_BOOT_SERVICES* BootServices;
  UINTN NumberOfTableEntries;
  VOID* ConfigurationTable;
} EFI_SYSTEM_TABLE;

UEFI_C_STATIC_ASSERT(sizeof(EFI_GUID) == 16, "EFI_GUID");
UEFI_C_STATIC_ASSERT(sizeof(EFI_TABLE_HEADER) == 24, "EFI_TABLE_HEADER");
UEFI_C_STATIC_ASSERT(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, OutputString) == 8, "OutputString");
UEFI_C_STATIC_ASSERT(offsetof(EFI_BOOT_SERVICES, SetWatchdogTimer) == 256, "SetWatchdogTimer");
UEFI_C_STATIC_ASSERT(offsetof(EFI_BOOT_SERVICES, LocateProtocol) == 320, "LocateProtocol");
UEFI_C_STATIC_ASSERT(offsetof(EFI_SYSTEM_TABLE, ConOut) == 64, "ConOut");
UEFI_C_STATIC_ASSERT(offsetof(EFI_SYSTEM_TABLE, BootServices) == 96, "BootServices");
UEFI_C_STATIC_ASSERT(sizeof(EFI_SYSTEM_TABLE) == 120, "EFI_SYSTEM_TABLE");

#endif
