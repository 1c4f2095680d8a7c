// The chip families and models Murvane knows: the one list that the
// driver's identification, the simulator (model factory, family facts),
// the firmware test platform, the tests, the benchmarks, the fuzz corpus
// maker and the build read. Nothing else spells the list out.
//
// FAMILY(name, letter), in the order A, B, ...: name is the family's folder
// families/<name>/, its descriptor murvane::<name>_family, its chip model
// sim::<name>_model (sim/models/<name>_model.h) with the family's facts
// sim::<name>_facts, its worst-case paths sim/models/worst_case/<name>.cpp
// and its tests tests/test_<name>.cpp.
// MODEL(name, id, family): the chip, its identifier (one byte in register
// 0x00, or 16 bits in 0x57/0x58 behind a 0x00..0x03 marker), its family.
// A family's models stay together; its first model stands for the family
// (golden traces, benchmarks, firmware boots, fuzz seeds). The order is
// the fuzz corpus's model numbering: append, don't reorder.
//
// The build (CMakeLists.txt) and fuzz/make_corpus.py read this file as
// text: one entry per line, in exactly this form.
//
// Only identifiers live here. The chip models keep their own register
// numbers, apart from the driver's, so that the two still check each other.
#pragma once

// One entry per line, for the readers above; every entry ends in a
// backslash, so a new one is a line of its own above the "end" comment.
// clang-format off
#define MURVANE_FAMILIES(FAMILY) \
  FAMILY(zq310x, A) \
  FAMILY(zq320x, B) \
  FAMILY(zq330x, C) \
  FAMILY(zq340x, D) \
  FAMILY(zq350x, E) \
  FAMILY(zq360x, F) \
  /* end of the families */

#define MURVANE_MODELS(MODEL) \
  MODEL(zq3101, 0x95, zq310x) \
  MODEL(zq3102, 0x97, zq310x) \
  MODEL(zq3201, 0x05, zq320x) \
  MODEL(zq3202, 0x04, zq320x) \
  MODEL(zq3203, 0x07, zq320x) \
  MODEL(zq3204, 0x06, zq320x) \
  MODEL(zq3301, 0x7150, zq330x) \
  MODEL(zq3302, 0x7170, zq330x) \
  MODEL(zq3303, 0x7171, zq330x) \
  MODEL(zq3304, 0x7180, zq330x) \
  MODEL(zq3401, 0x7270, zq340x) \
  MODEL(zq3402, 0x7280, zq340x) \
  MODEL(zq3501, 0x9250, zq350x) \
  MODEL(zq3502, 0x9260, zq350x) \
  MODEL(zq3503, 0x9270, zq350x) \
  MODEL(zq3504, 0x9280, zq350x) \
  MODEL(zq3601, 0x9360, zq360x) \
  MODEL(zq3602, 0x9370, zq360x) \
  MODEL(zq3603, 0x9380, zq360x) \
  /* end of the models */
// clang-format on

// Counts the entries of a list: 0 MURVANE_FAMILIES(MURVANE_COUNT_ENTRY) is
// 0 +1 +1 ..., a term per entry, which parentheses would break.
#define MURVANE_COUNT_ENTRY(...) +1  // NOLINT(bugprone-macro-parentheses)
