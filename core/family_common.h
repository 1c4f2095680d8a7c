// Small steps that several families share word for word.
#pragma once

#include <stdint.h>

namespace murvane {

// The byte a trim write carries for a kind (compared as a whole 32-bit
// value), after logging which one: 0 zero, 1 f0_cali_data, 2 osc_cali_data,
// anything else an error and f0_cali_data. The wording of families B to F;
// family A logs its own.
uint8_t select_trim_value(int32_t kind);

// Reads reg into a byte cleared before each reading, up to count times,
// until (byte & mask) == want. After each miss it waits wait_us (none when
// 0). A reading whose transfer failed is never the awaited state: the poll
// stops at once, with no wait after it, and reports a time-out.
// Returns true when the state was seen.
bool poll_reg(uint8_t reg, uint8_t mask, uint8_t want, uint32_t count, uint32_t wait_us);

}  // namespace murvane
