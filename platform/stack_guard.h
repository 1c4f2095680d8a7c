// The stack-guard value the compiler's stack protector checks. Images of
// one boot share it through a configuration-table entry.
#pragma once

#include <stdint.h>

#include "platform/efi.h"

#if defined(__clang__) || (defined(__GNUC__) && __GNUC__ >= 11)
#define MURVANE_NO_STACK_PROTECTOR __attribute__((no_stack_protector, noinline))
#else
#define MURVANE_NO_STACK_PROTECTOR __attribute__((noinline))
#endif

extern "C" {
// The protector's reference value: the UEFI image's -fstack-protector code
// compares every protected frame against it.
extern uintptr_t __security_cookie;  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
}

namespace murvane {

// The guard's value in a freshly loaded image, until the entry point
// replaces it. (Native width: a 32-bit process keeps its low word.)
inline constexpr uintptr_t stack_guard_at_load = static_cast<uintptr_t>(0x2B992DDFA232ull);

// Puts the guard back to its load value (a host process running the driver
// again; the image never calls it).
void stack_guard_reset();

// Where the guard value came from, for tests and diagnostics.
enum class stack_guard_source : uint8_t { untouched, config_table, rng, counter };

struct stack_guard_result {
  uint64_t value;
  stack_guard_source source;
  bool published;
};

// Finds the shared value in the configuration table, or draws a fresh one
// (firmware RNG, else processor counter mixed with image addresses) and
// publishes it. Does not touch the cookie itself: the caller, which must be
// unprotected, stores it with no protected frame live.
MURVANE_NO_STACK_PROTECTOR stack_guard_result obtain_stack_guard(EFI_HANDLE image, EFI_SYSTEM_TABLE* st);

}  // namespace murvane
