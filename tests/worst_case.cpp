// Worst-case modeled time of every call, built from the driver's constants.
//
// A call's path is counted as (stall microseconds, read transfers, write
// transfers); on the virtual clock a read costs 40 bit times and a write 30
// at the build's bus clock (100 us and 75 us at 400 kHz), failed or not. Where the chip's answers choose a branch, the
// longest one is taken; polls run to their count (every reading a miss). The constants are mirrored here by name, each
// with the place it comes from, so that the bounds are read off the code rather than off a run; test_worst_case drives
// every family's model into its slowest behaviour and checks that the bounds
// hold and are nearly reached, which also catches a constant that changed on
// one side only.
#include "tests/worst_case.h"

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "core/family.h"
#include "families/zq310x/zq310x.h"
#include "sim/virtual_platform.h"

namespace murvane_test {

uint64_t worst_case_cost::ns() const {
  return wait_us * 1000 + reads * sim::read_transfer_ns + writes * sim::write_transfer_ns;
}

uint64_t worst_case_cost::us() const { return (ns() + 999) / 1000; }

namespace {

using cost = worst_case_cost;

constexpr cost operator+(cost a, const cost& b) {
  a.wait_us += b.wait_us;
  a.reads += b.reads;
  a.writes += b.writes;
  return a;
}

constexpr cost operator*(uint64_t n, const cost& c) { return {n * c.wait_us, n * c.reads, n * c.writes}; }

cost longest(std::initializer_list<cost> paths) {
  cost out;
  for (const cost& c : paths) {
    if (c.ns() > out.ns()) {
      out = c;
    }
  }
  return out;
}

// The building blocks of every path.
constexpr cost none{};
constexpr cost read{0, 1, 0};          // reg_read
constexpr cost write{0, 0, 1};         // reg_write
constexpr cost update = read + write;  // reg_write_bits: the read, then the write (none when the read fails)
constexpr cost wait(uint64_t us) { return {us, 0, 0}; }

// A poll of count readings with a wait after every miss (core poll_reg, and
// the families' own loops that wait before each reading: the same count of
// both). Every reading missing is the longest way through unless a hit on
// the last reading is followed by more work than one wait: after_hit.
cost poll(uint64_t count, uint64_t wait_us, cost after_hit = none) {
  const cost timeout = count * (read + wait(wait_us));
  const cost hit_last = count * read + (count - 1) * wait(wait_us) + after_hit;
  return longest({timeout, hit_last});
}

// core/waveform.h: waveform_image_size, streamed one write per byte.
constexpr uint64_t waveform_image_size = 146;
// Every family's set_ram_base: base high/low, pointer high/low.
constexpr cost ram_base_writes = 4 * write;

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
  bool offset_can_fail;  // whether the bring-up may write its failure marker
};

family_paths zq310x_paths() {
  // families/zq310x/zq310x.h
  constexpr uint64_t stop_poll_count = 100;
  constexpr uint64_t stop_poll_wait_us = 2000;
  constexpr uint64_t offset_poll_count = 2000;
  constexpr uint64_t f0_poll_count = 50;
  constexpr uint64_t f0_poll_wait_us = 10000;
  constexpr uint64_t ram_access_wait_us = 1000;
  constexpr uint64_t f0_wait_scale = 10000;

  family_paths p{};
  p.qualify_check = none;  // accepts every part without a transfer
  p.set_go = update;       // 0x05 GO bit
  p.set_gain = write;
  p.set_sequence = write;
  p.set_sequence_loop = update;
  p.write_trim_lra = write;
  p.write_ram = waveform_image_size * write;
  p.set_ram_base = ram_base_writes;
  p.ram_access_on = update + wait(ram_access_wait_us);
  p.ram_access_off = update;
  p.play_standby = update;                                // 0x04 standby bit only
  const cost enter_active_mode = update + read + update;  // standby bit off, 0x02 read to clear, 0x03 bit 5
  const cost set_boost_mode = update;
  p.play_ram = update + enter_active_mode + set_boost_mode + update;  // mode bits, active, boost, 0x66 cont bit
  p.play_cont = p.play_ram;                                           // the same steps with other values
  p.play_unknown = none;
  // GO cleared, the idle poll, then standby whether or not idle was seen.
  p.stop = update + poll(stop_poll_count, stop_poll_wait_us) + p.play_standby;
  // Access bit held, its wait, the start, back-to-back busy readings, release.
  p.offset_calibration = update + wait(ram_access_wait_us) + update + poll(offset_poll_count, 0) + update;
  // 0x31 three times, 0x4D, 0x5D, 0x35, the calibration, 0x74..0x77, 0x34.
  p.chip_init = 3 * write + 2 * write + update + p.offset_calibration + 4 * write + update;

  // The detection wait, from the record (zq310x.cpp detection_wait_us).
  const murvane::family_dts& d = murvane::zq310x_dts;
  const uint64_t cycle_us = f0_wait_scale / d.f0_pre;
  const uint64_t tracked = d.f0_7e > 0 ? d.f0_7e - 1U : 0U;
  const uint64_t detection_us =
      cycle_us * ((static_cast<uint64_t>(d.f0_7d_lo) + d.f0_7f) * tracked + d.f0_7d_lo + d.f0_7d_hi);
  // Continuous mode, 0x48 detector, 0x2B, 0x7B, 0x49/0x4A period, 0x7D..0x7F,
  // 0x02 read to clear, GO.
  const cost setup = p.play_cont + update + update + write + 2 * write + 3 * write + read + update;
  // The idle poll; a hit reads the period (0x68, 0x69).
  const cost measure = wait(detection_us) + poll(f0_poll_count, f0_poll_wait_us, 2 * read);
  p.get_f0 = p.stop + setup + measure + update;  // detector back to done
  p.offset_can_fail = true;
  return p;
}

family_paths zq320x_paths() {
  // families/zq320x/zq320x.h
  constexpr uint64_t stop_poll_count = 40;
  constexpr uint64_t stop_poll_wait_us = 2000;
  constexpr uint64_t f0_start_wait_us = 20000;
  constexpr uint64_t f0_poll_count = 200;
  constexpr uint64_t f0_poll_wait_us = 10000;
  constexpr uint64_t ram_access_wait_us = 1000;
  constexpr uint64_t offset_cal_settle_us = 1000;
  constexpr uint64_t offset_cal_measure_us = 3000;

  family_paths p{};
  p.qualify_check = read;  // 0x64
  p.set_go = write;
  p.set_gain = write;
  p.set_sequence = write;
  p.set_sequence_loop = update;
  p.write_trim_lra = update;
  p.write_ram = waveform_image_size * write;
  p.set_ram_base = ram_base_writes;
  p.ram_access_on = update + wait(ram_access_wait_us);
  p.ram_access_off = update;
  // Stop mode, GO, the standby poll (every reading followed by its wait, the
  // one that sees standby too), and when it was never seen the forced pulse:
  // set, then released.
  p.stop = update + write + stop_poll_count * (read + wait(stop_poll_wait_us)) + 2 * update;
  p.play_standby = p.stop;
  p.play_ram = update + update + update;           // mode, boost, 0x43 cont bit
  p.play_cont = update + update + write + update;  // mode, bypass, 0x3C, 0x43 cont bit
  p.play_unknown = none;
  // Gain, 0x43 bit 3 and its settle, the start and its run, three result
  // readings, 0x43 bit 3 cleared.
  p.offset_calibration =
      update + update + wait(offset_cal_settle_us) + update + wait(offset_cal_measure_us) + 3 * read + update;
  p.chip_init = 5 * write + write + update + update;  // 0x6D..0x71, 0x21, 0x1C, 0x71 bit 7
  // Stop, 0x18 tracking, 0x08 saved and its detect bit, continuous mode,
  // 0x1D enable and level, 0x1E..0x20, margin, 0x1A, GO, the start wait,
  // the standby poll (a hit reads 0x25/0x26), then 0x18 and 0x08 restored.
  p.get_f0 = p.stop + update + read + update + p.play_cont + 2 * update + 3 * write + write + write + write +
             wait(f0_start_wait_us) + poll(f0_poll_count, f0_poll_wait_us, 2 * read) + 2 * update;
  p.offset_can_fail = true;
  return p;
}

family_paths zq330x_paths() {
  // families/zq330x/zq330x.cpp
  constexpr uint64_t standby_poll_count = 100;
  constexpr uint64_t standby_poll_wait_us = 2000;
  constexpr uint64_t ram_access_settle_us = 1000;
  constexpr uint64_t f0_detect_run_us = 20000;

  family_paths p{};
  p.qualify_check = read;  // 0x61
  p.set_go = write;
  p.set_gain = write;
  p.set_sequence = write;
  p.set_sequence_loop = update;
  p.write_trim_lra = update;
  p.write_ram = waveform_image_size * write;
  p.set_ram_base = ram_base_writes;
  p.ram_access_on = update + wait(ram_access_settle_us);
  p.ram_access_off = update;
  p.play_standby = 2 * update;  // the force pulse: raised, dropped
  p.play_ram = 3 * update;      // mode, boost, 0x50 select
  p.play_cont = 3 * update;
  p.play_unknown = none;
  // wait_standby: a wait before each reading; a hit on the last one ends it.
  const cost wait_standby = poll(standby_poll_count, standby_poll_wait_us);
  p.stop = update + write + wait_standby + p.play_standby;  // stop mode, GO, the wait, the forced standby
  p.offset_calibration = none;                              // no calibration on this family
  p.chip_init = update + write + update;                    // 0x52 gain, 0x21, 0x1C
  // Stop, 0x18, 0x08 saved and its detect bit, continuous mode, 0x1D twice,
  // 0x1E, 0x1F, 0x20, margin, 0x1A, GO, the run, the standby wait, the
  // period (0x25, 0x26), 0x18 and 0x08 restored.
  p.get_f0 = p.stop + update + read + update + p.play_cont + 2 * update + 4 * write + write + write +
             wait(f0_detect_run_us) + wait_standby + 2 * read + 2 * update;
  p.offset_can_fail = false;  // always 0
  return p;
}

family_paths zq340x_paths() {
  // families/zq340x/zq340x.cpp
  constexpr uint64_t ram_access_settle_us = 1000;
  constexpr uint64_t standby_polls = 100;
  constexpr uint64_t standby_poll_wait_us = 2000;
  constexpr uint64_t offset_settle_us = 1000;
  constexpr uint64_t offset_run_us = 3000;
  constexpr uint64_t f0_run_us = 20000;

  family_paths p{};
  p.qualify_check = read;  // 0x64
  p.set_go = write;
  p.set_gain = write;
  p.set_sequence = write;
  p.set_sequence_loop = update;
  p.write_trim_lra = update;
  p.write_ram = waveform_image_size * write;
  p.set_ram_base = ram_base_writes;
  p.ram_access_on = update + wait(ram_access_settle_us);
  p.ram_access_off = update;
  p.play_standby = 2 * update;  // 0x45 standby request pulse
  p.play_ram = 3 * update;      // mode, boost, continuous enable
  p.play_cont = 3 * update;
  p.play_unknown = none;
  const cost wait_standby = poll(standby_polls, standby_poll_wait_us);
  p.stop = update + write + wait_standby + p.play_standby;
  // 0x18 skip bit, 0x21, 0x1C, 0x06 init bits, key open, 0x56, 0x6B, 0x73, 0x76, key closed.
  p.chip_init = update + write + update + update + write + 2 * update + 2 * write + write;
  // Gain, path open and its settle, offset mode, run and its wait, idle,
  // three result readings, path closed.
  p.offset_calibration =
      update + update + wait(offset_settle_us) + update + update + wait(offset_run_us) + update + 3 * read + update;
  // Stop, detector, continuous mode, 0x1D twice, 0x1E, 0x1F, 0x20, margin,
  // 0x1A, GO, the run, the standby wait, the period, detector off.
  p.get_f0 = p.stop + update + p.play_cont + 2 * update + 4 * write + write + write + wait(f0_run_us) + wait_standby +
             2 * read + update;
  p.offset_can_fail = true;
  return p;
}

family_paths zq350x_paths() {
  // families/zq350x/zq350x.h and zq350x.cpp
  constexpr uint64_t standby_poll_us = 2000;
  constexpr uint64_t stop_standby_polls = 40;
  constexpr uint64_t f0_standby_polls = 1000;
  constexpr uint64_t ram_access_settle_us = 1000;
  constexpr uint64_t repair_settle_us = 2000;
  constexpr uint64_t f0_drive_settle_us = 20000;

  family_paths p{};
  // 0x61, 0x62, 0x63; the repair window (access bit and its settle, key,
  // the 0x5C access, the settle, key closed, access bit off); 0x62, 0x63 again.
  const cost repair = update + wait(ram_access_settle_us) + write + read + wait(repair_settle_us) + write + update;
  p.qualify_check = 3 * read + repair + 2 * read;
  p.set_go = read + write;  // 0x79 trim checked before GO
  p.set_gain = write;
  p.set_sequence = write;
  p.set_sequence_loop = update;
  p.write_trim_lra = 3 * write;  // key open, trim, key closed
  p.write_ram = waveform_image_size * write;
  p.set_ram_base = ram_base_writes;
  p.ram_access_on = update + wait(ram_access_settle_us);
  p.ram_access_off = update;
  p.play_standby = 2 * update;
  p.play_ram = 3 * update;
  p.play_cont = 3 * update;
  p.play_unknown = none;
  p.stop = update + write + poll(stop_standby_polls, standby_poll_us) + p.play_standby;
  p.offset_calibration = none;
  // Key, 0x70, 0x71, 0x74, 0x75, 0x48, key closed, 0x1C, 0x21, gain.
  p.chip_init = write + write + 4 * update + write + update + write + update;
  // Stop, 0x18, 0x08 saved and its detect bit, continuous mode, 0x1D twice,
  // 0x1E, 0x1F, 0x20, margin, 0x1A, set_go, the settle, the standby wait,
  // the period, 0x18 and 0x08 restored.
  p.get_f0 = p.stop + update + read + update + p.play_cont + 2 * update + 4 * write + write + p.set_go +
             wait(f0_drive_settle_us) + poll(f0_standby_polls, standby_poll_us) + 2 * read + 2 * update;
  p.offset_can_fail = false;
  return p;
}

family_paths zq360x_paths() {
  // families/zq360x/zq360x.h
  constexpr uint64_t stop_standby_polls = 40;
  constexpr uint64_t standby_poll_wait_us = 2000;
  constexpr uint64_t f0_standby_polls = 1000;
  constexpr uint64_t f0_drive_wait_us = 20000;
  constexpr uint64_t ram_access_wait_us = 1000;
  constexpr uint64_t offset_settle_wait_us = 1000;
  constexpr uint64_t offset_measure_wait_us = 3000;

  family_paths p{};
  p.qualify_check = read;  // 0x67
  p.set_go = write;
  p.set_gain = write;
  p.set_sequence = write;
  p.set_sequence_loop = update;
  p.write_trim_lra = write;
  p.write_ram = waveform_image_size * write;
  p.set_ram_base = ram_base_writes;
  p.ram_access_on = update + wait(ram_access_wait_us);
  p.ram_access_off = update;
  p.play_standby = 2 * update;
  p.play_ram = 3 * update;
  p.play_cont = 3 * update;
  p.play_unknown = none;
  p.stop = update + write + poll(stop_standby_polls, standby_poll_wait_us) + p.play_standby;
  // 0x18 skip bit, 0x1C, 0x21, key, 0x56, 0x6F, 0x70, 0x72, 0x77, 0x7D, key closed.
  p.chip_init = update + update + write + write + update + 5 * write + write;
  // Gain, access bit and its settle, offset mode, trigger, the measurement
  // wait, trigger released, three result readings, access bit off.
  p.offset_calibration = update + update + wait(offset_settle_wait_us) + update + update +
                         wait(offset_measure_wait_us) + update + 3 * read + update;
  // Stop, 0x18 detector, 0x08 saved and its detect bit, continuous mode,
  // 0x1D twice, 0x1E, 0x1F, 0x20, margin, 0x1A width and 0x19 period, GO,
  // the drive wait, the standby wait, the count, 0x18 and 0x08 restored.
  p.get_f0 = p.stop + update + read + update + p.play_cont + 2 * update + 4 * write + 2 * write + write +
             wait(f0_drive_wait_us) + poll(f0_standby_polls, standby_poll_wait_us) + 2 * read + 2 * update;
  p.offset_can_fail = true;
  return p;
}

family_paths paths_of(sim::family_id family) {
  switch (family) {
    case sim::family_id::zq310x:
      return zq310x_paths();
    case sim::family_id::zq320x:
      return zq320x_paths();
    case sim::family_id::zq330x:
      return zq330x_paths();
    case sim::family_id::zq340x:
      return zq340x_paths();
    case sim::family_id::zq350x:
      return zq350x_paths();
    case sim::family_id::zq360x:
      return zq360x_paths();
  }
  std::abort();
}

// The bring-up (core/bringup.cpp with core/identify.cpp), the same for the
// entry point and for Start: the stack guard and the install make no stall
// and no bus transfer.
cost bringup(const family_paths& p) {
  // core/identify.h and identify.cpp
  constexpr uint64_t reset_low_us = 2000;
  constexpr uint64_t reset_settle_us = 8000;
  constexpr uint64_t id_retry_wait_us = 2000;
  constexpr uint64_t id_passes = 2;

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

}  // namespace murvane_test
