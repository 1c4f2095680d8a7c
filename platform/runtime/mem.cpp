// The four memory routines the compiler may call on its own (zeroing a
// large local, copying a record) in an image that has no C library.
//
// Each loop goes through a volatile byte pointer, so no optimiser can
// recognise it as a copy or fill and turn it back into a call to the very
// function being defined (-ffreestanding alone does not promise that for
// memcpy/memset/memmove/memcmp). They are small and rare on our paths: plain
// byte loops are enough.
#include <stddef.h>
#include <stdint.h>

extern "C" {

void* memset(void* dest, int c, size_t n) {
  auto* d = static_cast<volatile uint8_t*>(dest);
  const auto v = static_cast<uint8_t>(c);
  for (size_t i = 0; i < n; ++i) {
    d[i] = v;
  }
  return dest;
}

void* memcpy(void* dest, const void* src, size_t n) {
  auto* d = static_cast<volatile uint8_t*>(dest);
  const auto* s = static_cast<const volatile uint8_t*>(src);
  for (size_t i = 0; i < n; ++i) {
    d[i] = s[i];
  }
  return dest;
}

void* memmove(void* dest, const void* src, size_t n) {
  auto* d = static_cast<volatile uint8_t*>(dest);
  const auto* s = static_cast<const volatile uint8_t*>(src);
  if (reinterpret_cast<uintptr_t>(d) <= reinterpret_cast<uintptr_t>(s)) {
    for (size_t i = 0; i < n; ++i) {
      d[i] = s[i];
    }
  } else {
    // Destination above the source: copy from the end so an overlap never
    // reads a byte already overwritten.
    for (size_t i = n; i > 0; --i) {
      d[i - 1] = s[i - 1];
    }
  }
  return dest;
}

int memcmp(const void* a, const void* b, size_t n) {
  const auto* x = static_cast<const volatile uint8_t*>(a);
  const auto* y = static_cast<const volatile uint8_t*>(b);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t u = x[i];
    const uint8_t v = y[i];
    if (u != v) {
      return u < v ? -1 : 1;
    }
  }
  return 0;
}

}  // extern "C"
