// Console and file helpers for the test images (never the driver).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/efi.h"
#include "sim/models/chip_model.h"
#include "testbench/qemu/text.h"

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

// The task priority level the caller runs at (raised to TPL_HIGH_LEVEL and
// restored at once to learn it: UEFI has no call that only reads it).
EFI_TPL current_tpl();

// The status's name (e.g. "Not Found"), or its value in hex when it has none.
void put_status(fwsim::text_builder& t, EFI_STATUS s);

// head, the status as put_status puts it, and a line end, on ConOut.
void print_status_line(EFI_SYSTEM_TABLE* st, const char* head, EFI_STATUS s);

// Judges the chip against the driver's waveform image, as the host checker
// does, and prints the verdict, each line after prefix (e.g. "[fwtest] ").
void print_verdict(EFI_SYSTEM_TABLE* st, const char* prefix, const sim::chip_model* chip);

}  // namespace fwtest
