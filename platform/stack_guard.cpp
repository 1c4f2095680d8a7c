#include "platform/stack_guard.h"

#include "platform/protocols.h"

// A fixed, non-zero value until the entry point replaces it.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
constinit uintptr_t __security_cookie = murvane::stack_guard_at_load;  // declared extern "C" in the header

namespace murvane {

namespace {

// read_counter and table_usable have no locals to protect and may be
// inlined into obtain_stack_guard; mix64 and draw_from_rng stay apart.
uint64_t read_counter() {
#if defined(__aarch64__)
  uint64_t v = 0;
  __asm__ volatile("mrs %0, cntvct_el0" : "=r"(v));
  return v;
#elif defined(__x86_64__)
  return __builtin_ia32_rdtsc();
#else
  return 0;
#endif
}

MURVANE_NO_STACK_PROTECTOR uint64_t mix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

bool table_usable(EFI_SYSTEM_TABLE* st) {
  return st != nullptr && st->Hdr.Signature == EFI_SYSTEM_TABLE_SIGNATURE && st->BootServices != nullptr;
}

MURVANE_NO_STACK_PROTECTOR bool draw_from_rng(EFI_SYSTEM_TABLE* st, uint64_t* value) {
  void* located = nullptr;
  if (st->BootServices->LocateProtocol(&EFI_RNG_PROTOCOL_GUID, nullptr, &located) != EFI_SUCCESS ||
      located == nullptr) {
    return false;
  }
  auto* rng = static_cast<EFI_RNG_PROTOCOL*>(located);
  uint8_t bytes[8] = {};
  if (rng->GetRNG(rng, nullptr, sizeof(bytes), bytes) != EFI_SUCCESS) {
    return false;
  }
  // The bytes in order, the first one the most significant.
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);
  *value = __builtin_bswap64(__builtin_bit_cast(uint64_t, bytes));
  return true;
}

}  // namespace

void stack_guard_reset() { __security_cookie = stack_guard_at_load; }

MURVANE_NO_STACK_PROTECTOR stack_guard_result obtain_stack_guard(EFI_HANDLE image, EFI_SYSTEM_TABLE* st) {
  stack_guard_result r = {__security_cookie, stack_guard_source::untouched, false};
  if (image == nullptr) {
    return r;
  }
  const bool usable = table_usable(st);
  if (usable && st->ConfigurationTable != nullptr) {
    for (UINTN i = 0; i < st->NumberOfTableEntries; ++i) {
      const EFI_CONFIGURATION_TABLE& entry = st->ConfigurationTable[i];
      if (guid_equal(entry.VendorGuid, MURVANE_STACK_GUARD_GUID)) {
        r.value = reinterpret_cast<uintptr_t>(entry.VendorTable);
        r.source = stack_guard_source::config_table;
        return r;
      }
    }
  }
  uint64_t v = 0;
  if (usable && draw_from_rng(st, &v)) {
    r.source = stack_guard_source::rng;
  } else {
    v = mix64(read_counter() ^ mix64(reinterpret_cast<uintptr_t>(&r)) ^
              mix64(reinterpret_cast<uintptr_t>(&obtain_stack_guard)) ^ reinterpret_cast<uintptr_t>(image));
    r.source = stack_guard_source::counter;
  }
  // A zero guard would let a zeroed stack slot pass the check.
  r.value = v != 0 ? v : 0x2B992DDFA232ull;
  if (usable) {
    // The value itself is the table pointer: nothing to allocate or keep.
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the entry carries the value, not an address
    void* const entry = reinterpret_cast<void*>(static_cast<uintptr_t>(r.value));
    const EFI_STATUS s = st->BootServices->InstallConfigurationTable(&MURVANE_STACK_GUARD_GUID, entry);
    r.published = s == EFI_SUCCESS;
  }
  return r;
}

}  // namespace murvane
