// The worst-case paths of the zq330x family's calls (sim/models/worst_case/paths.h).
#include "families/zq330x/zq330x.h"

#include "core/family_common.h"
#include "sim/models/worst_case/paths.h"

namespace sim::paths {

family_paths zq330x_paths() {
  // The family's own polls and waits, from families/zq330x/zq330x.h.
  using murvane::zq330x::standby_poll_count;
  using murvane::zq330x::standby_poll_wait_us;

  family_paths p{};
  p.qualify_check = read;  // 0x61
  p.set_go = write;
  p.set_gain = write;
  p.set_sequence = write;
  p.set_sequence_loop = update;
  p.write_trim_lra = update;
  p.write_ram = waveform_writes();
  p.set_ram_base = ram_base_writes;
  p.ram_access_on = ram_access_on();
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
             wait(murvane::f0_drive_run_us) + wait_standby + 2 * read + 2 * update;
  p.offset_can_fail = false;  // always 0
  return p;
}

}  // namespace sim::paths
