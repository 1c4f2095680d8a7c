// What the tools and tests need to know about a family, kept with its chip
// model: each sim/models/<name>_model.cpp defines sim::<name>_facts, and
// everything that must cover every family (the traces' register names, the
// firmware test platform's noqualify knob, the worst-case and failed-transfer
// tests, the generated documentation tables) reads it through facts_of, in
// the order of core/family_list.h. A family missing its facts does not link
// ("undefined reference to sim::<name>_facts"); the build names the files a
// family needs before that (CMakeLists.txt).
//
// Freestanding like the models: the firmware test platform reads it too.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "sim/models/chip_model.h"
#include "sim/models/model_table.h"

namespace sim {

// A register's name in the readable traces: what the driver uses it for.
struct reg_name {
  uint8_t reg;
  const char* name;
};

// A constant table and its length, taken together from the array so that
// the length cannot disagree with it.
template <typename T>
struct table_view {
  const T* items = nullptr;
  size_t count = 0;

  constexpr table_view() = default;
  template <size_t N>
  constexpr table_view(const T (&array)[N]) : items(array), count(N) {}  // NOLINT(google-explicit-constructor)
  constexpr const T* begin() const { return items; }
  constexpr const T* end() const { return items + count; }
};

// A register and some of its bits.
struct reg_field_bits {
  uint8_t reg;
  uint8_t bits;
};

struct family_facts {
  // The bit a qualified part has set (the noqualify knob clears it); mask 0:
  // the family has no qualification check.
  struct {
    uint8_t reg;
    uint8_t mask;
  } qualification{};
  // The state register the driver polls for standby (idle), and the bits of
  // it that hold the state: a numbered state, 0 for standby; any other
  // number is a busy chip unless the wait takes it as well (below).
  uint8_t state_reg = 0;
  uint8_t state_mask = 0;
  // The one state besides 0 that each standby wait also takes for standby
  // (0: none, standby is state 0 alone): stop's poll, the f0 measurement's.
  struct {
    uint8_t stop;
    uint8_t f0;
  } standby_also{};
  // Play control, where GO is written; and the play-mode register stop sets
  // to its stop mode before GO (0: this family's stop clears GO instead).
  uint8_t go_reg = 0;
  uint8_t stop_mode_reg = 0;
  // The playback gain register, and the bits of the play-mode register that
  // all read 0 while the RAM sequence plays.
  uint8_t gain_reg = 0;
  struct {
    uint8_t reg;
    uint8_t mask;
  } ram_mode{};
  // The low byte of the measured f0 period, read last.
  uint8_t period_lo = 0;
  // The offset calibration's traffic: the write that starts it, the register
  // of its last result reading and which reading of it that is; the message
  // the driver logs when it fails. start_reg 0: no calibration traffic.
  struct {
    uint8_t start_reg;
    uint8_t result_reg;
    uint8_t result_read_nth;
    const char* fail_message;
  } offset{};
  // The registers the bring-up updates (read-modify-write), each with the
  // bits its updates may change: every other bit keeps its value.
  table_view<reg_field_bits> bring_up_fields;
  // Turns every knob of the model that makes the driver wait longest: the
  // state it polls for never comes, its calibration runs in full and fails.
  void (*make_slowest)(chip_model& model) = nullptr;
  // Names for the traces: the sequencer (eight waveform registers from
  // seq_base, a loop nibble per slot, two a register, from loop_base) and
  // every other register the driver gives a role.
  uint8_t seq_base = 0;
  uint8_t loop_base = 0;
  table_view<reg_name> reg_names;
};

#define SIM_DECLARE_FACTS(name, letter) extern const family_facts name##_facts;
MURVANE_FAMILIES(SIM_DECLARE_FACTS)
#undef SIM_DECLARE_FACTS

const family_facts& facts_of(family_id family);

}  // namespace sim
