// Model lists the tests take from the one list of families and models.
#pragma once

#include <string>
#include <vector>

#include "sim/models/model_table.h"

namespace murvane_test {

// Each family's first model in core/family_list.h: the one that stands for
// the family (golden traces, one boot per family).
inline std::vector<std::string> first_model_of_each_family() {
  std::vector<std::string> out;
  for (const sim::family_id f : sim::all_families) {
    out.emplace_back(sim::first_model_of(f).name);
  }
  return out;
}

}  // namespace murvane_test
