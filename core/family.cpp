#include "core/family.h"

#include "core/model_lookup.h"
#include "platform/log.h"

namespace murvane {

#define MURVANE_FAMILY_ADDRESS(name, letter) &name##_family,
constexpr const chip_family* chip_families[chip_family_count] = {MURVANE_FAMILIES(MURVANE_FAMILY_ADDRESS)};
#undef MURVANE_FAMILY_ADDRESS

// One row per model of core/family_list.h: identifier, family, name and the
// line identification prints for it.
#define MURVANE_MODEL_ROW(name, id, family) {id, &family##_family, #name, "Murvane: detected " #name ".\n"},
constexpr chip_model chip_models[chip_model_count] = {MURVANE_MODELS(MURVANE_MODEL_ROW)};
#undef MURVANE_MODEL_ROW

namespace {

constexpr char detected_prefix[] = "Murvane: detected zq";
constexpr char detected_suffix[] = ".\n";

struct chip_id_table {
  chip_id_entry entries[chip_model_count];
};

// "zq" and four digits; 0 for anything else (refused below).
constexpr uint16_t model_number(const char* model) {
  if (model[0] != 'z' || model[1] != 'q') {
    return 0;
  }
  uint16_t n = 0;
  for (int i = 2; i < 6; ++i) {
    if (model[i] < '0' || model[i] > '9') {
      return 0;
    }
    n = static_cast<uint16_t>(n * 10 + (model[i] - '0'));
  }
  return model[6] == '\0' ? n : 0;
}

// detect_line is exactly what log_detected prints for the model.
constexpr bool detect_line_matches(const chip_model& m) {
  const char* line = m.detect_line;
  for (const char* p = detected_prefix; *p != '\0'; ++p) {
    if (*line++ != *p) {
      return false;
    }
  }
  for (const char* p = m.model + 2; *p != '\0'; ++p) {
    if (*line++ != *p) {
      return false;
    }
  }
  for (const char* p = detected_suffix; *p != '\0'; ++p) {
    if (*line++ != *p) {
      return false;
    }
  }
  return *line == '\0';
}

// Each family's index in chip_families, and each model's family index, from
// the list by name: compilers with AddressSanitizer do not take comparisons
// of other units' addresses (the family records) as constants.
#define MURVANE_FAMILY_INDEX(name, letter) family_index_##name,
enum family_index_of : uint8_t { MURVANE_FAMILIES(MURVANE_FAMILY_INDEX) };
#undef MURVANE_FAMILY_INDEX
#define MURVANE_MODEL_FAMILY(name, id, family) family_index_##family,
constexpr uint8_t model_family_index[chip_model_count] = {MURVANE_MODELS(MURVANE_MODEL_FAMILY)};
#undef MURVANE_MODEL_FAMILY

constexpr chip_id_table make_chip_ids() {
  chip_id_table t = {};
  for (size_t i = 0; i < chip_model_count; ++i) {
    const chip_model& m = chip_models[i];
    t.entries[i].id = static_cast<uint16_t>(m.id);
    t.entries[i].model_number = model_number(m.model) & 0xFFF;
    t.entries[i].family = model_family_index[i] & 0xF;
  }
  return t;
}

constexpr bool chip_ids_match_models(const chip_id_table& t) {
  for (size_t i = 0; i < chip_model_count; ++i) {
    const chip_model& m = chip_models[i];
    const chip_id_entry& e = t.entries[i];
    if (e.id != m.id || e.model_number != model_number(m.model) || e.model_number == 0 ||
        e.family != model_family_index[i] || e.family >= chip_family_count || !detect_line_matches(m)) {
      return false;
    }
  }
  return true;
}

static_assert(chip_family_count < 16, "chip_id_entry keeps the family index in 4 bits");
constexpr chip_id_table chip_ids = make_chip_ids();
static_assert(chip_ids_match_models(chip_ids), "every model is zq and four digits, with its exact detect_line");

}  // namespace

const chip_id_entry* find_chip_id(uint32_t id) {
  for (const chip_id_entry& e : chip_ids.entries) {
    if (e.id == id) {
      return &e;
    }
  }
  return nullptr;
}

void log_detected(const chip_id_entry& chip) { log_error("Murvane: detected zq%u.\n", chip.model_number); }

const chip_model* find_chip_model(uint32_t id) {
  for (const chip_model& m : chip_models) {
    if (m.id == id) {
      return &m;
    }
  }
  return nullptr;
}

const chip_model* find_chip_model(const char* name) {
  return find_by_model_name(chip_models, &chip_model::model, name);
}

}  // namespace murvane
