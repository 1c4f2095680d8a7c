// Console and file helpers for the test images (never the driver).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/efi.h"

namespace fwtest {

// Prints ASCII text on ConOut, each "\n" sent as "\r\n".
void print(EFI_SYSTEM_TABLE* st, const char* text);

// Paths are ASCII, e.g. "\\sim.cfg". Reads up to cap - 1 bytes of a file on the volume the image was loaded
// from into buf (NUL-terminated); *len receives the byte count.
EFI_STATUS read_own_volume_file(EFI_HANDLE image, EFI_SYSTEM_TABLE* st, const char* path, char* buf, size_t cap,
                                size_t* len);

// Loads an image from the volume this image came from, by file path, so the
// new image knows its own device (as when the Shell loads it).
EFI_STATUS load_own_volume_image(EFI_HANDLE image, EFI_SYSTEM_TABLE* st, const char* path, EFI_HANDLE* loaded);

}  // namespace fwtest
