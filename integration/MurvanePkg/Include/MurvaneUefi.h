/** @file
  The few UEFI definitions the Murvane protocol headers and the examples
  need, for C code built without EDK2: base types, EFI_STATUS values,
  EFI_GUID, EFIAPI, and the system table and boot services up to the slots
  the examples call. Written from the public UEFI standard; the names
  are the standard's, so code written against this file builds
  unchanged against EDK2's <Uefi.h>.

  The protocol headers (Protocol/ZeltI2cHaptic.h, Protocol/ZeltI2c.h,
  Protocol/Korm.h) include this file themselves. When UEFI definitions are
  already there (EDK2's <Uefi.h>, gnu-efi's <efi.h>: anything that defines
  EFI_ERROR), it defines nothing, so it goes with either.

  C99 or later, or C++. 64-bit firmware only (AArch64; x86-64 hosts for
  tests, where EFIAPI is the Microsoft calling convention UEFI uses there).
**/

#ifndef MURVANE_UEFI_H_
#define MURVANE_UEFI_H_

#ifndef EFI_ERROR

#include <stddef.h>
#include <stdint.h>

#if defined(__x86_64__)
#define EFIAPI __attribute__((ms_abi))
#else
#define EFIAPI
#endif

/* A compile-time check that C99 takes without warnings: an array type of
   size -1 when the condition fails. */
#define MURVANE_UEFI_CHECK(name, cond) typedef char MurvaneUefiCheck_##name[(cond) ? 1 : -1]

#define VOID void
#define IN
#define OUT
#define OPTIONAL
#define CONST const

typedef uint8_t UINT8;
typedef uint16_t UINT16;
typedef uint32_t UINT32;
typedef uint64_t UINT64;
typedef int8_t INT8;
typedef int16_t INT16;
typedef int32_t INT32;
typedef int64_t INT64;
typedef uintptr_t UINTN; /* pointer-sized: long is 32 bits on the UEFI Arm target */
typedef intptr_t INTN;
typedef uint16_t CHAR16;
typedef char CHAR8;
typedef uint8_t BOOLEAN;
typedef UINTN EFI_STATUS;
typedef VOID* EFI_HANDLE;

#define TRUE ((BOOLEAN)1)
#define FALSE ((BOOLEAN)0)

#define EFI_ERROR_BIT ((EFI_STATUS)1 << 63)
#define EFI_ERROR(s) (((EFI_STATUS)(s)&EFI_ERROR_BIT) != 0)
#define EFI_SUCCESS ((EFI_STATUS)0)
#define EFI_LOAD_ERROR (EFI_ERROR_BIT | 1)
#define EFI_INVALID_PARAMETER (EFI_ERROR_BIT | 2)
#define EFI_UNSUPPORTED (EFI_ERROR_BIT | 3)
#define EFI_DEVICE_ERROR (EFI_ERROR_BIT | 7)
#define EFI_OUT_OF_RESOURCES (EFI_ERROR_BIT | 9)
#define EFI_NOT_FOUND (EFI_ERROR_BIT | 14)
#define EFI_ACCESS_DENIED (EFI_ERROR_BIT | 15)
#define EFI_TIMEOUT (EFI_ERROR_BIT | 18)
#define EFI_INCOMPATIBLE_VERSION (EFI_ERROR_BIT | 25)
#define EFI_SECURITY_VIOLATION (EFI_ERROR_BIT | 26)

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

typedef enum { EFI_NATIVE_INTERFACE = 0 } EFI_INTERFACE_TYPE;

typedef struct _EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL;
typedef EFI_STATUS(EFIAPI* EFI_TEXT_STRING)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* This, CONST CHAR16* String);

struct _EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL {
  VOID* Reset;
  EFI_TEXT_STRING OutputString;
  /* TestString .. EnableCursor and Mode follow; not used here. */
};

typedef EFI_STATUS(EFIAPI* EFI_INSTALL_PROTOCOL_INTERFACE)(EFI_HANDLE* Handle, CONST EFI_GUID* Protocol,
                                                           EFI_INTERFACE_TYPE InterfaceType, VOID* Interface);
typedef EFI_STATUS(EFIAPI* EFI_STALL)(UINTN Microseconds);
typedef EFI_STATUS(EFIAPI* EFI_SET_WATCHDOG_TIMER)(UINTN Timeout, UINT64 WatchdogCode, UINTN DataSize,
                                                   CHAR16* WatchdogData);
typedef EFI_STATUS(EFIAPI* EFI_LOCATE_PROTOCOL)(CONST EFI_GUID* Protocol, VOID* Registration, VOID** Interface);

/* Boot services up to LocateProtocol, in the standard's order; the
   slots not named here only keep the others at their places. */
typedef struct {
  EFI_TABLE_HEADER Hdr;
  VOID* Slots1[13]; /* RaiseTPL .. CheckEvent */
  EFI_INSTALL_PROTOCOL_INTERFACE InstallProtocolInterface;
  VOID* Slots2[14]; /* ReinstallProtocolInterface .. GetNextMonotonicCount */
  EFI_STALL Stall;
  EFI_SET_WATCHDOG_TIMER SetWatchdogTimer;
  VOID* Slots3[7]; /* ConnectController .. LocateHandleBuffer */
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

MURVANE_UEFI_CHECK(uintn, sizeof(UINTN) == 8);
MURVANE_UEFI_CHECK(guid, sizeof(EFI_GUID) == 16);
MURVANE_UEFI_CHECK(table_header, sizeof(EFI_TABLE_HEADER) == 24);
MURVANE_UEFI_CHECK(output_string, offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, OutputString) == 8);
MURVANE_UEFI_CHECK(install_protocol, offsetof(EFI_BOOT_SERVICES, InstallProtocolInterface) == 128);
MURVANE_UEFI_CHECK(stall, offsetof(EFI_BOOT_SERVICES, Stall) == 248);
MURVANE_UEFI_CHECK(set_watchdog, offsetof(EFI_BOOT_SERVICES, SetWatchdogTimer) == 256);
MURVANE_UEFI_CHECK(locate_protocol, offsetof(EFI_BOOT_SERVICES, LocateProtocol) == 320);
MURVANE_UEFI_CHECK(con_out, offsetof(EFI_SYSTEM_TABLE, ConOut) == 64);
MURVANE_UEFI_CHECK(boot_services, offsetof(EFI_SYSTEM_TABLE, BootServices) == 96);
MURVANE_UEFI_CHECK(system_table, sizeof(EFI_SYSTEM_TABLE) == 120);

#endif /* EFI_ERROR */

#endif
