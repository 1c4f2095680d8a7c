// One murvane-board run: the board checked and opened, the question asked,
// the driver's entry point run on the host platform with the board at its
// far end, and what came of it.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "host/platform.h"
#include "tools/common/calls.h"
#include "tools/murvane-board/board.h"
#include "tools/murvane-board/board_calls.h"

namespace murvane_board {

struct RunOptions {
  BoardOptions board = default_board_options();
  bool yes = false;  // no question before the run
  // The family's operations to call after the bring-up, in order (--call).
  std::vector<murvane_tools::SlotCall> calls;
};

class BoardRun {
 public:
  enum class Outcome { declined, complete, incomplete };

  // system: the real kernel, or a simulated one (the dry run, the tests).
  BoardRun(System& system, RunOptions options);
  ~BoardRun() = default;
  BoardRun(const BoardRun&) = delete;
  BoardRun& operator=(const BoardRun&) = delete;
  BoardRun(BoardRun&&) = delete;
  BoardRun& operator=(BoardRun&&) = delete;

  // Checks and opens the board (throws Refusal before anything is driven),
  // asks unless told yes, runs the driver's entry point, then the calls
  // asked for if it selected a family, releases the board. Complete only
  // when the bring-up is, every call ran and every get_f0 measured.
  Outcome run();

  const Board& board() const { return board_; }
  // The recorded run, as murvane-sim records one (plus the measured t_us).
  const std::vector<host::Event>& events() const;
  // The family the driver selected ("zq340x"), or empty.
  const std::string& family() const { return family_; }
  EFI_STATUS entry_status() const { return entry_status_; }
  // What came of the run, one line: "complete: ..." or "not complete: ...".
  const std::string& verdict() const { return verdict_; }
  // What came of the calls after a complete bring-up when they spoil the
  // run ("--call get_f0: not run ...", "get_f0: not measured: ..."), or "".
  const std::string& calls_verdict() const { return calls_verdict_; }
  const std::vector<CallResult>& call_results() const { return call_results_; }

  // The driver's log, the register trace and the summary, as murvane-sim
  // prints them; naming_family names the registers when the driver
  // selected none.
  void write_report(std::ostream& out, const std::string& naming_family, const std::string& board_note) const;

 private:
  Outcome conclude();
  // The report's last part: the board, the driver's selection, the call,
  // the transfers, the waits and the verdict.
  void write_summary(std::ostream& out, const std::string& board_note) const;

  System& system_;
  RunOptions options_;
  Board board_;
  host::PlatformOptions platform_options_;
  std::unique_ptr<host::Platform> platform_;
  std::string family_;
  EFI_STATUS entry_status_ = 0;
  std::string verdict_;
  bool calls_ran_ = false;
  std::vector<CallResult> call_results_;
  std::string calls_verdict_;
};

}  // namespace murvane_board
