// The private protocol of ConRecord.efi (test only): the text written
// through the system table's ConOut and StdErr since it was loaded.
#pragma once

#include "platform/efi.h"

// {0E5B1C3A-7F24-4D69-8B30-6A9C2E4D1F87}
inline constexpr EFI_GUID MURVANE_CONSOLE_RECORD_GUID = {
    0x0E5B1C3A, 0x7F24, 0x4D69, {0x8B, 0x30, 0x6A, 0x9C, 0x2E, 0x4D, 0x1F, 0x87}};

struct MURVANE_CONSOLE_RECORD {
  const char* Text;  // ASCII ("?" for anything else), "\r" dropped, NUL-terminated
  UINT64 Length;
  UINT64 Dropped;  // characters that did not fit
  // Ends the recording; the text stays.
  EFI_STATUS(EFIAPI* Stop)();
};
