// The worst-case paths of the zq340x family's calls (sim/models/worst_case/paths.h).
#include "families/zq340x/zq340x.h"

#include "core/family_common.h"
#include "sim/models/worst_case/paths.h"

namespace sim::paths {

family_paths zq340x_paths() {
  // The family's own polls and waits, from families/zq340x/zq340x.h.
  using murvane::zq340x::standby_poll_count;
  using murvane::zq340x::standby_poll_wait_us;

  family_paths p{};
  p.qualify_check = read;  // 0x64
  p.set_go = write;
  p.set_gain = write;
  p.set_sequence = write;
  p.set_sequence_loop = update;
  p.write_trim_lra = update;
  p.write_ram = waveform_writes();
  p.set_ram_base = ram_base_writes;
  p.ram_access_on = ram_access_on();
  p.ram_access_off = update;
  p.play_standby = 2 * update;  // 0x45 standby request pulse
  p.play_ram = 3 * update;      // mode, boost, continuous enable
  p.play_cont = 3 * update;
  p.play_unknown = none;
  const cost wait_standby = poll(standby_poll_count, standby_poll_wait_us);
  p.stop = update + write + wait_standby + p.play_standby;
  // 0x18 skip bit, 0x21, 0x1C, 0x06 init bits, key open, 0x56, 0x6B, 0x73, 0x76, key closed.
  p.chip_init = update + write + update + update + write + 2 * update + 2 * write + write;
  // Gain, path open and its settle, offset mode, run and its wait, idle,
  // three result readings, path closed.
  p.offset_calibration = update + update + wait(murvane::ram_access_wait_us) + update + update +
                         wait(murvane::offset_run_us) + update + 3 * read + update;
  // Stop, detector, continuous mode, 0x1D twice, 0x1E, 0x1F, 0x20, margin,
  // 0x1A, GO, the run, the standby wait, the period, detector off.
  p.get_f0 = p.stop + update + p.play_cont + 2 * update + 4 * write + write + write + wait(murvane::f0_drive_run_us) +
             wait_standby + 2 * read + update;
  p.offset_can_fail = true;
  return p;
}

}  // namespace sim::paths
