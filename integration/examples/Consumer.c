/** @file
  Consumer.efi: a UEFI application in C that uses the Murvane driver the
  way platform code would, through Protocol/ZeltI2cHaptic.h only. It
  locates EFI_ZELT_I2C_HAPTIC_PROTOCOL, checks its revision, calls Start
  and prints the status; its exit status is Start's (or why it never
  called it).

  Its lines start with "[consumer] "; the driver's console output during
  Start comes between "[consumer] start: begin" and the line break before
  "[consumer] start: status ...".

  Builds without EDK2: the protocol header brings the few UEFI definitions
  it needs (MurvaneUefi.h). In an EDK2 module, include <Uefi.h> first and
  let the .dec define the GUID variable.
**/
#include "Protocol/ZeltI2cHaptic.h"

/* EDK2 generates this from the package's .dec; without EDK2 the consumer
   defines it from the header's initializer. */
EFI_GUID gEfiZeltI2cHapticProtocolGuid = EFI_ZELT_I2C_HAPTIC_PROTOCOL_GUID;

static EFI_SYSTEM_TABLE* gST;

/* ASCII out on ConOut, "\n" as "\r\n", in pieces of a small buffer. */
static void Print(const char* Text) {
  CHAR16 Buffer[64];
  UINTN Used = 0;
  while (*Text != '\0') {
    if (Used + 3 > sizeof(Buffer) / sizeof(Buffer[0])) {
      Buffer[Used] = 0;
      gST->ConOut->OutputString(gST->ConOut, Buffer);
      Used = 0;
    }
    if (*Text == '\n') {
      Buffer[Used++] = '\r';
    }
    Buffer[Used++] = (CHAR16)(UINT8)*Text++;
  }
  Buffer[Used] = 0;
  gST->ConOut->OutputString(gST->ConOut, Buffer);
}

static void PrintHex(UINT64 Value, UINTN Digits) {
  char Text[17];
  UINTN Index;
  for (Index = 0; Index < Digits && Index < 16; ++Index) {
    UINT32 Nibble = (UINT32)(Value >> (4 * (Digits - 1 - Index))) & 0xF;
    Text[Index] = (char)(Nibble < 10 ? '0' + Nibble : 'A' + Nibble - 10);
  }
  Text[Index] = '\0';
  Print(Text);
}

/* The names the driver's own log uses for the statuses Start can return;
 * anything else as 0x and 16 hex digits. */
static void PrintStatus(EFI_STATUS Status) {
  switch (Status) {
    case EFI_SUCCESS:
      Print("Success");
      return;
    case EFI_INVALID_PARAMETER:
      Print("Invalid Parameter");
      return;
    case EFI_UNSUPPORTED:
      Print("Unsupported");
      return;
    case EFI_DEVICE_ERROR:
      Print("Device Error");
      return;
    case EFI_NOT_FOUND:
      Print("Not Found");
      return;
    case EFI_INCOMPATIBLE_VERSION:
      Print("Incompatible Version");
      return;
    default:
      Print("0x");
      PrintHex(Status, 16);
      return;
  }
}

EFI_STATUS EFIAPI ConsumerMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable) {
  EFI_ZELT_I2C_HAPTIC_PROTOCOL* Haptic = NULL;
  EFI_STATUS Status;

  (void)ImageHandle;
  gST = SystemTable;
  Print("[consumer] Murvane C consumer\n");

  Status = SystemTable->BootServices->LocateProtocol(&gEfiZeltI2cHapticProtocolGuid, NULL, (VOID**)&Haptic);
  if (EFI_ERROR(Status) || Haptic == NULL) {
    Print("[consumer] protocol: not found: ");
    PrintStatus(EFI_ERROR(Status) ? Status : EFI_NOT_FOUND);
    Print("\n");
    return EFI_ERROR(Status) ? Status : EFI_NOT_FOUND;
  }
  Print("[consumer] protocol: revision 0x");
  PrintHex(Haptic->Revision, 8);
  if (Haptic->Revision != EFI_ZELT_I2C_HAPTIC_PROTOCOL_REVISION) {
    Print(" wrong\n");
    return EFI_INCOMPATIBLE_VERSION;
  }
  Print(" ok\n");

  Print("[consumer] start: begin\n");
  Status = Haptic->Start();
  Print("\n[consumer] start: status ");
  PrintStatus(Status);
  Print("\n");
  return Status;
}
