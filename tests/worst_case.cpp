// Worst-case modeled time of every call, built from the driver's constants.
//
// A call's path is counted as (stall microseconds, read transfers, write
// transfers); on the virtual clock a read costs 40 bit times and a write 30
// at the build's bus clock (100 us and 75 us at 400 kHz), failed or not.
// Each family's paths come with its chip model (sim/models/worst_case/),
// read off the family's own constants; the bring-up around them is here.
// test_worst_case drives every family's model into its slowest behaviour
// and checks that the bounds hold and are nearly reached, which also
// catches a path that counts a step the code does not make, or misses one.
#include "tests/worst_case.h"

#include <cstdio>
#include <cstdlib>

#include "core/family.h"
#include "core/identify.h"
#include "sim/models/worst_case/paths.h"

namespace murvane_test {

namespace {

using namespace sim::paths;  // the cost arithmetic and every family's paths

family_paths paths_of(sim::family_id family) {
  switch (family) {
#define PATHS_OF_FAMILY(name, letter) \
  case sim::family_id::name:          \
    return name##_paths();
    MURVANE_FAMILIES(PATHS_OF_FAMILY)
#undef PATHS_OF_FAMILY
  }
  std::abort();
}

// The bring-up (core/bringup.cpp with core/identify.cpp), the same for the
// entry point and for Start: the stack guard and the install make no stall
// and no bus transfer.
cost bringup(const family_paths& p) {
  using murvane::id_retry_wait_us;
  using murvane::reset_low_us;
  using murvane::reset_settle_us;
  constexpr uint64_t id_passes = 2;  // core/identify.cpp: a retry after a new reset pulse

  const cost reset_pulse = wait(reset_low_us) + wait(reset_settle_us);
  // 0x00 reads a marker of a 16-bit identifier, then 0x57 and 0x58.
  const cost read_chip_id = 3 * read;
  const cost select_miss = reset_pulse + read_chip_id + wait(id_retry_wait_us);
  const cost select_found = (id_passes - 1) * select_miss + reset_pulse + read_chip_id;
  const cost identify_miss = read_chip_id + wait(id_retry_wait_us);
  const cost identify_found = (id_passes - 1) * identify_miss + read_chip_id;

  const cost calibration = p.offset_calibration + (p.offset_can_fail ? write : none);  // 0x00 <- 0xAA on failure
  const cost ram_load = p.ram_access_on + p.set_ram_base + p.write_ram + p.ram_access_off;
  const cost play = 2 * p.set_sequence + p.set_sequence_loop + p.set_gain + p.play_ram + p.set_go;
  const cost identified = select_found + p.qualify_check + identify_found;
  return longest({
      id_passes * select_miss,                                     // no known identifier
      select_found + p.qualify_check,                              // part rejected
      select_found + p.qualify_check + id_passes * identify_miss,  // model not confirmed
      identified + calibration + p.chip_init + ram_load + play,    // the whole sequence
  });
}

}  // namespace

worst_case_cost worst_case(sim::family_id family, const std::string& call) {
  const family_paths p = paths_of(family);
  if (call == "entry" || call == "start") {
    return bringup(p);
  }
  const cost slots[murvane::haptic_ops_slots] = {
      p.get_f0,
      p.offset_calibration,
      p.set_go,
      p.stop,
      p.write_ram,
      p.set_ram_base,
      p.chip_init,
      p.set_gain,
      longest({p.play_standby, p.play_ram, p.play_cont, p.play_unknown}),
      p.write_trim_lra,
      p.set_sequence,
      p.set_sequence_loop,
      longest({p.ram_access_on, p.ram_access_off}),
      p.qualify_check,
  };
  for (size_t i = 0; i < murvane::haptic_ops_slots; ++i) {
    if (call == murvane::haptic_ops_names[i]) {
      return slots[i];
    }
  }
  std::fprintf(stderr, "worst_case: no call named \"%s\"\n", call.c_str());
  std::abort();
}

uint64_t worst_case_us(sim::family_id family, const std::string& call) { return worst_case(family, call).us(); }

uint64_t worst_case_any_family_us(const std::string& call) {
  uint64_t out = 0;
  for (sim::family_id f : all_families) {
    const uint64_t us = worst_case_us(f, call);
    out = us > out ? us : out;
  }
  return out;
}

namespace {

std::string format_ms(uint64_t us) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "%.1f", static_cast<double>(us) / 1000.0);
  return buf;
}

// A table's separator row for its number of columns.
std::string separator(size_t columns) {
  std::string out = "|";
  for (size_t i = 0; i < columns; ++i) {
    out += "---|";
  }
  return out + "\n";
}

const char* family_name(sim::family_id f) { return sim::first_model_of(f).family_name; }

}  // namespace

std::string worst_case_ms(uint64_t us) { return std::to_string(us) + " µs (" + format_ms(us) + " ms)"; }

std::string worst_case_tables() {
  std::string out = "| family | entry, Start | get_f0 | offset_calibration |\n" + separator(4);
  for (sim::family_id f : all_families) {
    out += std::string("| ") + family_name(f);
    for (const char* call : {"entry", "get_f0", "offset_calibration"}) {
      out += " | " + worst_case_ms(worst_case_us(f, call));
    }
    out += " |\n";
  }
  out += "\n| family | call | waits (µs) | reads | writes | bound (µs) |\n" + separator(6);
  for (sim::family_id f : all_families) {
    for (const char* call : {"entry", "get_f0", "offset_calibration"}) {
      const worst_case_cost c = worst_case(f, call);
      out += std::string("| ") + family_name(f) + " | " + call + " | " + std::to_string(c.wait_us) + " | " +
             std::to_string(c.reads) + " | " + std::to_string(c.writes) + " | " + std::to_string(c.us()) + " |\n";
    }
  }
  out += "\n| slot |";
  for (sim::family_id f : all_families) {
    out += std::string(" ") + family_name(f) + " |";
  }
  out += "\n" + separator(1 + sim::family_count);
  for (const char* slot : murvane::haptic_ops_names) {
    out += std::string("| ") + slot + " |";
    for (sim::family_id f : all_families) {
      out += " " + std::to_string(worst_case_us(f, slot)) + " |";
    }
    out += "\n";
  }
  return out;
}

}  // namespace murvane_test
