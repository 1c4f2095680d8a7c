#include "core/family.h"

#include "platform/log.h"

namespace murvane {

constinit haptic_device haptic_dev = {0, 0, haptic_dev_lra_f0_at_load};
constinit const chip_family* current_family = nullptr;

constexpr const chip_family* chip_families[chip_family_count] = {&zq310x_family, &zq320x_family, &zq330x_family,
                                                                 &zq340x_family, &zq350x_family, &zq360x_family};

namespace {

// A model's family by its name: zq31xx is family A (zq310x), zq32xx family
// B, ... zq36xx family F (chip_families[0..5]). One place for both tables,
// so they cannot disagree.
constexpr uint16_t family_of_model(const char* model) { return static_cast<uint16_t>(model[3] - '1'); }

constexpr chip_model model_row(uint32_t id, const char* model, const char* detect_line) {
  return {id, chip_families[family_of_model(model)], model, detect_line};
}

}  // namespace

// clang-format off: one row per model: identifier, name, detected line
constexpr chip_model chip_models[chip_model_count] = {
    model_row(0x95, "zq3101", "Murvane: detected zq3101.\n"),
    model_row(0x97, "zq3102", "Murvane: detected zq3102.\n"),
    model_row(0x04, "zq3202", "Murvane: detected zq3202.\n"),
    model_row(0x05, "zq3201", "Murvane: detected zq3201.\n"),
    model_row(0x06, "zq3204", "Murvane: detected zq3204.\n"),
    model_row(0x07, "zq3203", "Murvane: detected zq3203.\n"),
    model_row(0x7150, "zq3301", "Murvane: detected zq3301.\n"),
    model_row(0x7170, "zq3302", "Murvane: detected zq3302.\n"),
    model_row(0x7171, "zq3303", "Murvane: detected zq3303.\n"),
    model_row(0x7180, "zq3304", "Murvane: detected zq3304.\n"),
    model_row(0x7270, "zq3401", "Murvane: detected zq3401.\n"),
    model_row(0x7280, "zq3402", "Murvane: detected zq3402.\n"),
    model_row(0x9250, "zq3501", "Murvane: detected zq3501.\n"),
    model_row(0x9260, "zq3502", "Murvane: detected zq3502.\n"),
    model_row(0x9270, "zq3503", "Murvane: detected zq3503.\n"),
    model_row(0x9280, "zq3504", "Murvane: detected zq3504.\n"),
    model_row(0x9360, "zq3601", "Murvane: detected zq3601.\n"),
    model_row(0x9370, "zq3602", "Murvane: detected zq3602.\n"),
    model_row(0x9380, "zq3603", "Murvane: detected zq3603.\n"),
};
// clang-format on

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

constexpr chip_id_table make_chip_ids() {
  chip_id_table t = {};
  for (size_t i = 0; i < chip_model_count; ++i) {
    const chip_model& m = chip_models[i];
    t.entries[i].id = static_cast<uint16_t>(m.id);
    t.entries[i].model_number = model_number(m.model) & 0xFFF;
    t.entries[i].family = family_of_model(m.model) & 0xF;
  }
  return t;
}

constexpr bool chip_ids_match_models(const chip_id_table& t) {
  for (size_t i = 0; i < chip_model_count; ++i) {
    const chip_model& m = chip_models[i];
    const chip_id_entry& e = t.entries[i];
    if (e.id != m.id || e.model_number != model_number(m.model) || e.model_number == 0 ||
        e.family != family_of_model(m.model) || e.family >= chip_family_count || !detect_line_matches(m)) {
      return false;
    }
  }
  return true;
}

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
  for (const chip_model& m : chip_models) {
    const char* a = m.model;
    const char* b = name;
    while (*a != '\0' && *a == *b) {
      ++a;
      ++b;
    }
    if (*a == '\0' && *b == '\0') {
      return &m;
    }
  }
  return nullptr;
}

}  // namespace murvane
