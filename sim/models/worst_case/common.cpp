#include "core/family_common.h"
#include "core/waveform.h"
#include "sim/models/worst_case/paths.h"
#include "sim/virtual_platform.h"

namespace sim {

uint64_t worst_case_cost::ns() const { return wait_us * 1000 + reads * read_transfer_ns + writes * write_transfer_ns; }

uint64_t worst_case_cost::us() const { return (ns() + 999) / 1000; }

namespace paths {

cost longest(std::initializer_list<cost> paths) {
  cost out;
  for (const cost& c : paths) {
    if (c.ns() > out.ns()) {
      out = c;
    }
  }
  return out;
}

cost poll(uint64_t count, uint64_t wait_us, const cost& after_hit) {
  const cost timeout = count * (read + wait(wait_us));
  const cost hit_last = count * read + (count - 1) * wait(wait_us) + after_hit;
  return longest({timeout, hit_last});
}

cost waveform_writes() { return murvane::waveform_image_size * write; }

cost ram_access_on() { return update + wait(murvane::ram_access_wait_us); }

}  // namespace paths

}  // namespace sim
