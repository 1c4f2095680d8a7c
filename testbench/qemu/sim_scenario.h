// A test scenario for the firmware test platform: which simulated chip sits
// on the bus (or none) and which failure knobs apply, and the verdict on the
// chip after a run. Freestanding: SimPlatform.efi and the test application
// use it in firmware, the host checker uses it on the virtual platform, so
// both sides set up and judge a chip the same way.
//
// Scenario text (the content of \sim.cfg on the boot disk), words separated
// by blanks or line ends, '#' starts a comment to the end of the line:
//   <model>|absent   the chip, e.g. "zq3201"; "absent": nothing answers
//   noqualify        clear the model's qualification bit (power-on value),
//                    for families with a qualification check (not zq310x)
//   RR=VV            hex register override: power-on value VV in RR
//   stacksmash       not a chip knob: the test application overflows a
//                    protected buffer of its own instead of running the
//                    driver, to show the stack-guard check in firmware
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "sim/models/chip_model.h"
#include "sim/models/model_table.h"

namespace fwsim {

inline constexpr size_t max_overrides = 8;
inline constexpr size_t scenario_text_max = 256;
inline constexpr size_t verdict_text_max = 8192;

struct reg_override {
  uint8_t reg;
  uint8_t value;
};

struct scenario {
  const sim::model_info* model;  // nullptr: no chip answers on the bus
  bool noqualify;
  reg_override overrides[max_overrides];
  size_t override_count;
  bool stack_smash;
};

enum class parse_status : uint8_t {
  ok,
  empty,               // no chip named
  unknown_chip,        // first word is neither a model nor "absent"
  unknown_knob,        // a later word is not a knob
  no_qualification,    // noqualify for a family without a qualification check
  knob_without_chip,   // a knob with "absent"
  too_many_overrides,  // more than max_overrides RR=VV words
};

const char* parse_status_text(parse_status s);

// Parses len bytes of text (need not be NUL-terminated). On success fills
// out; otherwise out is left cleared and *bad_word (if given) points at the
// offending word within text.
parse_status parse_scenario(const char* text, size_t len, scenario* out, const char** bad_word = nullptr);

// The register and bit a family's qualification check reads; false when
// the family has no such check.
struct qualification_bit {
  uint8_t reg;
  uint8_t mask;
};
bool qualification_bit_of(sim::family_id family, qualification_bit* out);

// Applies the knobs to a chip freshly configured as the scenario's model.
// They change power-on values, so they also hold after every reset pulse.
void apply_scenario(const scenario& s, sim::chip_model& chip);

struct verdict {
  bool chip_present;
  bool sram_matches;    // SRAM at base holds the image byte for byte
  uint32_t sram_diffs;  // bytes that differ
  uint32_t first_diff;  // SRAM address of the first difference
  bool playing;         // playback triggered (GO seen)
  size_t violations;
};

// Judges a chip after a run against the waveform image expected at base.
verdict judge(const sim::chip_model* chip, const uint8_t* image, size_t image_len, uint16_t base);

inline bool healthy(const verdict& v) { return v.chip_present && v.sram_matches && v.playing && v.violations == 0; }

// The verdict as lines, each starting "verdict: " and ending "\n" (the
// kept violations one per line). Returns the length written; the text is
// cut, NUL-terminated, when cap is too small (verdict_text_max is enough
// for every violation a model keeps).
size_t format_verdict(const verdict& v, const sim::chip_model* chip, size_t image_len, uint16_t base, char* buf,
                      size_t cap);

// What the driver did on the bus and with its waits, as one line (ending
// "\n"): "traffic: R reads, W writes, S stalls, U us stalled".
size_t format_traffic(uint64_t reads, uint64_t writes, uint64_t stalls, uint64_t stall_us, char* buf, size_t cap);

}  // namespace fwsim
