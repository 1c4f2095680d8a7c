// The run as the wires carry it: the I2C transfers and reset-pin edges the
// driver's platform calls produce, drawn as SCL/SDA/RST levels over the
// virtual clock, and read back from levels (a VCD) or from sigrok's decoded
// I2C text, so a simulated run and a real board's capture compare alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/platform.h"

namespace murvane_tools {

// Level changes of a few one-bit signals, in time order.
struct Waveform {
  struct Change {
    uint64_t t_ns;
    size_t signal;
    bool level;
  };
  std::vector<std::string> names;
  std::vector<bool> initial;
  std::vector<Change> changes;
  uint64_t start_ns = 0;  // the first timestamp
  uint64_t end_ns = 0;
  std::string comment;  // what the file says about itself, for a VCD
};

// One addressed phase of a transfer: the address byte and the bytes after
// it, each with the acknowledge bit that followed (true: ACK).
struct Segment {
  uint8_t address = 0;  // 7-bit
  bool read = false;
  bool address_ack = false;
  std::vector<std::pair<uint8_t, bool>> bytes;
  bool operator==(const Segment&) const = default;
};

// Start to stop; a repeated start begins the next segment.
struct Transfer {
  std::vector<Segment> segments;
  bool timed = false;  // start_ns/end_ns known (not from decoded text)
  uint64_t start_ns = 0;
  uint64_t end_ns = 0;
  bool complete = true;  // ended in a stop, whole bytes only
};

// Something the board's wires show: a transfer, or an edge of the reset pin.
struct BusItem {
  enum class Kind { transfer, reset_low, reset_high };
  Kind kind = Kind::transfer;
  Transfer transfer;
  uint64_t start_ns = 0;
  uint64_t end_ns = 0;
  uint64_t wait_ns = 0;           // expected items: the driver's stalls since the previous item
  uint8_t reg = 0;                // expected transfers: the register, for naming
  uint64_t sim_ns = 0;            // expected items: virtual-clock time at the item's start (its t_us)
  uint32_t khz = 0;               // expected transfers: the bus clock of their slave configuration
  bool failed = false;            // expected transfers: the simulated bus failed it
  bool at_capture_start = false;  // a reset pin already low when the capture began
};

// Bus timing taken from a transfer's slave configuration: word 0 is the
// clock in kHz, word 1 the 7-bit address.
struct BusConfig {
  uint32_t khz = 0;
  uint8_t address = 0;
};
// Throws std::runtime_error naming the word when the clock is unusable.
BusConfig bus_config(const host::Event& e);

// What the driver's calls put on the wires, in order: its transfers (a failed
// one as an address the chip does not acknowledge) and the reset pin's edges,
// each with the stalls the driver made before it and its virtual-clock time.
std::vector<BusItem> expected_items(const std::vector<host::Event>& events);

// SCL, SDA and RST drawn from the events: every item starts when the
// virtual clock says (its t_us, on the 100 ns grid) and a transfer fills the
// slot its bus clock gives it (host/bus_timing.h), so no wait is ever
// shortened. Fills in the items' start/end.
Waveform draw_bus(const std::vector<host::Event>& events, std::vector<BusItem>* items = nullptr);

// Decodes I2C from the named signals (rst may be npos: no reset pin). Items
// in time order. A reset pin low from the capture's start counts as a fall
// there (sigrok's own VCD export puts a fall at time 0 into the initial
// levels).
std::vector<BusItem> decode_bus(const Waveform& w, size_t scl, size_t sda, size_t rst);

// sigrok-cli's decoded I2C annotations (one "i2c-1: Address write: 5A" a
// line, optionally with a "start-end " sample prefix). Throws
// std::runtime_error when the text holds none.
std::vector<BusItem> parse_sigrok_i2c(const std::string& text);

// "write 0x42 <- 0x55", "read 0x00 -> 0x95", "address 0x5A not acknowledged",
// or the bytes as they came for anything else.
std::string describe(const Transfer& t);
// The register a transfer names (its first written byte), when it has one.
bool transfer_register(const Transfer& t, uint8_t* reg);

}  // namespace murvane_tools
