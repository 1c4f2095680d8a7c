#include "core/regs.h"

#include "core/driver_state.h"
#include "platform/log.h"
#include "platform/platform.h"

namespace murvane {

EFI_STATUS bus_open() {
  for (uint32_t i = 0; i < slave_config_words; ++i) {
    slave_config[i] = slave_config_values[i];
  }
  const uint32_t result = i2c_open(i2c_instance, &bus_handle);
  if (result != 0) {
    log_error("Failed to initialize instance %d I2C %d\n", i2c_instance, result);
    return EFI_DEVICE_ERROR;
  }
  return EFI_SUCCESS;
}

uint32_t i2c_open(uint32_t instance, uint64_t* handle) {
  located_i2c = nullptr;
  const EFI_STATUS status = locate_protocol(EFI_ZELT_I2C_PROTOCOL_GUID, &located_i2c);
  i2c_iface = static_cast<EFI_ZELT_I2C_PROTOCOL*>(located_i2c);
  if (status != EFI_SUCCESS || i2c_iface == nullptr) {
    log_error("Failed to get I2C protocol 0x%08x\n", status);
    return bus_no_protocol;
  }
  return i2c_iface->Open(instance, handle);
}

uint32_t i2c_read(uint64_t handle, const uint32_t* config, uint32_t reg, uint32_t reg_len, uint8_t* data, uint32_t len,
                  uint32_t* transferred, uint32_t timeout) {
  if (i2c_iface == nullptr) {
    log_error("I2C protocol handle is invalid\n");
    return bus_no_protocol;
  }
  return i2c_iface->Read(handle, config, reg, reg_len, data, len, transferred, timeout);
}

uint32_t i2c_write(uint64_t handle, const uint32_t* config, uint32_t reg, uint32_t reg_len, uint8_t* data, uint32_t len,
                   uint32_t* transferred, uint32_t timeout) {
  if (i2c_iface == nullptr) {
    log_error("I2C protocol handle is invalid\n");
    return bus_no_protocol;
  }
  return i2c_iface->Write(handle, config, reg, reg_len, data, len, transferred, timeout);
}

namespace {

// One register read into a byte that starts as `initial`: the bus status
// above the byte (bits 8 and up), the failure logged. The one frame that
// hands the protocol a buffer of ours.
uint64_t read_register(uint8_t reg, uint8_t initial) {
  uint8_t value = initial;
  uint32_t transferred = 0;
  const uint32_t result = i2c_read(bus_handle, slave_config, reg, 1, &value, 1, &transferred, i2c_timeout);
  if (result != 0) {
    log_error("Read addr:0x%X error:%d\n", reg, result);
    ++bus_failed_transfers;
  }
  return static_cast<uint64_t>(result) << 8 | value;
}

}  // namespace

// The byte goes back to the caller's buffer whatever the transfer did with
// it: unchanged when the protocol left it alone.
uint32_t reg_read(uint8_t reg, uint8_t* value) {
  const uint64_t result = read_register(reg, *value);
  *value = static_cast<uint8_t>(result);
  return static_cast<uint32_t>(result >> 8);
}

reg_byte reg_read_byte(uint8_t reg, uint8_t initial) {
  const uint64_t result = read_register(reg, initial);
  return {static_cast<uint16_t>(result > 0xFF ? reg_byte::failed_bit | (result & 0xFF) : result)};
}

uint32_t reg_write_packed(uint32_t reg_value) {
  const auto reg = static_cast<uint8_t>(reg_value);
  uint8_t buffer = static_cast<uint8_t>(reg_value >> 8);
  uint32_t transferred = 0;
  const uint32_t result = i2c_write(bus_handle, slave_config, reg, 1, &buffer, 1, &transferred, i2c_timeout);
  if (result != 0) {
    log_error("Write addr:0x%X data:0x%X error\n", reg, static_cast<uint8_t>(reg_value >> 8));
    ++bus_failed_transfers;
  }
  return result;
}

uint32_t reg_write_bits_packed(uint32_t reg_mask_value) {
  const auto reg = static_cast<uint8_t>(reg_mask_value);
  const auto mask = static_cast<uint8_t>(reg_mask_value >> 8);
  const auto value = static_cast<uint8_t>(reg_mask_value >> 16);
  const uint64_t old = read_register(reg, 0);
  if (old > 0xFF) {
    return static_cast<uint32_t>(old >> 8);
  }
  const auto updated = static_cast<uint8_t>((old & mask) | (value & static_cast<uint8_t>(~mask)));
  return reg_write(reg, updated);
}

}  // namespace murvane
