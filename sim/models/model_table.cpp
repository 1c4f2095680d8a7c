#include "sim/models/model_table.h"

#include "core/model_lookup.h"
#include "sim/models/family_facts.h"

namespace sim {

#define SIM_MODEL_ROW(name, id, family) {#name, id, family_id::family, #family},
constexpr model_info model_infos[model_info_count] = {MURVANE_MODELS(SIM_MODEL_ROW)};
#undef SIM_MODEL_ROW

namespace {

// Every family has a model, and a family's models stay together.
constexpr bool families_have_models() {
  size_t next = 0;
  for (size_t f = 0; f < family_count; ++f) {
    const size_t first = next;
    while (next < model_info_count && static_cast<size_t>(model_infos[next].family) == f) {
      ++next;
    }
    if (next == first) {
      return false;
    }
  }
  return next == model_info_count;
}
static_assert(families_have_models(), "core/family_list.h: every family has models, listed together, A first");

// A family reads its identifier either from 0x00 alone or from 0x57/0x58:
// all its models alike.
constexpr bool id_widths_agree() {
  for (size_t i = 1; i < model_info_count; ++i) {
    const model_info& a = model_infos[i - 1];
    const model_info& b = model_infos[i];
    if (a.family == b.family && (a.id <= 0xFF) != (b.id <= 0xFF)) {
      return false;
    }
  }
  return true;
}
static_assert(id_widths_agree(), "core/family_list.h: a family's identifiers are all one byte or all 16 bits");

}  // namespace

const model_info* find_model_info(const char* name) {
  return murvane::find_by_model_name(model_infos, &model_info::name, name);
}

const model_info& first_model_of(family_id family) {
  for (const model_info& m : model_infos) {
    if (m.family == family) {
      return m;
    }
  }
  return model_infos[0];  // not reached: families_have_models holds
}

bool one_byte_id(family_id family) { return first_model_of(family).id <= 0xFF; }

const family_facts& facts_of(family_id family) {
  switch (family) {
#define SIM_FACTS_OF(name, letter) \
  case family_id::name:            \
    return name##_facts;
    MURVANE_FAMILIES(SIM_FACTS_OF)
#undef SIM_FACTS_OF
  }
  __builtin_unreachable();  // every family_id is a case above
}

}  // namespace sim
