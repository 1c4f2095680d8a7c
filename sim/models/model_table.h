// The simulated chip models: name, identifier and family, one per MODEL
// line of core/family_list.h. Only the list is shared with the driver; each
// model keeps its own register numbers, so tests check one against the
// other.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/family_list.h"

namespace sim {

#define SIM_FAMILY_ID(name, letter) name,
enum class family_id : uint8_t { MURVANE_FAMILIES(SIM_FAMILY_ID) };
#undef SIM_FAMILY_ID

inline constexpr size_t family_count = 0 MURVANE_FAMILIES(MURVANE_COUNT_ENTRY);

// Every family, in the order A, B, ...
#define SIM_FAMILY_ENUMERATOR(name, letter) family_id::name,
inline constexpr family_id all_families[family_count] = {MURVANE_FAMILIES(SIM_FAMILY_ENUMERATOR)};
#undef SIM_FAMILY_ENUMERATOR

struct model_info {
  const char* name;
  uint32_t id;
  family_id family;
  const char* family_name;
};

inline constexpr size_t model_info_count = 0 MURVANE_MODELS(MURVANE_COUNT_ENTRY);
extern const model_info model_infos[model_info_count];

const model_info* find_model_info(const char* name);

// The model that stands for its family (its first in the list): the golden
// traces, the benchmarks and the firmware boots run it.
const model_info& first_model_of(family_id family);

// Whether the family's identifier is the one byte in register 0x00 (its
// models' identifiers fit a byte) rather than 16 bits in 0x57/0x58.
bool one_byte_id(family_id family);

}  // namespace sim
