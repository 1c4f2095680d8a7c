/** @file
  EFI_ZELT_I2C_PROTOCOL: the platform's I2C bus, as the Murvane haptic
  driver (Murvane.efi) uses it. The platform installs it before the driver
  runs (the driver's dependency expression waits for it); the driver
  locates it with LocateProtocol and calls Open once per bring-up, then one
  Read or Write per register byte.

  The record is a table of 64-bit function pointers. None of them receives
  the record itself (there is no This argument): a platform with more than
  one bus tells them apart by the instance number Open takes. Slot 0 is not
  called by the driver; a platform may keep anything there. A platform's
  own record may have more slots after Write: the driver reads only these.

  Statuses are plain 32-bit numbers, 0 = done; the driver logs any other
  value and does not interpret it.

  In an EDK2 module include it after <Uefi.h>. Without EDK2 it compiles on
  its own (C99 or later, or C++): it includes MurvaneUefi.h, beside it in
  Include/, which supplies the UEFI base definitions when nothing else has.

  Layout (64-bit): Open at offset 8, Read at 16, Write at 24; 32 bytes.
**/

#ifndef ZELT_I2C_PROTOCOL_H_
#define ZELT_I2C_PROTOCOL_H_

#include "../MurvaneUefi.h"

/* clang-format off */
#define EFI_ZELT_I2C_PROTOCOL_GUID \
  { \
    0x2d95e7b4, 0x6a13, 0x4c08, { 0xb7, 0xf2, 0xe4, 0xa1, 0x90, 0x3c, 0x5d, 0x86 } \
  }
/* clang-format on */

///
/// The slave configuration passed with every Read and Write: six 32-bit
/// words. Word 0 is the bus clock in kHz, word 1 the chip's 7-bit address;
/// words 2 to 5 belong to the bus component and are passed unchanged (see
/// MurvaneBoardSettings.h for the values this build of the driver sends).
///
#define EFI_ZELT_I2C_SLAVE_CONFIG_WORDS 6

typedef struct _EFI_ZELT_I2C_PROTOCOL EFI_ZELT_I2C_PROTOCOL;

/**
  Opens one instance of the platform's I2C buses.

  @param[in]  Instance  The bus instance (MURVANE_I2C_INSTANCE).
  @param[out] Handle    Receives the bus handle passed to Read and Write.

  @return 0 when the bus is open; any other value is a failure, which the
          driver logs ("Failed to initialize instance %d I2C %d") before it
          gives up the bring-up.
**/
typedef UINT32(EFIAPI* EFI_ZELT_I2C_OPEN)(UINT32 Instance, UINT64* Handle);

/**
  One transfer to or from one device register (Read and Write take the same
  arguments).

  @param[in]      Handle          The handle Open gave.
  @param[in]      SlaveConfig     EFI_ZELT_I2C_SLAVE_CONFIG_WORDS words.
  @param[in]      Register        The register number (0..255).
  @param[in]      RegisterLength  Bytes of the register number: always 1.
  @param[in, out] Data            Read: receives the bytes. Write: holds them.
  @param[in]      Length          Data bytes: always 1.
  @param[out]     Transferred     Set to 0 by the driver, never read back.
  @param[in]      Timeout         Always 2500, in the bus component's unit.

  @return 0 when the transfer is done; any other value is a failed
          transfer, which the driver logs.
**/
typedef UINT32(EFIAPI* EFI_ZELT_I2C_TRANSFER)(UINT64 Handle, CONST UINT32* SlaveConfig, UINT32 Register,
                                              UINT32 RegisterLength, UINT8* Data, UINT32 Length, UINT32* Transferred,
                                              UINT32 Timeout);

struct _EFI_ZELT_I2C_PROTOCOL {
  ///
  /// Slot 0: not called by the driver.
  ///
  VOID* Reserved0;
  EFI_ZELT_I2C_OPEN Open;
  EFI_ZELT_I2C_TRANSFER Read;
  EFI_ZELT_I2C_TRANSFER Write;
};

extern EFI_GUID gEfiZeltI2cProtocolGuid;

#endif
