#include "tools/murvane-board/model_system.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/bus_timing.h"
#include "tools/murvane-board/board.h"

namespace murvane_board {

namespace {

constexpr uint32_t max_messages = I2C_RDWR_IOCTL_MAX_MSGS;
constexpr uint16_t max_message_len = 8192;
constexpr uint64_t known_line_flags = GPIO_V2_LINE_FLAG_ACTIVE_LOW | GPIO_V2_LINE_FLAG_INPUT |
                                      GPIO_V2_LINE_FLAG_OUTPUT | GPIO_V2_LINE_FLAG_OPEN_DRAIN |
                                      GPIO_V2_LINE_FLAG_OPEN_SOURCE | GPIO_V2_LINE_FLAG_BIAS_PULL_UP |
                                      GPIO_V2_LINE_FLAG_BIAS_PULL_DOWN | GPIO_V2_LINE_FLAG_BIAS_DISABLED;

std::string hex2(unsigned v) {
  char buf[8];
  static_cast<void>(std::snprintf(buf, sizeof buf, "0x%02X", v));
  return buf;
}

template <class T>
bool all_zero(const T& words) {
  for (const auto w : words) {
    if (w != 0) {
      return false;
    }
  }
  return true;
}

// The checks the kernel makes of a line configuration before using it.
bool valid_config(const gpio_v2_line_config& c) {
  if (!all_zero(c.padding) || c.num_attrs > GPIO_V2_LINE_NUM_ATTRS_MAX || (c.flags & ~known_line_flags) != 0) {
    return false;
  }
  if ((c.flags & GPIO_V2_LINE_FLAG_INPUT) != 0 && (c.flags & GPIO_V2_LINE_FLAG_OUTPUT) != 0) {
    return false;
  }
  for (uint32_t i = 0; i < c.num_attrs; ++i) {
    const uint32_t id = c.attrs[i].attr.id;
    if (c.attrs[i].attr.padding != 0 || id < GPIO_V2_LINE_ATTR_ID_FLAGS || id > GPIO_V2_LINE_ATTR_ID_DEBOUNCE) {
      return false;
    }
  }
  return true;
}

// The output value a configuration gives line 0 of the request (0 when none).
bool output_value(const gpio_v2_line_config& c) {
  for (uint32_t i = 0; i < c.num_attrs; ++i) {
    if (c.attrs[i].attr.id == GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES && (c.attrs[i].mask & 1) != 0) {
      return (c.attrs[i].attr.values & 1) != 0;
    }
  }
  return false;
}

std::string flags_text(uint64_t flags) {
  std::string s = (flags & GPIO_V2_LINE_FLAG_OUTPUT) != 0  ? "output"
                  : (flags & GPIO_V2_LINE_FLAG_INPUT) != 0 ? "input"
                                                           : "direction as is";
  if ((flags & GPIO_V2_LINE_FLAG_ACTIVE_LOW) != 0) {
    s += ", active low";
  }
  return s;
}

std::string messages_text(const std::vector<BusMessage>& messages, bool served) {
  std::string s;
  for (const BusMessage& m : messages) {
    s += s.empty() ? "" : ", ";
    if ((m.flags & I2C_M_RD) != 0) {
      s += "read ";
      s += std::to_string(m.len);
      if (served) {
        s += " ->";
        for (const uint8_t b : m.bytes) {
          s += ' ';
          s += hex2(b);
        }
      }
    } else {
      s += "write";
      for (const uint8_t b : m.bytes) {
        s += ' ';
        s += hex2(b);
      }
    }
  }
  return s;
}

}  // namespace

ModelSystem::ModelSystem(sim::chip_model* chip, std::string bus, uint8_t address, std::string gpio_chip,
                         uint32_t bus_khz)
    : chip_(chip), bus_(std::move(bus)), address_(address), gpio_chip_(std::move(gpio_chip)), bus_khz_(bus_khz) {}

int ModelSystem::open(const std::string& path) {
  Kind kind = Kind::bus;
  if (path == bus_) {
    kind = Kind::bus;
  } else if (path == gpio_chip_) {
    kind = Kind::chip;
  } else {
    requests_.push_back("open " + path + " -> ENOENT");
    return -ENOENT;
  }
  const int fd = next_fd_++;
  fds_[fd] = kind;
  requests_.push_back("open " + path + " -> fd " + std::to_string(fd));
  return fd;
}

void ModelSystem::close(int fd) {
  const auto f = fds_.find(fd);
  if (f == fds_.end()) {
    return;
  }
  fds_.erase(f);
  smbus_address_.erase(fd);
  if (fd == line_fd_) {
    // A released line goes back to its default: nobody drives it.
    line_fd_ = -1;
    chip_pin(true);
    requests_.push_back("close fd " + std::to_string(fd) + " (releases the reset line)");
    return;
  }
  requests_.push_back("close fd " + std::to_string(fd));
}

std::set<int> ModelSystem::open_descriptors() const {
  std::set<int> out;
  for (const auto& [fd, kind] : fds_) {
    out.insert(fd);
  }
  return out;
}

void ModelSystem::sleep_us(uint64_t us) {
  now_ns_ += us * 1000;
  requests_.push_back("sleep " + std::to_string(us) + " us");
}

bool ModelSystem::exists(const std::string& path) {
  const std::optional<uint32_t> n = bus_number(bus_);
  for (const uint8_t a : bound_addresses) {
    if (n.has_value() && path == driver_link(*n, a)) {
      return true;
    }
  }
  return false;
}

bool ModelSystem::confirm(const std::string& question) {
  questions_.push_back(question);
  return answer;
}

int ModelSystem::ioctl(int fd, unsigned long request, void* arg) {
  IoctlRecord record;
  record.fd = fd;
  record.request = request;
  const auto f = fds_.find(fd);
  int result = -ENOTTY;
  const auto refused = ioctl_errno.find(request);
  if (f == fds_.end()) {
    result = -EBADF;
  } else if (refused != ioctl_errno.end()) {
    result = -refused->second;
    requests_.push_back("ioctl " + std::to_string(request) + " -> " + errno_name(refused->second));
  } else if (arg == nullptr && request != I2C_SLAVE) {
    result = -EFAULT;
  } else if (f->second == Kind::bus) {
    result = bus_ioctl(fd, request, arg, record);
  } else if (f->second == Kind::chip) {
    result = chip_ioctl(request, arg, record);
  } else {
    result = line_ioctl(request, arg, record);
  }
  record.result = result;
  ioctls_.push_back(std::move(record));
  return result;
}

int ModelSystem::bus_ioctl(int fd, unsigned long request, void* arg, IoctlRecord& record) {
  if (request == I2C_FUNCS) {
    *static_cast<unsigned long*>(arg) = functions;
    char buf[24];
    static_cast<void>(std::snprintf(buf, sizeof buf, "0x%08lX", functions));
    requests_.push_back(std::string("ioctl I2C_FUNCS -> ") + buf);
    return 0;
  }
  if (request == I2C_SLAVE) {
    record.value = reinterpret_cast<uintptr_t>(arg);
    const int result = record.value > 0x7F                                            ? -EINVAL
                       : bound_addresses.contains(static_cast<uint8_t>(record.value)) ? -EBUSY
                                                                                      : 0;
    if (result == 0) {
      smbus_address_[fd] = record.value;
    }
    requests_.push_back("ioctl I2C_SLAVE " + hex2(static_cast<unsigned>(record.value)) +
                        (result == 0 ? std::string() : " -> " + errno_name(-result)));
    return result;
  }
  if (request == I2C_RDWR) {
    return rdwr(static_cast<i2c_rdwr_ioctl_data*>(arg), record);
  }
  if (request == I2C_SMBUS) {
    return smbus(fd, static_cast<i2c_smbus_ioctl_data*>(arg), record);
  }
  return -ENOTTY;
}

int ModelSystem::chip_ioctl(unsigned long request, void* arg, IoctlRecord& record) {
  if (request == GPIO_GET_CHIPINFO_IOCTL) {
    auto* info = static_cast<gpiochip_info*>(arg);
    *info = gpiochip_info{};
    std::strncpy(info->name, "gpiochip0", sizeof info->name - 1);
    std::strncpy(info->label, "model-gpio", sizeof info->label - 1);
    info->lines = gpio_lines;
    requests_.push_back("ioctl GPIO_GET_CHIPINFO_IOCTL -> " + std::to_string(gpio_lines) + " lines");
    return 0;
  }
  if (request == GPIO_V2_GET_LINE_IOCTL) {
    return get_line(static_cast<gpio_v2_line_request*>(arg), record);
  }
  return -ENOTTY;
}

int ModelSystem::line_ioctl(unsigned long request, void* arg, IoctlRecord& record) {
  if (request == GPIO_V2_LINE_SET_CONFIG_IOCTL) {
    record.line_config = *static_cast<gpio_v2_line_config*>(arg);
    return set_config(record.line_config);
  }
  if (request == GPIO_V2_LINE_SET_VALUES_IOCTL) {
    record.line_values = *static_cast<gpio_v2_line_values*>(arg);
    return set_values(record.line_values);
  }
  return -ENOTTY;
}

int ModelSystem::rdwr(i2c_rdwr_ioctl_data* data, IoctlRecord& record) {
  if (data->nmsgs == 0 || data->nmsgs > max_messages) {
    requests_.push_back("ioctl I2C_RDWR with " + std::to_string(data->nmsgs) + " messages -> EINVAL");
    return -EINVAL;
  }
  if (data->msgs == nullptr) {
    return -EFAULT;
  }
  std::vector<BusMessage> messages;
  for (uint32_t i = 0; i < data->nmsgs; ++i) {
    const i2c_msg& m = data->msgs[i];
    BusMessage b{m.addr, m.flags, m.len, {}};
    if ((m.flags & ~I2C_M_RD) != 0 || m.addr > 0x7F || m.len == 0 || m.len > max_message_len) {
      record.messages.push_back(b);
      requests_.push_back("ioctl I2C_RDWR with an unusable message -> EINVAL");
      return -EINVAL;
    }
    if (m.buf == nullptr) {
      return -EFAULT;
    }
    if ((m.flags & I2C_M_RD) == 0) {
      b.bytes.assign(m.buf, m.buf + m.len);
    }
    messages.push_back(std::move(b));
  }
  const int result = serve(messages, "ioctl I2C_RDWR ");
  record.messages = messages;
  if (result < 0) {
    return result;
  }
  for (uint32_t i = 0; i < data->nmsgs; ++i) {
    if ((data->msgs[i].flags & I2C_M_RD) != 0) {
      std::memcpy(data->msgs[i].buf, messages[i].bytes.data(), messages[i].len);
    }
  }
  return static_cast<int>(data->nmsgs);
}

int ModelSystem::smbus(int fd, i2c_smbus_ioctl_data* data, IoctlRecord& record) {
  record.smbus = *data;
  constexpr unsigned long byte_data = I2C_FUNC_SMBUS_READ_BYTE_DATA | I2C_FUNC_SMBUS_WRITE_BYTE_DATA;
  if (data->size != I2C_SMBUS_BYTE_DATA ||
      (data->read_write != I2C_SMBUS_READ && data->read_write != I2C_SMBUS_WRITE)) {
    requests_.push_back("ioctl I2C_SMBUS of an unserved kind -> EINVAL");
    return -EINVAL;
  }
  if (data->data == nullptr) {
    return -EFAULT;
  }
  if ((functions & byte_data) != byte_data && (functions & I2C_FUNC_I2C) == 0) {
    return -EOPNOTSUPP;
  }
  const auto a = smbus_address_.find(fd);
  const auto address = static_cast<uint16_t>(a != smbus_address_.end() ? a->second : 0);
  const bool read = data->read_write == I2C_SMBUS_READ;
  // A byte-data transfer is the same traffic as the register read or write
  // in plain messages.
  std::vector<BusMessage> messages;
  if (read) {
    messages = {{address, 0, 1, {data->command}}, {address, I2C_M_RD, 1, {}}};
  } else {
    record.smbus_byte = data->data->byte;
    messages = {{address, 0, 2, {data->command, data->data->byte}}};
  }
  const int result = serve(messages, read ? "ioctl I2C_SMBUS read byte data " : "ioctl I2C_SMBUS write byte data ");
  if (result < 0) {
    return result;
  }
  if (read) {
    data->data->byte = messages[1].bytes[0];
    record.smbus_byte = data->data->byte;
  }
  return 0;
}

int ModelSystem::serve(std::vector<BusMessage>& messages, const std::string& kind) {
  ++transfers_;
  // The one bus-timing formula's bits: a start, every byte with its
  // acknowledge bit (the address byte, then the data), a repeated start
  // between messages, a stop and the bus free time. A register read is
  // 40 bit times, a write 30, as on the virtual platform.
  uint64_t bits = host::start_bits + host::stop_bits + host::bus_free_bits;
  for (const BusMessage& m : messages) {
    bits += host::byte_bits * (1 + uint64_t{m.len});
  }
  bits += host::repeated_start_bits * (messages.size() - 1);
  now_ns_ += host::bits_ns(bits, bus_khz_);
  int error = 0;
  // A chip held in reset acknowledges nothing, as one that is not there.
  if (chip_ == nullptr || messages.front().addr != address_ || !chip_pin_high_) {
    error = nack_errno;
  } else if (fail_transfer) {
    error = fail_transfer(transfers_, messages);
  }
  if (error != 0) {
    requests_.push_back(kind + hex2(messages.front().addr) + ": " + messages_text(messages, false) + " -> " +
                        errno_name(error));
    return -error;
  }
  chip_->set_time(now_ns_);
  // A register-file chip: a written byte sets the register pointer, the
  // bytes after it go to consecutive registers; a read reads from it on.
  uint8_t pointer = 0;
  for (BusMessage& m : messages) {
    if ((m.flags & I2C_M_RD) != 0) {
      m.bytes.clear();
      for (uint16_t i = 0; i < m.len; ++i) {
        m.bytes.push_back(chip_->read(pointer++));
      }
      continue;
    }
    pointer = m.bytes[0];
    for (size_t i = 1; i < m.bytes.size(); ++i) {
      chip_->write(pointer++, m.bytes[i]);
    }
  }
  requests_.push_back(kind + hex2(messages.front().addr) + ": " + messages_text(messages, true));
  return 0;
}

int ModelSystem::get_line(gpio_v2_line_request* request, IoctlRecord& record) {
  record.line_request = *request;
  const gpio_v2_line_request& r = *request;
  if (r.num_lines == 0 || r.num_lines > GPIO_V2_LINES_MAX || !all_zero(r.padding) || !valid_config(r.config)) {
    requests_.push_back("ioctl GPIO_V2_GET_LINE_IOCTL with an unusable request -> EINVAL");
    return -EINVAL;
  }
  for (uint32_t i = 0; i < r.num_lines; ++i) {
    if (r.offsets[i] >= gpio_lines) {
      return -EINVAL;
    }
    if (busy_lines.contains(r.offsets[i]) || (line_fd_ >= 0 && r.offsets[i] == line_offset_)) {
      requests_.push_back("ioctl GPIO_V2_GET_LINE_IOCTL line " + std::to_string(r.offsets[i]) + " -> EBUSY");
      return -EBUSY;
    }
  }
  const int fd = next_fd_++;
  fds_[fd] = Kind::line;
  line_fd_ = fd;
  line_offset_ = r.offsets[0];
  request->fd = fd;
  const std::string consumer(r.consumer, strnlen(r.consumer, sizeof r.consumer));
  requests_.push_back("ioctl GPIO_V2_GET_LINE_IOCTL line " + std::to_string(line_offset_) + " (" +
                      flags_text(r.config.flags) + "), consumer \"" + consumer + "\" -> fd " + std::to_string(fd));
  line_flags_ = 0;
  return set_config(r.config) < 0 ? -EINVAL : 0;
}

int ModelSystem::set_config(const gpio_v2_line_config& config) {
  if (!valid_config(config)) {
    requests_.push_back("ioctl GPIO_V2_LINE_SET_CONFIG_IOCTL with an unusable configuration -> EINVAL");
    return -EINVAL;
  }
  const bool was_output = (line_flags_ & GPIO_V2_LINE_FLAG_OUTPUT) != 0;
  line_flags_ = config.flags;
  if ((config.flags & GPIO_V2_LINE_FLAG_OUTPUT) != 0) {
    const bool logical = output_value(config);
    const bool physical = logical != ((config.flags & GPIO_V2_LINE_FLAG_ACTIVE_LOW) != 0);
    if (!was_output || gpio_levels_.empty() || gpio_levels_.back() != physical) {
      requests_.push_back("ioctl GPIO_V2_LINE_SET_CONFIG_IOCTL " + flags_text(config.flags) + ", value " +
                          std::to_string(logical ? 1 : 0) + " (pin " + (physical ? "high" : "low") + ")");
    }
    drive(physical);
  } else if (!was_output) {
    chip_pin(true);
  } else {
    requests_.push_back("ioctl GPIO_V2_LINE_SET_CONFIG_IOCTL " + flags_text(config.flags));
    chip_pin(true);
  }
  return 0;
}

int ModelSystem::set_values(const gpio_v2_line_values& values) {
  if ((line_flags_ & GPIO_V2_LINE_FLAG_OUTPUT) == 0) {
    requests_.push_back("ioctl GPIO_V2_LINE_SET_VALUES_IOCTL on an input -> EPERM");
    return -EPERM;
  }
  if ((values.mask & 1) == 0 || (values.mask & ~uint64_t{1}) != 0) {
    requests_.push_back("ioctl GPIO_V2_LINE_SET_VALUES_IOCTL with mask " + std::to_string(values.mask) + " -> EINVAL");
    return -EINVAL;
  }
  const bool logical = (values.bits & 1) != 0;
  if (set_values_errno != 0) {
    requests_.push_back("ioctl GPIO_V2_LINE_SET_VALUES_IOCTL " + std::to_string(logical ? 1 : 0) + " -> " +
                        errno_name(set_values_errno));
    return -set_values_errno;
  }
  const bool physical = logical != ((line_flags_ & GPIO_V2_LINE_FLAG_ACTIVE_LOW) != 0);
  requests_.push_back("ioctl GPIO_V2_LINE_SET_VALUES_IOCTL " + std::to_string(logical ? 1 : 0) + " (pin " +
                      (physical ? "high" : "low") + ")");
  drive(physical);
  return 0;
}

void ModelSystem::drive(bool physical_high) {
  gpio_levels_.push_back(physical_high);
  chip_pin(board_inverts_reset ? !physical_high : physical_high);
}

void ModelSystem::chip_pin(bool high) {
  // The chip comes out of reset on the rising edge of its reset pin.
  if (high && !chip_pin_high_) {
    ++chip_resets_;
    if (chip_ != nullptr) {
      chip_->set_time(now_ns_);
      chip_->reset_pulse();
    }
  }
  chip_pin_high_ = high;
}

}  // namespace murvane_board
