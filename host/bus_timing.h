// How long one register transfer holds the I2C bus, from the bus clock the
// driver passes in its slave configuration (word 0, kHz). One formula for
// every clock that is not measured: the host platform's, the firmware test
// platform's (SimPlatform.efi), the dry run's simulated kernel and the bus
// drawing of murvane-sim, so a transfer takes the same time on all of them
// and a drawing of the bus is the clock. Freestanding: the firmware test
// image uses it too (the one file of host/ that is not host only).
//
// In bit times (one SCL period, 1 / clock):
//   write: START 1, address+W 8 + ACK 1, register 8 + ACK 1, data 8 + ACK 1,
//          STOP 1, bus free 1                                     = 30
//   read:  START 1, address+W 9, register 9, repeated START 1,
//          address+R 9, data 8 + NACK 1, STOP 1, bus free 1        = 40
// A failed transfer takes the time of the one it replaced: where the bus
// failed it is the bus controller's business, the slot is the same.
#pragma once

#include <stdint.h>

namespace host {

inline constexpr uint32_t start_bits = 1;
inline constexpr uint32_t repeated_start_bits = 1;
inline constexpr uint32_t stop_bits = 1;
inline constexpr uint32_t bus_free_bits = 1;
inline constexpr uint32_t byte_bits = 9;  // 8 data bits and the ACK/NACK bit

inline constexpr uint32_t write_transfer_bits = start_bits + 3 * byte_bits + stop_bits + bus_free_bits;
inline constexpr uint32_t read_transfer_bits =
    start_bits + 2 * byte_bits + repeated_start_bits + 2 * byte_bits + stop_bits + bus_free_bits;
static_assert(write_transfer_bits == 30 && read_transfer_bits == 40);

// A clock of 0 kHz cannot come from a build (the board settings refuse it);
// it is taken as 1 kHz so that no division by zero can happen.
constexpr uint32_t usable_khz(uint32_t khz) { return khz == 0 ? 1 : khz; }

// Nanoseconds of bits bit times at khz, rounded to the nearest nanosecond.
constexpr uint64_t bits_ns(uint64_t bits, uint32_t khz) {
  const uint64_t k = usable_khz(khz);
  return (bits * 1000000 + k / 2) / k;
}

constexpr uint64_t transfer_ns(bool write, uint32_t khz) {
  return bits_ns(write ? write_transfer_bits : read_transfer_bits, khz);
}

static_assert(transfer_ns(true, 400) == 75000 && transfer_ns(false, 400) == 100000);
static_assert(transfer_ns(true, 100) == 4 * transfer_ns(true, 400));

}  // namespace host
