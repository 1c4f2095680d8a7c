// The one path between the driver and the chip: the I2C bus client and the
// single-byte register primitives every family uses.
#pragma once

#include <stdint.h>

#include "platform/efi.h"
#include "platform/protocols.h"

namespace murvane {

inline constexpr uint32_t i2c_instance = 5;
inline constexpr uint32_t i2c_timeout = 2500;
inline constexpr uint32_t slave_config_words = 6;
// Bus clock in kHz, 7-bit chip address, then words the bus component wants.
inline constexpr uint32_t slave_config_values[slave_config_words] = {400, 0x5A, 0, 500, 0, 0};

// Bus status returned by the client when it has no bus protocol to call.
inline constexpr uint32_t bus_no_protocol = 1;

extern EFI_ZELT_I2C_PROTOCOL* i2c_iface;
extern uint64_t bus_handle;
extern uint32_t slave_config[slave_config_words];

EFI_STATUS bus_open();
uint32_t i2c_open(uint32_t instance, uint64_t* handle);
uint32_t i2c_read(uint64_t handle, const uint32_t* config, uint32_t reg, uint32_t reg_len, uint8_t* data, uint32_t len,
                  uint32_t* transferred, uint32_t timeout);
uint32_t i2c_write(uint64_t handle, const uint32_t* config, uint32_t reg, uint32_t reg_len, uint8_t* data, uint32_t len,
                   uint32_t* transferred, uint32_t timeout);

uint32_t reg_read(uint8_t reg, uint8_t* value);
uint32_t reg_write(uint8_t reg, uint8_t value);
// update reg (keep mask) <- value: bits set in mask keep the register's
// current value, the others take value's. A failed read writes nothing and
// returns the read's status: never write a byte built on one we could not read.
uint32_t reg_write_bits(uint8_t reg, uint8_t mask, uint8_t value);

}  // namespace murvane
