// Host-side owner of a chip model chosen by name.
#pragma once

#include <memory>
#include <string>

#include "sim/models/chip_model.h"
#include "sim/models/model_table.h"

namespace sim {

class ModelHandle {
 public:
  virtual ~ModelHandle() = default;
  virtual chip_model& model() = 0;
  virtual const model_info& info() const = 0;
};

// A fresh model of the named chip ("zq3402") in its power-on state, or
// nullptr when no such model exists.
std::unique_ptr<ModelHandle> make_model(const std::string& name);

}  // namespace sim
