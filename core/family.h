// The family interface: one constant descriptor per chip family (its
// configuration record and its table of 14 operations), the driver-wide
// device state, and the table of chip identifiers.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/family_list.h"
#include "platform/efi.h"

namespace murvane {

// One record type for all six families; each family fills only the fields
// its own operations read, the rest stay 0 (every field defaults to 0, so a
// family's record names only its own).
struct family_dts {
  uint32_t f0_pre = 0;  // expected resonant frequency, 0.1 Hz
  uint8_t init_31_seq[3] = {};
  uint8_t init_74_77[4] = {};
  uint8_t f0_7b = 0;
  uint8_t f0_7d_hi = 0;
  uint8_t f0_7d_lo = 0;
  uint8_t f0_7e = 0;
  uint8_t f0_7f = 0;
  uint32_t f0_coeff = 0;
  uint8_t init_4d = 0;
  uint8_t init_5d = 0;
  uint8_t init_6d_71[5] = {};
  uint8_t d2s_gain = 0;
  uint8_t offset_cali_skip = 0;
  uint8_t cont_reg1d = 0;
  uint8_t cont_reg21 = 0;
  uint8_t cont_reg1c = 0;
  uint8_t cont_reg1f = 0;
  uint8_t cont_reg20 = 0;
  uint8_t cont_track_margin = 0;
  uint32_t cont_reg1e_scale = 0;
};

// A slot's result where its caller does not branch on it: the status of the
// slot's last access (the bus status) or wait (the stall's), as the slot's
// signed 32-bit value. The slots that decide something (a calibration, a
// measurement, a wait for standby) return 0 or -1 as documented. A wait's
// value is the low word of firmware's 64-bit status, its error flag (bit
// 63) left out: the same in a 32-bit process, whose status keeps the flag in
// bit 31, and whose EFI_STATUS is uint32_t, so the two have their own names.
constexpr int32_t slot_result(uint32_t bus_status) { return static_cast<int32_t>(bus_status); }
constexpr int32_t wait_result(EFI_STATUS status) { return static_cast<int32_t>(status & ~EFI_ERROR_BIT); }

// The 14 operations, in their fixed slot order. No operation takes a
// context: each slot binds its family's constant record. Flags, modes,
// indexes and values are bytes; the trim kind is compared as a whole.
struct haptic_ops {
  int32_t (*get_f0)();                                        // 0
  int32_t (*offset_calibration)();                            // 1
  int32_t (*set_go)(uint8_t flag);                            // 2
  int32_t (*stop)();                                          // 3
  void (*write_ram)();                                        // 4
  int32_t (*set_ram_base)();                                  // 5
  int32_t (*chip_init)();                                     // 6
  int32_t (*set_gain)(uint8_t gain);                          // 7
  int32_t (*set_play_mode)(uint8_t mode);                     // 8
  int32_t (*write_trim_lra)(int32_t kind);                    // 9
  int32_t (*set_sequence)(uint8_t index, uint8_t wave);       // 10
  int32_t (*set_sequence_loop)(uint8_t index, uint8_t loop);  // 11
  int32_t (*set_ram_access)(uint8_t on);                      // 12
  EFI_STATUS (*qualify_check)();                              // 13
};

// Play modes, as set_play_mode takes them.
inline constexpr uint8_t play_mode_standby = 0;
inline constexpr uint8_t play_mode_ram = 1;
inline constexpr uint8_t play_mode_cont = 4;

inline constexpr size_t haptic_ops_slots = 14;
static_assert(sizeof(haptic_ops) == haptic_ops_slots * sizeof(void*));

// Slot names in slot order, as tools and traces spell them.
inline constexpr const char* haptic_ops_names[haptic_ops_slots] = {
    "get_f0",       "offset_calibration", "set_go",         "stop",          "write_ram",
    "set_ram_base", "chip_init",          "set_gain",       "set_play_mode", "write_trim_lra",
    "set_sequence", "set_sequence_loop",  "set_ram_access", "qualify_check",
};

struct chip_family {
  const family_dts* dts;
  const haptic_ops* ops;
  char name[8];  // "zq310x" ...: in the record, not a pointer to a string of its own
};

// The families, in the order A, B, ... of core/family_list.h; each
// family's folder defines its own.
#define MURVANE_DECLARE_FAMILY(name, letter) extern const chip_family name##_family;
MURVANE_FAMILIES(MURVANE_DECLARE_FAMILY)
#undef MURVANE_DECLARE_FAMILY

struct haptic_device {
  uint8_t f0_cali_data;
  uint8_t osc_cali_data;
  uint32_t lra_f0;  // 0.1 Hz
};

inline constexpr uint32_t haptic_dev_lra_f0_at_load = 1700;
extern haptic_device haptic_dev;

// The family selected by the last identification; null until then.
extern const chip_family* current_family;

struct chip_model {
  uint32_t id;
  const chip_family* family;
  const char* model;        // "zq3101"
  const char* detect_line;  // "Murvane: detected zq3101.\n"
};

inline constexpr size_t chip_model_count = 0 MURVANE_MODELS(MURVANE_COUNT_ENTRY);
extern const chip_model chip_models[chip_model_count];

// The model entry for an identifier, or nullptr when it names no chip.
const chip_model* find_chip_model(uint32_t id);
// The model entry by name ("zq3402"), or nullptr.
const chip_model* find_chip_model(const char* name);

// The same table as identification searches it, built from chip_models at
// compile time: 4 bytes a model instead of 32 plus two strings, and the
// "detected" line printed from the model number (3101 for zq3101, checked
// against detect_line when the table is built). chip_models stays the
// reference for tools and tests; the firmware image does not carry it.
inline constexpr size_t chip_family_count = 0 MURVANE_FAMILIES(MURVANE_COUNT_ENTRY);
extern const chip_family* const chip_families[chip_family_count];  // A, B, ...

struct chip_id_entry {
  uint16_t id;
  uint16_t model_number : 12;  // 3101 for zq3101
  uint16_t family : 4;         // index into chip_families
};

// The entry for an identifier, or nullptr when it names no chip.
const chip_id_entry* find_chip_id(uint32_t id);
// Prints "Murvane: detected zq3101.\n" (the model's detect_line).
void log_detected(const chip_id_entry& chip);

}  // namespace murvane
