// The worst-case paths of the zq360x family's calls (sim/models/worst_case/paths.h).
#include "families/zq360x/zq360x.h"

#include "core/family_common.h"
#include "sim/models/worst_case/paths.h"

namespace sim::paths {

family_paths zq360x_paths() {
  // The family's own polls and waits, from families/zq360x/zq360x.h.
  using murvane::zq360x::f0_standby_polls;
  using murvane::zq360x::standby_poll_wait_us;
  using murvane::zq360x::stop_standby_polls;

  family_paths p{};
  p.qualify_check = read;  // 0x67
  p.set_go = write;
  p.set_gain = write;
  p.set_sequence = write;
  p.set_sequence_loop = update;
  p.write_trim_lra = write;
  p.write_ram = waveform_writes();
  p.set_ram_base = ram_base_writes;
  p.ram_access_on = ram_access_on();
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
  p.offset_calibration = update + update + wait(murvane::ram_access_wait_us) + update + update +
                         wait(murvane::offset_run_us) + update + 3 * read + update;
  // Stop, 0x18 detector, 0x08 saved and its detect bit, continuous mode,
  // 0x1D twice, 0x1E, 0x1F, 0x20, margin, 0x1A width and 0x19 period, GO,
  // the drive wait, the standby wait, the count, 0x18 and 0x08 restored.
  p.get_f0 = p.stop + update + read + update + p.play_cont + 2 * update + 4 * write + 2 * write + write +
             wait(murvane::f0_drive_run_us) + poll(f0_standby_polls, standby_poll_wait_us) + 2 * read + 2 * update;
  p.offset_can_fail = true;
  return p;
}

}  // namespace sim::paths
