// The checker's part for boots on the fake board (FakeBoard.efi) with
// MurvaneBridge.efi between it and the driver: the bridge's own lines, and
// what the host run must look like for the board's master driver.
#pragma once

#include <string>

#include "testbench/qemu/fake_board/fake_bus.h"
#include "testbench/qemu/fw_check.h"

namespace fwcheck {

struct bridge_boot {
  bool io_mode = false;
  fakeboard::quirks quirks = {};
};

// --bridge master|io and --board TEXT; false with *why on bad input.
bool parse_bridge_boot(const std::string& mode, const std::string& board, bridge_boot* out, std::string* why);

// The host run that stands for this boot: the scenario's own, with each
// failed read's bus status as this master reports a NACK through the
// bridge; for a master that reports success on a NACK, the bus as the driver
// then sees it: every read gives back the byte it pre-set (0), every write
// is taken. The verdict stays the scenario's.
run_record run_bridged_on_host(const bridge_boot& b, const fwsim::scenario& s);

// Takes the bridge's lines ("MurvaneBridge: ...") out of the driver's
// transcripts in fw and checks them: one Open line per bring-up with the
// rate the board's controller set, the bridge installed, and no request the
// fake board had to refuse. `log` is the whole stripped serial log.
comparison take_bridge_lines(const bridge_boot& b, firmware_record& fw, const std::string& log);

}  // namespace fwcheck
