/** @file
  EFI_KORM_PROTOCOL: the platform's pin control, as the Murvane haptic
  driver (Murvane.efi) uses it to pulse the chip's reset line. The platform
  installs it before the driver runs (the driver's dependency expression
  waits for it); the driver locates it with LocateProtocol at every
  bring-up.

  The record is a table of 64-bit function pointers, none of which receives
  the record itself (there is no This argument). The driver calls slots 1
  and 4; slots 0, 2 and 3 are not called and may hold anything. A pin is
  known only by its 32-bit configuration word (MURVANE_RESET_PIN_WORD in
  MurvaneBoardSettings.h), which the driver passes unchanged.

  The reset pulse: Configure (word, 1); SetOutput (word, 0); 2000 us;
  SetOutput (word, 1); 8000 us before the first I2C transfer.

  In an EDK2 module include it after <Uefi.h>. Without EDK2 it compiles on
  its own (C99 or later, or C++): it includes MurvaneUefi.h, beside it in
  Include/, which supplies the UEFI base definitions when nothing else has.

  Layout (64-bit): Configure at offset 8, SetOutput at 32; 40 bytes.
**/

#ifndef KORM_PROTOCOL_H_
#define KORM_PROTOCOL_H_

#include "../MurvaneUefi.h"

/* clang-format off */
#define EFI_KORM_PROTOCOL_GUID \
  { \
    0xc47e1a05, 0x3b92, 0x4f6d, { 0xa1, 0xe8, 0x5d, 0x20, 0xb7, 0xc9, 0xf3, 0x64 } \
  }
/* clang-format on */

typedef struct _EFI_KORM_PROTOCOL EFI_KORM_PROTOCOL;

/**
  Configures a pin; the driver passes Value 1 (an output).

  @retval EFI_SUCCESS  The pin is configured. Any other status is logged
                       ("failed to set gpio %d") and the pulse goes on.
**/
typedef EFI_STATUS(EFIAPI* EFI_KORM_CONFIGURE)(UINT32 ConfigWord, UINT32 Value);

/**
  Drives a configured pin's output: Level 0 low, 1 high. The driver does
  not look at the status.
**/
typedef EFI_STATUS(EFIAPI* EFI_KORM_SET_OUTPUT)(UINT32 ConfigWord, UINT32 Level);

struct _EFI_KORM_PROTOCOL {
  ///
  /// Slot 0: not called by the driver.
  ///
  VOID* Reserved0;
  EFI_KORM_CONFIGURE Configure;
  ///
  /// Slots 2 and 3: not called by the driver.
  ///
  VOID* Reserved2;
  VOID* Reserved3;
  EFI_KORM_SET_OUTPUT SetOutput;
};

extern EFI_GUID gEfiKormProtocolGuid;

#endif
