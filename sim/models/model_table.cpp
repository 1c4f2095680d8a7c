#include "sim/models/model_table.h"

namespace sim {

constexpr model_info model_infos[model_info_count] = {
    {"zq3101", 0x95, family_id::zq310x, "zq310x"},   {"zq3102", 0x97, family_id::zq310x, "zq310x"},
    {"zq3201", 0x05, family_id::zq320x, "zq320x"},   {"zq3202", 0x04, family_id::zq320x, "zq320x"},
    {"zq3203", 0x07, family_id::zq320x, "zq320x"},   {"zq3204", 0x06, family_id::zq320x, "zq320x"},
    {"zq3301", 0x7150, family_id::zq330x, "zq330x"}, {"zq3302", 0x7170, family_id::zq330x, "zq330x"},
    {"zq3303", 0x7171, family_id::zq330x, "zq330x"}, {"zq3304", 0x7180, family_id::zq330x, "zq330x"},
    {"zq3401", 0x7270, family_id::zq340x, "zq340x"}, {"zq3402", 0x7280, family_id::zq340x, "zq340x"},
    {"zq3501", 0x9250, family_id::zq350x, "zq350x"}, {"zq3502", 0x9260, family_id::zq350x, "zq350x"},
    {"zq3503", 0x9270, family_id::zq350x, "zq350x"}, {"zq3504", 0x9280, family_id::zq350x, "zq350x"},
    {"zq3601", 0x9360, family_id::zq360x, "zq360x"}, {"zq3602", 0x9370, family_id::zq360x, "zq360x"},
    {"zq3603", 0x9380, family_id::zq360x, "zq360x"},
};

const model_info* find_model_info(const char* name) {
  for (const model_info& m : model_infos) {
    const char* a = m.name;
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

}  // namespace sim
