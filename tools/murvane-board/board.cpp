#include "tools/murvane-board/board.h"

#include <linux/gpio.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/identify.h"
#include "core/waveform.h"
#include "murvane/board_settings.h"

namespace murvane_board {

namespace {

constexpr const char* consumer = "murvane-board";

std::string hex2(unsigned v) {
  char buf[8];
  static_cast<void>(std::snprintf(buf, sizeof buf, "0x%02X", v));
  return buf;
}

std::string system_text(int error) { return errno_name(error) + ": " + std::strerror(error); }

// What a board engineer can do about a device that cannot be opened.
std::string open_hint(int error, bool gpio) {
  switch (error) {
    case ENOENT:
      return gpio ? " (no such GPIO chip: list them with `ls /dev/gpiochip*`)"
                  : " (is the bus enabled and the i2c-dev module loaded? `ls /dev/i2c-*`)";
    case EACCES:
    case EPERM:
      return gpio ? " (run as root, or give your user access to the GPIO chip)"
                  : " (run as root, or join the i2c group)";
    default:
      return "";
  }
}

}  // namespace

BoardOptions default_board_options() {
  BoardOptions o;
  o.bus = "/dev/i2c-";
  o.bus += std::to_string(murvane::board::i2c_instance);
  o.address = static_cast<uint8_t>(murvane::board::i2c_address);
  o.gpio_chip = "/dev/gpiochip0";
  o.gpio_line = static_cast<uint32_t>(murvane::board::reset_pin_gpio);
  return o;
}

std::string errno_name(int error) {
  static const std::pair<int, const char*> names[] = {
      {EPERM, "EPERM"},         {ENOENT, "ENOENT"},       {EINTR, "EINTR"},         {EIO, "EIO"},
      {ENXIO, "ENXIO"},         {EAGAIN, "EAGAIN"},       {ENOMEM, "ENOMEM"},       {EACCES, "EACCES"},
      {EFAULT, "EFAULT"},       {EBUSY, "EBUSY"},         {ENODEV, "ENODEV"},       {EINVAL, "EINVAL"},
      {ENOTTY, "ENOTTY"},       {ENOSYS, "ENOSYS"},       {EPROTO, "EPROTO"},       {EOPNOTSUPP, "EOPNOTSUPP"},
      {ETIMEDOUT, "ETIMEDOUT"}, {EREMOTEIO, "EREMOTEIO"}, {ESHUTDOWN, "ESHUTDOWN"}, {EBADMSG, "EBADMSG"},
  };
  for (const auto& [value, name] : names) {
    if (value == error) {
      return name;
    }
  }
  return "errno " + std::to_string(error);
}

std::string errno_text(int error) {
  switch (error) {
    case ENXIO:
    case EREMOTEIO:
      return errno_name(error) + ": no acknowledge (NACK): nothing answered at the address";
    case EAGAIN:
      return errno_name(error) + ": bus busy or arbitration lost";
    case ETIMEDOUT:
      return errno_name(error) + ": the transfer timed out (a held clock or data line?)";
    case EOPNOTSUPP:
      return errno_name(error) + ": the adapter cannot make this transfer";
    default:
      return system_text(error);
  }
}

std::optional<uint32_t> bus_number(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() <= 4 || name.compare(0, 4, "i2c-") != 0 || name.size() > 4 + 9) {
    return std::nullopt;
  }
  uint32_t n = 0;
  for (size_t i = 4; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') {
      return std::nullopt;
    }
    n = n * 10 + static_cast<uint32_t>(name[i] - '0');
  }
  return n;
}

std::string driver_link(uint32_t bus, uint8_t address) {
  char buf[64];
  static_cast<void>(std::snprintf(buf, sizeof buf, "/sys/bus/i2c/devices/%u-%04x/driver", bus, address));
  return buf;
}

Board::Board(System& system, BoardOptions options) : system_(system), options_(std::move(options)) {}

Board::~Board() { release(); }

void Board::refuse(const std::string& line) {
  release();
  throw Refusal(line);
}

void Board::open() {
  open_bus();
  choose_mode();
  request_reset_line();
}

void Board::open_bus() {
  const std::string& bus = options_.bus;
  const std::string address = hex2(options_.address);
  const std::optional<uint32_t> n = bus_number(bus);
  if (!n.has_value()) {
    refuse("cannot tell which bus " + bus + " is (give it as /dev/i2c-N), so cannot check that no kernel driver " +
           "owns " + address);
  }
  const std::string link = driver_link(*n, options_.address);
  if (system_.exists(link)) {
    refuse("a kernel driver is bound to " + address + " on " + bus + " (" + link +
           "): unbind it first, so that two drivers do not drive one chip");
  }
  bus_fd_ = system_.open(bus);
  if (bus_fd_ < 0) {
    const int e = -bus_fd_;
    bus_fd_ = -1;
    refuse("cannot open " + bus + ": " + system_text(e) + open_hint(e, false));
  }
}

// Plain I2C transfers where the adapter makes them, SMBus byte data where
// it makes only those.
void Board::choose_mode() {
  const std::string& bus = options_.bus;
  const std::string address = hex2(options_.address);
  unsigned long functions = 0;
  const int f = system_.ioctl(bus_fd_, I2C_FUNCS, &functions);
  if (f < 0) {
    refuse("cannot ask " + bus + " what it can do (I2C_FUNCS): " + system_text(-f) + " (is it an i2c-dev device?)");
  }
  constexpr unsigned long byte_data = I2C_FUNC_SMBUS_READ_BYTE_DATA | I2C_FUNC_SMBUS_WRITE_BYTE_DATA;
  if ((functions & I2C_FUNC_I2C) != 0) {
    mode_ = Mode::i2c;
  } else if ((functions & byte_data) == byte_data) {
    // SMBus transfers go to the address set on the descriptor; the kernel
    // refuses one a driver owns, a second guard besides sysfs.
    mode_ = Mode::smbus;
    // I2C_SLAVE takes the address itself where other requests take a pointer.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    void* const address_arg = reinterpret_cast<void*>(static_cast<uintptr_t>(options_.address));
    const int s = system_.ioctl(bus_fd_, I2C_SLAVE, address_arg);
    if (s == -EBUSY) {
      refuse("a kernel driver owns " + address + " on " + bus + " (I2C_SLAVE: " + system_text(EBUSY) +
             "): unbind it first");
    }
    if (s < 0) {
      refuse("cannot address " + address + " on " + bus + " (I2C_SLAVE): " + system_text(-s));
    }
  } else {
    refuse("the adapter of " + bus + " can make neither plain I2C transfers nor SMBus byte-data reads and writes");
  }
}

void Board::request_reset_line() {
  const std::string& chip = options_.gpio_chip;
  const int chip_fd = system_.open(chip);
  if (chip_fd < 0) {
    refuse("cannot open " + chip + ": " + system_text(-chip_fd) + open_hint(-chip_fd, true));
  }
  gpiochip_info info{};
  const int i = system_.ioctl(chip_fd, GPIO_GET_CHIPINFO_IOCTL, &info);
  if (i < 0) {
    system_.close(chip_fd);
    refuse("cannot ask " + chip + " about its lines (GPIO_GET_CHIPINFO_IOCTL): " + system_text(-i) +
           " (is it a GPIO character device?)");
  }
  if (options_.gpio_line >= info.lines) {
    system_.close(chip_fd);
    refuse(chip + " (" + std::string(info.label, strnlen(info.label, sizeof info.label)) + ") has " +
           std::to_string(info.lines) + " lines: there is no line " + std::to_string(options_.gpio_line));
  }
  // Requested as an input first: the line is ours (and found busy or not)
  // before the question, but nothing is driven until the answer.
  gpio_v2_line_request request{};
  request.offsets[0] = options_.gpio_line;
  std::strncpy(request.consumer, consumer, sizeof request.consumer - 1);
  request.config.flags = GPIO_V2_LINE_FLAG_INPUT | (options_.gpio_active_low ? GPIO_V2_LINE_FLAG_ACTIVE_LOW : 0);
  request.num_lines = 1;
  const int r = system_.ioctl(chip_fd, GPIO_V2_GET_LINE_IOCTL, &request);
  system_.close(chip_fd);  // the line request lives on by itself
  const std::string line = "line " + std::to_string(options_.gpio_line) + " of " + chip;
  if (r == -EBUSY) {
    refuse("the reset line (" + line + ") is busy: another driver or program holds it");
  }
  if (r < 0) {
    refuse("cannot request the reset line (" + line + "): " + system_text(-r));
  }
  line_fd_ = request.fd;
}

int Board::line_config(bool output) {
  gpio_v2_line_config config{};
  config.flags = (output ? GPIO_V2_LINE_FLAG_OUTPUT : GPIO_V2_LINE_FLAG_INPUT) |
                 (options_.gpio_active_low ? GPIO_V2_LINE_FLAG_ACTIVE_LOW : 0);
  if (output) {
    // Out of reset from the first moment: the driver's pulse makes the reset.
    config.num_attrs = 1;
    config.attrs[0].attr.id = GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES;
    config.attrs[0].attr.values = 1;
    config.attrs[0].mask = 1;
  }
  return system_.ioctl(line_fd_, GPIO_V2_LINE_SET_CONFIG_IOCTL, &config);
}

void Board::drive_reset_line() {
  const int r = line_config(true);
  if (r < 0) {
    refuse("cannot drive the reset line (line " + std::to_string(options_.gpio_line) + " of " + options_.gpio_chip +
           ") as an output: " + system_text(-r));
  }
}

std::string Board::plan() const {
  const std::string level = options_.gpio_active_low ? "high (inverted: --gpio-active-low)" : "low";
  return "murvane-board will run the Murvane bring-up on this board:\n"
         "  reset pin: line " +
         std::to_string(options_.gpio_line) + " of " + options_.gpio_chip + ", driven " + level + " for " +
         std::to_string(murvane::reset_low_us / 1000) + " ms, then released from reset and held to the run's end\n" +
         "  chip:      address " + hex2(options_.address) + " on " + options_.bus +
         (mode_ == Mode::i2c ? " (plain I2C transfers)" : " (SMBus byte-data transfers)") + "\n" +
         "  writes:    the chip's registers after it identifies itself: calibration, the family's defaults, the " +
         std::to_string(murvane::waveform_image_len) + "-byte waveform into the chip's SRAM at 0x0800, playback (a " +
         "short vibration)\n"
         "  (--dry-run --chip MODEL prints every request it would send.)\n"
         "Continue? [y/N] ";
}

void Board::start_clock() { start_ns_ = system_.now_ns(); }

void Board::release() {
  if (line_fd_ >= 0) {
    system_.close(line_fd_);
    line_fd_ = -1;
  }
  if (bus_fd_ >= 0) {
    system_.close(bus_fd_);
    bus_fd_ = -1;
  }
}

int Board::run_transfer(bool write, uint8_t reg, uint8_t* data) {
  if (bus_fd_ < 0) {
    return EBADF;
  }
  const uint16_t address = options_.address;
  if (mode_ == Mode::smbus) {
    i2c_smbus_data value{};
    i2c_smbus_ioctl_data request{};
    request.read_write = write ? I2C_SMBUS_WRITE : I2C_SMBUS_READ;
    request.command = reg;
    request.size = I2C_SMBUS_BYTE_DATA;
    request.data = &value;
    if (write) {
      value.byte = *data;
    }
    const int r = system_.ioctl(bus_fd_, I2C_SMBUS, &request);
    if (r < 0) {
      return -r;
    }
    if (!write) {
      *data = value.byte;
    }
    return 0;
  }
  // One transaction: a read is the register byte written, a repeated start
  // and one byte read; a write is one message of the register and the byte.
  uint8_t out[2] = {reg, write ? *data : uint8_t{0}};
  uint8_t in = 0;
  i2c_msg messages[2] = {};
  messages[0].addr = address;
  messages[0].flags = 0;
  messages[0].len = write ? 2 : 1;
  messages[0].buf = out;
  messages[1].addr = address;
  messages[1].flags = I2C_M_RD;
  messages[1].len = 1;
  messages[1].buf = &in;
  i2c_rdwr_ioctl_data request{};
  request.msgs = messages;
  request.nmsgs = write ? 1 : 2;
  const int r = system_.ioctl(bus_fd_, I2C_RDWR, &request);
  if (r < 0) {
    return -r;
  }
  if (static_cast<uint32_t>(r) != request.nmsgs) {
    return EIO;  // part of the transaction only: not the chip's answer
  }
  if (!write) {
    *data = in;
  }
  return 0;
}

uint32_t Board::transfer(const host::Transfer& t, uint8_t* data) {
  if (data == nullptr) {
    return 0;  // nothing to carry
  }
  const bool write = t.write;
  const uint8_t reg = t.reg;
  ++transfers_;
  const int error = run_transfer(write, reg, data);
  if (error != 0) {
    failures_.push_back({transfers_, write, reg, error});
  }
  // The driver logs a failed transfer's bus status: here the errno itself.
  return static_cast<uint32_t>(error);
}

void Board::set_pin(uint32_t level, uint64_t /*at_ns*/) {
  int r = -EBADF;
  if (line_fd_ >= 0) {
    gpio_v2_line_values values{};
    values.bits = level != 0 ? 1 : 0;
    values.mask = 1;
    r = system_.ioctl(line_fd_, GPIO_V2_LINE_SET_VALUES_IOCTL, &values);
  }
  if (r < 0 && pin_error_ == 0) {
    pin_error_ = -r;
  }
}

void Board::stall(uint64_t us) {
  const uint64_t before = system_.now_ns();
  system_.sleep_us(us);
  const uint64_t slept = system_.now_ns() - before;
  ++stalls_;
  stall_asked_us_ += us;
  stall_slept_ns_ += slept;
  if (slept > us * 1000 && slept - us * 1000 > longest_overrun_ns_) {
    longest_overrun_ns_ = slept - us * 1000;
  }
}

double Board::now_us() { return static_cast<double>(system_.now_ns() - start_ns_) / 1000.0; }

}  // namespace murvane_board
