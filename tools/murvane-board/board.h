// The driver's platform on a Linux board: register transfers over
// /dev/i2c-N, the chip's reset pin as one line of a GPIO character device
// (v2 interface), waits slept and measured. It is the far end of the host
// platform's bus and reset pin (host/platform.h), so the driver's own code
// runs unchanged and the run is recorded as murvane-sim records it; no
// simulator code is on this path.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/platform.h"
#include "tools/murvane-board/system.h"

namespace murvane_board {

struct BoardOptions {
  std::string bus;  // "/dev/i2c-N"
  uint8_t address = 0;
  std::string gpio_chip;  // "/dev/gpiochipN"
  uint32_t gpio_line = 0;
  // The line is inverted on its way to the chip's reset pin (a transistor
  // stage): the GPIO is driven high where the driver drives the pin low.
  bool gpio_active_low = false;
};

// The board's own settings, from the build: the driver's bus instance as
// /dev/i2c-N, its address, its reset pin's GPIO number on gpiochip0.
BoardOptions default_board_options();

// A reason not to touch the board, found before anything was written:
// what() is the one line to print.
class Refusal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "EREMOTEIO" for errno values a bus or GPIO driver gives, else "errno N".
std::string errno_name(int error);
// "ENXIO: no acknowledge" and the like: the name and what it means on a bus.
std::string errno_text(int error);

// N of "/dev/i2c-N" (or "i2c-N"), when the path names one.
std::optional<uint32_t> bus_number(const std::string& path);
// Where sysfs shows the kernel driver bound to address on bus N.
std::string driver_link(uint32_t bus, uint8_t address);

class Board final : public host::FarEnd {
 public:
  enum class Mode { i2c, smbus };
  struct Failure {
    uint64_t transfer;  // 1-based index among the run's transfers
    bool write;
    uint8_t reg;
    int error;  // errno
  };

  Board(System& system, BoardOptions options);
  ~Board() override;
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;
  Board(Board&&) = delete;
  Board& operator=(Board&&) = delete;

  // Checks that no kernel driver owns the address, opens the bus and asks
  // what the adapter can do, and requests the reset line as an input (it
  // stays requested to the end, but nothing is driven yet). Throws Refusal
  // with everything it opened released again.
  void open();
  // What the run will write where, for the question before it starts.
  std::string plan() const;
  // Turns the reset line into an output, not in reset: from here on the
  // board is driven. Throws Refusal (everything released) when it cannot.
  void drive_reset_line();
  // The run's clock starts (t_us 0).
  void start_clock();
  // Releases the reset line and closes the bus; safe to call again.
  void release();

  // One register transfer over the bus; returns 0 or the errno.
  uint32_t transfer(const host::Transfer& t, uint8_t* data) override;
  // The reset line at the level the driver sets (the kernel inverts an
  // active-low line); the board keeps its own time, so at_ns is not used.
  void set_pin(uint32_t level, uint64_t at_ns) override;
  void stall(uint64_t us) override;
  std::optional<double> measured_us() override { return now_us(); }
  // Microseconds since the run began.
  double now_us();

  const BoardOptions& options() const { return options_; }
  Mode mode() const { return mode_; }
  uint64_t transfers() const { return transfers_; }
  const std::vector<Failure>& failures() const { return failures_; }
  // errno of the first reset-line level that could not be set, 0 when none.
  int pin_error() const { return pin_error_; }
  uint64_t stalls() const { return stalls_; }
  uint64_t stall_asked_us() const { return stall_asked_us_; }
  uint64_t stall_slept_ns() const { return stall_slept_ns_; }
  uint64_t longest_overrun_ns() const { return longest_overrun_ns_; }

 private:
  [[noreturn]] void refuse(const std::string& line);
  // The stages of open(): the bus (no kernel driver on the address, then what
  // the adapter can do), then the reset line.
  void open_bus();
  void choose_mode();
  void request_reset_line();
  int run_transfer(bool write, uint8_t reg, uint8_t* data);
  int line_config(bool output);

  System& system_;
  BoardOptions options_;
  int bus_fd_ = -1;
  int line_fd_ = -1;
  Mode mode_ = Mode::i2c;
  uint64_t start_ns_ = 0;
  uint64_t transfers_ = 0;
  std::vector<Failure> failures_;
  int pin_error_ = 0;
  uint64_t stalls_ = 0;
  uint64_t stall_asked_us_ = 0;
  uint64_t stall_slept_ns_ = 0;
  uint64_t longest_overrun_ns_ = 0;
};

}  // namespace murvane_board
