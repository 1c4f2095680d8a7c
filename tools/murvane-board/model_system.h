// A simulated kernel in front of a chip model: /dev/i2c-N and a GPIO chip
// as the kernel's i2c-dev and GPIO character-device drivers present them,
// decoding the real request structures (struct i2c_rdwr_ioctl_data and its
// messages, struct i2c_smbus_ioctl_data, struct gpio_v2_line_request, the
// line's config and values) and serving them from the model. The reset pin
// the chip sees follows the line's physical level. Its clock is virtual:
// every transfer costs its bits at the bus clock and a sleep costs its
// length, as on the virtual platform, so the model answers as it does
// there. murvane-board's dry run runs on it; the tests put faults into it.
#pragma once

#include <linux/gpio.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sim/models/chip_model.h"
#include "tools/murvane-board/system.h"

namespace murvane_board {

// One I2C transaction as the bus carries it.
struct BusMessage {
  uint16_t addr = 0;
  uint16_t flags = 0;
  uint16_t len = 0;
  std::vector<uint8_t> bytes;  // written bytes; for a read, what was read
};

// One ioctl as the simulated kernel received it, its argument copied.
struct IoctlRecord {
  int fd = -1;
  unsigned long request = 0;
  int result = 0;
  std::vector<BusMessage> messages;  // I2C_RDWR: every message
  i2c_smbus_ioctl_data smbus{};      // I2C_SMBUS
  uint8_t smbus_byte = 0;            // ... the data byte (written, or read)
  unsigned long value = 0;           // I2C_SLAVE's argument
  gpio_v2_line_request line_request{};
  gpio_v2_line_config line_config{};
  gpio_v2_line_values line_values{};
};

class ModelSystem final : public System {
 public:
  // chip null: nothing answers at any address. bus and gpio_chip are the
  // device paths that exist; the chip answers at address; bus_khz times
  // the transfers.
  ModelSystem(sim::chip_model* chip, std::string bus, uint8_t address, std::string gpio_chip, uint32_t bus_khz);

  // The adapter's abilities (I2C_FUNCS).
  unsigned long functions = I2C_FUNC_I2C | I2C_FUNC_SMBUS_READ_BYTE_DATA | I2C_FUNC_SMBUS_WRITE_BYTE_DATA;
  uint32_t gpio_lines = 54;
  // A transistor stage between the GPIO and the chip's reset pin.
  bool board_inverts_reset = false;
  // Lines another consumer holds (GPIO_V2_GET_LINE_IOCTL: EBUSY).
  std::set<uint32_t> busy_lines;
  // Addresses a kernel driver is bound to: sysfs shows them, I2C_SLAVE is refused.
  std::set<uint8_t> bound_addresses;
  // What an address nobody acknowledges gives.
  int nack_errno = ENXIO;
  // The answer to the question before the run.
  bool answer = true;
  // The errno the adapter gives instead of making the transfer (0: make
  // it); index counts I2C transfers from 1. The chip does not see a failed
  // transfer.
  std::function<int(uint64_t index, const std::vector<BusMessage>& messages)> fail_transfer;
  // The errno GPIO_V2_LINE_SET_VALUES_IOCTL gives (0: sets the line).
  int set_values_errno = 0;
  // Requests that fail with the errno given, whatever they ask.
  std::map<unsigned long, int> ioctl_errno;
  // The descriptor the next open gets: 0 when the command's standard input
  // was closed, as the kernel hands out the lowest free one.
  void set_next_descriptor(int fd) { next_fd_ = fd; }

  int open(const std::string& path) override;
  int ioctl(int fd, unsigned long request, void* arg) override;
  void close(int fd) override;
  void sleep_us(uint64_t us) override;
  uint64_t now_ns() override { return now_ns_; }
  bool exists(const std::string& path) override;
  bool confirm(const std::string& question) override;

  // What happened, for the dry run's listing and the tests.
  const std::vector<std::string>& requests() const { return requests_; }
  const std::vector<IoctlRecord>& ioctls() const { return ioctls_; }
  const std::vector<std::string>& questions() const { return questions_; }
  std::set<int> open_descriptors() const;
  // The reset line: requested by us, an output, and its physical levels in
  // order (true: high) since it became one.
  bool line_requested() const { return line_fd_ >= 0; }
  const std::vector<bool>& gpio_levels() const { return gpio_levels_; }
  uint64_t chip_reset_pulses() const { return chip_resets_; }

 private:
  enum class Kind { bus, chip, line };
  // The requests each kind of descriptor answers: the I2C bus, the GPIO
  // chip, the requested line.
  int bus_ioctl(int fd, unsigned long request, void* arg, IoctlRecord& record);
  int chip_ioctl(unsigned long request, void* arg, IoctlRecord& record);
  int line_ioctl(unsigned long request, void* arg, IoctlRecord& record);
  int rdwr(i2c_rdwr_ioctl_data* data, IoctlRecord& record);
  int smbus(int fd, i2c_smbus_ioctl_data* data, IoctlRecord& record);
  int get_line(gpio_v2_line_request* request, IoctlRecord& record);
  int set_config(const gpio_v2_line_config& config);
  int set_values(const gpio_v2_line_values& values);
  // One register transaction: cost on the clock, fault, the chip's answer.
  int serve(std::vector<BusMessage>& messages, const std::string& kind);
  void drive(bool physical_high);
  void chip_pin(bool high);

  sim::chip_model* chip_;
  std::string bus_;
  uint8_t address_;
  std::string gpio_chip_;
  uint32_t bus_khz_;
  std::map<int, Kind> fds_;
  std::map<int, unsigned long> smbus_address_;
  int next_fd_ = 3;
  int line_fd_ = -1;
  uint32_t line_offset_ = 0;
  uint64_t line_flags_ = 0;
  bool chip_pin_high_ = true;  // pulled up while nobody drives it
  uint64_t now_ns_ = 0;
  uint64_t transfers_ = 0;
  uint64_t chip_resets_ = 0;
  std::vector<std::string> requests_;
  std::vector<IoctlRecord> ioctls_;
  std::vector<std::string> questions_;
  std::vector<bool> gpio_levels_;
};

}  // namespace murvane_board
