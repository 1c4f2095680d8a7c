// The lookup by model name that every table built from core/family_list.h
// shares: the driver's chip_models (core/family.cpp) and the chip models'
// model_infos (sim/models/model_table.cpp) each keep the columns they need,
// and find a row by its name the same way. Freestanding and constexpr.
#pragma once

#include <stddef.h>

namespace murvane {

// The row whose name (the member name_of, "zq3101") is exactly name, or
// nullptr: no prefix, no longer name.
template <typename Row, size_t N>
constexpr const Row* find_by_model_name(const Row (&rows)[N], const char* const Row::*name_of, const char* name) {
  for (const Row& row : rows) {
    const char* a = row.*name_of;
    const char* b = name;
    while (*a != '\0' && *a == *b) {
      ++a;
      ++b;
    }
    if (*a == '\0' && *b == '\0') {
      return &row;
    }
  }
  return nullptr;
}

}  // namespace murvane
