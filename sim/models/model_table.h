// The 19 simulated chip models: name, identifier and family. Kept apart
// from the driver's own table so that tests check one against the other.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace sim {

enum class family_id : uint8_t { zq310x, zq320x, zq330x, zq340x, zq350x, zq360x };

struct model_info {
  const char* name;
  uint32_t id;
  family_id family;
  const char* family_name;
};

inline constexpr size_t model_info_count = 19;
extern const model_info model_infos[model_info_count];

const model_info* find_model_info(const char* name);

}  // namespace sim
