// The worst-case cost of every call of a family, built from the driver's
// own constants (the family's header, core/family_common.h): each family's
// chip model keeps its paths in sim/models/worst_case/<name>.cpp, defining
// <name>_paths(); tests/worst_case.cpp puts them together with the bring-up.
//
// A call's path is counted as (stall microseconds, read transfers, write
// transfers); on the virtual clock a read costs 95 us and a write 72.5 us,
// failed or not. Where the chip's answers choose a branch, the longest one
// is taken; polls run to their count (every reading a miss).
#pragma once

#include <cstdint>
#include <initializer_list>

#include "core/family_list.h"

namespace sim {

// A path's cost on the virtual clock: the stalls it asks for and the bus
// transfers it makes (each transfer costs its bus time, failed or not).
struct worst_case_cost {
  uint64_t wait_us = 0;
  uint64_t reads = 0;
  uint64_t writes = 0;

  uint64_t ns() const;
  // Rounded up to the next whole microsecond.
  uint64_t us() const;
};

namespace paths {

using cost = worst_case_cost;

constexpr cost operator+(cost a, const cost& b) {
  a.wait_us += b.wait_us;
  a.reads += b.reads;
  a.writes += b.writes;
  return a;
}

constexpr cost operator*(uint64_t n, const cost& c) { return {n * c.wait_us, n * c.reads, n * c.writes}; }

cost longest(std::initializer_list<cost> paths);

// The building blocks of every path.
inline constexpr cost none{};
inline constexpr cost read{0, 1, 0};          // reg_read
inline constexpr cost write{0, 0, 1};         // reg_write
inline constexpr cost update = read + write;  // write_field: the read, then the write (none when the read fails)
constexpr cost wait(uint64_t us) { return {us, 0, 0}; }

// A poll of count readings with a wait after every miss or before every
// reading (core poll_reg: the same count of both). Every reading missing is
// the longest way through unless a hit on the last reading is followed by
// more work than one wait: after_hit.
cost poll(uint64_t count, uint64_t wait_us, const cost& after_hit = none);

// What one family's calls cost at most. Slots with arguments are split by
// the argument values that take different paths.
struct family_paths {
  cost get_f0;
  cost offset_calibration;
  cost set_go;  // with 1, as the bring-up calls it (no family's set_go depends on the flag's value for its length)
  cost stop;
  cost write_ram;
  cost set_ram_base;
  cost chip_init;
  cost set_gain;
  cost play_standby;
  cost play_ram;
  cost play_cont;
  cost play_unknown;
  cost write_trim_lra;
  cost set_sequence;
  cost set_sequence_loop;
  cost ram_access_on;
  cost ram_access_off;
  cost qualify_check;
  bool offset_can_fail = false;  // whether the bring-up may write its failure marker
};

// Steps every family makes alike.
// set_ram_base: base high/low, pointer high/low.
inline constexpr cost ram_base_writes = 4 * write;
// write_ram: the image, one write per byte.
cost waveform_writes();
// set_ram_access(1) and (0).
cost ram_access_on();
inline constexpr cost ram_access_off = update;

#define SIM_DECLARE_PATHS(name, letter) family_paths name##_paths();
MURVANE_FAMILIES(SIM_DECLARE_PATHS)
#undef SIM_DECLARE_PATHS

}  // namespace paths

}  // namespace sim
