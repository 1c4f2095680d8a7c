#include "core/family.h"

namespace murvane {

constinit haptic_device haptic_dev = {0, 0, haptic_dev_lra_f0_at_load};
constinit const chip_family* current_family = nullptr;

// clang-format off: one row per image line / per model
constexpr chip_model chip_models[chip_model_count] = {
    {0x95, &zq310x_family, "zq3101", "Murvane: detected zq3101.\n"},
    {0x97, &zq310x_family, "zq3102", "Murvane: detected zq3102.\n"},
    {0x04, &zq320x_family, "zq3202", "Murvane: detected zq3202.\n"},
    {0x05, &zq320x_family, "zq3201", "Murvane: detected zq3201.\n"},
    {0x06, &zq320x_family, "zq3204", "Murvane: detected zq3204.\n"},
    {0x07, &zq320x_family, "zq3203", "Murvane: detected zq3203.\n"},
    {0x7150, &zq330x_family, "zq3301", "Murvane: detected zq3301.\n"},
    {0x7170, &zq330x_family, "zq3302", "Murvane: detected zq3302.\n"},
    {0x7171, &zq330x_family, "zq3303", "Murvane: detected zq3303.\n"},
    {0x7180, &zq330x_family, "zq3304", "Murvane: detected zq3304.\n"},
    {0x7270, &zq340x_family, "zq3401", "Murvane: detected zq3401.\n"},
    {0x7280, &zq340x_family, "zq3402", "Murvane: detected zq3402.\n"},
    {0x9250, &zq350x_family, "zq3501", "Murvane: detected zq3501.\n"},
    {0x9260, &zq350x_family, "zq3502", "Murvane: detected zq3502.\n"},
    {0x9270, &zq350x_family, "zq3503", "Murvane: detected zq3503.\n"},
    {0x9280, &zq350x_family, "zq3504", "Murvane: detected zq3504.\n"},
    {0x9360, &zq360x_family, "zq3601", "Murvane: detected zq3601.\n"},
    {0x9370, &zq360x_family, "zq3602", "Murvane: detected zq3602.\n"},
    {0x9380, &zq360x_family, "zq3603", "Murvane: detected zq3603.\n"},
};
// clang-format on

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
