/** @file
  EFI_ZELT_I2C_HAPTIC_PROTOCOL: published by the Murvane haptic driver
  (Murvane.efi) on its own image handle once its entry point has run.

  Start runs the driver's whole chip bring-up again: bus open, reset pulse,
  identification, calibration, register defaults, waveform download and
  playback of the boot vibration. It returns when the vibration has been
  started, not when it ends.

  In an EDK2 module include it after <Uefi.h>. Without EDK2 it compiles on
  its own (C99 or later, or C++): it includes MurvaneUefi.h, beside it in
  Include/, which supplies the UEFI base definitions when nothing else has.

  Layout (64-bit): Revision at offset 0, Start at offset 8, 16 bytes in all.
  The driver's own definition is checked against this file by its tests.
**/

#ifndef ZELT_I2C_HAPTIC_PROTOCOL_H_
#define ZELT_I2C_HAPTIC_PROTOCOL_H_

#include "../MurvaneUefi.h"

/* clang-format off */
#define EFI_ZELT_I2C_HAPTIC_PROTOCOL_GUID \
  { \
    0x6b0f3c2e, 0x91d4, 0x4a57, { 0x8e, 0x6b, 0x2f, 0x19, 0xc0, 0x4d, 0x7a, 0x31 } \
  }
/* clang-format on */

///
/// The Revision of the record this header describes: a consumer checks it
/// before it calls Start.
///
#define EFI_ZELT_I2C_HAPTIC_PROTOCOL_REVISION 0x00010005

typedef struct _EFI_ZELT_I2C_HAPTIC_PROTOCOL EFI_ZELT_I2C_HAPTIC_PROTOCOL;

/**
  Brings the haptic chip up again and starts the boot vibration.

  Takes no arguments, not even the protocol instance: the driver serves one
  chip, fixed when it was built.

  @retval EFI_SUCCESS           The chip was identified and qualified, and
                                every later step (offset calibration,
                                register defaults, waveform download, the
                                boot vibration) was sent to it. Those steps'
                                failures are in the driver's log, not in the
                                status: it does not say that the waveform is
                                loaded or playing.
  @retval EFI_DEVICE_ERROR      The I2C bus could not be opened, no chip
                                answered with a known identifier, or the
                                chip is not a qualified part.
  @retval EFI_UNSUPPORTED       A chip of a known family with a revision this
                                driver does not support.
**/
typedef EFI_STATUS(EFIAPI* EFI_ZELT_I2C_HAPTIC_START)(VOID);

struct _EFI_ZELT_I2C_HAPTIC_PROTOCOL {
  ///
  /// EFI_ZELT_I2C_HAPTIC_PROTOCOL_REVISION.
  ///
  UINT64 Revision;
  EFI_ZELT_I2C_HAPTIC_START Start;
};

extern EFI_GUID gEfiZeltI2cHapticProtocolGuid;

#endif
