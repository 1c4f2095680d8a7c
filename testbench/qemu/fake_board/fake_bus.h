// The bus of the fake board (FakeBoard.efi, test only): a simulated chip
// behind the standard protocols of an EDK2 board's I2C stack, enforcing
// what real stacks require and, on request, behaving as real master
// drivers are known to. Freestanding: the image uses it in firmware, the
// bridge's host tests drive it directly.
//
// What it enforces (a broken request is refused, counted as a bad request
// and reported in one line through the report hook):
//   - exactly two packet shapes: {write 1 byte} + {read 1 byte}, or one
//     {write 2 bytes}; no other flags;
//   - a 7-bit slave address, no reserved bits;
//   - SetBusFrequency after the last Reset and before the first request;
//   - synchronous requests (no event) at or below TPL_CALLBACK;
//   - one transaction at a time.
// A chip whose reset line is held low does not acknowledge.
//
// Board text (\board.cfg beside FakeBoard.efi), words separated by blanks,
// '#' to the end of the line, each a behaviour of a real master driver:
//   status-only       a failure is reported only in *I2cStatus, the call
//                     itself returns success
//   nack-no-response  a NACK is EFI_NO_RESPONSE (default EFI_DEVICE_ERROR)
//   round-down        the controller has only 100, 375 and 1000 kHz and
//                     sets the highest not above the request
//   nack-success      a NACK is reported as success: the caller cannot see it
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "bridge/pi_i2c.h"
#include "sim/models/chip_model.h"
#include "testbench/qemu/sim_platform_protocol.h"

namespace fakeboard {

struct quirks {
  bool status_only;
  bool nack_no_response;
  bool round_down;
  bool nack_success;
};

// Parses len bytes of board text; false with *bad_word at the unknown word.
bool parse_quirks(const char* text, size_t len, quirks* out, const char** bad_word = nullptr);

// The rate a controller sets for a request of `asked` Hz: the highest it
// has that is not above; 0 when it has none.
UINTN settable_rate(const quirks& q, UINTN asked);

using report_fn = void (*)(const char* what);

class fake_bus {
 public:
  // chip null: nothing answers. address: the chip's 7-bit address.
  // counters: where reads, writes, failures, bus time and bad requests are
  // counted; its stall fields make the chip's clock.
  void attach(sim::chip_model* chip, uint32_t address, const quirks& q, MURVANE_SIM_COUNTERS* counters,
              report_fn report) {
    chip_ = chip;
    address_ = address;
    quirks_ = q;
    counters_ = counters;
    report_ = report;
    rate_hz_ = 0;
    busy_ = false;
    in_reset_ = false;
  }

  EFI_STATUS reset();
  EFI_STATUS set_bus_frequency(UINTN* hz);
  // One transaction at `tpl`, as StartRequest (and QueueRequest, with the
  // device's address) receives it.
  EFI_STATUS request(UINTN address, const pi::EFI_I2C_REQUEST_PACKET* packet, EFI_EVENT event, EFI_STATUS* i2c_status,
                     EFI_TPL tpl);

  UINTN rate_hz() const { return rate_hz_; }
  // A chip held in reset (its reset line low) does not acknowledge: a
  // wrong pin polarity shows as NACKs, not as a chip that answers anyway.
  void set_in_reset(bool held) { in_reset_ = held; }
  // The I2C bus driver of an enumerated device configures the bus itself.
  void configure_for_device() {
    if (rate_hz_ == 0) {
      rate_hz_ = 400000;
    }
  }

 private:
  EFI_STATUS refuse(const char* what, EFI_STATUS s);
  EFI_STATUS nack(EFI_STATUS* i2c_status);

  sim::chip_model* chip_ = nullptr;
  uint32_t address_ = 0;
  quirks quirks_ = {};
  MURVANE_SIM_COUNTERS* counters_ = nullptr;
  report_fn report_ = nullptr;
  UINTN rate_hz_ = 0;
  bool busy_ = false;
  bool in_reset_ = false;
};

}  // namespace fakeboard
