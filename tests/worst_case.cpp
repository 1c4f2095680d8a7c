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

// The terms of the bring-up's whole sequence (core/bringup.cpp with
// core/identify.cpp), the same for the entry point and for Start: the stack
// guard and the install make no stall and no bus transfer.
struct bringup_terms {
  cost select_miss;     // a reset pulse, the identifier read, the wait before the retry
  cost select_found;    // reset_and_select_family with its retry taken
  cost identify_miss;   // identify_chip's read and wait before its retry
  cost identification;  // both identifications needing their retry
  cost qualify_check;
  cost calibration;
  cost marker;  // 0x00 <- 0xAA when the family's calibration can fail
  cost chip_init;
  cost ram_load;
  cost play;
};

constexpr uint64_t id_passes = 2;  // core/identify.cpp: a retry after a new reset pulse

bringup_terms terms_of(const family_paths& p) {
  using murvane::id_retry_wait_us;
  using murvane::reset_low_us;
  using murvane::reset_settle_us;

  const cost reset_pulse = wait(reset_low_us) + wait(reset_settle_us);
  // 0x00 reads a marker of a 16-bit identifier, then 0x57 and 0x58.
  const cost read_chip_id = 3 * read;
  bringup_terms t{};
  t.select_miss = reset_pulse + read_chip_id + wait(id_retry_wait_us);
  t.select_found = (id_passes - 1) * t.select_miss + reset_pulse + read_chip_id;
  t.identify_miss = read_chip_id + wait(id_retry_wait_us);
  t.identification = t.select_found + (id_passes - 1) * t.identify_miss + read_chip_id;
  t.qualify_check = p.qualify_check;
  t.calibration = p.offset_calibration;
  t.marker = p.offset_can_fail ? write : none;
  t.chip_init = p.chip_init;
  t.ram_load = p.ram_access_on + p.set_ram_base + p.write_ram + p.ram_access_off;
  t.play = 2 * p.set_sequence + p.set_sequence_loop + p.set_gain + p.play_ram + p.set_go;
  return t;
}

cost bringup(const family_paths& p) {
  const bringup_terms t = terms_of(p);
  return longest({
      id_passes * t.select_miss,                                       // no known identifier
      t.select_found + t.qualify_check,                                // part rejected
      t.select_found + t.qualify_check + id_passes * t.identify_miss,  // model not confirmed
      t.identification + t.qualify_check + t.calibration + t.marker +  // the whole sequence
          t.chip_init + t.ram_load + t.play,
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

// "3000 µs + 8 R + 4 W", leaving out what is zero; "nothing" for none.
std::string term_text(const worst_case_cost& c) {
  std::string out;
  const auto add = [&out](uint64_t n, const char* unit) {
    if (n != 0) {
      out += (out.empty() ? "" : " + ") + std::to_string(n) + unit;
    }
  };
  add(c.wait_us, " µs");
  add(c.reads, " R");
  add(c.writes, " W");
  return out.empty() ? "nothing" : out;
}

std::string bringup_terms_table() {
  using term_of = cost (*)(const bringup_terms&);
  struct row {
    const char* name;
    term_of term;
  };
  static constexpr row rows[] = {
      {"identification", [](const bringup_terms& t) { return t.identification; }},
      {"`qualify_check`", [](const bringup_terms& t) { return t.qualify_check; }},
      {"`offset_calibration`", [](const bringup_terms& t) { return t.calibration; }},
      {"marker (0x00 ← 0xAA)", [](const bringup_terms& t) { return t.marker; }},
      {"`chip_init`", [](const bringup_terms& t) { return t.chip_init; }},
      {"SRAM load", [](const bringup_terms& t) { return t.ram_load; }},
      {"play", [](const bringup_terms& t) { return t.play; }},
  };
  std::string out = "| term |";
  for (sim::family_id f : all_families) {
    out += std::string(" ") + family_name(f) + " |";
  }
  out += '\n';
  out += separator(1 + sim::family_count);
  for (const row& r : rows) {
    out += "| ";
    out += r.name;
    out += " |";
    for (sim::family_id f : all_families) {
      out += ' ';
      out += term_text(r.term(terms_of(paths_of(f))));
      out += " |";
    }
    out += "\n";
  }
  return out;
}

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
  out += '\n';
  out += separator(1 + sim::family_count);
  for (const char* slot : murvane::haptic_ops_names) {
    out += "| ";
    out += slot;
    out += " |";
    for (sim::family_id f : all_families) {
      out += ' ';
      out += std::to_string(worst_case_us(f, slot));
      out += " |";
    }
    out += "\n";
  }
  return out;
}

}  // namespace murvane_test
