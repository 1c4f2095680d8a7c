/* What the kit's header looks like to a C compiler and to a C++ compiler,
 * each measured in a translation unit of its own (kit_layout.c and
 * kit_layout_cxx.cpp), for the test to hold against the driver's own
 * definitions (platform/protocols.h), which cannot share a translation unit
 * with the header: both define the UEFI base types. */
#ifndef MURVANE_KIT_LAYOUT_H_
#define MURVANE_KIT_LAYOUT_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct kit_layout {
  size_t protocol_size;
  size_t protocol_align;
  size_t revision_offset;
  size_t revision_size;
  size_t start_offset;
  size_t start_size;
  uint64_t revision_constant;
  size_t guid_size;
};

extern const struct kit_layout kit_layout_c;
extern const struct kit_layout kit_layout_cxx;

/* From C, through the header's record: reads Revision into *revision and
 * calls Start, returning its status. */
uint64_t kit_call_start_from_c(const void* protocol, uint64_t* revision);

/* EFI_ZELT_I2C_HAPTIC_PROTOCOL_GUID as each compiler lays out the header's
 * initializer, seen as bytes (16). The C one is the definition of
 * gEfiZeltI2cHapticProtocolGuid that a consumer without EDK2 writes. */
const uint8_t* kit_guid_bytes_from_c(void);
const uint8_t* kit_guid_bytes_from_cxx(void);

/* The same through the header included after gnu-efi's <efi.h> (built
 * where gnu-efi is installed, MURVANE_KIT_GNU_EFI): Start is called only
 * when Revision is the header's. */
uint64_t kit_call_start_with_gnu_efi(const void* protocol, uint64_t* revision);
const uint8_t* kit_guid_bytes_with_gnu_efi(void);

#ifdef __cplusplus
}
#endif

#endif
