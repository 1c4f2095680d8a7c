// The worst-case paths of the zq350x family's calls (sim/models/worst_case/paths.h).
#include "families/zq350x/zq350x.h"

#include "core/family_common.h"
#include "sim/models/worst_case/paths.h"

namespace sim::paths {

family_paths zq350x_paths() {
  // The family's own polls and waits, from families/zq350x/zq350x.h.
  using murvane::zq350x::f0_standby_polls;
  using murvane::zq350x::repair_settle_us;
  using murvane::zq350x::standby_poll_wait_us;
  using murvane::zq350x::stop_standby_polls;

  family_paths p{};
  // 0x61, 0x62, 0x63; the repair window (access bit and its settle, key,
  // the 0x5C access, the settle, key closed, access bit off); 0x62, 0x63 again.
  const cost repair =
      update + wait(murvane::ram_access_wait_us) + write + read + wait(repair_settle_us) + write + update;
  p.qualify_check = 3 * read + repair + 2 * read;
  p.set_go = read + write;  // 0x79 trim checked before GO
  p.set_gain = write;
  p.set_sequence = write;
  p.set_sequence_loop = update;
  p.write_trim_lra = 3 * write;  // key open, trim, key closed
  p.write_ram = waveform_writes();
  p.set_ram_base = ram_base_writes;
  p.ram_access_on = ram_access_on();
  p.ram_access_off = update;
  p.play_standby = 2 * update;
  p.play_ram = 3 * update;
  p.play_cont = 3 * update;
  p.play_unknown = none;
  p.stop = update + write + poll(stop_standby_polls, standby_poll_wait_us) + p.play_standby;
  p.offset_calibration = none;
  // Key, 0x70, 0x71, 0x74, 0x75, 0x48, key closed, 0x1C, 0x21, gain.
  p.chip_init = write + write + 4 * update + write + update + write + update;
  // Stop, 0x18, 0x08 saved and its detect bit, continuous mode, 0x1D twice,
  // 0x1E, 0x1F, 0x20, margin, 0x1A, set_go, the settle, the standby wait,
  // the period, 0x18 and 0x08 restored.
  p.get_f0 = p.stop + update + read + update + p.play_cont + 2 * update + 4 * write + write + p.set_go +
             wait(murvane::f0_drive_run_us) + poll(f0_standby_polls, standby_poll_wait_us) + 2 * read + 2 * update;
  p.offset_can_fail = false;
  return p;
}

}  // namespace sim::paths
