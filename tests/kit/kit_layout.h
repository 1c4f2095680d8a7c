/* What the kit's headers look like to a C compiler (C99, pedantic) and to a
 * C++ compiler, each measured in a translation unit of its own
 * (kit_layout.c and kit_layout_cxx.cpp), for the test to hold against the
 * driver's own definitions (platform/protocols.h), which cannot share a
 * translation unit with the headers: both define the UEFI base types. */
#ifndef MURVANE_KIT_LAYOUT_H_
#define MURVANE_KIT_LAYOUT_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct kit_layout {
  /* EFI_ZELT_I2C_HAPTIC_PROTOCOL */
  size_t protocol_size;
  size_t protocol_align;
  size_t revision_offset;
  size_t revision_size;
  size_t start_offset;
  size_t start_size;
  uint64_t revision_constant;
  size_t guid_size;
  /* EFI_ZELT_I2C_PROTOCOL */
  size_t i2c_size;
  size_t i2c_open_offset;
  size_t i2c_read_offset;
  size_t i2c_write_offset;
  size_t i2c_slave_config_words;
  /* EFI_KORM_PROTOCOL */
  size_t korm_size;
  size_t korm_configure_offset;
  size_t korm_set_output_offset;
};

extern const struct kit_layout kit_layout_c;
extern const struct kit_layout kit_layout_cxx;

/* From C, through the header's record: reads Revision into *revision and
 * calls Start, returning its status. */
uint64_t kit_call_start_from_c(const void* protocol, uint64_t* revision);

/* The GUID initializers of the three headers as each compiler lays them
 * out, seen as bytes (16): 0 the haptic protocol, 1 the I2C bus protocol,
 * 2 the pin-control protocol. The C ones are the definitions of the
 * gEfi...ProtocolGuid variables that code without EDK2 writes. */
const uint8_t* kit_guid_bytes_from_c(int which);
const uint8_t* kit_guid_bytes_from_cxx(int which);

/* Platform protocol records built in C from the headers' types, with C
 * functions behind them that note their arguments: the test calls them the
 * way the driver does, through the driver's own types. */
struct kit_platform_calls {
  uint32_t open_instance;
  uint64_t transfer_handle;
  const uint32_t* transfer_config;
  uint32_t transfer_register;
  uint32_t transfer_register_length;
  uint8_t* transfer_data;
  uint32_t transfer_length;
  uint32_t* transfer_transferred;
  uint32_t transfer_timeout;
  int reads;
  int writes;
  uint32_t pin_word;
  uint32_t pin_value;
  int pin_configures;
  int pin_outputs;
};
extern struct kit_platform_calls kit_platform_calls_c;
const void* kit_i2c_protocol_from_c(void);
const void* kit_korm_protocol_from_c(void);

/* The same through the header included after gnu-efi's <efi.h> (built
 * where gnu-efi is installed, MURVANE_KIT_GNU_EFI): Start is called only
 * when Revision is the header's. */
uint64_t kit_call_start_with_gnu_efi(const void* protocol, uint64_t* revision);
const uint8_t* kit_guid_bytes_with_gnu_efi(int which);

#ifdef __cplusplus
}
#endif

#endif
