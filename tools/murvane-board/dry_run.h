// murvane-board's dry run: the board tool on a simulated end. A simulated
// kernel (model_system.h) serves the board's bus and GPIO devices from a
// chip model, so the whole run (checks, requests, the driver's bring-up, the
// report) happens with nothing opened. It is the one part of the command
// that uses the chip models; the path to a real chip (board, run, system)
// does not, and this header keeps them out of main.cpp too.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/murvane-board/board.h"
#include "tools/murvane-board/system.h"

namespace murvane_board {

class DryRun {
 public:
  DryRun();
  ~DryRun();
  DryRun(const DryRun&) = delete;
  DryRun& operator=(const DryRun&) = delete;
  DryRun(DryRun&&) noexcept;
  DryRun& operator=(DryRun&&) noexcept;

  // The simulated kernel and the chip model (none for "absent"), wired as
  // board says (an inverted reset line has its inverter).
  DryRun(const std::string& chip, const BoardOptions& board);

  // The simulated kernel; null for a DryRun made empty.
  System* system();
  // Every request the simulated kernel received, one line each.
  const std::vector<std::string>& requests() const;
  // The chip model's family ("zq310x"), or empty when no chip answers.
  std::string model_family() const;

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

// The chip models a dry run can take, for the help text: "first ... last".
std::string dry_run_chip_range();

}  // namespace murvane_board
