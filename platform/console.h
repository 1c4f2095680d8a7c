// Text to a UEFI console: the driver's log (platform/log.cpp) and the QEMU
// rig's test images print through the same conversion.
#pragma once

#include <stddef.h>

#include "platform/efi.h"

namespace murvane {

// Sends text to out as UCS-2, each "\n" as "\r\n", in pieces of at most 63
// characters (OutputString takes a NUL-terminated string, and the piece
// lives on the stack). Always inlined: the log's only call site compiles to
// the loop it always was.
[[gnu::always_inline]] inline void console_output(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* out, const char* text) {
  CHAR16 chunk[65];
  size_t n = 0;
  for (const char* p = text;; ++p) {
    const bool end = *p == '\0';
    if (end || n + 2 >= sizeof(chunk) / sizeof(chunk[0])) {
      chunk[n] = 0;
      if (n > 0) {
        out->OutputString(out, chunk);
      }
      n = 0;
    }
    if (end) {
      break;
    }
    if (*p == '\n') {
      chunk[n++] = '\r';
    }
    chunk[n++] = static_cast<CHAR16>(static_cast<unsigned char>(*p));
  }
}

}  // namespace murvane
