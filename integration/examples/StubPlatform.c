/** @file
  StubPlatform.efi: a starting point for the two protocols Murvane.efi
  needs from the platform, EFI_ZELT_I2C_PROTOCOL (the I2C bus) and
  EFI_KORM_PROTOCOL (pin control), as a UEFI boot-service driver in C.

  It installs both on its own image handle and answers the driver's calls
  the way a bus with nothing on it would: Open of the board's instance
  succeeds, every transfer fails with status 5 (no device acknowledged),
  and the pin calls succeed. Each call is printed on the console, so
  loading it and then Murvane.efi shows exactly what the driver asks of a
  platform. Replace the bodies of StubI2cRead, StubI2cWrite and the pin
  functions with your controllers' code.

  The values the driver passes (bus instance, slave configuration, reset
  pin) come from MurvaneBoardSettings.h, the settings the image was built
  with: the stub refuses other values, as a real platform should.

  Builds against MurvaneUefi.h (no EDK2 needed); see the README for the
  compiler and linker lines. In an EDK2 module, include <Uefi.h> first and
  let the .dec define the GUID variables.
**/

#include "MurvaneBoardSettings.h"
#include "Protocol/Korm.h"
#include "Protocol/ZeltI2c.h"

/* EDK2 generates these from MurvanePkg.dec; without EDK2 define them here. */
EFI_GUID gEfiZeltI2cProtocolGuid = EFI_ZELT_I2C_PROTOCOL_GUID;
EFI_GUID gEfiKormProtocolGuid = EFI_KORM_PROTOCOL_GUID;

/* Status of a transfer nobody acknowledged: any non-zero value will do,
   the driver only logs it. */
#define STUB_NO_DEVICE 5u
#define STUB_BAD_REQUEST 2u
#define STUB_BUS_HANDLE 0x5354554255u

static EFI_SYSTEM_TABLE* mSystemTable;
static const UINT32 mSlaveConfig[EFI_ZELT_I2C_SLAVE_CONFIG_WORDS] = MURVANE_I2C_SLAVE_CONFIG;

/* ASCII on the console, "\n" as "\r\n". */
static void StubPrint(const char* Text) {
  CHAR16 Buffer[96];
  UINTN Used = 0;
  if (mSystemTable == NULL || mSystemTable->ConOut == NULL) {
    return;
  }
  while (*Text != '\0' && Used + 3 < sizeof(Buffer) / sizeof(Buffer[0])) {
    if (*Text == '\n') {
      Buffer[Used++] = '\r';
    }
    Buffer[Used++] = (CHAR16)(UINT8)*Text++;
  }
  Buffer[Used] = 0;
  mSystemTable->ConOut->OutputString(mSystemTable->ConOut, Buffer);
}

/* "[stub] <what> 0x<value, two digits or more>\n" */
static void StubPrintHex(const char* What, UINT32 Value) {
  char Text[16];
  int Digits = 2;
  int Index;
  while (Digits < 8 && (Value >> (4 * Digits)) != 0) {
    ++Digits;
  }
  Text[0] = '0';
  Text[1] = 'x';
  for (Index = 0; Index < Digits; ++Index) {
    Text[2 + Index] = "0123456789ABCDEF"[(Value >> (4 * (Digits - 1 - Index))) & 0xF];
  }
  Text[2 + Digits] = '\n';
  Text[3 + Digits] = '\0';
  StubPrint("[stub] ");
  StubPrint(What);
  StubPrint(" ");
  StubPrint(Text);
}

static UINT32 EFIAPI StubI2cOpen(UINT32 Instance, UINT64* Handle) {
  StubPrintHex("I2C open, instance", Instance);
  if (Instance != MURVANE_I2C_INSTANCE || Handle == NULL) {
    return STUB_BAD_REQUEST;
  }
  *Handle = STUB_BUS_HANDLE;
  return 0;
}

/* The checks a platform's bus driver makes before it starts a transfer. */
static UINT32 StubCheckTransfer(UINT64 Handle, CONST UINT32* SlaveConfig, UINT32 RegisterLength, UINT8* Data,
                                UINT32 Length, UINT32 Timeout) {
  UINTN Word;
  if (Handle != STUB_BUS_HANDLE || SlaveConfig == NULL || Data == NULL || RegisterLength != 1 || Length != 1 ||
      Timeout != MURVANE_I2C_TIMEOUT) {
    return STUB_BAD_REQUEST;
  }
  for (Word = 0; Word < EFI_ZELT_I2C_SLAVE_CONFIG_WORDS; ++Word) {
    if (SlaveConfig[Word] != mSlaveConfig[Word]) {
      return STUB_BAD_REQUEST;
    }
  }
  return 0;
}

static UINT32 EFIAPI StubI2cRead(UINT64 Handle, CONST UINT32* SlaveConfig, UINT32 Register, UINT32 RegisterLength,
                                 UINT8* Data, UINT32 Length, UINT32* Transferred, UINT32 Timeout) {
  UINT32 Status = StubCheckTransfer(Handle, SlaveConfig, RegisterLength, Data, Length, Timeout);
  StubPrintHex("I2C read, register", Register);
  if (Status != 0) {
    return Status;
  }
  /* Your controller: write the register number, repeated start, read
     Length bytes into Data, set *Transferred. */
  (void)Transferred;
  return STUB_NO_DEVICE;
}

static UINT32 EFIAPI StubI2cWrite(UINT64 Handle, CONST UINT32* SlaveConfig, UINT32 Register, UINT32 RegisterLength,
                                  UINT8* Data, UINT32 Length, UINT32* Transferred, UINT32 Timeout) {
  UINT32 Status = StubCheckTransfer(Handle, SlaveConfig, RegisterLength, Data, Length, Timeout);
  StubPrintHex("I2C write, register", Register);
  if (Status != 0) {
    return Status;
  }
  /* Your controller: write the register number, then Length bytes of Data. */
  (void)Transferred;
  return STUB_NO_DEVICE;
}

static EFI_STATUS EFIAPI StubPinConfigure(UINT32 ConfigWord, UINT32 Value) {
  StubPrintHex("pin configure, word", ConfigWord);
  if (ConfigWord != MURVANE_RESET_PIN_WORD || Value != 1) {
    return EFI_INVALID_PARAMETER;
  }
  return EFI_SUCCESS;
}

static EFI_STATUS EFIAPI StubPinSetOutput(UINT32 ConfigWord, UINT32 Level) {
  StubPrintHex(Level != 0 ? "pin high, word" : "pin low, word", ConfigWord);
  return ConfigWord == MURVANE_RESET_PIN_WORD ? EFI_SUCCESS : EFI_INVALID_PARAMETER;
}

static EFI_ZELT_I2C_PROTOCOL mI2c = {NULL, StubI2cOpen, StubI2cRead, StubI2cWrite};
static EFI_KORM_PROTOCOL mKorm = {NULL, StubPinConfigure, NULL, NULL, StubPinSetOutput};

EFI_STATUS EFIAPI StubPlatformEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable) {
  EFI_HANDLE Handle = ImageHandle;
  EFI_STATUS Status;

  mSystemTable = SystemTable;
  Status = SystemTable->BootServices->InstallProtocolInterface(&Handle, &gEfiZeltI2cProtocolGuid, EFI_NATIVE_INTERFACE,
                                                               &mI2c);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  /* From here on an interface of ours is installed: stay resident. */
  Status =
      SystemTable->BootServices->InstallProtocolInterface(&Handle, &gEfiKormProtocolGuid, EFI_NATIVE_INTERFACE, &mKorm);
  StubPrint(EFI_ERROR(Status) ? "[stub] pin control NOT installed\n"
                              : "[stub] EFI_ZELT_I2C_PROTOCOL and EFI_KORM_PROTOCOL installed\n");
  return EFI_SUCCESS;
}
