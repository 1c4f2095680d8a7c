// A byte (a register, an address, a value) as the traces, reports and
// messages of the bench write it: "0x5A". One definition for the host
// platform's trace text, the commands and the tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace host {

inline std::string hex2(uint64_t v) {
  char buf[24];
  static_cast<void>(std::snprintf(buf, sizeof buf, "0x%02llX", static_cast<unsigned long long>(v)));
  return buf;
}

}  // namespace host
