// The worst-case paths of the zq310x family's calls (sim/models/worst_case/paths.h).
#include "families/zq310x/zq310x.h"

#include "core/family_common.h"
#include "sim/models/worst_case/paths.h"

namespace sim::paths {

family_paths zq310x_paths() {
  // The family's own polls and waits, from families/zq310x/zq310x.h.
  using murvane::zq310x::f0_poll_count;
  using murvane::zq310x::f0_poll_wait_us;
  using murvane::zq310x::f0_wait_scale;
  using murvane::zq310x::offset_poll_count;
  using murvane::zq310x::stop_poll_count;
  using murvane::zq310x::stop_poll_wait_us;

  family_paths p{};
  p.qualify_check = none;  // accepts every part without a transfer
  p.set_go = update;       // 0x05 GO bit
  p.set_gain = write;
  p.set_sequence = write;
  p.set_sequence_loop = update;
  p.write_trim_lra = write;
  p.write_ram = waveform_writes();
  p.set_ram_base = ram_base_writes;
  p.ram_access_on = ram_access_on();
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
  p.offset_calibration = update + wait(murvane::ram_access_wait_us) + update + poll(offset_poll_count, 0) + update;
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

}  // namespace sim::paths
