// The worst-case paths of the zq320x family's calls (sim/models/worst_case/paths.h).
#include "families/zq320x/zq320x.h"

#include "core/family_common.h"
#include "sim/models/worst_case/paths.h"

namespace sim::paths {

family_paths zq320x_paths() {
  // The family's own polls and waits, from families/zq320x/zq320x.h.
  using murvane::zq320x::f0_poll_count;
  using murvane::zq320x::f0_poll_wait_us;
  using murvane::zq320x::stop_poll_count;
  using murvane::zq320x::stop_poll_wait_us;

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
      update + update + wait(murvane::ram_access_wait_us) + update + wait(murvane::offset_run_us) + 3 * read + update;
  p.chip_init = 5 * write + write + update + update;  // 0x6D..0x71, 0x21, 0x1C, 0x71 bit 7
  // Stop, 0x18 tracking, 0x08 saved and its detect bit, continuous mode,
  // 0x1D enable and level, 0x1E..0x20, margin, 0x1A, GO, the start wait,
  // the standby poll (a hit reads 0x25/0x26), then 0x18 and 0x08 restored.
  p.get_f0 = p.stop + update + read + update + p.play_cont + 2 * update + 3 * write + write + write + write +
             wait(murvane::f0_drive_run_us) + poll(f0_poll_count, f0_poll_wait_us, 2 * read) + 2 * update;
  p.offset_can_fail = true;
  return p;
}

}  // namespace sim::paths
