#include "sim/model_factory.h"

#include "sim/models/zq310x_model.h"
#include "sim/models/zq320x_model.h"
#include "sim/models/zq330x_model.h"
#include "sim/models/zq340x_model.h"
#include "sim/models/zq350x_model.h"
#include "sim/models/zq360x_model.h"

namespace sim {

namespace {

template <class M>
class Holder final : public ModelHandle {
 public:
  explicit Holder(const model_info& info) : info_(info) { model_.configure(info.id); }
  ChipModel& model() override { return model_; }
  const model_info& info() const override { return info_; }

 private:
  const model_info& info_;
  M model_;
};

}  // namespace

std::unique_ptr<ModelHandle> make_model(const std::string& name) {
  const model_info* info = find_model_info(name.c_str());
  if (info == nullptr) {
    return nullptr;
  }
  switch (info->family) {
    case family_id::zq310x:
      return std::make_unique<Holder<ZQ310xModel>>(*info);
    case family_id::zq320x:
      return std::make_unique<Holder<ZQ320xModel>>(*info);
    case family_id::zq330x:
      return std::make_unique<Holder<ZQ330xModel>>(*info);
    case family_id::zq340x:
      return std::make_unique<Holder<ZQ340xModel>>(*info);
    case family_id::zq350x:
      return std::make_unique<Holder<ZQ350xModel>>(*info);
    case family_id::zq360x:
      return std::make_unique<Holder<ZQ360xModel>>(*info);
  }
  return nullptr;
}

}  // namespace sim
