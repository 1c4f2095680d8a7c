// The check that -fstack-protector-strong code calls on the way out of every
// protected function (Microsoft scheme, as clang uses on this target): the
// frame's copy of the guard must still equal __security_cookie.
//
// A mismatch means this image's stack was overwritten: the saved return
// address beside the guard can no longer be trusted, so returning, or
// unwinding into the firmware, is not safe. As firmware stack checks do,
// we report where it happened on the console and stop the boot here, in a
// loop a debugger can leave (set `resume` to non-zero).
#include <stddef.h>
#include <stdint.h>

#include "platform/platform.h"
#include "platform/stack_guard.h"

extern "C" {
// Start of this image in memory, placed by the linker.
extern const uint8_t __ImageBase;  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
}

namespace {

[[noreturn]] MURVANE_NO_STACK_PROTECTOR __attribute__((cold)) void stack_guard_failed(uintptr_t where) {
  EFI_SYSTEM_TABLE* st = murvane::g_support.system_table;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* out = nullptr;
  if (st != nullptr) {
    out = st->StdErr != nullptr ? st->StdErr : st->ConOut;
  }
  if (out != nullptr && out->OutputString != nullptr) {
    static constexpr char text[] = "\r\nMurvane: stack guard check failed at image offset 0x";
    CHAR16 line[sizeof(text) + 16 + 3];
    size_t n = 0;
    for (const char* p = text; *p != '\0'; ++p) {
      line[n++] = static_cast<CHAR16>(*p);
    }
    const uintptr_t offset = where - reinterpret_cast<uintptr_t>(&__ImageBase);
    for (int shift = 60; shift >= 0; shift -= 4) {
      const auto digit = static_cast<CHAR16>((offset >> shift) & 0xF);
      line[n++] = static_cast<CHAR16>(digit < 10 ? '0' + digit : 'A' - 10 + digit);
    }
    line[n++] = '\r';
    line[n++] = '\n';
    line[n] = 0;
    out->OutputString(out, line);
    static constexpr char halted[] = "Murvane: system halted\r\n";
    n = 0;
    for (const char* p = halted; *p != '\0'; ++p) {
      line[n++] = static_cast<CHAR16>(*p);
    }
    line[n] = 0;
    out->OutputString(out, line);
  }
  volatile uint32_t resume = 0;
  while (resume == 0) {
    __asm__ volatile("yield" ::: "memory");
  }
  __builtin_trap();
}

}  // namespace

extern "C" MURVANE_NO_STACK_PROTECTOR void __security_check_cookie(uintptr_t cookie) {  // NOLINT
  if (__builtin_expect(cookie == __security_cookie, 1)) {
    return;
  }
  stack_guard_failed(reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
}
